#!/usr/bin/env bash
# The checks of tests/package_install.sh, run as root inside the clean tree, which
# sees the package, the X helper and the X test scripts read-only under /src.
#   usage: package_in_tree.sh PACKAGE.deb
set -u
deb=$1
here=$(dirname "$0")
export XWIN=$here/../xwin DEBIAN_FRONTEND=noninteractive
# shellcheck source=scripts/xsession.sh
source "$here/../scripts/xsession.sh"
apt=(apt-get -y -q -o Dpkg::Use-Pty=0 --no-install-recommends)
log=$(mktemp)

{ apt-get -q update && "${apt[@]}" install "$deb"; } >"$log" 2>&1
status=$?
xs_expect "apt-get install of $(basename "$deb")" 0 "$status"
xs_expect "dpkg status" "install ok installed" "$(dpkg-query -W -f='${Status}' mirtolk 2>/dev/null)"
# Only what the package declared is in the tree yet: nothing the program or
# Qt's X11 platform loads may be missing.
missing=$(ldd /usr/bin/mirtolk /usr/lib/*/qt6/plugins/platforms/libqxcb.so 2>&1 | grep -E "not found|No such file")
xs_expect "libraries missing for the program and Qt's X11 platform" "" "$missing"
files=$(dpkg -L mirtolk 2>/dev/null)

# The window under Xvfb: the tools for driving it come only now.
"${apt[@]}" install xvfb xauth xdotool xclip x11-utils >/dev/null 2>&1
xs_expect "installing the test tools" 0 "$?"
bash "$here/window_e2e.sh" /usr/bin/mirtolk "$XWIN"
xs_expect "the installed program on Xvfb (window_e2e)" 0 "$?"

"${apt[@]}" purge mirtolk >/dev/null 2>&1
xs_expect "apt-get purge mirtolk" 0 "$?"
xs_expect "mirtolk known to dpkg after the purge" "" "$(dpkg-query -W mirtolk 2>/dev/null)"
# Every file it installed is gone; a folder may stay only as another
# package's.
left=
while IFS= read -r path; do
  [ -z "$path" ] || [ "$path" = /. ] && continue
  if [ -d "$path" ] && [ ! -L "$path" ]; then
    dpkg -S "$path" >/dev/null 2>&1 || left+="$path "
  elif [ -e "$path" ] || [ -L "$path" ]; then
    left+="$path "
  fi
done <<<"$files"
xs_expect "files and folders of $(grep -c . <<<"$files") left after the purge" "" "$left"

[ "$XS_FAILED" -eq 0 ] || { echo "--- apt-get install:"; cat "$log"; }
xs_summary
