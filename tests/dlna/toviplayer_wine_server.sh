#!/usr/bin/env bash
# Starts the Windows program under wine as a media server under test, as toviplayer_server.sh
# does the Linux one: a copy in DLNA_STATE with a settings file that says the server was on, at
# DLNA_ADDRESS, on an X screen and in a wine prefix of its own (a copy of TOVI_WINEPREFIX when
# set, else a new one: wineboot takes up to a few minutes), as on a Russian Windows.
# This shell stays the process the caller knows: on SIGTERM it closes the program's window as
# Windows does at Exit (taskkill without /f), waits up to 8 s for it, then stops the prefix's
# wineserver and the X screen it started.
# Usage: toviplayer_wine_server.sh REMOTE_TOVIPLAYER_EXE
set -u
source "$(dirname "$(realpath "$0")")/../support/wine_prefix.sh"
for tool in wine wineserver Xvfb; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/setup.sh test)"; exit 1; }
done
cp "$1" "$DLNA_STATE/remote-toviplayer.exe" || exit 1
printf '[Path]\r\n\r\n[LFRS]\r\ntrue\r\n' >"$DLNA_STATE/setstovi.cfg"
export WINEPREFIX=$DLNA_STATE/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
locale -a 2>/dev/null | grep -qix 'ru_RU.utf8' && export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8

xvfb_pid=
wine_pid=
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then export DISPLAY=:$n; break; fi
done
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >"$DLNA_STATE/xvfb.log" 2>&1 &
xvfb_pid=$!
stop() {
  if [ -n "$wine_pid" ] && kill -0 "$wine_pid" 2>/dev/null; then
    (cd "$DLNA_STATE" && timeout 5 wine taskkill /im remote-toviplayer.exe >/dev/null 2>&1)
    for _ in $(seq 80); do kill -0 "$wine_pid" 2>/dev/null || break; sleep 0.1; done
  fi
  [ -f "$WINEPREFIX/system.reg" ] && timeout 10 wineserver -k 2>/dev/null  # this run's own prefix
  kill "$xvfb_pid" 2>/dev/null
  exit 0
}
trap stop TERM INT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break; sleep 0.1; done

# Long steps run in the background, so that a SIGTERM meanwhile is acted on at once.
if [ -n "${TOVI_WINEPREFIX:-}" ] && [ -f "$TOVI_WINEPREFIX/system.reg" ]; then
  cp -a "$TOVI_WINEPREFIX" "$WINEPREFIX"
else
  mkdir -p "$WINEPREFIX"
  timeout 300 wineboot -i >"$DLNA_STATE/wineboot.log" 2>&1 &
  wait $! || { echo "FAIL: wineboot -i failed"; stop; }
fi
# After wineboot, its server would be on its way out as the program starts.
wine_prefix_keep
cd "$DLNA_STATE" && wine remote-toviplayer.exe --address "$DLNA_ADDRESS" \
  --list-host 127.0.0.1:9 --site-host 127.0.0.1:9 </dev/null &
wine_pid=$!
wait "$wine_pid"
stop
