#!/usr/bin/env bash
# Makes sure the kernel runs ARCH's binaries (a Debian architecture: arm64)
# through qemu user emulation, also inside a chroot that holds no qemu: the
# handler is registered with the fix-binary flag (F), so the kernel opens the
# interpreter once, here, and never looks for it in the root. The entry comes
# from qemu-user-static's own description in /usr/share/binfmts; one that is
# already registered is kept as it is. The registration is machine-wide and
# stays after this script.
# Exits 77 after one line "skipped: REASON" when this machine cannot do it.
#   tests/roots/qemu_binfmt.sh arm64
set -euo pipefail
arch=${1:?usage: qemu_binfmt.sh DEBIAN_ARCH}
skip() { echo "skipped: $*"; exit 77; }

case $arch in
  arm64) cpu=aarch64 ;;
  *) skip "no qemu user emulation known for $arch" ;;
esac
[ "$(id -u)" = 0 ] || skip "registering qemu with binfmt_misc needs root (running as uid $(id -u))"
spec=/usr/share/binfmts/qemu-$cpu
[ -r "$spec" ] || skip "qemu-user-static is not installed (no $spec)"
field() { awk -v k="$1" '$1 == k { print $2 }' "$spec"; }
interpreter=$(field interpreter)
[ -x "$interpreter" ] || skip "qemu-user-static is not installed (no $interpreter)"

misc=/proc/sys/fs/binfmt_misc
# binfmt_misc is not always mounted at boot.
[ -e "$misc/register" ] || mount -t binfmt_misc binfmt_misc "$misc" 2>/dev/null \
  || skip "binfmt_misc is not available (cannot mount it at $misc)"
[ "$(cat "$misc/status")" = enabled ] || skip "binfmt_misc is disabled on this machine"

entry=$misc/qemu-$cpu
usable() {
  [ -e "$entry" ] || return 1
  grep -qx enabled "$entry" || skip "binfmt_misc's qemu-$cpu is registered but disabled"
  grep -q '^flags:.*F' "$entry" \
    || skip "binfmt_misc's qemu-$cpu is registered without the fix-binary flag (F) that a chroot needs"
}
usable && exit 0
flags=F
[ "$(field preserve)" = yes ] && flags+=P
[ "$(field credentials)" = yes ] && flags+=C
# A registration racing ours fails with EEXIST; then the entry is checked like any other.
printf ':qemu-%s:M:%s:%s:%s:%s:%s\n' "$cpu" "$(field offset)" "$(field magic)" "$(field mask)" \
  "$interpreter" "$flags" > "$misc/register" 2>/dev/null || true
usable || { echo "registering qemu-$cpu with binfmt_misc failed" >&2; exit 1; }
