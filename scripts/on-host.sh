#!/bin/sh
# Runs a command on the host, outside the build environment, from inside it: in a mount
# namespace of its own whose root is the host's root (which the environment shows at /run/host),
# in the same folder. Unlike chroot, the command may make namespaces of its own (./dev does).
#   scripts/on-host.sh CMD [ARGS...]
set -e
[ -d /run/host/proc ] || { echo "on-host: not inside the build environment" >&2; exit 2; }
if [ "$(id -u)" != 0 ]; then
  echo "on-host: needs the build environment's root" >&2
  exit 2
fi
# pivot_root: the environment's, else the host's own (which ./dev used to enter it).
PATH=$PATH:/run/host/usr/sbin:/run/host/sbin exec unshare --mount -- sh -c '
  set -e
  mount --rbind /run/host /run/host
  cd /run/host
  pivot_root . .
  umount -l .
  cd "$0"
  exec "$@"
' "$PWD" "$@"
