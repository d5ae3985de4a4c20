#!/usr/bin/env bash
# The CPythons pyenv can't give us here (3.14, 3.15 and 3.15's debug build)
# come from Debian's unstable suite, in a root of their own.
#
#   tools/sid_root.sh make          make the root unless it is there already
#   tools/sid_root.sh run CMD...    run CMD in it, this tree bound at /src
#
# The root lives in $QEL_SID_ROOT (default /var/tmp/qel-sid). Never delete it,
# or a folder above it, while `run` is going: /dev is bound inside, and a
# recursive delete through it deletes the machine's own device files. To
# remove it: `umount -R` what is mounted below it, then `rm -rf
# --one-file-system`.
set -euo pipefail

root=${QEL_SID_ROOT:-/var/tmp/qel-sid}
packages=python3.14-dev,python3.14-venv,python3.15-dev,python3.15-venv,python3.15-dbg,g++,cmake,make,git,ca-certificates
tree=$(cd "$(dirname "$0")/.." && pwd)

make_root() {
  [ -x "$root/usr/bin/python3.15" ] && return 0
  if ! command -v debootstrap >/dev/null; then
    apt-get update -qq && apt-get install -y -qq debootstrap >/dev/null
  fi
  # A half-made root from an interrupted run is started again from nothing.
  if [ -d "$root" ]; then
    unbind
    rm -rf --one-file-system "$root"
  fi
  mkdir -p "$root"
  debootstrap --variant=minbase --include="$packages" sid "$root" http://deb.debian.org/debian >/dev/null
}

# Unbinds whatever is mounted below the root, deepest first.
unbind() {
  local points
  points=$(awk -v r="$root/" 'index($2, r) == 1 { print $2 }' /proc/mounts | sort -r)
  for p in $points; do umount -l "$p" || true; done
}

run_in_root() {
  # pip inside needs the machine's name servers and CA bundle.
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  cp /etc/ssl/certs/ca-certificates.crt "$root/etc/ssl/certs/ca-certificates.crt"
  mkdir -p "$root/src"
  trap unbind EXIT
  mount --bind /proc "$root/proc"
  mount --bind /dev "$root/dev"
  mount --bind /dev/pts "$root/dev/pts"
  mount --bind "$tree" "$root/src"
  chroot "$root" /usr/bin/env -i HOME=/root TERM="${TERM:-xterm}" PATH=/usr/local/bin:/usr/bin:/bin \
    ${SKBUILD_CMAKE_DEFINE:+SKBUILD_CMAKE_DEFINE="$SKBUILD_CMAKE_DEFINE"} \
    /bin/bash -c 'cd /src && "$@"' bash "$@"
}

case "${1:-}" in
  make) make_root ;;
  run) shift; make_root; run_in_root "$@" ;;
  *) echo "usage: $0 make | run CMD..." >&2; exit 2 ;;
esac
