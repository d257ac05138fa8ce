#!/usr/bin/env bash
# The built package on a clean Debian tree: installed with only its declared
# dependencies, run on Xvfb as the other X tests run the built program, then
# purged, with nothing of it left behind.
#   usage: tests/package_install.sh SUITE [PACKAGE.deb]
#   (as root; the package defaults to the one in dist/, the X helper to the one
#   scripts/package left in build-package/)
set -u
cd "$(dirname "$0")/.."
suite=$1
deb=${2:-dist/mirtolk_$(dpkg-parsechangelog -S Version)_$(dpkg --print-architecture).deb}
xwin=build-package/xwin
for f in "$deb" "$xwin"; do
  [ -f "$f" ] || { echo "package_install: no $f (run make package first)" >&2; exit 1; }
done

# The counted checks of the X tests, and the tree.
export XWIN=$xwin
source scripts/xsession.sh
source scripts/debian-tree.sh
trap 'xs_stop; dt_close' EXIT

dt_open "$suite" || { echo "package_install: could not make the $suite tree" >&2; exit 1; }
mkdir -p "$DT_ROOT/tmp/t/scripts" "$DT_ROOT/tmp/t/tests"
cp "$deb" "$DT_ROOT/tmp/t/"
cp "$xwin" "$DT_ROOT/tmp/t/xwin"
cp scripts/xsession.sh "$DT_ROOT/tmp/t/scripts/"
cp tests/window_e2e.sh "$DT_ROOT/tmp/t/tests/"
apt='apt-get -y -q -o Dpkg::Use-Pty=0 --no-install-recommends'

dt_run "apt-get -q update >/dev/null && $apt install ./tmp/t/$(basename "$deb")" >"$DT_ROOT/tmp/install.log" 2>&1
xs_expect "apt-get install of $(basename "$deb")" 0 "$?"
xs_expect "dpkg status" "install ok installed" "$(dt_run 'dpkg-query -W -f="\${Status}" mirtolk')"
# Only what the package declared is in the tree yet: nothing the program or
# Qt's X11 platform loads may be missing.
missing=$(dt_run 'ldd /usr/bin/mirtolk /usr/lib/*/qt6/plugins/platforms/libqxcb.so | grep "not found"')
xs_expect "libraries missing for the program and Qt's X11 platform" "" "$missing"
dt_run 'dpkg -L mirtolk' >"$DT_ROOT/tmp/files"

# The window under Xvfb: the tools for driving it come only now.
dt_run "$apt install xvfb xauth xdotool xclip x11-utils >/dev/null 2>&1"
xs_expect "installing the test tools" 0 "$?"
dt_run 'cd /tmp/t && bash tests/window_e2e.sh /usr/bin/mirtolk /tmp/t/xwin'
xs_expect "the installed program on Xvfb (window_e2e)" 0 "$?"

dt_run "$apt purge mirtolk >/dev/null 2>&1"
xs_expect "apt-get purge mirtolk" 0 "$?"
xs_expect "mirtolk known to dpkg after the purge" "" "$(dt_run 'dpkg-query -W mirtolk 2>/dev/null')"
# Every file it installed is gone; a folder may stay only as another
# package's.
left=
while IFS= read -r path; do
  [ "$path" = /. ] && continue
  if [ -d "$DT_ROOT$path" ] && [ ! -L "$DT_ROOT$path" ]; then
    dt_run "dpkg -S '$path' >/dev/null 2>&1" || left+="$path "
  elif [ -e "$DT_ROOT$path" ] || [ -L "$DT_ROOT$path" ]; then
    left+="$path "
  fi
done <"$DT_ROOT/tmp/files"
xs_expect "files and folders of $(wc -l <"$DT_ROOT/tmp/files") left after the purge" "" "$left"

[ "$XS_FAILED" -eq 0 ] || { echo "--- apt-get install:"; cat "$DT_ROOT/tmp/install.log"; }
xs_summary
