#!/usr/bin/env bash
# Starts the Linux program as a media server under test: a copy in DLNA_STATE (its settings file
# is kept beside it, and says the server was on, so it switches on by itself), at DLNA_ADDRESS,
# its list service and site pointed at a closed local port, its one-copy lock in DLNA_STATE.
# It replaces this shell (exec), so the caller's process id is the program's.
# Usage: toviplayer_server.sh REMOTE_TOVIPLAYER
set -eu
cp "$1" "$DLNA_STATE/remote-toviplayer"
printf '[Path]\r\n\r\n[LFRS]\r\ntrue\r\n' >"$DLNA_STATE/setstovi.cfg"
cd "$DLNA_STATE"
XDG_RUNTIME_DIR=$DLNA_STATE exec ./remote-toviplayer --address "$DLNA_ADDRESS" \
  --list-host 127.0.0.1:9 --site-host 127.0.0.1:9 </dev/null
