#!/usr/bin/env bash
# Makes the media samples of samples.list in OUTDIR with ffmpeg, then writes OUTDIR/expected.txt
# with what ffprobe reads in each: one line a file,
#   name duration_seconds width height channels sample_rate
# with "-" where ffprobe gives nothing. Files already made from the same list are kept.
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

expected=$out/expected.txt.new
: >"$expected"
while IFS= read -r line; do
  [[ $line =~ ^[[:space:]]*(#|$) ]] && continue
  name=$(sed 's/[[:space:]]*|.*//' <<<"$line")
  args=$(sed 's/^[^|]*|[[:space:]]*//' <<<"$line")
  make_one "$name" "$args"
  file=$out/$name
  printf '%s %s %s %s %s %s\n' "$name" \
    "$(probe "$file" "" format=duration)" \
    "$(probe "$file" "-select_streams v:0" stream=width)" \
    "$(probe "$file" "-select_streams v:0" stream=height)" \
    "$(probe "$file" "-select_streams a:0" stream=channels)" \
    "$(probe "$file" "-select_streams a:0" stream=sample_rate)" >>"$expected"
done <"$list"
mv "$expected" "$out/expected.txt"
echo "make_samples.sh: $(wc -l <"$out/expected.txt") samples in $out"
