# shellcheck shell=bash
# A minimal Debian tree for another release, kept in a cache, and commands run
# inside a throw-away copy of it. Sourced by scripts/test-debian13
# and tests/package_install.sh.
#
#   co_cache_dir SUITE ARCH            prints where the tree for SUITE/ARCH is kept
#   co_ensure DIR SUITE ARCH PKG...    makes DIR with mmdebstrap (minbase plus PKG)
#                                      unless it is there; atomic: a failed or
#                                      interrupted build leaves nothing behind
#   co_run DIR SRC CMD                 runs CMD (a shell command line, as root) in
#                                      a fresh overlay of DIR, with /proc, /dev,
#                                      /sys, a private /tmp, DIR's apt cache of
#                                      .deb files and, read-only at /src, the host
#                                      folder SRC mounted; the overlay and every
#                                      mount are gone when it returns, however it ends;
#                                      returns the status of CMD
#   co_fail MESSAGE                    one line on standard error, then exit 1
#
# Everything fails with one line saying why; nothing needs cleaning up after.

CO_MIRROR=http://deb.debian.org/debian
CO_ME=${CO_ME:-chroot-overlay}

co_fail() {
  echo "$CO_ME: $*" >&2
  exit 1
}

co_cache_dir() {
  echo "${XDG_CACHE_HOME:-$HOME/.cache}/mirtolk/$1-$2"
}

co_need_root() {
  [ "$(id -u)" -eq 0 ] || co_fail "needs root for mmdebstrap, mount and chroot (run it with sudo)"
}

co_ensure() {
  local dir=$1 suite=$2 arch=$3
  shift 3
  [ -d "$dir" ] && return 0
  co_need_root
  command -v mmdebstrap >/dev/null || co_fail "mmdebstrap is missing (apt-get install mmdebstrap)"
  mkdir -p "$(dirname "$dir")"
  local tmp log
  tmp=$(mktemp -d "$dir.new.XXXXXX")
  chmod 755 "$tmp"
  log="$dir.log"
  echo "$CO_ME: making the $suite/$arch tree in $dir (log: $log)"
  # The plain archive URL: no security suite, which needs hosts beyond the archive.
  local includes
  includes=$(IFS=,; echo "$*")
  # --one-file-system: never into a mount mmdebstrap might have left on its way out.
  trap 'rm -rf --one-file-system "$tmp"; exit 130' INT TERM
  if ! mmdebstrap --variant=minbase --arch="$arch" ${includes:+--include="$includes"} \
      "$suite" "$tmp" "$CO_MIRROR" >"$log" 2>&1; then
    rm -rf --one-file-system "$tmp"
    co_fail "cannot make the $suite tree from $CO_MIRROR: $(grep -m1 '^E: ' "$log" || tail -n1 "$log") (log: $log)"
  fi
  trap - INT TERM
  # Another run may have made it meanwhile; theirs is as good.
  mv -T "$tmp" "$dir" 2>/dev/null || rm -rf --one-file-system "$tmp"
}

co_mount() {
  mount "$@" || co_fail "cannot mount ${*: -1}"
  CO_MOUNTED+=("${*: -1}")
}

co_umount_all() {
  local pid i
  # Anything still running in the tree (a server a test left behind) holds mounts.
  for pid in /proc/[0-9]*; do
    [ "$(readlink "$pid/root" 2>/dev/null)" = "$CO_ROOT" ] && kill -KILL "${pid#/proc/}" 2>/dev/null
  done
  for ((i = ${#CO_MOUNTED[@]} - 1; i >= 0; i--)); do
    umount "${CO_MOUNTED[i]}" 2>/dev/null || umount -l "${CO_MOUNTED[i]}"
  done
  CO_MOUNTED=()
  rm -rf --one-file-system "$CO_RUN_DIR"
}

# The part of co_run that runs in its own mount namespace, so that no mount made
# here is ever seen outside or outlives it; unmounting on every way out keeps it
# tidy even while processes started inside linger.
co_inside() {
  local lower=$1 debs=$3 src=$4 cmd=$5
  CO_RUN_DIR=$2
  CO_ROOT=$CO_RUN_DIR/root
  CO_MOUNTED=()
  trap co_umount_all EXIT
  trap 'exit 143' TERM HUP
  mkdir -p "$CO_RUN_DIR/upper" "$CO_RUN_DIR/work" "$CO_ROOT"
  chmod 755 "$CO_RUN_DIR" "$CO_RUN_DIR/upper" "$CO_ROOT"
  co_mount -t overlay overlay -o "lowerdir=$lower,upperdir=$CO_RUN_DIR/upper,workdir=$CO_RUN_DIR/work" "$CO_ROOT"
  co_mount -t proc proc "$CO_ROOT/proc"
  co_mount --bind /dev "$CO_ROOT/dev"
  co_mount -t devpts devpts -o newinstance,ptmxmode=0666 "$CO_ROOT/dev/pts"
  co_mount -t tmpfs -o mode=1777 tmpfs "$CO_ROOT/dev/shm"
  co_mount --bind /sys "$CO_ROOT/sys"
  co_mount -t tmpfs -o mode=1777 tmpfs "$CO_ROOT/tmp"
  co_mount --bind "$debs" "$CO_ROOT/var/cache/apt/archives"
  mkdir -p "$CO_ROOT/src"
  co_mount --bind -o ro "$src" "$CO_ROOT/src"
  cp -L /etc/resolv.conf "$CO_ROOT/etc/resolv.conf" 2>/dev/null || true
  # In the background, so that a TERM from co_run is acted on at once; what
  # runs inside is then ended by co_umount_all. In a session of its own, so that
  # a Ctrl-C reaches it only that way, whole, and not half of it first.
  setsid -w chroot "$CO_ROOT" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" CI="${CI:-}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin /bin/bash -c "$cmd" &
  wait $!
}

co_run() {
  local lower=$1 src=$2 cmd=$3
  co_need_root
  # The .deb files are kept beside the tree: each run installs into a minimal
  # tree again, without fetching the same files again.
  local debs=$lower.debs run child status=0
  mkdir -p "$debs"
  # What a run killed outright (SIGKILL) left; its mounts died with it.
  for run in "$lower".run.*; do
    if [ -f "$run/pid" ] && ! kill -0 "$(cat "$run/pid")" 2>/dev/null; then
      rm -rf --one-file-system "$run"
    fi
  done
  run=$(mktemp -d "$lower.run.XXXXXX")
  echo $$ >"$run/pid"
  unshare --mount --propagation private /bin/bash -c \
    "CO_ME='$CO_ME'; $(declare -f co_fail co_mount co_umount_all co_inside); co_inside \"\$@\"" \
    co_inside "$lower" "$run" "$debs" "$src" "$cmd" &
  child=$!
  # Ctrl-C, or a TERM or HUP sent to this script alone, ends the run: the
  # shell ignores SIGINT in what it starts in the background, so it is passed
  # on as TERM.
  trap 'kill -TERM $child 2>/dev/null' INT TERM HUP
  wait "$child" || status=$?
  while kill -0 "$child" 2>/dev/null; do wait "$child" || status=$?; done
  trap - INT TERM HUP
  rm -rf --one-file-system "$run"
  if findmnt -rn -o TARGET | grep -qF "$run"; then
    co_fail "mounts are left under $run"
  fi
  return "$status"
}
