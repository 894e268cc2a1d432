#!/usr/bin/env bash
# Builds the pattern fuzz target alone, from src/regex only: build/fuzz/pattern.
# Run: build/fuzz/pattern fuzz/corpus/pattern -max_total_time=600 (add a scratch corpus
# directory first to keep new inputs out of the seed set).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${TOVI_FUZZ_OUT:-build/fuzz}
mkdir -p "$out"
cxx=${CXX_FUZZ:-clang++}
command -v "$cxx" >/dev/null || { echo "pattern_build.sh: clang++ is needed" >&2; exit 1; }
"$cxx" -std=c++20 -O1 -g -fno-omit-frame-pointer -Isrc \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -D_GLIBCXX_ASSERTIONS \
  fuzz/pattern_fuzz.cpp src/regex/*.cpp -o "$out/pattern"
echo "built $out/pattern"
