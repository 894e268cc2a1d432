#!/usr/bin/env bash
# The Linux program on a PC with Docker's bridge, a VirtualBox host-only bridge, a VPN tap, a
# link-local leftover and one LAN adapter with the default route, in a network namespace of its
# own: it registers and listens at the LAN address; when DHCP gives the LAN adapter another
# address (also while the list service holds a registration), both follow within 5 s; an address chosen from the menu (by its number, as a person
# types it) is used at once and after a restart; an adapter that comes prints the menu again.
# Usage: address_netns_test.sh REMOTE_TOVIPLAYER (as root: it makes the namespace)
set -uo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/../support/netns_lan.sh"
netns_enter "$0" "$@"

binary=$(realpath "$1")
work=$(mktemp -d)
pid=
list_pid=
alive_pid=
cleanup() {
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
  [ -n "$alive_pid" ] && kill "$alive_pid" 2>/dev/null
  [ -n "$list_pid" ] && kill "$list_pid" 2>/dev/null
  exec 3>&- 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "  registrations: $(tr '\n' ' ' <"$work/list.log")"
  echo "  program output:"
  sed 's/^/    /' "$work/out.txt" 2>/dev/null | tail -40
  exit 1
}

netns_adapters || fail "the namespace's adapters could not be made"
netns_list_service "$work/list.log"
cp "$binary" "$work/remote-toviplayer"

start() {  # the program, its commands through a pipe of ours (fd 3); its one-copy lock in $work
  rm -f "$work/in"
  mkfifo "$work/in"
  (cd "$work" && XDG_RUNTIME_DIR=$work exec ./remote-toviplayer --list-host "127.0.0.1:$list_port" --site-host 127.0.0.1:9 \
     <"$work/in" >>"$work/out.txt" 2>&1) &
  pid=$!
  exec 3>"$work/in"
}
say() { echo "$1" >&3; }
listens_at() { [ "$(netns_listening)" = "$1 " ]; }
printed() { grep -qF -- "$1" "$work/out.txt"; }

start
netns_wait_for 10 netns_registered 192.168.1.50 "$work/list.log" || fail "the LAN address was not registered"
# A new address while the list service still holds that registration: sent on a next tick.
netns_dhcp 192.168.1.77 || fail "the LAN address could not be changed"
netns_wait_for 8 netns_registered 192.168.1.77 "$work/list.log" || fail "an address changed during the registration was not sent"
netns_wait_for 10 printed "Type a number" || fail "no menu"
printed "Адрес: 192.168.1.50" || fail "the menu does not show the LAN address"
say LocalRFS1
netns_wait_for 10 listens_at 192.168.1.77 || fail "the server does not listen at the LAN address only: $(netns_listening)"
netns_wait_for 5 printed "Tip: Remote Toviplayer: http://192.168.1.77:8027" || fail "the tip does not name the server"
[ "$(curl -s --max-time 5 http://192.168.1.77:8027/test)" = '<html><h1>ToviPlayer DLNA Work!</h1></html>' ] ||
  fail "the server does not answer at the LAN address"

# DHCP again, the server on: the registration and the server follow within 5 s.
netns_dhcp 192.168.1.88 || fail "the LAN address could not be changed"
netns_wait_for 5 netns_registered 192.168.1.88 "$work/list.log" || fail "the new LAN address was not registered within 5 s"
netns_wait_for 5 listens_at 192.168.1.88 || fail "the server did not follow the new LAN address within 5 s: $(netns_listening)"

# The LAN adapter made again with its address between two ticks (a USB adapter plugged in
# again): the membership of the discovery group went with the old one; the PC is announced on
# the new one.
ip link del lan0 && netns_veth lan0 192.168.1.88/24 && ip route replace default via 192.168.1.1 dev lan0 ||
  fail "the LAN adapter could not be made again"
python3 -c '
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("0.0.0.0", 1900))
s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
             socket.inet_aton("239.255.255.250") + socket.inet_aton("192.168.1.88"))
while True:
    if b"ssdp:alive" in s.recv(65536): print("alive", flush=True)
' >"$work/alive.txt" 2>&1 &
alive_pid=$!
netns_wait_for 8 grep -q alive "$work/alive.txt" || fail "not announced on the LAN adapter made again"

# The menu again; the VirtualBox adapter's address chosen by its number.
mark=$(wc -l <"$work/out.txt")
say menu
netns_wait_for 5 bash -c "tail -n +$((mark + 1)) '$work/out.txt' | grep -q 'Type a number'" || fail "menu not printed"
number=$(tail -n +$((mark + 1)) "$work/out.txt" | grep -F '192.168.56.1 (vboxnet0)' | head -1 | awk '{print $1}')
[ -n "$number" ] || fail "the menu does not offer the VirtualBox address"
say "$number"
netns_wait_for 5 netns_registered 192.168.56.1 "$work/list.log" || fail "the chosen address was not registered"
netns_wait_for 5 listens_at 192.168.56.1 || fail "the server did not move to the chosen address: $(netns_listening)"
grep -q '^\[Adapter\]' "$work/setstovi.cfg" || fail "the choice was not kept: $(cat -A "$work/setstovi.cfg")"

# Exit, and the choice (and the running server) come back with the next start.
say N2
for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "Exit did not end the program"
pid=
exec 3>&-
: >"$work/list.log"
start
netns_wait_for 10 netns_registered 192.168.56.1 "$work/list.log" || fail "after a restart the chosen address was not registered"
netns_wait_for 10 listens_at 192.168.56.1 || fail "after a restart the server does not listen at the chosen address: $(netns_listening)"

# An adapter that comes renumbers the items below its own: the whole menu is printed again, and
# a number typed then means the item it names there.
mark=$(wc -l <"$work/out.txt")
ip link add lan2 type veth peer name lan3 && ip addr add 10.9.0.5/24 dev lan2 &&
  ip link set lan2 up && ip link set lan3 up || fail "the new adapter could not be made"
menu_again() { tail -n +$((mark + 1)) "$work/out.txt" | grep -q 'Type a number'; }
netns_wait_for 8 menu_again || fail "the menu was not printed again when an adapter came"
number=$(tail -n +$((mark + 1)) "$work/out.txt" | grep -F '10.9.0.5 (lan2)' | head -1 | awk '{print $1}')
[ -n "$number" ] || fail "the menu printed again does not offer the new adapter"
say "$number"
netns_wait_for 5 netns_registered 10.9.0.5 "$work/list.log" || fail "the new adapter's number chose another item"
say N2
echo "address test: PASS"
