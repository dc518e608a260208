#!/usr/bin/env bash
# Runs COMMAND inside ROOT with /proc and /dev mounted, in a private mount
# namespace: the mounts exist for this command alone and vanish with it, even
# when it fails or is killed, so a root never holds a mount when it is removed
# or made anew. The command starts in / with an empty environment but PATH and
# a UTF-8 locale; nothing of the host's environment leaks in.
# Exits 77 after one line "skipped: REASON" when this machine cannot enter it.
#   tests/roots/in_root.sh ROOT COMMAND...
set -euo pipefail
root=${1:?usage: in_root.sh ROOT COMMAND...}
shift
[ "$(id -u)" = 0 ] || { echo "skipped: entering a Debian root needs root (running as uid $(id -u))"; exit 77; }
exec unshare --mount --propagation private -- /bin/sh -c '
  root=$1; shift
  mount -t proc proc "$root/proc" && mount --rbind /dev "$root/dev" \
  && exec chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"
' in_root "$root" "$@"
