#!/usr/bin/env bash
# A media server under test and real UPnP peers on a home network of the test's own: the server
# runs in a network namespace with one adapter (dlna0, 10.77.0.1/24), the peers in another (the
# adapter's veth peer dlna1, 10.77.0.2/24); nothing leaves the two. gssdp-discover (running from
# before the server's start) must see it available; the GUPnP control point finds it by its
# friendly name, browses to a video whose name has Cyrillic letters and "&", fetches a range of
# it, reads its subtitle and its metadata, checks the duration and resolution of it and of a
# .mkv and an .avi beside it and the folder's poster (folder.jpg) that stands for them all
# (upnp:albumArtURI answering image/jpeg), and subscribes to its events; ffmpeg decodes the
# start of the video from its res URL and seeks into the middle, frame for frame as from the
# file; after the server is stopped by its process id gssdp-discover must see its byebye.
#
# Usage (as root: it makes the namespaces):
#   dlna_netns_test.sh                          minidlna (tests/dlna/minidlna_server.sh)
#   dlna_netns_test.sh SERVER_COMMAND...        e.g. the Linux program:
#     tests/dlna/dlna_netns_test.sh tests/dlna/toviplayer_server.sh build/linux/src/app/remote-toviplayer
# The command must exec the server (its process id is the one stopped) and finds in its
# environment DLNA_ADDRESS, DLNA_IFACE, DLNA_MEDIA (the folder to serve) and DLNA_STATE (an
# empty folder for its own files). Settings, from the environment (defaults: our program's
# with a command, minidlna's without):
#   DLNA_NAME       regex of the friendly name ('^Remote Toviplayer \(' / 'minidlna under test')
#   DLNA_TREE       how the tree leads to the video: "folders" (the first root container, then
#                   each folder of DLNA_MEDIA's path, the file by its name) or "minidlna" (its
#                   folder view, titles without extension)
#   DLNA_ROOT       for "folders": the root container holding DLNA_MEDIA ("*": the first;
#                   "~REGEX": the first whose title matches; e.g. '~Z:' under wine)
#   DLNA_SUBSCRIBE  1: require the initial event after SUBSCRIBE (1 / 0: minidlna 1.3.0 answers
#                   SUBSCRIBE and connects to the callback, yet sends no event)
#   DLNA_SRT        1: require the subtitle (1 / 1)
#   DLNA_ART        1: require the folder.jpg as the videos' upnp:albumArtURI (1 / 0: minidlna
#                   1.3.0 gives videos no art from their folder's poster)
#   DLNA_BYEBYE     1: require ssdp:byebye after the stop (1 / 1)
#   DLNA_START_SECONDS  the bound on the server's start, until gssdp-discover sees it (20)
# The Windows program under wine (a prefix made beforehand saves minutes of wineboot):
#   TOVI_WINEPREFIX=$PWD/build/wine-prefix DLNA_START_SECONDS=60 DLNA_ROOT='~Z:' tests/dlna/dlna_netns_test.sh \
#     tests/dlna/toviplayer_wine_server.sh build/windows/src/app/remote-toviplayer.exe
set -uo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/../support/netns_lan.sh"
source "$here/../support/netns_pair.sh"
source "$here/fact_samples.sh"
netns_enter "$0" "$@"

