#!/usr/bin/env bash
# "/parserlink" reaches only what the asking device could reach itself, on a hostile home LAN of
# the test's own (tests/support/netns_pair.sh): the PC 192.168.1.50 with a VPN-like adapter
# (10.8.0.6, its far end 10.8.0.1 in the PC's namespace), link-local and carrier-grade addresses
# that only the PC reaches, the attacker .7, the TV .8, the NAS .9 and the router .1 on the LAN,
# and 1.2.3.4 on the LAN side standing for a public host. A page server in each namespace notes
# every request by the address it came to.
# From the attacker, pages of the PC's own addresses, of the networks only the PC reaches and of
# the router answer "err" and no page server hears of them; the TV gets the NAS's and the public
# host's pages cut; the PC itself (from 127.0.0.1 and from its LAN address) gets the VPN's page.
# Usage (as root: it makes the namespaces):
#   parserlink_netns_test.sh tests/dlna/toviplayer_server.sh build/linux/src/app/remote-toviplayer
set -uo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/../support/netns_lan.sh"
source "$here/../support/netns_pair.sh"
netns_enter "$0" "$@"
netns_need curl python3

work=$(mktemp -d)
chmod 755 "$work"
server_pid= pc_pages_pid= lan_pages_pid=
cleanup() {
  dlna_server_end
  for pid in "$pc_pages_pid" "$lan_pages_pid"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

page_port=18081
devices=$here/../support/lan_devices.py

hostile_lan_layout
public=1.2.3.4
dlna_pair_up || { echo "FAIL: no LAN pair"; exit 1; }
ip addr add "$public/32" dev dlna1 || { echo "FAIL: no public stand-in"; exit 1; }
mkdir -p "$work/state" "$work/media"
dlna_server_start "$work/state" "$work/media" "$work/server.txt" "$@" || { echo "FAIL: no server namespace"; exit 1; }
link_local=169.254.7.1 overlay=100.64.0.1
netns_wait_for 5 in_server_netns ip link show vpn0far >/dev/null 2>&1 &&
  in_server_netns ip addr add "$link_local/16" dev vpn0far &&
  in_server_netns ip addr add "$overlay/10" dev vpn0far || { echo "FAIL: no PC-only networks"; exit 1; }

: >"$work/pc.log" >"$work/lan.log"
# nsenter itself, not in_server_netns: a function sent to the background is a subshell, whose
# process id would not be the page server's.
nsenter --net="/proc/$server_pid/ns/net" python3 "$devices" echo-pages "$page_port" "$work/pc.log" "$work/pc.ready" &
pc_pages_pid=$!
python3 "$devices" echo-pages "$page_port" "$work/lan.log" "$work/lan.ready" &
lan_pages_pid=$!
netns_wait_for 10 test -e "$work/pc.ready" -a -e "$work/lan.ready" ||
  { echo "FAIL: the page servers did not start"; exit 1; }

# ask FROM URL: the server's answer to "/parserlink?URL|<b>|</b>" asked from address FROM.
ask() {
  curl -s --max-time 40 --interface "$1" "http://$pair_server:8027/parserlink?$2|<b>|</b>"
}
netns_wait_for 30 curl -s -o /dev/null --max-time 2 --interface "$attacker" "http://$pair_server:8027/" ||
  { echo "FAIL: the server did not answer"; sed 's/^/    /' "$work/server.txt" | tail -20; exit 1; }

# ---- the attacker: nothing only the PC reaches, not the PC's own services, not the router ----
for target in "$vpn_far" "$pair_server" "$pair_vpn" "$link_local" "$overlay" "$router"; do
  answer=$(ask "$attacker" "http://$target:$page_port/page")
  [ "$answer" = err ] || fail "the attacker asked for $target's page: '$answer', not 'err'"
done
[ -s "$work/pc.log" ] && fail "a page server on the PC was asked: $(sort "$work/pc.log" | uniq -c | tr '\n' ' ')"
grep -qx "$router" "$work/lan.log" && fail "the router's page server was asked"

# ---- the TV: the NAS on the LAN and a public host ----
for target in "$nas" "$public"; do
  answer=$(ask "$tv" "http://$target:$page_port/page")
  [ "$answer" = "page of $target" ] || fail "the TV asked for $target's page: '$answer'"
done

# ---- the PC itself keeps every address ----
for from in 127.0.0.1 "$pair_server"; do
  answer=$(in_server_netns curl -s --max-time 40 --interface "$from" \
    "http://$pair_server:8027/parserlink?http://$vpn_far:$page_port/page|<b>|</b>")
  [ "$answer" = "page of $vpn_far" ] || fail "the PC (from $from) asked for the VPN's page: '$answer'"
done

if [ "$failures" -gt 0 ]; then
  echo "  server output:"; sed 's/^/    /' "$work/server.txt" | tail -20
  exit 1
fi
echo "PASS: /parserlink reaches only what the asking device could reach"
