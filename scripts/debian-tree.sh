# A clean Debian tree to install and run a package in, as on a fresh machine.
# Sourced; needs root and mmdebstrap.
#   dt_open SUITE   a fresh copy of the cached minbase tree of SUITE in a
#                   temporary folder, with /proc, /dev and /sys mounted and the
#                   host's name servers; sets DT_ROOT. The cache is made once,
#                   under ${XDG_CACHE_HOME:-~/.cache}/mirtolk, when missing.
#   dt_run CMD      runs the shell command CMD inside, as root
#   dt_close        unmounts and removes the copy (also on exit)

DT_CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/mirtolk
DT_ROOT=

dt_close() {
  [ -n "$DT_ROOT" ] || return 0
  local m
  for m in sys dev proc var/cache/apt/archives; do
    mountpoint -q "$DT_ROOT/$m" && umount -R -l "$DT_ROOT/$m"
  done
  rm -rf --one-file-system "$DT_ROOT"
  DT_ROOT=
}
trap dt_close EXIT
trap 'exit 130' INT TERM

dt_open() {
  local suite=$1 tarball="$DT_CACHE/debian-$1-minbase.tar"
  mkdir -p "$DT_CACHE/apt-archives-$suite"
  if [ ! -s "$tarball" ]; then
    command -v mmdebstrap >/dev/null || { echo "debian-tree: missing tool: mmdebstrap" >&2; return 1; }
    echo "debian-tree: making the $suite tree once, into $tarball"
    mmdebstrap --quiet --format=tar --variant=minbase "$suite" "$tarball.part" || return 1
    mv "$tarball.part" "$tarball"
  fi
  DT_ROOT=$(mktemp -d /var/tmp/mirtolk-tree.XXXXXX)
  tar -C "$DT_ROOT" -xf "$tarball"
  mount -t proc proc "$DT_ROOT/proc"
  mount --rbind /dev "$DT_ROOT/dev"
  mount --make-rslave "$DT_ROOT/dev"
  mount -t sysfs sys "$DT_ROOT/sys"
  # Downloaded packages are kept between runs; the tree itself never is.
  mount --bind "$DT_CACHE/apt-archives-$suite" "$DT_ROOT/var/cache/apt/archives"
  rm -f "$DT_ROOT/etc/apt/apt.conf.d/docker-clean"
  cp -L /etc/resolv.conf "$DT_ROOT/etc/resolv.conf"
}

dt_run() {
  chroot "$DT_ROOT" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive /bin/bash -c "$1"
}
