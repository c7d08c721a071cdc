#!/bin/sh
# private-net.sh COMMAND [ARG...]: runs COMMAND in a network namespace of its
# own whose only interface is loopback, so that the servers a benchmark starts
# reach nothing beyond this machine. MiniDLNA needs it: it refuses
# listening_ip=127.0.0.1 ("parsing error") and then announces itself with SSDP
# on every interface it finds. Needs root (CAP_SYS_ADMIN).
set -eu
if ! unshare -n true 2>/dev/null; then
  echo "private-net.sh: cannot make a network namespace here (needs root); not running $1" >&2
  exit 1
fi
exec unshare -n sh -c 'ip link set lo up && exec "$@"' private-net "$@"
