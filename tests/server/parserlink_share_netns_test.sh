#!/usr/bin/env bash
# "/parserlink" between devices, on the hostile LAN of netns_pair.sh (as root; namespaces of the
# test's own, nothing leaves them): the attacker (192.168.1.7) asks for PARSERLINK_READERS whole
# 32 MiB pages of the NAS (192.168.1.9) on connections that never read, which hold their answers
# unsent; the TV (192.168.1.8) then has its cut answered at once all the same, since one address
# keeps at most a quarter of the answer room and one page slot.
# Usage: parserlink_share_netns_test.sh SERVER_COMMAND...   e.g. the Linux program:
#   tests/server/parserlink_share_netns_test.sh tests/dlna/toviplayer_server.sh build/linux/src/app/remote-toviplayer
set -uo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/../support/netns_lan.sh"
source "$here/../support/netns_pair.sh"
netns_enter "$0" "$@"

[ $# -gt 0 ] || { echo "FAIL: no server command"; exit 1; }
netns_need python3 curl
readers=${PARSERLINK_READERS:-4}
page_port=8080
tv_seconds_most=5  # the room's wait is 10 s: an answer that waited for it comes later

pair_test_start
fail() { pair_fail "$@"; }

hostile_lan_layout
mkdir -p "$work/state" "$work/media" "$work/pages"
# More than a page keeps (32 MiB), so that each answer is a whole page's worth.
head -c $((33 << 20)) /dev/zero | tr '\0' 'p' >"$work/pages/big.html"
printf '<html><b>for the tv</b></html>' >"$work/pages/tv.html"

dlna_pair_up || fail "the devices' adapter could not be made"
python3 "$here/../support/lan_devices.py" serve-pages "$nas" "$page_port" "$work/pages" >"$work/pages.txt" 2>&1 &
pair_test_pids+=($!)
dlna_server_start "$work/state" "$work/media" "$work/server.txt" "$@" || fail "the server's namespace was not made"
server_test() { curl -sf --interface "$tv" -m 2 -o /dev/null "http://$pair_server:8027/test"; }
netns_wait_for 20 server_test || fail "the server did not answer the TV within 20 s"
page_test() { curl -sf --interface "$tv" -m 2 -o /dev/null "http://$nas:$page_port/tv.html"; }
netns_wait_for 5 page_test || { cat "$work/pages.txt"; fail "the NAS's page server did not start"; }

# The attacker's readers: at most 4 s for their answers to begin (on one machine they do within
# one), then held until the test ends.
mkfifo "$work/hold"
python3 "$here/../support/lan_devices.py" hold-answers "$attacker" "$pair_server:8027" \
  "/parserlink?http://$nas:$page_port/big.html" "$readers" 4 <"$work/hold" >"$work/readers.txt" 2>&1 &
readers_pid=$!
pair_test_pids+=("$readers_pid")
exec 3>"$work/hold"
readers_begun() { grep -q '^begun' "$work/readers.txt"; }
netns_wait_for 30 readers_begun || { cat "$work/readers.txt"; fail "the attacker's readers did not connect"; }
echo "  attacker: $(cat "$work/readers.txt") answers of 32 MiB held unread"

started=$(date +%s%N)
body=$(curl -sS -g --interface "$tv" -m 15 "http://$pair_server:8027/parserlink?http://$nas:$page_port/tv.html|<b>|</b>")
ms=$((($(date +%s%N) - started) / 1000000))
echo "  tv: \"$body\" after $ms ms"
[ "$body" = "for the tv" ] || fail "the TV's cut was \"$body\", not its text, after $ms ms"
[ "$ms" -lt $((tv_seconds_most * 1000)) ] || fail "the TV's cut took $ms ms"

exec 3>&-
dlna_server_stop 10 || fail "the server did not end within 10 s of SIGTERM"
echo "parserlink share test: PASS"
