#!/usr/bin/env bash
# The built program on a real X server with too little address space for the
# table of game values: it must say so in a message box before any window
# shows, and on standard error, and end with status 3 once a person has
# dismissed the box.
#   usage: window_no_memory.sh PATH/TO/mirtolk PATH/TO/xwin [SKIP-REASON]
# With a reason it only prints it and exits 77, which CTest counts as skipped.
set -u
program=$1
export XWIN=$2
if [ -n "${3:-}" ]; then
  echo "skipped: $3"
  exit 77
fi
source "$(dirname "$0")/../scripts/xsession.sh"

# The limit sits between what the toolkit needs and what it needs with the
# table, with room on both sides. Measured on Xvfb (xcb), Debian 12, Qt 6.4:
#  - Qt, its two threads and the message box fit in 101 MiB; a little less
#    and Qt cannot start its threads at all.
#  - With address space to spare, glibc reserves a 64 MiB malloc arena for
#    each of those threads, so the program asks for the table at 227 MiB and
#    runs at 418 MiB; at its leanest, without the arenas, it asks at 99 MiB,
#    so toolkit and table never fit below 99 + 191 = 290 MiB.
# 200 MiB leaves the toolkit ~100 MiB to spare and the table ~90 MiB short.
limit_mib=200
message="not enough memory to build the table of game values"
bytes=200160032

xs_start_display
errors=$XS_TMP/stderr
xs_launch prlimit --as=$((limit_mib << 20)) -- "$program" 2>"$errors"
xs_wait_window

# The one thing on screen is the message box: a dialog, no main window.
type=$(xprop -id "$XS_WIN" _NET_WM_WINDOW_TYPE)
[[ $type == *_NET_WM_WINDOW_TYPE_DIALOG* ]] ||
  xs_fail "FAIL: the window titled Mirtolk is not a message box ($type): the table was had?"
echo "ok: the window titled Mirtolk is a dialog"
xs_expect "no other window titled Mirtolk is shown" 1 \
  "$(xdotool search --onlyvisible --name '^Mirtolk$' | wc -l)"

# What the box says, copied the way a person copies it: click into the words
# (right of the icon, on the first line), select all, copy.
xdotool mousemove --window "$XS_WIN" 200 20 click 1
shown=$(xs_copy_focused_box)
xs_expect "the box says what it needs" yes \
  "$([[ $shown == *"$message"* && $shown == *$bytes* ]] && echo yes || echo "no: '$shown'")"

# Dismissed as a person would: Return presses OK.
xdotool key Return
for ((tries = 0; tries < 100; tries++)); do
  kill -0 "$XS_PID" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$XS_PID" 2>/dev/null && xs_fail "FAIL: the program did not end after OK"
wait "$XS_PID"
status=$?
XS_PID=
xs_expect "exit status after OK" 3 "$status"
xs_expect "standard error says what it needs" yes \
  "$(grep -q "$message.*$bytes" "$errors" && echo yes || echo "no: $(cat "$errors")")"

xs_summary
