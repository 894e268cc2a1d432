#!/usr/bin/env bash
# The tray program under wine on a virtual X screen, on a Russian Windows (ANSI code page 1251),
# on a PC with Docker's and VirtualBox's bridges, a VPN tap, a link-local leftover and one LAN
# adapter with the default route (a network namespace of the test's own, so nothing leaves it):
# it registers the LAN address and comes up in the tray with its window hidden, its tip saying
# the server is off; when Explorer restarts (the tray forgets the
# icon, then "TaskbarCreated" is broadcast) the icon comes back; a left click does nothing, a
# right click on the icon opens the menu with the design captions and visibility (the item that
# shows the PC to TVs checked); About shows
# its text; the menu switches the server on, and the .exe then answers "/test", a ranged file,
# a folder playlist listing a Cyrillic name and "Amélie.mkv" (outside code page 1251) and
# streams both, while requests naming shares or devices get 404 and no connection is made to
# 127.0.0.1:445; the tip names the server's URL; the firewall's interfaces, which wine answers
# "not implemented", bring no balloon and no firewall item; a second start ends with 0 at once
# and the first copy shows its address in a balloon and serves on; "Запускать вместе с Windows"
# shows and sets the Run value (checked with wine's reg); when DHCP gives the LAN adapter another
# address, the registration and the server follow within 5 s; the address submenu lists the
# adapters' addresses, and the one chosen there is used at once and after a restart; the menu's
# Exit ends it with the icon removed.
# Usage: wine_gui_test.sh REMOTE_TOVIPLAYER_EXE GUI_PROBE_EXE OUTPUT_DIR
# Screenshots and the program's GUI trace are kept in OUTPUT_DIR/wine-gui/.
set -uo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/../support/netns_lan.sh"
source "$here/../support/wine_prefix.sh"
netns_enter "$0" "$@"
exe=$(realpath "$1")
probe=$(realpath "$2")
out=$(realpath -m "$3")
work=$out/wine-gui
rm -rf "$work"
mkdir -p "$work/app"

fail() {
  echo "wine GUI test: FAIL: $*"
  echo "  (screenshots and trace in $work)"
  exit 1
}

# The tools come from Debian's packages, which scripts/setup.sh installs.
for tool in wine Xvfb xdotool import convert curl php ss; do
  command -v "$tool" >/dev/null || fail "$tool is missing: run scripts/setup.sh test"
done

