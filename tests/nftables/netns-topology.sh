#!/usr/bin/env bash
# Three network namespaces for firewall tests: a client and a server joined through a router
# that forwards between them, IPv4 and IPv6. Every address exists only inside them.
#
#   PREFIX-client  c0  10.99.1.2/24  fd99:1::2/64   MAC 02:99:01:00:00:02, default via router
#   PREFIX-router  r0  10.99.1.1/24  fd99:1::1/64   MAC 02:99:01:00:00:01 (towards the client)
#                  r1  10.99.2.1/24  fd99:2::1/64   (towards the server), forwarding on,
#                  no reverse-path filter, 10.99.4.0/24 and fd99:4::/64 routed to the server
#   PREFIX-server  s0  10.99.2.2/24  fd99:2::2/64   default via router
#
# Usage:
#   netns-topology.sh up PREFIX              make them; on a failure, remove what was made
#   netns-topology.sh down PREFIX            remove them (missing ones are fine)
#   netns-topology.sh tcp PREFIX ADDR PORT   0 when a TCP connection from the client to a
#                                            listener on the server at ADDR:PORT comes up
#                                            within a second (socat)
#   netns-topology.sh ping PREFIX ADDR       0 when the client gets an echo reply from ADDR
#                                            within a second
# Needs root, ip (iproute2), socat, ping. Firewall rules go into PREFIX-router, e.g.
# `ip netns exec PREFIX-router nft ...`, or a process started there.
set -euo pipefail

usage() {
  sed -n '2,/^set -e/p' "$0" | sed -e '/^set -e/d' -e 's/^# \{0,1\}//' >&2
  exit 2
}

down() {
  local prefix=$1 role
  for role in client router server; do
    ip netns del "$prefix-$role" 2>/dev/null || true
  done
}

up() {
  local prefix=$1 c=$1-client r=$1-router s=$1-server
  trap 'down "$prefix"' ERR
  local ns dev v4 v6
  for ns in "$c" "$r" "$s"; do
    ip netns add "$ns"
    ip -n "$ns" link set lo up
    # No duplicate address detection: link-local addresses are usable at once.
    ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0
  done
  ip link add c0 address 02:99:01:00:00:02 netns "$c" type veth peer name r0 address 02:99:01:00:00:01 netns "$r"
  ip link add s0 address 02:99:02:00:00:02 netns "$s" type veth peer name r1 netns "$r"
  while read -r ns dev v4 v6; do
    ip -n "$ns" addr add "$v4" dev "$dev"
    ip -n "$ns" addr add "$v6" dev "$dev"
    ip -n "$ns" link set "$dev" up
  done <<END
$c c0 10.99.1.2/24 fd99:1::2/64
$r r0 10.99.1.1/24 fd99:1::1/64
$r r1 10.99.2.1/24 fd99:2::1/64
$s s0 10.99.2.2/24 fd99:2::2/64
END
  ip -n "$c" route add default via 10.99.1.1
  ip -n "$c" -6 route add default via fd99:1::1
  ip -n "$s" route add default via 10.99.2.1
  ip -n "$s" -6 route add default via fd99:2::1
  ip netns exec "$r" sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1
  # Probes come from any source, to prefixes behind the server.
  ip netns exec "$r" sysctl -qw net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.r0.rp_filter=0
  ip -n "$r" route add 10.99.4.0/24 via 10.99.2.2
  ip -n "$r" -6 route add fd99:4::/64 via fd99:2::2
  # Resolve every neighbour once, so that no probe's first packet waits for it.
  local address
  for address in 10.99.2.2 fd99:2::2; do
    ip netns exec "$c" ping -q -c 1 -W 2 -w 3 "$address" >/dev/null
  done
  trap - ERR
}

# A one-connection listener on the server, a connection attempt from the client; the
# listener is stopped either way.
tcp() {
  local prefix=$1 address=$2 port=$3 target listener tick rc=0
  case $address in
    *:*) target="[$address]:$port" ;;
    *) target="$address:$port" ;;
  esac
  ip netns exec "$prefix-server" timeout 10 socat -u "TCP6-LISTEN:$port,reuseaddr,ipv6only=0" OPEN:/dev/null &
  listener=$!
  for tick in $(seq 1 100); do
    ip netns exec "$prefix-server" ss -Hltn "sport = :$port" | grep -q . && break
    sleep 0.02
  done
  ip netns exec "$prefix-client" timeout 5 socat -u OPEN:/dev/null "TCP:$target,connect-timeout=1" 2>/dev/null || rc=1
  kill "$listener" 2>/dev/null || true
  wait "$listener" 2>/dev/null || true
  return $rc
}

probe_ping() {
  ip netns exec "$1-client" ping -q -c 1 -W 1 -w 2 "$2" >/dev/null 2>&1
}

[ $# -ge 2 ] || usage
case $1 in
  up) up "$2" ;;
  down) down "$2" ;;
  tcp) [ $# -eq 4 ] || usage; tcp "$2" "$3" "$4" ;;
  ping) [ $# -eq 3 ] || usage; probe_ping "$2" "$3" ;;
  *) usage ;;
esac
