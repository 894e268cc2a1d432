#!/usr/bin/env bash
# Discovery as a real control point sees it (GSSDP's gssdp-discover), across links between two
# network namespaces of the test's own: the server's PC has the chosen adapter (ssdp0) and
# another one (other0); the control points' PC is at the other end of each. The device's
# announcements (three rounds) are heard on the chosen link, a search there is answered,
# nothing is heard or answered on the other link, a control point on the server's PC that held
# port 1900 first hears them too, a flood of searches gets no more answers than the per-second
# bound, one device's flood does not starve a TV's searches, a forged sender off the link's
# network and a search on the other adapter get no answer; moved to the other adapter's
# address, it says goodbye on the old link and is announced on the new one; Stop says goodbye
# there; announcing every 2 ms keeps its thread mostly asleep (the Linux build); a start at an
# address on no adapter or at no address fails with its error.
# Usage: ssdp_netns_test.sh SSDP_DRIVER [WINE_PREFIX] (as root: it makes the namespaces)
# A driver that is an .exe runs under wine in WINE_PREFIX, a prefix of this test's own (made on
# first use), whose wineserver runs in the test's namespace: wine's server makes the sockets.
set -uo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/../support/netns_lan.sh"
netns_enter "$0" "$@"

driver=$(realpath "$1")
python=/usr/bin/python3
command -v gssdp-discover >/dev/null || { echo "FAIL: gssdp-discover is missing (gupnp-tools)"; exit 1; }
command -v nsenter >/dev/null || { echo "FAIL: nsenter is missing (util-linux)"; exit 1; }
[ -x "$python" ] || { echo "FAIL: $python is missing (python3)"; exit 1; }
run=("$driver")
wine_prefix=
if [[ $driver == *.exe ]]; then
  command -v wine >/dev/null || { echo "FAIL: wine is missing (scripts/setup.sh test)"; exit 1; }
  wine_prefix=$(realpath -m "${2:?a wine prefix for the .exe}")
  export WINEPREFIX=$wine_prefix
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    timeout 300 wineboot -i >/dev/null 2>&1 || { echo "FAIL: wineboot -i failed for $WINEPREFIX"; exit 1; }
    timeout 60 wineserver -w
  fi
  # Its server runs here, where it makes the sockets, until the cleanup.
  source "$here/../support/wine_prefix.sh"
  wine_prefix_keep
  run=(wine "$driver")
fi

work=$(mktemp -d)
peer= driver_pid= watch_pid= seen_pid= other_pid= local_pid=
cleanup() {
  for p in $driver_pid $watch_pid $seen_pid $other_pid $local_pid $peer; do kill "$p" 2>/dev/null; done
  # The prefix is this test's own: whatever still runs in it was started here.
  [ -n "$wine_prefix" ] && timeout 20 wineserver -k 2>/dev/null
  exec 3>&- 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  for f in driver watch seen other local search flood flood_attacker tv forged off_link; do
    [ -s "$work/$f.txt" ] && { echo "  $f:"; sed 's/^/    /' "$work/$f.txt" | tail -40; }
  done
  exit 1
}
count() { grep -c -- "$2" "$work/$1.txt" 2>/dev/null; }
at_least() { [ "$(count "$1" "$2")" -ge "$3" ]; }

# The control points' PC: a namespace of its own, linked to ours by two veth pairs.
unshare -n sleep 600 &
peer=$!
in_peer() { nsenter -t "$peer" -n "$@"; }
netns_wait_for 5 netns_left "$peer" || fail "the peer namespace did not come"
ip link set lo up && in_peer ip link set lo up &&
  ip link add ssdp0 type veth peer name ssdp1 netns "$peer" &&
  ip link add other0 type veth peer name other1 netns "$peer" &&
  ip addr add 10.19.0.1/24 dev ssdp0 && ip addr add 10.20.0.1/24 dev other0 &&
  in_peer ip addr add 10.19.0.2/24 dev ssdp1 && in_peer ip addr add 10.20.0.2/24 dev other1 &&
  ip link set ssdp0 up && ip link set other0 up &&
  in_peer ip link set ssdp1 up && in_peer ip link set other1 up || fail "the links could not be made"
