#!/usr/bin/env bash
# The built program on a headless Wayland compositor (Weston), through Qt's
# Wayland platform plugin: its window must reach the compositor titled
# "Mirtolk", with a buffer committed and shown on the compositor's output, and
# the program must exit 0 when the compositor asks the window to close.
#   usage: window_wayland.sh PATH/TO/mirtolk PATH/TO/wlclose
# The client's own protocol log (WAYLAND_DEBUG) is what the test reads; wlclose
# sits between client and compositor and sends the close.
set -u
program=$1
wlclose=$2

# A runtime folder of our own: no other compositor's socket, nothing left behind.
XDG_RUNTIME_DIR=$(mktemp -d)
chmod 700 "$XDG_RUNTIME_DIR"
export XDG_RUNTIME_DIR
dir=$XDG_RUNTIME_DIR
pids=()
stop() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null && wait "${pids[i]}" 2>/dev/null
  done
  rm -rf "$dir"
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
  echo "FAIL: $*"
  for log in weston wlclose; do
    echo "--- $log (last lines)"
    tail -n 15 "$dir/$log.log" 2>/dev/null
  done
  echo "--- mirtolk's protocol log (last lines)"
  grep '^\[' "$dir/mirtolk.log" | tail -n 10
  echo "--- mirtolk's other output (last lines)"
  grep -v '^\[' "$dir/mirtolk.log" | tail -n 40
  exit 1
}

# Waits up to 20 s for a command to succeed.
wait_for() {
  local i
  for ((i = 0; i < 200; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# The same flags serve Weston 10 (Debian 12) and 14 (Debian 13), as root too.
weston --backend=headless-backend.so --socket=weston --idle-time=0 --no-config >"$dir/weston.log" 2>&1 &
pids+=($!)
wait_for test -S "$dir/weston" || fail "Weston did not start"

mkfifo "$dir/control"
"$wlclose" "$dir/weston" "$dir/mirtolk" "$dir/control" >"$dir/wlclose.log" 2>&1 &
pids+=($!)
wait_for test -S "$dir/mirtolk" || fail "wlclose did not start"

# Only WAYLAND_DISPLAY, as in a Wayland session without XWayland, and no
# platform named: Qt must pick its Wayland plugin by itself, as for `make run`.
env -u DISPLAY -u QT_QPA_PLATFORM -u XDG_SESSION_TYPE WAYLAND_DISPLAY=mirtolk WAYLAND_DEBUG=1 \
  "$program" >"$dir/mirtolk.log" 2>&1 &
program_pid=$!
pids+=("$program_pid")

# From the client's requests: the toplevel titled "Mirtolk", its surface, a
# buffer attached and committed to that surface, and the compositor's event
# that the surface entered an output, that is, it is on screen.
shown() {
  # libwayland 1.21 (Debian 12) logs objects as interface@id, 1.23 (Debian 13)
  # as interface#id.
  sed -E 's/([a-z0-9_]+)#([0-9]+)/\1@\2/g' "$dir/mirtolk.log" | awk '
    match($0, /xdg_surface@[0-9]+\.get_toplevel\(new id xdg_toplevel@[0-9]+\)/) {
      s = substr($0, RSTART, RLENGTH); gsub(/[^0-9 ]+/, " ", s); split(s, n, " ")
      xdg_of[n[2]] = n[1]
    }
    match($0, /get_xdg_surface\(new id xdg_surface@[0-9]+, wl_surface@[0-9]+\)/) {
      s = substr($0, RSTART, RLENGTH); gsub(/[^0-9 ]+/, " ", s); split(s, n, " ")
      surface_of[n[1]] = n[2]
    }
    /xdg_toplevel@[0-9]+\.set_title\("Mirtolk"\)/ && !top {
      match($0, /xdg_toplevel@[0-9]+/); top = substr($0, RSTART + 13, RLENGTH - 13)
      surface = surface_of[xdg_of[top]]
    }
    surface != "" && index($0, "-> wl_surface@" surface ".attach(wl_buffer@") { attached = 1 }
    attached && index($0, "-> wl_surface@" surface ".commit()") { committed = 1 }
    committed && index($0, " wl_surface@" surface ".enter(wl_output@") && index($0, "->") == 0 { on = 1 }
    END { if (on) { print top; exit 0 } exit 1 }
  '
}

wait_for shown >/dev/null || fail "no window titled Mirtolk with a committed buffer reached the compositor"
toplevel=$(shown)
echo "ok: window titled \"Mirtolk\" (xdg_toplevel@$toplevel) committed a buffer and is on Weston's output"

# Closed as a compositor closes a window when its close button is clicked.
echo "close $toplevel" >"$dir/control"
ended() { ! kill -0 "$program_pid" 2>/dev/null; }
wait_for ended || fail "still running 20 s after the compositor asked the window to close"
wait "$program_pid"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status after the compositor closed the window, expected 0"
echo "ok: exit status 0 after xdg_toplevel.close"
echo "2 passed, 0 failed"
