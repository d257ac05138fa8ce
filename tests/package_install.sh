#!/usr/bin/env bash
# The built package on a clean Debian tree: installed with only its declared
# dependencies, run on Xvfb as the other X tests run the built program, then
# purged, with nothing of it left behind.
#   usage: tests/package_install.sh SUITE [PACKAGE.deb]
#   (as root; the package defaults to the one in dist/, the X helper to the one
#   scripts/package left in build-package/)
# The tree is a minbase one, kept in the cache; every run gets a fresh overlay of
# it, so the package always installs into a minimal system. The checks run
# inside (tests/package_in_tree.sh) and count as the other X tests count.
set -u
cd "$(dirname "$0")/.." || exit
CO_ME=package_install
source scripts/chroot-overlay.sh
suite=${1:?usage: tests/package_install.sh SUITE [PACKAGE.deb]}
arch=$(dpkg --print-architecture)
deb=${2:-dist/mirtolk_$(dpkg-parsechangelog -S Version)_$arch.deb}
xwin=build-package/xwin
for f in "$deb" "$xwin"; do
  [ -f "$f" ] || co_fail "no $f (run make package first)"
done
co_need_root

# What the tree sees, read-only, at /src. Readable by all: apt reads the .deb
# as its unprivileged _apt user.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
chmod 755 "$stage"
mkdir "$stage/scripts" "$stage/tests"
cp "$deb" "$stage/"
cp "$xwin" "$stage/xwin"
cp scripts/xsession.sh "$stage/scripts/"
cp tests/window_e2e.sh tests/package_in_tree.sh "$stage/tests/"

tree=$(co_cache_dir "$suite" "$arch")
co_ensure "$tree" "$suite" "$arch"
echo "$CO_ME: $(basename "$deb") in a fresh $suite tree"
co_run "$tree" "$stage" "bash /src/tests/package_in_tree.sh $(printf %q "/src/$(basename "$deb")")"