# Devices of the chosen link on addresses of their own (an attacker, a TV) and a forged sender
# from outside its network, to which this PC has a route (as through its gateway).
attacker=10.19.0.7 tv=10.19.0.8 forged=203.0.113.9
in_peer ip addr add "$attacker/24" dev ssdp1 && in_peer ip addr add "$tv/24" dev ssdp1 &&
  in_peer ip addr add "$forged/32" dev ssdp1 && ip route add "$forged/32" via 10.19.0.2 ||
  fail "the devices' addresses could not be made"

# Counts the device's announcements of its root as they arrive at the peer: one line each.
cat >"$work/watch.py" <<'PY'
import socket, struct, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("0.0.0.0", 1900))
s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
             socket.inet_aton("239.255.255.250") + socket.inet_aton(sys.argv[1]))
print("listening", flush=True)
while True:
    data = s.recv(65536).decode("latin-1")
    if "NTS: ssdp:alive" in data and "::upnp:rootdevice" in data:
        print("alive", flush=True)
PY
# Sends N searches for everything at once from one socket and prints each answer's USN until
# 1.5 s pass without one (its MX is 1 s; 6 s at most in all).
cat >"$work/flood.py" <<'PY'
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind((sys.argv[1], 0))
s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(sys.argv[1]))
search = ("M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\n"
          "MX: 1\r\nST: ssdp:all\r\n\r\n").encode()
for _ in range(int(sys.argv[2])):
    s.sendto(search, ("239.255.255.250", 1900))
s.settimeout(1.5)
end = time.monotonic() + 6
while time.monotonic() < end:
    try:
        data = s.recv(65536).decode("latin-1")
    except socket.timeout:
        break
    for line in data.split("\r\n"):
        if line.upper().startswith("USN:"):
            print(line, flush=True)
PY
# Sends N searches for ST from SOURCE to DESTINATION (the group, or a unicast ADDRESS:1900),
# one every SPACING ms after DELAY ms, and prints "answers A of N searches" once 1.5 s pass
# without an answer after the sending ended, a SPACING after the last search (MX 1; 20 s at most
# in all): an answer to the last search may come a whole MX after it, and later under load.
cat >"$work/search.py" <<'PY'
import socket, sys, threading, time
source, destination, st, n, spacing, delay = sys.argv[1:7]
n, spacing, delay = int(n), int(spacing) / 1000, int(delay) / 1000
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind((source, 0))
s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(source))
group = destination == "group"
host = "239.255.255.250" if group else destination
search = ("M-SEARCH * HTTP/1.1\r\nHOST: %s:1900\r\nMAN: \"ssdp:discover\"\r\n%sST: %s\r\n\r\n"
          % (host, "MX: 1\r\n" if group else "", st)).encode()
sent_all = []
def send():
    time.sleep(delay)
    for _ in range(n):
        s.sendto(search, (host, 1900))
        time.sleep(spacing)
    sent_all.append(time.monotonic())
sender = threading.Thread(target=send)
sender.start()
s.settimeout(0.1)
answers, quiet_since, end = 0, time.monotonic(), time.monotonic() + 20
def waiting():
    return not sent_all or time.monotonic() - max(quiet_since, sent_all[0]) < 1.5
while time.monotonic() < end and waiting():
    try:
        data = s.recv(65536)
    except socket.timeout:
        continue
    if data.startswith(b"HTTP/1.1 200"):
        answers += 1
        quiet_since = time.monotonic()
print("answers %d of %d searches" % (answers, n), flush=True)
PY

