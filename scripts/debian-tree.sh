# A minimal Debian tree for another release, kept in a cache, and commands run
# inside a throw-away copy of it. Sourced by scripts/test-debian13.
#
#   dt_cache_dir SUITE ARCH            prints where the tree for SUITE/ARCH is kept
#   dt_ensure DIR SUITE ARCH PKG...    makes DIR with mmdebstrap (minbase plus PKG)
#                                      unless it is there; atomic: a failed or
#                                      interrupted build leaves nothing behind
#   dt_run DIR SRC CMD                 runs CMD (a shell command line, as root) in
#                                      a fresh overlay of DIR, with /proc, /dev,
#                                      /sys, a private /tmp, DIR's apt cache of
#                                      .deb files and, read-only at /src, the host
#                                      folder SRC mounted; the overlay and every
#                                      mount are gone when it returns, however it ends
#   dt_fail MESSAGE                    one line on standard error, then exit 1
#
# Everything fails with one line saying why; nothing needs cleaning up after.

DT_MIRROR=http://deb.debian.org/debian
DT_ME=${DT_ME:-debian-tree}

dt_fail() {
  echo "$DT_ME: $*" >&2
  exit 1
}

dt_cache_dir() {
  echo "${XDG_CACHE_HOME:-$HOME/.cache}/mirtolk/$1-$2"
}

dt_need_root() {
  [ "$(id -u)" -eq 0 ] || dt_fail "needs root for mmdebstrap, mount and chroot (run it with sudo)"
}

dt_ensure() {
  local dir=$1 suite=$2 arch=$3
  shift 3
  [ -d "$dir" ] && return 0
  dt_need_root
  command -v mmdebstrap >/dev/null || dt_fail "mmdebstrap is missing (apt-get install mmdebstrap)"
  mkdir -p "$(dirname "$dir")"
  local tmp log
  tmp=$(mktemp -d "$dir.new.XXXXXX")
  chmod 755 "$tmp"
  log="$dir.log"
  echo "$DT_ME: making the $suite/$arch tree in $dir (log: $log)"
  # The plain archive URL: no security suite, which needs hosts beyond the archive.
  local includes
  includes=$(IFS=,; echo "$*")
  # --one-file-system: never into a mount mmdebstrap might have left on its way out.
  trap 'rm -rf --one-file-system "$tmp"; exit 130' INT TERM
  if ! mmdebstrap --variant=minbase --arch="$arch" ${includes:+--include="$includes"} \
      "$suite" "$tmp" "$DT_MIRROR" >"$log" 2>&1; then
    rm -rf --one-file-system "$tmp"
    dt_fail "cannot make the $suite tree from $DT_MIRROR: $(grep -m1 '^E: ' "$log" || tail -n1 "$log") (log: $log)"
  fi
  trap - INT TERM
  # Another run may have made it meanwhile; theirs is as good.
  mv -T "$tmp" "$dir" 2>/dev/null || rm -rf --one-file-system "$tmp"
}

dt_mount() {
  mount "$@" || dt_fail "cannot mount ${*: -1}"
  DT_MOUNTED+=("${*: -1}")
}

dt_umount_all() {
  local pid i
  # Anything still running in the tree (a server a test left behind) holds mounts.
  for pid in /proc/[0-9]*; do
    [ "$(readlink "$pid/root" 2>/dev/null)" = "$DT_ROOT" ] && kill -KILL "${pid#/proc/}" 2>/dev/null
  done
  for ((i = ${#DT_MOUNTED[@]} - 1; i >= 0; i--)); do
    umount "${DT_MOUNTED[i]}" 2>/dev/null || umount -l "${DT_MOUNTED[i]}"
  done
  DT_MOUNTED=()
  rm -rf --one-file-system "$DT_RUN_DIR"
}

# The part of dt_run that runs in its own mount namespace, so that no mount made
# here is ever seen outside or outlives it; unmounting on every way out keeps it
# tidy even while processes started inside linger.
dt_inside() {
  local lower=$1 debs=$3 src=$4 cmd=$5
  DT_RUN_DIR=$2
  DT_ROOT=$DT_RUN_DIR/root
  DT_MOUNTED=()
  trap dt_umount_all EXIT
  trap 'exit 143' TERM HUP
  mkdir -p "$DT_RUN_DIR/upper" "$DT_RUN_DIR/work" "$DT_ROOT"
  chmod 755 "$DT_RUN_DIR" "$DT_RUN_DIR/upper" "$DT_ROOT"
  dt_mount -t overlay overlay -o "lowerdir=$lower,upperdir=$DT_RUN_DIR/upper,workdir=$DT_RUN_DIR/work" "$DT_ROOT"
  dt_mount -t proc proc "$DT_ROOT/proc"
  dt_mount --bind /dev "$DT_ROOT/dev"
  dt_mount -t devpts devpts -o newinstance,ptmxmode=0666 "$DT_ROOT/dev/pts"
  dt_mount -t tmpfs -o mode=1777 tmpfs "$DT_ROOT/dev/shm"
  dt_mount --bind /sys "$DT_ROOT/sys"
  dt_mount -t tmpfs -o mode=1777 tmpfs "$DT_ROOT/tmp"
  dt_mount --bind "$debs" "$DT_ROOT/var/cache/apt/archives"
  mkdir -p "$DT_ROOT/src"
  dt_mount --bind -o ro "$src" "$DT_ROOT/src"
  cp -L /etc/resolv.conf "$DT_ROOT/etc/resolv.conf" 2>/dev/null || true
  # In the background, so that a TERM from dt_run is acted on at once; what
  # runs inside is then ended by dt_umount_all.
  chroot "$DT_ROOT" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" CI="${CI:-}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin /bin/bash -c "$cmd" &
  wait $!
}

dt_run() {
  local lower=$1 src=$2 cmd=$3
  dt_need_root
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
    "DT_ME='$DT_ME'; $(declare -f dt_fail dt_mount dt_umount_all dt_inside); dt_inside \"\$@\"" \
    dt_inside "$lower" "$run" "$debs" "$src" "$cmd" &
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
    dt_fail "mounts are left under $run"
  fi
  return "$status"
}
