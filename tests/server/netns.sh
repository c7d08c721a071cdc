#!/bin/sh
# Makes or removes two network namespaces joined by a veth pair, for the
# multicast tests: "netns.sh up TAG" creates ml<TAG>a (veth ml<TAG>a0,
# 169.254.27.1/16) and ml<TAG>b (veth ml<TAG>b0, 169.254.27.2/16) with the SSDP
# group routed over the pair, nothing else; "netns.sh down TAG" removes both
# (and the pair with them). Exits 77 when this machine refuses namespaces.
set -u
tag=$2
a=ml${tag}a
b=ml${tag}b
case $1 in
down)
  ip netns del "$a" 2>/dev/null
  ip netns del "$b" 2>/dev/null
  exit 0 ;;
up)
  if ! ip netns add "$a" 2>/dev/null; then
    echo "network namespaces are not available here (need root and CAP_SYS_ADMIN)" >&2
    exit 77
  fi
  set -e
  trap '"$0" down "$tag"' EXIT
  ip netns add "$b"
  ip link add "${a}0" netns "$a" type veth peer name "${b}0" netns "$b"
  for side in "$a:1" "$b:2"; do
    ns=${side%:*}
    ip -n "$ns" addr add "169.254.27.${side#*:}/16" dev "${ns}0"
    ip -n "$ns" link set lo up
    ip -n "$ns" link set "${ns}0" up
    ip -n "$ns" route add 224.0.0.0/4 dev "${ns}0"
  done
  trap - EXIT ;;
*)
  echo "usage: netns.sh up|down TAG" >&2
  exit 2 ;;
esac
