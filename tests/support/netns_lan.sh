# Sourced by the tests that need a PC with several network adapters: a network namespace of
# the test's own (nothing leaves it) with the adapters a home PC has, the LAN one listed last,
# and a stand-in for the list service on its loopback that notes each registration's address.

# netns_enter SCRIPT ARGS...: runs the calling script again in a network and mount namespace of
# its own (the mount namespace gives it a /sys of that network), unless it runs there already.
netns_enter() {
  [ -n "${TOVI_NETNS:-}" ] && return 0
  command -v unshare >/dev/null || { echo "FAIL: unshare is missing (util-linux)"; exit 1; }
  command -v ip >/dev/null || { echo "FAIL: ip is missing (iproute2)"; exit 1; }
  TOVI_NETNS=1 exec unshare --net --mount bash "$@"
}

# netns_need TOOL...: each tool on PATH, else the test fails naming the one missing.
netns_need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/setup.sh test)"; exit 1; }
  done
}

# netns_adapters: Docker's bridge, a VirtualBox host-only bridge (each with a port, so they
# are up), a VPN tap, a link-local leftover, then the LAN adapter with the default route.
netns_adapters() {
  mount -t sysfs sysfs /sys || return 1
  ip link set lo up || return 1
  local bridge address
  for bridge in docker0:172.17.0.1/16 vboxnet0:192.168.56.1/24; do
    address=${bridge#*:}
    bridge=${bridge%%:*}
    ip link add "$bridge" type bridge &&
      ip link add "${bridge}p" type veth peer name "${bridge}q" &&
      ip link set "${bridge}p" master "$bridge" &&
      ip addr add "$address" dev "$bridge" &&
      ip link set "${bridge}q" up && ip link set "${bridge}p" up && ip link set "$bridge" up ||
      return 1
  done
  netns_veth tap0 10.8.0.6/24 && netns_veth eth1 169.254.12.34/16 && netns_veth lan0 192.168.1.50/24 &&
    ip route add default via 192.168.1.1 dev lan0
}
netns_veth() {  # netns_veth NAME ADDRESS/BITS: an adapter that is up, its peer beside it
  ip link add "$1" type veth peer name "${1}peer" && ip addr add "$2" dev "$1" &&
    ip link set "${1}peer" up && ip link set "$1" up
}

# netns_dhcp NEW: the LAN adapter gets another address (its default route with it).
netns_dhcp() {
  ip addr flush dev lan0 && ip addr add "$1/24" dev lan0 && ip route replace default via 192.168.1.1 dev lan0
}

# netns_list_service LOG: PHP's server on 127.0.0.1 at a port of this namespace, appending each
# request's "localip" to LOG as it arrives and answering 1.5 s later (so that an address can
# change while the program waits for the answer); sets list_port and list_pid.
netns_list_service() {
  command -v php >/dev/null || { echo "FAIL: php is missing (scripts/setup.sh test)"; exit 1; }
  local router=${1%/*}/list-service.php
  cat >"$router" <<'PHP'
<?php
file_put_contents(getenv('TOVI_LIST_LOG'), ($_GET['localip'] ?? '') . "\n", FILE_APPEND);
usleep(1500000);
echo 'OK';
PHP
  : >"$1"
  list_port=18090
  TOVI_LIST_LOG=$1 php -S "127.0.0.1:$list_port" "$router" >/dev/null 2>&1 &
  list_pid=$!
  for _ in $(seq 1 50); do
    php -r 'exit(@fsockopen("127.0.0.1", (int)$argv[1]) ? 0 : 1);' "$list_port" && return 0
    sleep 0.1
  done
  echo "FAIL: the list service stand-in did not start"
  exit 1
}

# netns_listening: the addresses that listen at port 8027.
netns_listening() { ss -Hltn 'sport = :8027' | awk '{print $4}' | sed 's/:8027$//' | sort | tr '\n' ' '; }

# netns_wait_for SECONDS COMMAND...: polls every 0.2 s until COMMAND succeeds.
netns_wait_for() {
  local seconds=$1
  shift
  for _ in $(seq 1 $((seconds * 5))); do "$@" && return 0; sleep 0.2; done
  "$@"
}
# netns_left PID: PID's process is in a network namespace other than ours. Entering it before
# its unshare has run would enter ours, so a namespace is waited for this way, not by entering.
netns_left() { [ "$(readlink "/proc/$1/ns/net" 2>/dev/null)" != "$(readlink /proc/self/ns/net)" ]; }
# netns_registered ADDRESS LOG: the last registration reported ADDRESS:8027.
netns_registered() { [ "$(tail -1 "$2")" = "$1:8027" ]; }