in_peer "$python" "$work/watch.py" 10.19.0.2 >"$work/watch.txt" 2>&1 &
watch_pid=$!
in_peer gssdp-discover -i ssdp1 -m all -n 60 >"$work/seen.txt" 2>&1 &
seen_pid=$!
in_peer gssdp-discover -i other1 -m all -n 60 >"$work/other.txt" 2>&1 &
other_pid=$!
# A control point on the server's own PC, holding port 1900 before us (as the system's own
# listener or another media server does): the port is shared, and it hears us too.
gssdp-discover -i ssdp0 -m all -n 60 >"$work/local.txt" 2>&1 &
local_pid=$!
netns_wait_for 10 at_least watch listening 1 || fail "the announcement counter did not start"
netns_wait_for 10 at_least local "Scanning" 1 || fail "gssdp-discover did not start on the server's PC"
netns_wait_for 10 at_least seen "Scanning" 1 || fail "gssdp-discover did not start on the chosen link"
netns_wait_for 10 at_least other "Scanning" 1 || fail "gssdp-discover did not start on the other link"

# driver_start ARG...: the driver on those arguments, its input held open on fd 3 (a line "move
# ADDRESS" moves it), once it has started. driver_stop: the end of its input stops it, in time.
driver_start() {
  rm -f "$work/in" && mkfifo "$work/in"
  "${run[@]}" "$@" <"$work/in" >"$work/driver.txt" 2>&1 &
  driver_pid=$!
  exec 3>"$work/in"
  netns_wait_for 30 at_least driver started 1 || fail "the service did not start ($*)"
}
driver_stop() {
  exec 3>&-
  netns_wait_for 3 at_least driver stopped 1 || fail "Stop took longer than 3 s"
}

driver_start 10.19.0.1
uuid=$(head -1 "$work/driver.txt" | tr -d '\r')  # CR: the Windows driver under wine
location="http://10.19.0.1:8027/?dlna/device.xml"
targets=("$uuid::upnp:rootdevice" "$uuid" "$uuid::urn:schemas-upnp-org:device:MediaServer:1"
         "$uuid::urn:schemas-upnp-org:service:ContentDirectory:1"
         "$uuid::urn:schemas-upnp-org:service:ConnectionManager:1"
         "$uuid::urn:microsoft.com:service:X_MS_MediaReceiverRegistrar:1")

# Alive: every target, with the description's URL, in three rounds.
netns_wait_for 10 at_least seen "resource available" 6 || fail "gssdp-discover did not see the announcements"
for t in "${targets[@]}"; do
  grep -qxF "  USN:      $t" "$work/seen.txt" || fail "no announcement of $t"
done
[ "$(count seen "Location: $location")" -eq 6 ] || fail "an announcement without the description's URL"
netns_wait_for 5 at_least watch alive 3 || fail "fewer than three rounds of announcements"
netns_wait_for 5 at_least local "resource available" 6 || fail "a control point on the same PC did not hear us"

# A search after the rounds: only answers to it can tell gssdp-discover about the device.
in_peer timeout 20 gssdp-discover -i ssdp1 -m available -n 7 >"$work/search.txt" 2>&1
for t in "${targets[@]}"; do
  grep -qxF "  USN:      $t" "$work/search.txt" || fail "the search got no answer for $t"
done
[ "$(count watch alive)" -eq 3 ] || fail "announced again during the search"

# A flood of searches: answered, but not beyond the bound (without it: 30 searches x 6 answers).
in_peer timeout 20 "$python" "$work/flood.py" 10.19.0.2 30 >"$work/flood.txt" 2>&1
answers=$(grep -c '^USN:' "$work/flood.txt")
[ "$answers" -ge 6 ] && [ "$answers" -le 60 ] || fail "a flood of 30 searches got $answers answers (6 to 60 expected)"