if [ $# = 0 ]; then
  set -- "$here/minidlna_server.sh"
  : "${DLNA_NAME:=minidlna under test}" "${DLNA_TREE:=minidlna}" "${DLNA_SUBSCRIBE:=0}" "${DLNA_ART:=0}"
fi
default_name='^Remote Toviplayer \('
name=${DLNA_NAME:-$default_name}
tree=${DLNA_TREE:-folders}
for tool in gssdp-discover ffmpeg /usr/bin/python3 stdbuf; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (gupnp-tools, ffmpeg, python3-gi, coreutils)"; exit 1; }
done

work=$(mktemp -d)
chmod 755 "$work"
server_pid=
discover_pid=
cleanup() {
  dlna_server_end
  [ -n "$discover_pid" ] && kill "$discover_pid" 2>/dev/null && wait "$discover_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "  gssdp-discover:"; sed 's/^/    /' "$work/discover.txt" 2>/dev/null | tail -20
  echo "  server output:"; sed 's/^/    /' "$work/server.txt" 2>/dev/null | tail -30
  exit 1
}

# ---- the media: a 30 s test video and its subtitle, under a name with Cyrillic and "&"; short
# videos in the other containers beside it, and the folder's poster ----
media=$work/media
mkdir -p "$media" "$work/state"
film="Фильм & тест"
dlna_sample_facts=()
dlna_sample_video "$media/$film.mp4" 640x360 30 && dlna_sample_video "$media/Клип.mkv" 320x240 4.2 &&
  dlna_sample_video "$media/old clip.avi" 176x144 3.6 && dlna_sample_poster "$media/folder.jpg" ||
  fail "ffmpeg could not make the test videos"
printf '1\r\n00:00:01,000 --> 00:00:04,000\r\nПроверка & <субтитры>\r\n' >"$media/$film.srt"

# ---- the network; gssdp-discover listening from before the server's start ----
dlna_pair_up || fail "the peers' adapter could not be made"
stdbuf -oL gssdp-discover -i dlna1 -t upnp:rootdevice -m all -n 600 >"$work/discover.txt" 2>&1 &
discover_pid=$!
dlna_server_start "$work/state" "$media" "$work/server.txt" "$@" || fail "the server's namespace was not made"
started=$server_started

# ---- discovery ----
seen() { grep -q "^resource $1" "$work/discover.txt" && grep -q 'Location: *http://10\.77\.0\.1:' "$work/discover.txt"; }
start_seconds=${DLNA_START_SECONDS:-20}
netns_wait_for "$start_seconds" seen available || fail "gssdp-discover did not see the server within $start_seconds s"
location=$(grep -m1 -o 'http://10\.77\.0\.1:[^ ]*' "$work/discover.txt")
echo "alive seen after $(( ($(date +%s%N) - started) / 1000000 )) ms: $location"

# ---- the control point ----
case $tree in
  minidlna) path=(--path "Browse Folders" --path "$film") ;;
  folders)
    path=(--path "${DLNA_ROOT:-*}")
    IFS=/ read -ra folders <<<"${media#/}"
    for f in "${folders[@]}"; do path+=(--path "$f"); done
    path+=(--path "$film.mp4") ;;
  *) fail "DLNA_TREE must be minidlna or folders" ;;
esac
options=()
for facts in "${dlna_sample_facts[@]}"; do
  # minidlna's titles lack the extension.
  sample=${facts%%=*}
  [ "$tree" = minidlna ] && facts="${sample%.*}=${facts#*=}"
  options+=(--facts "$facts")
done
[ "${DLNA_ART:-1}" = 1 ] && options+=(--art)
[ "${DLNA_SUBSCRIBE:-1}" = 1 ] && options+=(--subscribe)
[ "${DLNA_SRT:-1}" = 1 ] && options+=(--srt "$media/$film.srt")
# A scanning server (minidlna) may list the video only after its scan: up to 3 tries, a second
# apart, while a title is missing.
for try in 1 2 3; do
  timeout 60 /usr/bin/python3 "$here/control_point.py" --iface dlna1 --name "$name" --timeout 20 \
    --file "$media/$film.mp4" "${path[@]}" "${options[@]}" >"$work/cp.txt" 2>&1 && break
  grep -q "^FAIL: no '" "$work/cp.txt" && [ $try -lt 3 ] && { sleep 1; continue; }
  cat "$work/cp.txt"
  fail "the control point failed"
done
sed 's/^/  /' "$work/cp.txt"
url=$(sed -n 's/^control point: PASS //p' "$work/cp.txt")

# ---- ffmpeg plays the start and seeks into the middle: the same frames as from the file ----
frames() {  # SOURCE SEEK: checksums of 2 s of video from SEEK
  timeout 60 ffmpeg -nostdin -v error -ss "$2" -i "$1" -t 2 -map 0:v -f framemd5 - 2>"$work/ffmpeg.txt" |
    grep -v '^#'
}
for at in 0 15; do
  from_url=$(frames "$url" $at) || fail "ffmpeg could not play $url from $at s: $(cat "$work/ffmpeg.txt")"
  from_file=$(frames "$media/$film.mp4" $at)
  [ -n "$from_url" ] && [ "$from_url" = "$from_file" ] ||
    fail "ffmpeg from $at s: $(wc -l <<<"$from_url") frames from the URL differ from the file's $(wc -l <<<"$from_file")"
  echo "  ffmpeg from $at s: $(wc -l <<<"$from_url") frames as in the file"
done

# ---- stop by process id; byebye ----
dlna_server_stop 10 || fail "the server did not end within 10 s of SIGTERM"
if [ "${DLNA_BYEBYE:-1}" = 1 ]; then
  netns_wait_for 5 seen unavailable || fail "gssdp-discover saw no ssdp:byebye within 5 s of the stop"
  echo "  byebye seen"
fi
echo "dlna peers test: PASS"
