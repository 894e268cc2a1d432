#!/usr/bin/env bash
# CI's fuzz step: builds every libFuzzer target (fuzz/build.sh) and gives each 40 s of one core:
# all at once, for 40 s times targets over cores (an odd target out would leave a core idle for a
# whole turn). Fails when any target crashes, hangs, leaks or trips a sanitizer; the
# failing input is printed in hex for the log.
# Each run goes on from the inputs earlier runs on this machine found (a working corpus outside
# the clone, since CI clones afresh; seeded from fuzz/corpus), so the 40 s reach further each
# time instead of finding the same coverage again. Nothing it writes is committed.
# Usage: scripts/ci-hardening.sh [seconds per target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-${FUZZ_SECONDS:-40}}
export TOVI_FUZZ_OUT=${TOVI_FUZZ_OUT:-$PWD/build/fuzz-ci}
export TOVI_FUZZ_CORPUS=${TOVI_FUZZ_CORPUS:-${XDG_CACHE_HOME:-$HOME/.cache}/remote-toviplayer/fuzz-corpus}
rm -rf "$TOVI_FUZZ_OUT/artifacts"
echo "== fuzz: working corpus $TOVI_FUZZ_CORPUS"

echo "== fuzz: building the targets"
bash fuzz/build.sh

targets=()
for f in fuzz/*_fuzz.cpp; do targets+=("$(basename "$f" _fuzz.cpp)"); done
cores=$(nproc)
wall=$(( seconds * ${#targets[@]} / cores ))
[[ $wall -lt $seconds ]] && wall=$seconds
echo "== fuzz: ${#targets[@]} targets at once for $wall s ($seconds s of a core each)"
pids=()
for t in "${targets[@]}"; do
  bash fuzz/run.sh "$t" "$wall" >"$TOVI_FUZZ_OUT/$t.summary" 2>&1 &
  pids+=($!)
done
failed=()
for j in "${!targets[@]}"; do
  if ! wait "${pids[$j]}"; then failed+=("${targets[$j]}"); fi
  cat "$TOVI_FUZZ_OUT/${targets[$j]}.summary"
done

for t in "${failed[@]}"; do
  for a in "$TOVI_FUZZ_OUT"/artifacts/"$t"-*; do
    [[ -f $a ]] && { echo "-- $a"; xxd "$a" | head -20; }
  done
done
echo "fuzz: ${#targets[@]} targets, ${#failed[@]} with findings${failed:+: ${failed[*]}}"
[[ ${#failed[@]} -eq 0 ]]
