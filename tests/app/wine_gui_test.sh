#!/usr/bin/env bash
# The tray program under wine on a virtual X screen: it comes up in the tray with its window
# hidden, a left click does nothing, a right click on the icon opens the menu with the design
# captions and visibility, and the menu's Exit ends it with the icon removed.
# Usage: wine_gui_test.sh REMOTE_TOVIPLAYER_EXE GUI_PROBE_EXE OUTPUT_DIR
# Screenshots and the program's GUI trace are kept in OUTPUT_DIR/wine-gui/.
set -uo pipefail
exe=$(realpath "$1")
probe=$(realpath "$2")
out=$(realpath -m "$3")
here=$(cd "$(dirname "$0")" && pwd)
work=$out/wine-gui
rm -rf "$work"
mkdir -p "$work/app"

fail() {
  echo "wine GUI test: FAIL: $*"
  echo "  (screenshots and trace in $work)"
  exit 1
}

# The tools come from Debian's packages; install them when missing.
for tool in wine Xvfb xdotool import convert; do
  if ! command -v "$tool" >/dev/null; then
    bash "$here/../../scripts/setup.sh" test || fail "cannot install $tool"
    break
  fi
done

export WINEPREFIX=${TOVI_WINEPREFIX:-$out/wine-prefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko prompts in CI

xvfb_pid=
wine_pid=
cleanup() {
  [ -n "$wine_pid" ] && kill "$wine_pid" 2>/dev/null
  # The prefix is this test's own: whatever still runs in it was started here.
  if [ -f "$WINEPREFIX/system.reg" ]; then timeout 20 wineserver -k 2>/dev/null; fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT

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

cp "$exe" "$work/app/remote-toviplayer.exe"
cp "$probe" "$work/app/gui_probe.exe"
trace=$work/trace.txt
: >"$trace"

# Runs the probe inside the same virtual desktop, so it sees the program's windows; it writes
# its answer to a file (the desktop may start it away from our standard output).
probe() {  # probe COMMAND OUTPUT_FILE
  rm -f "$2"
  (cd "$work/app" && timeout 60 wine explorer /desktop=shell,800x600 gui_probe.exe "$1" \
     "Z:${2//\//\\}" >/dev/null 2>&1)
  for _ in $(seq 1 100); do [ -f "$2" ] && return 0; sleep 0.2; done
  echo "probe: no answer" >"$2"
}
wait_for() {  # wait_for PATTERN SECONDS: a line of the trace matching PATTERN
  for _ in $(seq 1 $(($2 * 5))); do grep -q -- "$1" "$trace" && return 0; sleep 0.2; done
  return 1
}
shot() { import -window root "$work/$1.png"; }
# Pixels of the icon's own blue in the taskbar (the desktop's bottom 20 rows).
icon_pixels() { convert "$work/$1.png" -crop 800x20+0+580 +repage txt:- | grep -i "#1E6FD9"; }

(cd "$work/app" && TOVI_GUI_TRACE=$trace exec wine explorer /desktop=shell,800x600 \
   remote-toviplayer.exe --address 10.1.2.3 >"$work/wine.log" 2>&1) &
wine_pid=$!

wait_for '^tray|0|' 90 || { shot start; fail "no tray icon was added"; }
grep -q '^tray|0|.*|7|1025|ok$' "$trace" || fail "the tray icon record was refused: $(grep '^tray' "$trace")"
sleep 2
shot start
probe windows "$work/windows-start.txt"
grep -q '^window|0|TRemoteToviplayerWindow|Remote Toviplayer|0|' "$work/windows-start.txt" ||
  fail "the main window is not there hidden: $(grep Tovi "$work/windows-start.txt")"
grep -q '|TRemoteToviplayerWindow|[^|]*|1|' "$work/windows-start.txt" && fail "a window of the program is visible"

pixels=$(icon_pixels start)
[ -n "$pixels" ] || fail "the icon is not in the tray (start.png)"
xs=$(echo "$pixels" | cut -d, -f1 | sort -n)
ys=$(echo "$pixels" | cut -d: -f1 | cut -d, -f2 | sort -n)
x=$(( ($(echo "$xs" | head -1) + $(echo "$xs" | tail -1)) / 2 ))
y=$(( 580 + ($(echo "$ys" | head -1) + $(echo "$ys" | tail -1)) / 2 ))

xdotool mousemove "$x" "$y" click 1
sleep 2
grep -q '^popup|' "$trace" && fail "a left click opened the menu"

xdotool mousemove "$x" "$y" click 3
wait_for '^popup|' 20 || fail "a right click on the icon did not open the menu"
sleep 1
shot menu
probe windows "$work/windows-menu.txt"
rect=$(grep '^window|0|#32768||1|' "$work/windows-menu.txt" | head -1 | cut -d'|' -f6)
[ -n "$rect" ] || fail "no menu window is shown"

expected=$(cat <<'EOF'
menu|0|Нет устройства|submenu
menu|1|Загрузить m3u, xml лист|item
menu|0|Проверить http://10.1.2.3:8027/test|item
menu|0|Включить Tovi DLNA|item
menu|0|О программе|item
menu|0|Выход|item
EOF
)
actual=$(grep '^menu|' "$trace")
if [ "$actual" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$actual") | sed 's/^/  /'
  fail "the menu's items differ from the design"
fi

# Exit is the last of the five items of equal height.
IFS=, read -r left top right bottom <<<"$rect"
xdotool mousemove $((left + 40)) $((bottom - (bottom - top) / 10 - 1)) click 1
wait_for '^tray|2|' 20 || { shot after-exit; fail "Exit did not remove the tray icon"; }
wait_for '^closed$' 20 || fail "the program did not end after Exit"
for _ in $(seq 1 50); do kill -0 "$wine_pid" 2>/dev/null || break; sleep 0.2; done
sleep 1
shot after-exit
[ -z "$(icon_pixels after-exit)" ] || fail "the icon is still in the tray after Exit"
kill -0 "$wine_pid" 2>/dev/null && fail "the program is still running after Exit"
wine_pid=

echo "wine GUI test: PASS (screenshots: $work/start.png, $work/menu.png, $work/after-exit.png)"
