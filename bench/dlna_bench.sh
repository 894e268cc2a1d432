#!/usr/bin/env bash
# The media-server benchmark: our program against minidlna (Debian's), measured in the same run
# by the same client (bench/dlna_client.py) on the same network of two namespaces as the peers
# test (tests/support/netns_pair.sh), each server from a fresh start with a folder of 2,000 videos
# of mixed containers (hard links of four short clips: MP4, Matroska, AVI, MP3) and one of
# 20,000 (hard links of the MP4 clip):
#   found      ms from the start until it answers an M-SEARCH for a MediaServer (MX 1)
#   ready      ms from the start until a Browse lists all 2,000 (minidlna: after its scan)
#   first      ms for that first full listing (pages of 100, as a TV asks), and how many of its
#              items carried a duration
#   repeated   ms for a full listing again (median of BENCH_REPEATS), and its durations
#   big ready  ms from the start until the 20,000 are all listed (minidlna: its whole scan)
#   big page   ms for the first page of 100 of the 20,000: the very first, and the median of
#              BENCH_REPEATS; then one listing of all 20,000
#   cpu        the server's processor time (ms, its children summed) for one more listing of the
#              2,000, the mean of BENCH_REPEATS: what a listing costs the PC, apart from the
#              client's own time, which the durations above include
#   memory     resident size (KiB) after the listings, the server and its children summed
# Each server runs BENCH_ROUNDS times, in turn, and the best figure of each is kept. The table
# is printed and written to build/dlna-bench-results.md.
#
# Usage (as root: it makes the namespaces):
#   bench/dlna_bench.sh [OURS_COMMAND...]
# OURS_COMMAND starts our program as tests/dlna/dlna_netns_test.sh's server command does, e.g.
#   bench/dlna_bench.sh tests/dlna/toviplayer_server.sh build/linux/src/app/remote-toviplayer
# (a Release build measures fairly); without it the "ours" column stays empty. Our tree is
# walked as folders (the first root container, or the first whose title matches DLNA_ROOT='~REGEX',
# then each folder of the path); DLNA_TREE=minidlna walks it as minidlna's instead (a check of
# this script: minidlna as "ours" too).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source tests/support/netns_lan.sh
source tests/support/netns_pair.sh
netns_enter "$0" "$@"

ROUNDS=${BENCH_ROUNDS:-2}
REPEATS=${BENCH_REPEATS:-10}
COUNT=2000
BIG=20000
for tool in ffmpeg python3; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is needed" >&2; exit 1; }
done
client=(python3 "$root/bench/dlna_client.py")

work=$(mktemp -d)
chmod 755 "$work"
server_pid=
cleanup() {
  dlna_server_end
  rm -rf "$work"
}
trap cleanup EXIT
die() { echo "bench: $*" >&2; tail -20 "$work/server.txt" >&2; exit 1; }

# ---- the folders: 2,000 names of four 1 s clips, 20,000 of one ----
media=$work/media
mkdir -p "$media/list" "$media/big"
video=(-f lavfi -i testsrc=size=320x180:rate=25 -f lavfi -i sine -t 1 -pix_fmt yuv420p)
ffmpeg -nostdin -v error "${video[@]}" -c:v libx264 -c:a aac "$work/clip.mp4" &&
  ffmpeg -nostdin -v error "${video[@]}" -c:v libx264 -c:a aac "$work/clip.mkv" &&
  ffmpeg -nostdin -v error "${video[@]}" -c:v mpeg4 -c:a mp3 "$work/clip.avi" &&
  ffmpeg -nostdin -v error -f lavfi -i sine -t 1 -c:a mp3 "$work/clip.mp3" ||
  die "ffmpeg could not make the clips"
kinds=(mp4 mkv avi mp3)
for i in $(seq 1 $COUNT); do
  kind=${kinds[$((i % 4))]}
  ln "$work/clip.$kind" "$media/list/film$(printf %04d "$i").$kind"
done
for i in $(seq -f '%05g' 1 $BIG); do ln "$work/clip.mp4" "$media/big/film$i.mp4"; done

rss_kb() {  # the server and its children, summed
  local total=0 p
  for p in "$1" $(pgrep -P "$1"); do
    total=$((total + $(awk '/^VmRSS/ {print $2}' "/proc/$p/status" 2>/dev/null || echo 0)))
  done
  echo $total
}
cpu_ms() {  # the server and its children: user and system time, summed
  local total=0 p ticks
  ticks=$(getconf CLK_TCK)
  for p in "$1" $(pgrep -P "$1"); do
    total=$((total + $(awk '{ print $14 + $15 }' "/proc/$p/stat" 2>/dev/null || echo 0)))
  done
  echo $((total * 1000 / ticks))
}
field() { sed -n "s/^$1=//p" <<<"$2"; }

declare -A F
keep() {  # SIDE KEY VALUE: the lowest value of the rounds
  if [[ -z ${F[$1.$2]:-} ]] || awk -v a="$3" -v b="${F[$1.$2]}" 'BEGIN { exit !(a < b) }'; then
    F[$1.$2]=$3
  fi
}