# One device's flood (96 searches for everything a second, for 3 s) leaves the others their
# answers: a TV searching for the device's type once a second meanwhile gets each. A search from
# outside the link's network (a forged sender: we would reflect our answers at it), or one that
# came in on another adapter (a VPN's far end asking our address there), gets none.
# search_together NAME=SOURCE DESTINATION ST N SPACING DELAY...: those searches at once, each
# one's outcome in $work/NAME.txt and all of them in $figures.
search_together() {
  local row pids=() names=()
  for row in "$@"; do
    names+=("${row%%=*}")
    # shellcheck disable=SC2086  # the row's words are the script's arguments
    in_peer timeout 25 "$python" "$work/search.py" ${row#*=} >"$work/${row%%=*}.txt" 2>&1 &
    pids+=($!)
  done
  wait "${pids[@]}"
  for row in "${names[@]}"; do figures+=" $row: $(cat "$work/$row.txt");"; done
}
figures=
search_together "flood_attacker=$attacker group ssdp:all 288 10 0" \
                "tv=$tv group urn:schemas-upnp-org:device:MediaServer:1 3 1000 500"
search_together "forged=$forged group ssdp:all 2 500 0" "off_link=10.20.0.2 10.20.0.1 ssdp:all 2 500 0"
echo "searches:$figures"
grep -qx "answers 3 of 3 searches" "$work/tv.txt" || fail "the TV was starved by one device's flood:$figures"
grep -qx "answers 0 of 2 searches" "$work/forged.txt" || fail "a sender off the link was answered:$figures"
grep -qx "answers 0 of 2 searches" "$work/off_link.txt" || fail "a search on another adapter was answered:$figures"

# The other link heard nothing of us, and its searches (gssdp-discover's own) got no answer.
grep -qF "$uuid" "$work/other.txt" && fail "the device was announced or answered on the other link"

# To the other adapter's address (as when the chosen address changes): goodbye on the old link,
# alive with the new description URL on the new one.
echo "move 10.20.0.1" >&3
netns_wait_for 30 at_least driver moved 1 || fail "the service did not move"
netns_wait_for 10 at_least seen "resource unavailable" 6 || fail "no goodbye on the old link after the move"
netns_wait_for 10 at_least other "resource available" 6 || fail "no announcements on the new link after the move"
[ "$(count other "Location: http://10.20.0.1:8027/?dlna/device.xml")" -eq 6 ] ||
  fail "the announcements after the move do not carry the new description URL"

# Stop: goodbye for every target, within a bounded time.
driver_stop
netns_wait_for 10 at_least other "resource unavailable" 6 || fail "gssdp-discover did not see the goodbye"
driver_pid=

# Waiting for the next round costs nothing: announcing every 2 ms, the service's thread is
# mostly asleep (a wait that woke short of its moment would poll again at once until it came,
# a whole core's time). Its processor time over a second, in clock ticks. Not under wine, where
# every wait is a round trip to wine's server that costs more than the difference measured.
if [ -z "$wine_prefix" ]; then
  driver_start 10.20.0.1 2
  ticks() { awk '{print $14 + $15}' "/proc/$driver_pid/stat"; }
  hz=$(getconf CLK_TCK)
  before=$(ticks) && sleep 1 && used=$(($(ticks) - before)) || fail "the service's times could not be read"
  echo "announcing every 2 ms for 1 s: $used of $hz ticks"
  [ "$used" -lt $((hz / 2)) ] || fail "announcing every 2 ms took $used of $hz ticks in a second"
  driver_stop
  driver_pid=
fi

# Starts that cannot be: named as such (the socket error's code is the system's own: Windows
# and Linux say 10049, wine 10022), nothing left running.
for row in "192.0.2.1|^Discovery port 1900 at 192\.0\.2\.1: socket error [0-9]+$" \
           "10.19.0|^Discovery address is not an IPv4 address: 10\.19\.0$"; do
  address=${row%%|*}
  "${run[@]}" "$address" </dev/null >"$work/driver.txt" 2>&1
  status=$?
  [ "$status" -eq 1 ] && head -1 "$work/driver.txt" | tr -d '\r' | grep -qE "${row#*|}" ||
    fail "a start at $address ended with $status"
done
echo "ssdp netns test: PASS"
