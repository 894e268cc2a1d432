# Sourced by the media-server tests and benchmark: a home network of two namespaces joined by a
# veth pair. The peers stay in the caller's namespace on dlna1 (10.77.0.2/24); the server runs
# in a namespace of its own with dlna0 (10.77.0.1/24). Multicast crosses the pair as on a LAN;
# each side's default route points at the other, so nothing can leave the two.
# Needs netns_lan.sh (netns_wait_for) sourced first.

# dlna_pair_up: a fresh pair (a server namespace that ended took its end, and so the pair, along).
dlna_pair_up() {
  ip link del dlna1 2>/dev/null
  ip link set lo up && ip link add dlna1 type veth peer name dlna0 &&
    ip addr add 10.77.0.2/24 dev dlna1 && ip link set dlna1 up && ip route replace default via 10.77.0.1
}

# dlna_server_start STATE MEDIA OUTPUT COMMAND...: runs COMMAND (which must exec the server) in
# a namespace of its own, given dlna0; sets server_pid and server_started (ns since the epoch,
# taken when the adapter is handed over, which is when the server can start answering).
dlna_server_start() {
  local state=$1 media=$2 output=$3 own_ns
  shift 3
  DLNA_ADDRESS=10.77.0.1 DLNA_IFACE=dlna0 DLNA_MEDIA=$media DLNA_STATE=$state \
    unshare -n bash -c '
      for _ in $(seq 50); do ip link show dlna0 >/dev/null 2>&1 && break; sleep 0.1; done
      ip link set lo up && ip addr add 10.77.0.1/24 dev dlna0 && ip link set dlna0 up &&
        ip route add default via 10.77.0.2 || { echo "FAIL: no adapter in the server namespace"; exit 1; }
      exec "$@"' server "$@" >"$output" 2>&1 &
  server_pid=$!
  own_ns=$(readlink /proc/self/ns/net)
  netns_wait_for 5 dlna_server_unshared "$own_ns" || return 1
  ip link set dlna0 netns "$server_pid" || return 1
  server_started=$(date +%s%N)
}
dlna_server_unshared() { [ "$(readlink "/proc/$server_pid/ns/net" 2>/dev/null)" != "$1" ]; }

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
