# Driving the real window on a virtual X display, as a person would.
# Sourced by scripts/run-headless, scripts/measure-startup and
# tests/window_e2e.sh; needs Xvfb, xdotool, xclip and our xwin helper.
#
#   xs_start_display                  starts Xvfb on a free display, sets DISPLAY
#   xs_launch PROGRAM                 starts PROGRAM; sets XS_PID
#   xs_wait_window                    waits until "Mirtolk" is on screen; sets XS_WIN
#   xs_query WHITE BLACK              types the counts, clicks Calc, prints Text3
#   xs_query_by_keys WHITE BLACK      the same from the first focus, keys only
#   xs_icon_sizes                     the sizes of the window's icon (_NET_WM_ICON)
#   xs_close_and_wait                 closes the window as a window manager does
#                                     (WM_DELETE_WINDOW); returns the exit status
#   xs_stop                           ends what this file started (also on exit)
#   xs_expect WHAT WANTED GOT         one check of a test, counted
#   xs_summary                        "N passed, N failed"; fails if any failed

: "${XWIN:?XWIN must name the built xwin helper}"
XS_TITLE=Mirtolk
XS_PID=
XS_WIN=
XS_XVFB_PID=
XS_TMP=$(mktemp -d)

xs_stop() {
  [ -n "$XS_PID" ] && kill "$XS_PID" 2>/dev/null
  [ -n "$XS_XVFB_PID" ] && kill "$XS_XVFB_PID" 2>/dev/null
  [ -n "$XS_XVFB_PID" ] && wait "$XS_XVFB_PID" 2>/dev/null
  rm -rf "$XS_TMP"
  XS_PID= XS_XVFB_PID=
}
trap xs_stop EXIT

XS_PASSED=0
XS_FAILED=0

xs_expect() {
  if [ "$2" = "$3" ]; then
    echo "ok: $1 -> $3"
    XS_PASSED=$((XS_PASSED + 1))
  else
    echo "FAIL: $1 -> '$3', expected '$2'"
    XS_FAILED=$((XS_FAILED + 1))
  fi
}

xs_summary() {
  echo "$XS_PASSED passed, $XS_FAILED failed"
  [ "$XS_FAILED" -eq 0 ]
}

xs_fail() {
  echo "$*" >&2
  exit 1
}

xs_start_display() {
  # Xvfb picks a free display itself and writes its number to the pipe.
  mkfifo "$XS_TMP/displayfd"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$XS_TMP/displayfd" \
    >"$XS_TMP/xvfb.log" 2>&1 &
  XS_XVFB_PID=$!
  local number
  read -r -t 20 number <"$XS_TMP/displayfd" || xs_fail "Xvfb did not start: $(cat "$XS_TMP/xvfb.log")"
  export DISPLAY=":$number"
  unset WAYLAND_DISPLAY
  export QT_QPA_PLATFORM=xcb
  # Qt wants a private runtime folder and complains on stderr without one.
  mkdir -m 700 "$XS_TMP/runtime"
  export XDG_RUNTIME_DIR="$XS_TMP/runtime"
}

xs_launch() {
  # Under AddressSanitizer, the whole stack of every allocation: Qt's libraries
  # keep no frame pointers, and a leak suppression must see the Qt function
  # that allocated (tests/lsan.supp). Other programs ignore the variable.
  ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0 "$@" &
  XS_PID=$!
}

xs_wait_window() {
  XS_WIN=$("$XWIN" wait "$XS_TITLE" 60) || xs_fail "the window \"$XS_TITLE\" did not come up"
  # No window manager gives it the focus; a person would click into it.
  xdotool windowfocus --sync "$XS_WIN"
}

# Clicks at the centre of a control, given its box in pixels.
xs_click() {
  xdotool mousemove --window "$XS_WIN" $(($1 + $3 / 2)) $(($2 + $4 / 2)) click 1
}

# The text of Text3, copied out through the clipboard.
xs_read_text3() {
  xs_click 112 165 81 33
  xs_copy_focused_box
}

xs_copy_focused_box() {
  # Own the clipboard first, so that a copy that has not happened yet cannot be
  # mistaken for the answer. xclip keeps it until Qt takes it over.
  printf 'no copy yet' | xclip -selection clipboard >/dev/null 2>&1
  xdotool key --clearmodifiers ctrl+a ctrl+c
  local text tries=0
  while :; do
    text=$(xclip -o -selection clipboard 2>/dev/null) || text='no copy yet'
    [ "$text" != 'no copy yet' ] && break
    tries=$((tries + 1))
    [ $tries -gt 100 ] && break
    sleep 0.05
  done
  printf '%s\n' "$text"
}

# Replaces a box's text: click into it, select all, type.
xs_type_into() {
  xs_click "$2" "$3" "$4" "$5"
  xdotool key --clearmodifiers ctrl+a BackSpace
  [ -z "$1" ] || xdotool type --delay 20 -- "$1"
}

xs_query() {
  xs_type_into "$1" 112 46 81 33
  xs_type_into "$2" 112 84 81 33
  xs_click 112 122 81 33
  xs_read_text3
}

# Focus starts in Text1; Tab runs Text1, Text2, Calc, Text3; Space presses Calc.
xs_query_by_keys() {
  xdotool type --delay 20 -- "$1"
  xdotool key Tab
  xdotool type --delay 20 -- "$2"
  xdotool key Tab space Tab
  xs_copy_focused_box
}

# What a task bar reads: the sizes of the icon the window carries, one line.
xs_icon_sizes() {
  xprop -id "$XS_WIN" _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)' | tr -d 'Icon ()' | paste -sd' '
}

xs_close_and_wait() {
  "$XWIN" close "$XS_WIN" || return 1
  local status
  wait "$XS_PID"
  status=$?
  XS_PID=
  return $status
}
