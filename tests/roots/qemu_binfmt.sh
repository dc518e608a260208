#!/usr/bin/env bash
# Makes sure the kernel runs ARCH's binaries (a Debian architecture: arm64)
# through qemu user emulation, also inside a chroot that holds no qemu: the
# handler is registered with the fix-binary flag (F), so the kernel opens the
# interpreter once, here, and never looks for it in the root. The entry comes
# from qemu's own description of it; one that is already registered is kept
# as it is. The registration is machine-wide and stays after this script.
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
# qemu describes its handler in binfmt-support's form, in systemd's, or both.
desc=/usr/share/binfmts/qemu-$cpu
conf=/usr/lib/binfmt.d/qemu-$cpu.conf
if [ -r "$conf" ]; then
  # Already the register line: ":name:type:offset:magic:mask:interpreter:flags".
  line=$(grep -m1 '^:' "$conf")
  interpreter=$(cut -d: -f7 <<< "$line")
  flags=$(cut -d: -f8 <<< "$line")
  [[ $flags == *F* ]] || line+=F
elif [ -r "$desc" ]; then
  field() { awk -v k="$1" '$1 == k { print $2 }' "$desc"; }
  interpreter=$(field interpreter)
  flags=F
  [ "$(field preserve)" = yes ] && flags+=P
  [ "$(field credentials)" = yes ] && flags+=C
  line=$(printf ':qemu-%s:M:%s:%s:%s:%s:%s' "$cpu" "$(field offset)" "$(field magic)" "$(field mask)" \
    "$interpreter" "$flags")
else
  skip "qemu-user-static is not installed (neither $desc nor $conf)"
fi
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
# A registration racing ours fails with EEXIST; then the entry is checked like any other.
echo "$line" > "$misc/register" 2>/dev/null || true
usable || { echo "registering qemu-$cpu with binfmt_misc failed" >&2; exit 1; }
