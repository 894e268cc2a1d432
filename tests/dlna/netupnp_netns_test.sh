#!/usr/bin/env bash
# The media server with a second, independent UPnP stack as its control point: Debian's
# Net::UPnP (libnet-upnp-perl) on a home network of the test's own (netns_pair.sh: the server
# in a namespace with dlna0, 10.77.0.1/24; the peer on dlna1, 10.77.0.2/24; nothing leaves the
# two). It finds the server by M-SEARCH, browses from the root to a folder of NETUPNP_FILES
# files with RequestedCount 0 and no paging, fetches one by its res URL, byte for byte, and
# finds the duration and resolution of the .mp4, .mkv and .avi among them in their res and the
# folder's poster (folder.jpg) as their upnp:albumArtURI, answering image/jpeg.
#
# Usage (as root: it makes the namespaces):
#   netupnp_netns_test.sh SERVER_COMMAND...   e.g. the Linux program:
#     tests/dlna/netupnp_netns_test.sh tests/dlna/toviplayer_server.sh build/linux/src/app/remote-toviplayer
# The command must exec the server (its process id is the one stopped); see dlna_netns_test.sh
# for its environment. Settings, from the environment:
#   DLNA_NAME           regex of the friendly name ('^Remote Toviplayer \(')
#   DLNA_ROOT           the root container holding the media folder ("*": the first; "~REGEX")
#   DLNA_START_SECONDS  the bound on the server's start, until M-SEARCH finds it (20)
#   NETUPNP_FILES       the files of the folder listed in one Browse (700: more than the 500 an
#                       answer held before such clients were served whole)
set -uo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/../support/netns_lan.sh"
source "$here/../support/netns_pair.sh"
source "$here/fact_samples.sh"
netns_enter "$0" "$@"

[ $# -gt 0 ] || { echo "FAIL: no server command"; exit 1; }
perl -MNet::UPnP::ControlPoint -e 1 2>/dev/null ||
  { echo "FAIL: Net::UPnP is missing (libnet-upnp-perl, scripts/setup.sh test)"; exit 1; }

pair_test_start
fail() { pair_fail "$@"; }

# ---- the media: a season of small "films", one of some size to fetch, short real videos in
# the containers TVs play and the folder's poster ----
media=$work/media
mkdir -p "$media" "$work/state"
files=${NETUPNP_FILES:-700}
dlna_sample_facts=()
dlna_sample_video "$media/clip.mp4" 240x160 2.8 && dlna_sample_video "$media/clip.mkv" 320x240 4.2 &&
  dlna_sample_video "$media/clip.avi" 176x144 3.6 && dlna_sample_poster "$media/folder.jpg" ||
  fail "ffmpeg could not make the test videos"
head -c 300000 /dev/urandom >"$media/film.mp4"
# The rest are episodes; film.mp4 and folder.jpg (a picture is listed too) are counted as well.
episodes=$((files - ${#dlna_sample_facts[@]} - 2))
for i in $(seq 1 $episodes); do printf 'episode %d\n' "$i" >"$media/episode $i.mp4"; done

dlna_pair_up || fail "the peers' adapter could not be made"
dlna_server_start "$work/state" "$media" "$work/server.txt" "$@" || fail "the server's namespace was not made"

arguments=()
IFS=/ read -ra parts <<<"${media#/}"
for f in "${parts[@]}"; do arguments+=(--folder "$f"); done
for facts in "${dlna_sample_facts[@]}"; do arguments+=(--facts "$facts"); done
seconds=${DLNA_START_SECONDS:-20}
timeout $((seconds + 60)) perl "$here/netupnp_control_point.pl" --name "${DLNA_NAME:-^Remote Toviplayer \(}" \
  --root "${DLNA_ROOT:-*}" "${arguments[@]}" --count "$files" --file film.mp4 --bytes "$media/film.mp4" \
  --seconds "$seconds" >"$work/cp.txt" 2>&1 || { cat "$work/cp.txt"; fail "the Net::UPnP control point failed"; }
sed 's/^/  /' "$work/cp.txt"

dlna_server_stop 10 || fail "the server did not end within 10 s of SIGTERM"
echo "net-upnp test: PASS"
