#!/usr/bin/env bash
# The CPythons pyenv can't give us here (3.14, 3.15 and 3.15's debug build)
# come from Debian's unstable suite, in a root of their own.
#
#   tools/sid_root.sh make          make the root unless it is there already
#   tools/sid_root.sh run CMD...    run CMD in it, this tree bound at /src
#
# The root lives in $QEL_SID_ROOT (default /var/tmp/qel-sid). Delete it with
# `rm -rf --one-file-system`, which stops at any mount point it meets.
set -euo pipefail

root=${QEL_SID_ROOT:-/var/tmp/qel-sid}
packages=python3.14-dev,python3.14-venv,python3.15-dev,python3.15-venv,python3.15-dbg,g++,cmake,make,git,ca-certificates
case $root in /|"") echo "refusing QEL_SID_ROOT=$root" >&2; exit 2 ;; esac
tree=$(cd "$(dirname "$0")/.." && pwd)

make_root() {
  [ -e "$root/.made" ] && return 0
  if ! command -v debootstrap >/dev/null; then
    apt-get update -qq && apt-get install -y -qq debootstrap >/dev/null
  fi
  # A half-made root from an interrupted run is started again from nothing.
  rm -rf --one-file-system "$root"
  mkdir -p "$root"
  debootstrap --variant=minbase --include="$packages" sid "$root" http://deb.debian.org/debian >/dev/null
  touch "$root/.made"
}

# The binds are made in a mount namespace of the command's own, so they go
# when it ends, however it ends; they are never seen outside it, so runs
# side by side don't meet and deleting the root can't reach the machine's
# /dev through them.
run_in_root() {
  # pip inside needs the machine's name servers and CA bundle.
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  cp /etc/ssl/certs/ca-certificates.crt "$root/etc/ssl/certs/ca-certificates.crt"
  mkdir -p "$root/src"
  unshare --mount --propagation private /bin/bash -c '
    root=$1 tree=$2; shift 2
    mount --bind /proc "$root/proc" && mount --bind /dev "$root/dev" &&
      mount --bind /dev/pts "$root/dev/pts" && mount --bind "$tree" "$root/src" || exit 1
    exec chroot "$root" /usr/bin/env -i HOME=/root TERM="${TERM:-xterm}" PATH=/usr/local/bin:/usr/bin:/bin \
      ${SKBUILD_CMAKE_DEFINE:+SKBUILD_CMAKE_DEFINE="$SKBUILD_CMAKE_DEFINE"} \
      /bin/bash -c "cd /src && \"\$@\"" bash "$@"' bash "$root" "$tree" "$@"
}

case "${1:-}" in
  make) make_root ;;
  run) shift; make_root; run_in_root "$@" ;;
  *) echo "usage: $0 make | run CMD..." >&2; exit 2 ;;
esac
