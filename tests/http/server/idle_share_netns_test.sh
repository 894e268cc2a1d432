#!/usr/bin/env bash
# Connections waiting for a request, between devices, on the hostile LAN of netns_pair.sh (as
# root; namespaces of the test's own, nothing leaves them): the TV (192.168.1.8) opens a
# connection and sends a part of a head; then the attacker (192.168.1.7) opens IDLE_FLOOD
# connections that send nothing, more than the server lets wait (4,096). The server closes the
# attacker's own, which hold more than their quarter, and the TV's connection is answered when
# its head ends.
# Usage: idle_share_netns_test.sh SERVER_COMMAND...   e.g. the Linux program:
#   tests/http/server/idle_share_netns_test.sh tests/dlna/toviplayer_server.sh build/linux/src/app/remote-toviplayer
set -uo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/../../support/netns_lan.sh"
source "$here/../../support/netns_pair.sh"
netns_enter "$0" "$@"

[ $# -gt 0 ] || { echo "FAIL: no server command"; exit 1; }
netns_need python3 curl
flood=${IDLE_FLOOD:-4300}
# Handles for the flood, the attacker's and the server's: the server's waiting bound is then its
# own (4,096), not one the open-file limit lowered.
ulimit -n 8192 || { echo "FAIL: the open-file limit could not be raised to 8192"; exit 1; }

pair_test_start
fail() { pair_fail "$@"; }

hostile_lan_layout
mkdir -p "$work/state" "$work/media"
dlna_pair_up || fail "the devices' adapter could not be made"
dlna_server_start "$work/state" "$work/media" "$work/server.txt" "$@" || fail "the server's namespace was not made"
server_test() { curl -sf --interface "$tv" -m 2 -o /dev/null "http://$pair_server:8027/test"; }
netns_wait_for 20 server_test || fail "the server did not answer the TV within 20 s"

timeout 60 python3 "$here/../../support/lan_devices.py" flood "$tv" "$attacker" "$pair_server:8027" "$flood" \
  >"$work/flood.txt" 2>&1
result=$?
sed 's/^/  /' "$work/flood.txt"
[ $result -eq 0 ] || fail "the TV's connection did not outlive the attacker's flood"
grep -q '^tv: answered' "$work/flood.txt" || fail "the TV was not answered"

dlna_server_stop 10 || fail "the server did not end within 10 s of SIGTERM"
echo "idle share test: PASS"
