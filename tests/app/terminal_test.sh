#!/usr/bin/env bash
# The Linux program through its terminal front end, as a person uses it from the README: the
# menu on start (the address submenu with --address's one address checked, the item that shows
# the PC to TVs checked) and the tray tip,
# About by number, Exit by number; names, "menu", "window"; the end of input does
# not end it, SIGINT and SIGTERM do, also with the standard streams closed and while no one
# reads its output; the options.
# Usage: terminal_test.sh REMOTE_TOVIPLAYER
set -uo pipefail
binary=$(realpath "$1")
work=$(mktemp -d)
# The program keeps one copy per session by a lock in the runtime folder: ours is a session of
# its own, whatever copy the user or another test runs.
export XDG_RUNTIME_DIR=$work
pid=
cleanup() {
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
check() {  # check WHAT CONDITION...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
has() { grep -qxF -- "$2" "$1"; }

# A private copy, so the settings file beside it is ours (and there is none).
cp "$binary" "$work/remote-toviplayer"
prog=$work/remote-toviplayer
run() { (cd "$work" && timeout 20 "$prog" --address 10.1.2.3 --list-host 127.0.0.1:9 "$@"); }

printf '8\nwindow\nN5\nbogus\nmenu\n9\n' | run >"$work/out.txt" 2>&1
rc=$?
check "Exit ends the program with status 0" test "$rc" = 0
out=$work/out.txt
check "title first" test "$(head -1 "$out")" = "Remote Toviplayer"
check "menu: N3" has "$out" "  1  Нет устройства"
check "menu: N4 under N3" has "$out" "  2    Загрузить m3u, xml лист"
check "menu: test page with the address" has "$out" "  3  Проверить http://10.1.2.3:8027/test"
check "menu: address" has "$out" "  4  Адрес: 10.1.2.3"
check "menu: the fixed address, checked" has "$out" "  5    [x] 10.1.2.3 (--address)"
check "menu: switch" has "$out" "  6  Включить Tovi DLNA"
check "menu: shown to TVs, checked" has "$out" "  7  [x] Показывать ПК телевизорам (DLNA)"
check "menu: About" has "$out" "  8  О программе"
check "menu: Exit" has "$out" "  9  Выход"
check "menu: the names to type" grep -q "^Type a number or a name (N3, N4, ToviDLNA1, AddressMenu, Address1, LocalRFS1, ShowToTvs1, N1, N2, Button1, Button2)" "$out"
check "tip: the server is off" has "$out" "Tip: Remote Toviplayer: Tovi DLNA выключен"
check "the hidden N5 is never printed" bash -c "! grep -q 'Синхронизировать\|Установить папку' '$out'"
check "About box caption" has "$out" "[Remote Toviplayer]"
check "About: version" has "$out" "Версия  1.1"
check "About: status" has "$out" "Онлайн"
check "About: address" has "$out" "IP: 10.1.2.3"
check "About: site" has "$out" "http://toviplayer.example"
check "window: Label1" has "$out" "  Label1: Remote ToviPlayer.."
check "window: Button2" has "$out" "  Button2: Start server"
check "unknown command" has "$out" "Unknown command: bogus (type menu)"
check "menu printed twice" test "$(grep -c '^  9  Выход$' "$out")" = 2

# The end of input does not end the program; SIGTERM and SIGINT end it as Exit does.
for signal in TERM INT; do
  (cd "$work" && exec "$prog" --address 10.1.2.3 --list-host 127.0.0.1:9 </dev/null >"$work/sig.txt" 2>&1) &
  pid=$!
  for _ in $(seq 1 50); do grep -q "Выход" "$work/sig.txt" && break; sleep 0.1; done
  sleep 0.5
  check "runs on after the end of input ($signal)" kill -0 "$pid"
  kill -"$signal" "$pid"
  for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  check "SIG$signal ends it" bash -c "! kill -0 $pid 2>/dev/null"
  wait "$pid"
  check "SIG$signal exit status 0" test "$?" = 0
  pid=
done

# Until the program takes signals as requests to end (a signal before it would end it as
# the system's default does).
watching_signals() {
  for _ in $(seq 1 100); do
    ls -l /proc/"$1"/fd 2>/dev/null | grep -q signalfd && return
    sleep 0.1
  done
}

# Started with standard input, output and error closed (a service's start), it takes them on
# /dev/null: a descriptor of its own found there was read as input or written as output, and
# SIGTERM then took up to 5 s.
(cd "$work" && exec "$prog" --address 10.1.2.3 --list-host 127.0.0.1:9 <&- >&- 2>&-) &
pid=$!
watching_signals "$pid"
check "closed standard streams are taken on /dev/null" \
  test "$(readlink /proc/"$pid"/fd/0 /proc/"$pid"/fd/1 /proc/"$pid"/fd/2 | sort -u)" = /dev/null
kill -TERM "$pid"
for _ in $(seq 1 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
check "SIGTERM ends it within 2 s with its standard streams closed" bash -c "! kill -0 $pid 2>/dev/null"
wait "$pid"
check "with them closed, exit status 0" test "$?" = 0
pid=

# Output nobody reads (a service's pipe whose reader hangs): SIGTERM still ends it, and soon.
yes menu | head -300 >"$work/menus.txt"  # far more menu text than a pipe holds
mkfifo "$work/out.fifo"
exec 7<>"$work/out.fifo"  # held open, never read
(cd "$work" && exec "$prog" --address 10.1.2.3 --list-host 127.0.0.1:9 <"$work/menus.txt" >&7 2>&1) &
pid=$!
# Until a thread of it waits to write into the full pipe.
for _ in $(seq 1 100); do grep -q pipe_write /proc/"$pid"/task/*/wchan 2>/dev/null && break; sleep 0.1; done
watching_signals "$pid"
kill -TERM "$pid"
for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
check "SIGTERM ends it while its output is not read" bash -c "! kill -0 $pid 2>/dev/null"
kill -9 "$pid" 2>/dev/null
wait "$pid"
pid=
exec 7>&-

(cd "$work" && timeout 10 "$prog" --help) >"$work/help.txt" 2>&1
check "--help exits 0" test "$?" = 0
check "--help names the options" grep -q -- "--list-host HOST\[:PORT\]" "$work/help.txt"
# A text longer than what may wait unwritten (a service's long answer in a message box) is
# printed whole when nothing else waits.
(cd "$work" && timeout 10 "$prog" "--$(head -c 70000 /dev/zero | tr '\0' x)") >"$work/long.txt" 2>&1
check "a text over the output's bound is printed" grep -q "^unknown option --xxxxxxxx" "$work/long.txt"
(cd "$work" && timeout 10 "$prog" --bogus) >"$work/bad.txt" 2>&1
check "an unknown option exits 2" test "$?" = 2

if [ "$failures" -gt 0 ]; then
  echo "terminal test: FAIL ($failures)"
  exit 1
fi
echo "terminal test: PASS"
