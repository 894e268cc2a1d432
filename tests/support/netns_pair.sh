# Sourced by the media-server tests and benchmarks: a home network of two namespaces joined by a
# veth pair. The peers stay in the caller's namespace on dlna1; the server runs in a namespace of
# its own with dlna0. Multicast crosses the pair as on a LAN; each side's default route points at
# the other, so nothing can leave the two.
# Two layouts, the second chosen by calling hostile_lan_layout before anything else:
#   the default:  the server 10.77.0.1/24, one peer 10.77.0.2/24;
#   hostile LAN:  the PC 192.168.1.50/24, and a VPN-like second adapter vpn0 (10.8.0.6/24) whose
#                 other end (10.8.0.1) stays in the PC's namespace, so that network is reached by
#                 the PC alone; the devices on dlna1, each with its own address: the attacker
#                 192.168.1.7, the TV .8, the NAS .9, and the router .1 (the PC's gateway;
#                 an address placed on dlna1 stands for a public host). A device speaks from its address by binding
#                 to it (curl --interface 192.168.1.8, a socket bound before connect).
# Needs netns_lan.sh (netns_wait_for) sourced first.
pair_server=10.77.0.1
pair_peers=(10.77.0.2)
pair_gateway=10.77.0.2
pair_vpn=

hostile_lan_layout() {
  pair_server=192.168.1.50
  pair_peers=(192.168.1.7 192.168.1.8 192.168.1.9 192.168.1.1)
  pair_gateway=192.168.1.1
  pair_vpn=10.8.0.6
  attacker=192.168.1.7 tv=192.168.1.8 nas=192.168.1.9 router=192.168.1.1 vpn_far=10.8.0.1
}

# pair_test_start: a namespace test's start: $work, a fresh folder (755: the server may run as
# another user), removed at exit after the server and the processes listed in pair_test_pids
# are stopped. pair_fail MESSAGE: says it with the server's last output and exits 1.
pair_test_pids=()
pair_test_start() {
  work=$(mktemp -d) && chmod 755 "$work" || exit 1
  server_pid=
  trap pair_test_end EXIT
}
pair_test_end() {
  local pid
  for pid in "${pair_test_pids[@]}"; do kill "$pid" 2>/dev/null; done
  dlna_server_end
  wait 2>/dev/null
  rm -rf "$work"
}
pair_fail() {
  echo "FAIL: $*"
  echo "  server output:"; sed 's/^/    /' "$work/server.txt" 2>/dev/null | tail -30
  exit 1
}

# dlna_pair_up: a fresh pair (a server namespace that ended took its end, and so the pair, along).
dlna_pair_up() {
  ip link del dlna1 2>/dev/null
  ip link set lo up && ip link add dlna1 type veth peer name dlna0 || return 1
  local peer
  for peer in "${pair_peers[@]}"; do ip addr add "$peer/24" dev dlna1 || return 1; done
  ip link set dlna1 up && ip route replace default via "$pair_server"
}

# dlna_server_start STATE MEDIA OUTPUT COMMAND...: runs COMMAND (which must exec the server) in
# a namespace of its own, given dlna0 (and vpn0 in the hostile layout); sets server_pid and
# server_started (ns since the epoch, taken when the adapter is handed over, which is when the
# server can start answering).
dlna_server_start() {
  local state=$1 media=$2 output=$3
  shift 3
  DLNA_ADDRESS=$pair_server DLNA_IFACE=dlna0 DLNA_MEDIA=$media DLNA_STATE=$state \
    PAIR_GATEWAY=$pair_gateway PAIR_VPN=$pair_vpn unshare -n bash -c '
      for _ in $(seq 50); do ip link show dlna0 >/dev/null 2>&1 && break; sleep 0.1; done
      ip link set lo up && ip addr add "$DLNA_ADDRESS/24" dev dlna0 && ip link set dlna0 up &&
        ip route add default via "$PAIR_GATEWAY" || { echo "FAIL: no adapter in the server namespace"; exit 1; }
      if [ -n "$PAIR_VPN" ]; then
        ip link add vpn0 type veth peer name vpn0far && ip addr add "$PAIR_VPN/24" dev vpn0 &&
          ip addr add "${PAIR_VPN%.*}.1/24" dev vpn0far && ip link set vpn0far up &&
          ip link set vpn0 up || { echo "FAIL: no VPN adapter in the server namespace"; exit 1; }
      fi
      unset PAIR_GATEWAY PAIR_VPN
      exec "$@"' server "$@" >"$output" 2>&1 &
  server_pid=$!
  netns_wait_for 5 netns_left "$server_pid" || return 1
  ip link set dlna0 netns "$server_pid" || return 1
  server_started=$(date +%s%N)
}

# in_server_netns COMMAND...: runs COMMAND in the server's namespace (a page server on the PC's
# own addresses, say, that the devices cannot reach).
in_server_netns() { nsenter --net="/proc/$server_pid/ns/net" "$@"; }

# dlna_server_stop SECONDS: SIGTERM, then waits for the end; fails if it outlives SECONDS.
dlna_server_stop() {
  kill "$server_pid" 2>/dev/null
  for _ in $(seq $(($1 * 10))); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$server_pid" 2>/dev/null && return 1
  wait "$server_pid" 2>/dev/null
  server_pid=
}

# dlna_server_end: at a script's exit, the server stopped if it still runs: SIGTERM first, so that
# a server command that cleans up after itself (the wine one) has its chance, then SIGKILL.
dlna_server_end() {
  [ -n "${server_pid:-}" ] && ! dlna_server_stop 10 && { kill -9 "$server_pid"; wait "$server_pid"; } 2>/dev/null
  return 0
}
