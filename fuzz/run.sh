#!/usr/bin/env bash
# Runs one fuzz target for a number of seconds over its seed corpus (fuzz/corpus/<target>/,
# read only) and a working corpus in $TOVI_FUZZ_CORPUS/<target>/ (default build/fuzz/corpus/),
# where new inputs go. Builds the target first when it is missing. Exit status: 0 clean; non-zero on a crash, hang, leak or sanitizer report,
# whose input is left in build/fuzz/artifacts/.
# Usage: fuzz/run.sh TARGET SECONDS [extra libFuzzer flags]
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?target}; seconds=${2:?seconds}; shift 2
out=${TOVI_FUZZ_OUT:-$PWD/build/fuzz}
[[ -x $out/$target ]] || bash fuzz/build.sh "$target"
corpus=${TOVI_FUZZ_CORPUS:-$out/corpus}/$target
mkdir -p "$corpus" "$out/artifacts" "fuzz/corpus/$target"
log=$out/$target.log
set +e
"$out/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=3072 -max_len=65536 \
  -print_final_stats=1 -artifact_prefix="$out/artifacts/$target-" "$@" \
  "$corpus" "fuzz/corpus/$target" >"$log" 2>&1
status=$?
set -e
# The last coverage line and the totals: what the closing note quotes.
last=$(grep -E '^#[0-9]+' "$log" | tail -1)
execs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
speed=$(grep -E '^stat::average_exec_per_sec' "$log" | awk '{print $2}')
echo "fuzz $target: ${seconds}s status=$status execs=${execs:-?} exec/s=${speed:-?} | $last"
if [[ $status -ne 0 ]]; then
  grep -E 'ERROR|SUMMARY|runtime error|invariant broken|Test unit written' "$log" | head -20
fi
exit $status
