#!/usr/bin/env bash
# Makes the media samples of samples.list in OUTDIR with ffmpeg, then writes OUTDIR/expected.txt
# with what ffprobe reads in each: one line a file,
#   name duration_seconds width height channels sample_rate
# with "-" where ffprobe gives nothing; the sound is the one a player starts with, the first
# marked default or else the first. Files already made from the same list are kept, and so is
# expected.txt while the list and this script are those it was written from (the builds share
# the folder, so each build's run after the first costs nothing).
# Usage: make_samples.sh OUTDIR
set -euo pipefail
out=${1:?usage: make_samples.sh OUTDIR}
list=$(dirname "$0")/samples.list
for tool in ffmpeg ffprobe; do
  if ! command -v "$tool" >/dev/null; then
    echo "make_samples.sh: $tool is needed (apt-get install ffmpeg)" >&2
    exit 1
  fi
done
mkdir -p "$out"

# A sample is made again only when its line in the list changed.
make_one() {
  local name=$1 args=$2
  local stamp="$out/.$name.args"
  if [[ -f $out/$name && -f $stamp && $(<"$stamp") == "$args" ]]; then return; fi
  rm -f "$out/$name" "$stamp"
  # shellcheck disable=SC2086 # the list's arguments are words
  if ! ffmpeg -nostdin -hide_banner -loglevel error -y $args "$out/$name"; then
    echo "make_samples.sh: ffmpeg failed on $name" >&2
    exit 1
  fi
  printf '%s' "$args" >"$stamp"
}

# One field of ffprobe's answer ("-" when absent or not a number).
probe() {
  local file=$1 select=$2 entries=$3 value
  value=$(ffprobe -v error $select -show_entries "$entries" -of default=noprint_wrappers=1:nokey=1 \
          "$file" | head -1)
  [[ $value =~ ^[0-9.]+$ ]] || value=-
  printf '%s' "$value"
}

# "channels sample_rate" of the sound a player starts with ("-" for what is absent).
sound() {
  local row channels rate
  # ffprobe's CSV gives a stream's rate, then its channels, then its default mark.
  row=$(ffprobe -v error -select_streams a -show_entries stream=sample_rate,channels:stream_disposition=default \
        -of csv=p=0 "$1" | awk -F, 'NR == 1 { first = $0 } $3 == 1 { found = $0; exit }
                                    END { print (found != "" ? found : first) }')
  IFS=, read -r rate channels _ <<<"$row"
  [[ $channels =~ ^[0-9]+$ ]] || channels=-
  [[ $rate =~ ^[0-9]+$ ]] || rate=-
  printf '%s %s' "$channels" "$rate"
}

# What expected.txt was written from: the list and this script, as they were.
source_of_expected=$(cat "$list" "$0")
if [[ -f $out/expected.txt && -f $out/.expected.source && $(<"$out/.expected.source") == "$source_of_expected" ]]; then
  echo "make_samples.sh: $(wc -l <"$out/expected.txt") samples in $out, as made before"
  exit 0
fi

expected=$out/expected.txt.new
: >"$expected"
while IFS= read -r line; do
  [[ $line =~ ^[[:space:]]*(#|$) ]] && continue
  name=$(sed 's/[[:space:]]*|.*//' <<<"$line")
  args=$(sed 's/^[^|]*|[[:space:]]*//' <<<"$line")
  make_one "$name" "$args"
  file=$out/$name
  printf '%s %s %s %s %s\n' "$name" \
    "$(probe "$file" "" format=duration)" \
    "$(probe "$file" "-select_streams v:0" stream=width)" \
    "$(probe "$file" "-select_streams v:0" stream=height)" \
    "$(sound "$file")" >>"$expected"
done <"$list"
mv "$expected" "$out/expected.txt"
printf '%s' "$source_of_expected" >"$out/.expected.source"
echo "make_samples.sh: $(wc -l <"$out/expected.txt") samples in $out"