# measure SIDE COMMAND...: one fresh start of the server, measured, then stopped by its pid.
measure() {
  local side=$1 found browse page titles
  shift
  rm -rf "$work/state" && mkdir -p "$work/state"
  dlna_pair_up || die "the peers' adapter could not be made"
  dlna_server_start "$work/state" "$media" "$work/server.txt" "$@" || die "$side: the server's namespace was not made"
  found=$("${client[@]}" find 10.77.0.2 10.77.0.1 "$server_started") || die "$side: $found"
  if [[ $side == minidlna || ${DLNA_TREE:-folders} == minidlna ]]; then
    titles=("Browse Folders")
  else
    titles=("${DLNA_ROOT:-*}")
    IFS=/ read -ra folders <<<"${media#/}"
    titles+=("${folders[@]}")
  fi
  browse=$("${client[@]}" browse "$(field location "$found")" $COUNT "$server_started" "$REPEATS" "${titles[@]}" list) ||
    die "$side: $browse"
  local cpu_before cpu_after
  cpu_before=$(cpu_ms "$server_pid")
  "${client[@]}" repeat "$(field location "$found")" "$REPEATS" "${titles[@]}" list >/dev/null ||
    die "$side: the repeated listings failed"
  cpu_after=$(cpu_ms "$server_pid")
  keep "$side" cpu "$(awk -v a="$cpu_before" -v b="$cpu_after" -v n="$REPEATS" 'BEGIN { printf "%.1f", (b - a) / n }')"
  page=$("${client[@]}" page "$(field location "$found")" $BIG "$server_started" "$REPEATS" "${titles[@]}" big) ||
    die "$side: $page"
  keep "$side" found "$(field found_ms "$found")"
  keep "$side" ready "$(field ready_ms "$browse")"
  keep "$side" first "$(field first_ms "$browse")"
  keep "$side" repeat "$(field repeat_ms "$browse")"
  keep "$side" facts_first "$(field facts_first "$browse")"
  keep "$side" facts_repeated "$(field facts_repeated "$browse")"
  keep "$side" big_ready "$(field big_ready_ms "$page")"
  keep "$side" page_first "$(field page_first_ms "$page")"
  keep "$side" page "$(field page_ms "$page")"
  keep "$side" full "$(field full_ms "$page")"
  keep "$side" memory "$(rss_kb "$server_pid")"
  dlna_server_stop 10 || die "$side: the server did not end within 10 s of SIGTERM"
  echo "bench: $side round done" >&2
}

sides=(minidlna)
[ $# -gt 0 ] && sides=(ours minidlna)
for round in $(seq "$ROUNDS"); do
  for side in "${sides[@]}"; do
    if [[ $side == ours ]]; then measure ours "$@"; else measure minidlna tests/dlna/minidlna_server.sh; fi
  done
done

results=$root/build/dlna-bench-results.md
mkdir -p "$root/build"
ratio() { awk -v a="${1:-}" -v b="${2:-}" 'BEGIN { if (a != "" && b > 0) printf "%.2f", a / b; else print "-" }'; }
# row TEXT KEY GOAL: the goal is a bound on the ratio ("<= 1.00": as good; "< 1.00": better).
row() {
  local r met=
  r=$(ratio "${F[ours.$2]:-}" "${F[minidlna.$2]}")
  [[ $r != - && $3 != - ]] && met=$(awk -v r="$r" -v g="$3" 'BEGIN { split(g, p, " ");
    ok = (p[1] == "<") ? (r < p[2]) : (r <= p[2]); print ok ? "yes" : "NO" }')
  printf '| %s | %s | %s | %s | %s | %s |\n' "$1" "${F[ours.$2]:--}" "${F[minidlna.$2]}" "$r" "$3" "$met"
}
{
  echo "# Media-server benchmark: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo
  echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) cores;"
  echo "load average $(cut -d' ' -f1-3 /proc/loadavg). minidlna $(minidlnad -V 2>&1 | sed -n 's/^Version //p'), a fresh"
  echo "database each start. Best of $ROUNDS fresh starts each; a folder of $COUNT files (MP4,"
  echo "Matroska, AVI, MP3) and one of $BIG MP4s, listed in pages of 100; repeated = median of"
  echo "$REPEATS; \"all listed\" is polled every 0.5 s. Items with a duration: the fewest of the rounds."
  echo "Ratio = ours / minidlna (below 1: ours is better)."
  echo
  echo "| Measure | Ours | minidlna | Ratio | Goal | Met |"
  echo "|---|---|---|---|---|---|"
  row "start to found by M-SEARCH (ms)" found "<= 1.00"
  row "start to all $COUNT listed (ms)" ready "< 1.00"
  row "Browse of $COUNT, first (ms)" first "< 1.00"
  row "Browse of $COUNT, repeated (ms)" repeat "< 1.00"
  row "server's processor time for a listing of $COUNT (ms)" cpu "<= 0.50"
  row "items of $COUNT with a duration, first listing" facts_first "-"
  row "items of $COUNT with a duration, repeated" facts_repeated "-"
  row "start to all $BIG listed (ms; minidlna: its scan)" big_ready "-"
  row "first page of $BIG, the very first (ms)" page_first "-"
  row "first page of $BIG, again (ms)" page "< 1.00"
  row "listing of all $BIG (ms)" full "-"
  row "resident size after the listings (KiB)" memory "< 1.00"
} | tee "$results"
