#!/usr/bin/env bash
# Eventing shared between devices on a hostile home network (netns_pair.sh's hostile layout):
# the attacker (192.168.1.7) floods the server with subscriptions whose callbacks accept and
# never answer; the TV (192.168.1.8), subscribed before, must still have its renewal accepted
# and a new subscription's initial event within EVENT_LIMIT seconds (event_flood.py).
#
# Usage (as root: it makes the namespaces):
#   eventing_netns_test.sh SERVER_COMMAND...   e.g. the Linux program:
#     tests/dlna/eventing_netns_test.sh tests/dlna/toviplayer_server.sh build/linux/src/app/remote-toviplayer
# Settings, from the environment: DLNA_START_SECONDS, the bound on the server's start (20).
set -uo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/../support/netns_lan.sh"
source "$here/../support/netns_pair.sh"
netns_enter "$0" "$@"

[ $# -gt 0 ] || { echo "FAIL: no server command"; exit 1; }
python=/usr/bin/python3
[ -x "$python" ] || { echo "FAIL: $python is missing (python3)"; exit 1; }
netns_need curl
flood=70          # more than the table held before devices had shares of their own
event_limit=3     # seconds: the initial event's delay is half a second
event_wait=8      # seconds the TV waits for it at most

pair_test_start
fail() { pair_fail "$@"; }

hostile_lan_layout
mkdir -p "$work/media" "$work/state"
dlna_pair_up || fail "the peers' adapter could not be made"
dlna_server_start "$work/state" "$work/media" "$work/server.txt" "$@" || fail "the server's namespace was not made"
described() { curl -s -o /dev/null --max-time 2 --interface "$tv" "http://$pair_server:8027/?dlna/device.xml"; }
netns_wait_for "${DLNA_START_SECONDS:-20}" described || fail "the server did not answer at $pair_server:8027"

timeout 60 "$python" "$here/event_flood.py" "$pair_server" "$attacker" "$tv" "$flood" "$event_limit" \
  "$event_wait" >"$work/flood.txt" 2>&1
status=$?
sed 's/^/  /' "$work/flood.txt"
[ "$status" -eq 0 ] || fail "one device's subscriptions starved another's"

dlna_server_stop 10 || fail "the server did not end within 10 s of SIGTERM"
echo "eventing netns test: PASS"
