#!/usr/bin/env bash
# Makes, once, a stock Debian 11 (bullseye) root of ARCH (a Debian
# architecture: amd64, arm64) with python3, its venv module and distutils, and
# prints its folder. Roots live in the cache outside the checkout (ORVIK_CACHE,
# by default ~/.cache/orvik, as for third_party/fetch.sh), so reruns and CI on
# this machine reuse them. A root counts only once its marker holds the recipe
# it was made by: an interrupted build, or one by another recipe, is made anew.
# A foreign root's second stage runs under qemu user emulation.
# Exits 77 after one line "skipped: REASON" when this machine cannot make it.
#   tests/roots/make_root.sh amd64|arm64
set -euo pipefail
arch=${1:?usage: make_root.sh DEBIAN_ARCH}
here=$(cd "$(dirname "$0")" && pwd)
suite=bullseye
mirror=http://deb.debian.org/debian
packages=python3,python3-venv,python3-distutils
cache=${ORVIK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orvik}/roots
root=$cache/$suite-$arch
marker=$root.complete
recipe="debootstrap --variant=minbase --include=$packages --arch=$arch $suite $mirror"
skip() { echo "skipped: $*"; exit 77; }

ready() { [ -d "$root" ] && [ "$(cat "$marker" 2>/dev/null)" = "$recipe" ]; }
[ "$(id -u)" = 0 ] || skip "a Debian root needs root to make and enter (running as uid $(id -u))"
# Every mount here is made in a private mount namespace, which needs / to be
# a mount point. Inside a chroot it is not, and the mounts could not be kept
# from the machine's own namespace.
unshare --mount --propagation private true 2> /dev/null \
  || skip "mounts cannot be made private here (/ is not a mount point, as in a chroot)"
# A foreign root, even a cached one, is of use only while qemu runs its binaries.
foreign=false
if [ "$arch" != "$(dpkg --print-architecture)" ]; then
  foreign=true
  reason=$("$here/qemu_binfmt.sh" "$arch") || { status=$?; echo "$reason"; exit $status; }
fi
if ready; then echo "$root"; exit 0; fi
command -v debootstrap > /dev/null || skip "debootstrap is not installed"

# Removes a root that is not (or no longer) complete; never one with anything
# mounted below it in this namespace, where rm would reach the host's /proc,
# /sys or /dev. Every mount this project makes lives in a private namespace.
remove() {
  [ -e "$1" ] || return 0
  if awk -v d="$1" '$5 == d || index($5, d "/") == 1 { found = 1 } END { exit !found }' /proc/self/mountinfo; then
    echo "make_root.sh: $1 still has mounts below it; unmount them, then rerun" >&2
    exit 1
  fi
  rm -rf --one-file-system "$1"
}

mkdir -p "$cache"
exec 9> "$root.lock"
flock 9
if ready; then echo "$root"; exit 0; fi
rm -f "$marker"
partial=$root.partial
remove "$partial"
remove "$root"
log=$root.log
echo "making the $suite $arch root in $root (a few minutes; log: $log)" >&2
# debootstrap mounts /proc and /sys in the root while it works: in a private
# mount namespace those mounts end with it, even when it is killed.
private=(unshare --mount --propagation private --)
{
  if $foreign; then
    "${private[@]}" debootstrap --variant=minbase --include="$packages" --arch="$arch" --foreign \
      "$suite" "$partial" "$mirror" \
    && "${private[@]}" chroot "$partial" /debootstrap/debootstrap --second-stage
  else
    "${private[@]}" debootstrap --variant=minbase --include="$packages" --arch="$arch" \
      "$suite" "$partial" "$mirror"
  fi
} > "$log" 2>&1 || { tail -20 "$log" >&2; echo "make_root.sh: debootstrap of $suite $arch failed (log: $log)" >&2; exit 1; }
mv "$partial" "$root"
echo "$recipe" > "$marker"
echo "$root"
