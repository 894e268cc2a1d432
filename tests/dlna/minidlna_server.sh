#!/usr/bin/env bash
# Starts Debian's minidlna in the foreground as a media server under test: its own config file,
# database and log in DLNA_STATE, serving DLNA_MEDIA on DLNA_IFACE (the harnesses set these).
# It replaces this shell (exec), so the caller's process id is the server's.
set -eu
command -v minidlnad >/dev/null || { echo "FAIL: minidlnad is missing (apt-get install minidlna)"; exit 1; }
mkdir -p "$DLNA_STATE/db"
cat >"$DLNA_STATE/minidlna.conf" <<CONF
media_dir=$DLNA_MEDIA
db_dir=$DLNA_STATE/db
log_dir=$DLNA_STATE
network_interface=$DLNA_IFACE
port=8200
friendly_name=minidlna under test
inotify=no
CONF
exec minidlnad -d -S -f "$DLNA_STATE/minidlna.conf" -P "$DLNA_STATE/minidlna.pid"
