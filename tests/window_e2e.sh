#!/usr/bin/env bash
# The built program on a real X server: start it, see that it carries its
# icon, answer a few queries through the window as a person would, close it as
# a window manager would, and expect exit status 0.
#   usage: window_e2e.sh PATH/TO/mirtolk PATH/TO/xwin
set -u
program=$1
export XWIN=$2
source "$(dirname "$0")/../scripts/xsession.sh"

xs_start_display
xs_launch "$program"
xs_wait_window

xs_expect "icon sizes the window carries" "16x16 24x24 32x32 48x48 64x64 128x128" "$(xs_icon_sizes)"
xs_expect "10 white, 3 black, keys only" 7.279720 "$(xs_query_by_keys 10 3)"
xs_expect "3 white, 10 black" 0.000000 "$(xs_query 3 10)"
xs_expect "5000 white, 5000 black" 36.900218 "$(xs_query 5000 5000)"
xs_expect "'abc' white, 3 black" Error "$(xs_query abc 3)"
xs_expect "5001 white, 0 black" Error "$(xs_query 5001 0)"

xs_close_and_wait
status=$?
xs_expect "exit status after closing the window" 0 "$status"

xs_summary