export WINEPREFIX=${TOVI_WINEPREFIX:-$out/wine-prefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko prompts in CI
locale -a 2>/dev/null | grep -qix 'ru_RU.utf8' || fail "the locale ru_RU.UTF-8 is missing (scripts/setup.sh test makes it)"
export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8  # wine's ANSI code page becomes 1251

xvfb_pid=
wine_pid=
smb_pid=
list_pid=
cleanup() {
  [ -n "$list_pid" ] && kill "$list_pid" 2>/dev/null
  [ -n "$wine_pid" ] && kill "$wine_pid" 2>/dev/null
  [ -n "$smb_pid" ] && kill "$smb_pid" 2>/dev/null
  # The prefix is this test's own: whatever still runs in it was started here.
  if [ -f "$WINEPREFIX/system.reg" ]; then timeout 20 wineserver -k 2>/dev/null; fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT

netns_adapters || fail "the namespace's adapters could not be made"
netns_list_service "$work/list.log"
lan=192.168.1.50

# A free display of our own.
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=:$n; break; fi
done
[ -n "${display:-}" ] || fail "no free X display"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.2; done
[ -e "/tmp/.X11-unix/X${display#:}" ] || fail "Xvfb did not start"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine GUI test: initialising the wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  timeout 300 wineboot -i >"$work/wineboot.log" 2>&1 || fail "wineboot -i failed"
  timeout 60 wineserver -w
fi
# The program is started again after its Exit: the server must not be on its way out then.
wine_prefix_keep

cp "$exe" "$work/app/remote-toviplayer.exe"
cp "$probe" "$work/app/gui_probe.exe"
trace=$work/trace.txt
: >"$trace"

# Files to serve: a Cyrillic name (in code page 1251) and one outside it.
media=$work/media
mkdir -p "$media"
film="Фильм №1.mkv"
amelie="Amélie.mkv"
seq 1 1000 | head -c 1536 >"$media/$film"       # 1,5KB
seq 1001 2000 | head -c 2560 >"$media/$amelie"  # 2,5KB
seq 1 2000 >"$media/range.bin"
winpath() { echo "Z:${1//\//\\}"; }             # wine's drive Z: is the Unix root
media_win=$(winpath "$media")\\

# Runs the probe inside the same virtual desktop, so it sees the program's windows; it writes
# its answer to a file (the desktop may start it away from our standard output).
probe() {  # probe COMMAND OUTPUT_FILE
  rm -f "$2"
  (cd "$work/app" && timeout 60 wine explorer /desktop=shell,800x600 gui_probe.exe "$1" \
     "$(winpath "$2")" >/dev/null 2>&1)
  for _ in $(seq 1 100); do [ -f "$2" ] && return 0; sleep 0.2; done
  echo "probe: no answer" >"$2"
}
wait_for() {  # wait_for PATTERN SECONDS: a line of the trace matching PATTERN
  for _ in $(seq 1 $(($2 * 5))); do grep -q -- "$1" "$trace" && return 0; sleep 0.2; done
  return 1
}
count() { grep -c -- "$1" "$trace"; }
shot() { import -window root "$work/$1.png"; }
# Pixels of the icon's own blue in the taskbar (the desktop's bottom 20 rows).
icon_pixels() { convert "$work/$1.png" -crop 800x20+0+580 +repage txt:- | grep -i "#1E6FD9"; }
wait_icon() {  # wait_icon SHOT there|gone: screenshots until the tray shows it so (10 s)
  for _ in $(seq 1 20); do
    shot "$1"
    if [ "$2" = there ]; then [ -n "$(icon_pixels "$1")" ] && return 0
    else [ -z "$(icon_pixels "$1")" ] && return 0; fi
    sleep 0.5
  done
  return 1
}
encode() {  # encode TEXT: percent-encodes every byte but the plainest
  local out= c i
  local LC_ALL=C
  for ((i = 0; i < ${#1}; i++)); do
    c=${1:i:1}
    case "$c" in [A-Za-z0-9/:._~-]) out+=$c ;; *) out+=$(printf '%%%02X' "'$c") ;; esac
  done
  echo "$out"
}
url() { echo "http://$lan:8027$(encode "$1")${2:+?$(encode "$2")}"; }  # url PATH [QUERY]
get() { curl -s --path-as-is --max-time 10 "$@"; }

start_program() {
  (cd "$work/app" && TOVI_GUI_TRACE=$trace exec wine explorer /desktop=shell,800x600 \
     remote-toviplayer.exe --list-host "127.0.0.1:$list_port" --site-host 127.0.0.1:9 >>"$work/wine.log" 2>&1) &
  wine_pid=$!
}
listens_at() { [ "$(netns_listening)" = "$1 " ]; }
start_program

wait_for '^tray|0|' 90 || { shot start; fail "no tray icon was added"; }
grep -q '^tray|0|.*|7|1025|ok$' "$trace" || fail "the tray icon record was refused: $(grep '^tray' "$trace")"
mode=$(grep -m1 '^error-mode|' "$trace" | cut -d'|' -f2)
[ -n "$mode" ] && [ $((mode & 1)) = 1 ] || fail "critical-error boxes are not off at start ($mode)"
wait_icon start there || fail "the icon is not in the tray (start.png)"
grep -qx 'tip|Remote Toviplayer: Tovi DLNA выключен' "$trace" || fail "the tip does not say the server is off: $(grep '^tip' "$trace")"
netns_wait_for 10 netns_registered "$lan" "$work/list.log" ||
  fail "the LAN address was not registered: $(tr '\n' ' ' <"$work/list.log")"
probe windows "$work/windows-start.txt"
grep -q '^window|0|TRemoteToviplayerWindow|Remote Toviplayer|0|' "$work/windows-start.txt" ||
  fail "the main window is not there hidden: $(grep Tovi "$work/windows-start.txt")"
grep -q '|TRemoteToviplayerWindow|[^|]*|1|' "$work/windows-start.txt" && fail "a window of the program is visible"

pixels=$(icon_pixels start)
xs=$(echo "$pixels" | cut -d, -f1 | sort -n)
ys=$(echo "$pixels" | cut -d: -f1 | cut -d, -f2 | sort -n)
x=$(( ($(echo "$xs" | head -1) + $(echo "$xs" | tail -1)) / 2 ))
y=$(( 580 + ($(echo "$ys" | head -1) + $(echo "$ys" | tail -1)) / 2 ))

# Explorer restarts: its new tray knows no icons until the program adds its own again.
adds=$(count '^tray|0|.*ok$')
probe forget-icon "$work/forget.txt"
grep -q '^forgotten|1' "$work/forget.txt" || fail "the probe could not take the icon away"
wait_icon tray-forgotten gone || fail "the icon is still in the tray (tray-forgotten.png)"
probe taskbar-created "$work/broadcast.txt"
wait_for '^shell-restart$' 20 || fail "the program did not get the TaskbarCreated broadcast"
for _ in $(seq 1 50); do [ "$(count '^tray|0|.*ok$')" -gt "$adds" ] && break; sleep 0.2; done
[ "$(count '^tray|0|.*ok$')" -gt "$adds" ] || fail "the icon was not added again: $(grep '^tray' "$trace")"
[ "$(grep '^tray|0|' "$trace" | tail -1)" = "$(grep '^tray|0|' "$trace" | head -1)" ] ||
  fail "the icon came back with another record: $(grep '^tray' "$trace")"
wait_icon tray-restored there || fail "the icon is not back in the tray (tray-restored.png)"

xdotool mousemove "$x" "$y" click 1
sleep 2
grep -q '^popup|' "$trace" && fail "a left click opened the menu"

open_menu() {  # right click on the icon: the next menu of the run
  local next=$(($(count '^popup|') + 1))
  xdotool mousemove "$x" "$y" click 3
  for _ in $(seq 1 100); do [ "$(count '^popup|')" -ge "$next" ] && return 0; sleep 0.2; done
  fail "a right click on the icon did not open the menu"
}
menu_items() {  # the captions of the menu shown last, as the program built it
  tac "$trace" | sed -n '/^popup|/q;p' | tac | grep '^menu|'
}
menu_rect() {  # menu_rect [BUT]: the rectangle of a menu window shown, other than BUT
  probe windows "$work/windows-now.txt"
  grep '^window|0|#32768||1|' "$work/windows-now.txt" | cut -d'|' -f6 | grep -vxF "${1:-none}" | head -1
}
menu_shown() {  # waits for a menu window, at most 10 looks: its rectangle in $rect
  for _ in $(seq 1 10); do rect=$(menu_rect); [ -n "$rect" ] && return 0; sleep 0.2; done
  return 1
}
point_item() {  # point_item K N [click]: to the K-th of the N visible items of the menu in $rect
  IFS=, read -r left top right bottom <<<"$rect"
  xdotool mousemove $((left + 40)) $((top + (2 * $1 - 1) * (bottom - top) / (2 * $2))) ${3:+click 1}
}
click_item() {  # click_item K: the K-th of the menu's visible top items (from 1)
  point_item "$1" "$(menu_items | grep -c '^menu|0|')" click
}
address_items() { menu_items | awk -F'|' '$2 == 0 { address = ($3 ~ /^Адрес: /) } address && $2 == 1'; }

expect_menu() {  # expect_menu DEVICE_CAPTION SWITCH_CAPTION FAILURE [ADDRESS] [checked]: the menu shown last
  local expected actual
  expected=$(printf '%s\n' "menu|0|$1|submenu" "menu|1|Загрузить m3u, xml лист|item" \
    "menu|0|Проверить http://${4:-$lan}:8027/test|item" "menu|0|Адрес: ${4:-$lan}|submenu" \
    "menu|0|$2|item" "menu|0|Показывать ПК телевизорам (DLNA)|item|checked" \
    "menu|0|Запускать вместе с Windows|item${5:+|checked}" \
    "menu|0|О программе|item" "menu|0|Выход|item")
  actual=$(menu_items | awk -F'|' '$2 == 0 { address = ($3 ~ /^Адрес: /) } !(address && $2 == 1)')
  if [ "$actual" != "$expected" ]; then
    diff <(echo "$expected") <(echo "$actual") | sed 's/^/  /'
    fail "$3"
  fi
}

# A Run value left by a copy of the program elsewhere: not ours, so the item shows unchecked.
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
ours="\"$(winpath "$work/app/remote-toviplayer.exe")\""
run_value() { wine reg query "$run_key" /v "Remote Toviplayer" 2>/dev/null | tr -d '\r' | grep REG_SZ; }
timeout 30 wine reg add "$run_key" /v "Remote Toviplayer" /t REG_SZ /d '"C:\Old\remote-toviplayer.exe"' /f \
  >/dev/null 2>&1 || fail "wine reg could not write the Run value"

open_menu
menu_shown || fail "no menu window is shown"
shot menu
rect_items=$(menu_items | grep -c '^menu|0|')
expect_menu "Нет устройства" "Включить Tovi DLNA" "the menu's items differ from the design"
# The address submenu: the automatic choice and the LAN address checked, the other adapters'
# addresses offered, no loopback or link-local one.
addresses=$(address_items)
echo "$addresses" | grep -qx 'menu|1|Автоматически|item|checked' || fail "the automatic choice is not checked: $addresses"
echo "$addresses" | grep -q "^menu|1|$lan (.*)|item|checked$" || fail "the LAN address is not checked: $addresses"
echo "$addresses" | grep -q '^menu|1|192.168.56.1 (' || fail "the VirtualBox address is not offered: $addresses"
echo "$addresses" | grep -q '127.0.0.1\|169.254' && fail "a loopback or link-local address is offered: $addresses"

# About: the box's text, as traced and as shown.
click_item 7
wait_for '^box|' 20 || fail "About showed no box"
about='Версия  1.1\r\nОнлайн\r\nВспомогательная программа для работы\r\nToviPlayer на телевизорах СМАРТТВ\r\nIP: 192.168.1.50\n\rhttp://'
box=$(grep -m1 '^box|' "$trace")
[[ "$box" == "box|Remote Toviplayer|$about"* ]] || fail "the About box says: $box"
probe windows "$work/windows-about.txt"
shot about
ok=$(grep '^window|1|Button|' "$work/windows-about.txt" | grep '|1|' | head -1 | cut -d'|' -f6)
[ -n "$ok" ] || fail "the About box is not shown: $(grep -v '^window|1|' "$work/windows-about.txt" | grep '|1|')"
IFS=, read -r left top right bottom <<<"$ok"
xdotool mousemove $(((left + right) / 2)) $(((top + bottom) / 2)) click 1
wait_for '^box-closed$' 20 || fail "the About box did not close on OK"

# Start with Windows: a click puts the running .exe's quoted path in place of the stale value and
# checks the item; the next click removes the value.
open_menu
click_item 6
wait_for '^click|Autostart1$' 20 || fail "the autostart item was not clicked"
for _ in $(seq 1 25); do run_value | grep -qF "$ours" && break; sleep 0.2; done
run_value | grep -qF "$ours" || fail "the Run value is not ours: $(run_value) (expected $ours)"
open_menu
menu_shown || fail "no menu window is shown"
shot menu-autostart
expect_menu "Нет устройства" "Включить Tovi DLNA" "the autostart item is not checked" "" checked
clicks=$(count '^click|Autostart1$')
click_item 6
for _ in $(seq 1 50); do [ "$(count '^click|Autostart1$')" -gt "$clicks" ] && break; sleep 0.2; done
for _ in $(seq 1 25); do [ -z "$(run_value)" ] && break; sleep 0.2; done
[ -z "$(run_value)" ] || fail "the second click left the Run value: $(run_value)"

# The server, switched on from the menu.
open_menu
click_item 4
wait_for '^click|LocalRFS1$' 20 || fail "the server switch was not clicked"
for _ in $(seq 1 50); do get -o /dev/null "http://$lan:8027/test" && break; sleep 0.2; done
[ "$(get "http://$lan:8027/test")" = '<html><h1>ToviPlayer DLNA Work!</h1></html>' ] ||
  fail "the server does not answer /test"
listens_at "$lan" || fail "the server does not listen at the LAN address only: $(netns_listening)"
wait_for "^tip|Remote Toviplayer: http://$lan:8027\$" 5 || fail "the tip does not name the server: $(grep '^tip' "$trace")"
xdotool mousemove "$x" "$y"  # the tip shows while the pointer rests on the icon
sleep 2
shot tip
[ "$(sed -n 4p "$work/app/setstovi.cfg" | tr -d '\r')" = true ] || fail "the switch did not store true"
# A TV announces itself with its name in the system code page: ТВ№2, room Зал.
get -o /dev/null "http://$lan:8027/test?%D2%C2%B9%32%7C1%7C%C7%E0%EB"

range=$(url "/$(winpath "$media/range.bin" | tr '\\' /)")
get -D "$work/range.head" -o "$work/range.body" -r 100-199 "$range"
grep -q '^HTTP/1.1 206' "$work/range.head" || fail "the ranged fetch was not answered 206: $(head -1 "$work/range.head")"
grep -qi '^Content-Range: bytes 100-199/' "$work/range.head" || fail "the ranged fetch has no Content-Range"
cmp -s "$work/range.body" <(tail -c +101 "$media/range.bin" | head -c 100) || fail "the ranged fetch sent other bytes"

get -o "$work/playlist.m3u" "$(url /treeview "$media_win")"
for entry in "$film 1,5KB" "$amelie 2,5KB"; do
  grep -qF "#EXTINF:-1,$entry" "$work/playlist.m3u" ||
    fail "the folder playlist does not list $entry: $(tr -d '\r' <"$work/playlist.m3u")"
done
for name in "$film" "$amelie"; do
  link=$(tr -d '\r' <"$work/playlist.m3u" | grep -F -A1 "#EXTINF:-1,$name " | tail -1)
  [ -n "$link" ] || fail "no link for $name"
  get -o "$work/streamed.bin" "$(url "${link#http://$lan:8027}")"
  cmp -s "$work/streamed.bin" "$media/$name" || fail "$name was not streamed: $link"
done

# Requests naming shares or devices: 404, and no connection to the PC's file-sharing port.
rm -f "$work/smb.state" "$work/smb.stop"
php -r '$s = @stream_socket_server("tcp://127.0.0.1:445", $no, $why);
  if (!$s) { file_put_contents($argv[1], "failed $why\n"); exit(1); }
  file_put_contents($argv[1], "listening\n");
  $n = 0; $end = microtime(true) + 60;
  while (microtime(true) < $end && !file_exists($argv[2])) {
    $c = @stream_socket_accept($s, 0.2);
    if ($c) { $n++; fclose($c); }
  }
  file_put_contents($argv[1], "connections $n\n");' "$work/smb.state" "$work/smb.stop" &
smb_pid=$!
for _ in $(seq 1 50); do [ -s "$work/smb.state" ] && break; sleep 0.1; done
grep -q '^listening' "$work/smb.state" || fail "no listener on 127.0.0.1:445: $(cat "$work/smb.state")"
for target in //127.0.0.1/share/x.mkv ///127.0.0.1/share/x.mkv /%5C%5C127.0.0.1%5Cshare%5Cx.mkv \
              /%5C%5C%3F%5CUNC%5C127.0.0.1%5Cshare%5Cx.mkv /%5C%5C.%5Cpipe%5Cx /C:/nul /con.mkv \
              /C:/Films/COM1.mkv; do
  status=$(get -o /dev/null -w '%{http_code}' "http://$lan:8027$target")
  [ "$status" = 404 ] || fail "$target was answered $status"
done
[ "$(get "http://$lan:8027/treeview?%5C%5C127.0.0.1%5Cshare%5C")" = $'#EXTM3U\n\r' ] ||
  fail "a share was listed"
touch "$work/smb.stop"
for _ in $(seq 1 50); do grep -q '^connections' "$work/smb.state" && break; sleep 0.1; done
smb_pid=
grep -qx 'connections 0' "$work/smb.state" || fail "a connection to 127.0.0.1:445 was made: $(cat "$work/smb.state")"

# wine's firewall interfaces answer "not implemented": nothing is said about the firewall.
grep -q '^balloon|.*\(брандмауэр\|общественная\)' "$trace" &&
  fail "a firewall balloon where the firewall cannot be asked: $(grep '^balloon' "$trace")"

# A second start in the same session: it ends with 0 at once; the first copy shows its address
# in a balloon and serves on.
probe second-start "$work/second-start.txt"
grep -q '^exit|0|' "$work/second-start.txt" ||
  fail "the second start did not end with 0 at once: $(cat "$work/second-start.txt")"
wait_for '^balloon|Remote Toviplayer|Remote Toviplayer уже работает. Адрес ПК: '"$lan"'|ok$' 20 ||
  fail "the first copy showed no balloon with its address: $(grep '^balloon' "$trace")"
balloon_shown() {  # a visible balloon: a tooltip window of two lines or more
  probe windows "$work/windows-balloon.txt"
  grep '^window|0|tooltips_class32||1|' "$work/windows-balloon.txt" | cut -d'|' -f6 |
    while IFS=, read -r left top right bottom; do [ $((bottom - top)) -ge 40 ] && echo shown; done |
    grep -q shown
}
for _ in $(seq 1 10); do balloon_shown && break; sleep 0.5; done
shot second-start
balloon_shown || fail "the balloon is not shown (second-start.png)"
[ "$(get "http://$lan:8027/test")" = '<html><h1>ToviPlayer DLNA Work!</h1></html>' ] ||
  fail "the first copy stopped serving after a second start"


# DHCP gives the LAN adapter another address: the registration and the server follow.
netns_dhcp 192.168.1.77 || fail "the LAN address could not be changed"
lan=192.168.1.77
netns_wait_for 5 netns_registered "$lan" "$work/list.log" || fail "the new LAN address was not registered within 5 s"
netns_wait_for 5 listens_at "$lan" || fail "the server did not follow the new LAN address within 5 s: $(netns_listening)"
[ "$(get "http://$lan:8027/test")" = '<html><h1>ToviPlayer DLNA Work!</h1></html>' ] ||
  fail "the server does not answer at the new address"

# The menu now names the TV and offers to switch the server off; the address submenu offers
# the VirtualBox adapter, which is chosen.
open_menu 3
menu_shown || fail "no menu window is shown"
shot menu-server-on
expect_menu "Зал (ТВ№2)" "Выключить Tovi DLNA" "the menu does not show the TV and the running server" "$lan"
point_item 3 "$(menu_items | grep -c '^menu|0|')"  # the address item: its submenu opens
for _ in $(seq 1 25); do sub=$(menu_rect "$rect"); [ -n "$sub" ] && break; sleep 0.2; done
[ -n "$sub" ] || { shot no-submenu; fail "the address submenu did not open"; }
shot menu-address
addresses=$(address_items)
count=$(echo "$addresses" | wc -l)
row=$(echo "$addresses" | grep -n '^menu|1|192.168.56.1 (' | cut -d: -f1)
rect=$sub
point_item "$row" "$count" click
wait_for '^click|Address' 20 || fail "no address was clicked"
netns_wait_for 5 netns_registered 192.168.56.1 "$work/list.log" || fail "the chosen address was not registered"
netns_wait_for 5 listens_at 192.168.56.1 || fail "the server did not move to the chosen address: $(netns_listening)"
wait_for '^tip|Remote Toviplayer: http://192.168.56.1:8027$' 5 || fail "the tip does not follow: $(grep '^tip' "$trace" | tail -1)"
grep -q '^\[Adapter\]' "$work/app/setstovi.cfg" || fail "the choice was not kept"

exit_program() {  # exit_program N: Exit from the N-th menu of the run
  open_menu "$1"
  rect=$(menu_rect)
  click_item 8
  wait_for '^closed$' 20 || fail "the program did not end after Exit"
  for _ in $(seq 1 50); do kill -0 "$wine_pid" 2>/dev/null || break; sleep 0.2; done
  kill -0 "$wine_pid" 2>/dev/null && fail "the program is still running after Exit"
  wine_pid=
}
# After a restart the chosen adapter's address again, and the server on as it was.
exit_program 4
: >"$trace"
: >"$work/list.log"
start_program
wait_for '^tray|0|' 90 || fail "no tray icon after the restart"
netns_wait_for 10 netns_registered 192.168.56.1 "$work/list.log" || fail "after a restart the chosen address was not registered"
netns_wait_for 10 listens_at 192.168.56.1 || fail "after a restart the server does not listen at the chosen address: $(netns_listening)"
wait_icon restarted there || fail "the icon is not in the tray after the restart"
open_menu 1
rect=$(menu_rect)
click_item 8
wait_for '^tray|2|' 20 || { shot after-exit; fail "Exit did not remove the tray icon"; }
wait_for '^closed$' 20 || fail "the program did not end after Exit"
for _ in $(seq 1 50); do kill -0 "$wine_pid" 2>/dev/null || break; sleep 0.2; done
kill -0 "$wine_pid" 2>/dev/null && fail "the program is still running after Exit"
wine_pid=
wait_icon after-exit gone || fail "the icon is still in the tray after Exit"

echo "wine GUI test: PASS (screenshots in $work: start, tray-forgotten, tray-restored, menu, about, menu-autostart, tip, second-start, menu-server-on, menu-address, after-exit)"
