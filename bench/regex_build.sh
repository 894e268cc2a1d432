#!/usr/bin/env bash
# Builds the matcher benchmark (not part of the default build): build/bench/regex_bench.
# Needs libpcre2-dev (apt-get install libpcre2-dev). Run: build/bench/regex_bench
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build/bench
if [[ ! -f /usr/include/pcre2.h ]]; then
  echo "regex_build.sh: installing libpcre2-dev" >&2
  apt-get install -y libpcre2-dev >/dev/null
fi
g++ -std=c++20 -O2 -DNDEBUG -Wall -Wextra -Isrc bench/regex_bench.cpp src/regex/*.cpp \
  -lpcre2-8 -pthread -o build/bench/regex_bench
echo "built build/bench/regex_bench"
