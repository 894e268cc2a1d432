#!/usr/bin/env bash
# Builds one build: "linux" (native g++) or "windows" (mingw-w64, cross-compiled).
# Extra arguments go to CMake's configure step. Output: build/<name>/.
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:-linux}; shift || true
dir=build/$name
case "$name" in
  windows*) args=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake") ;;
  *) args=() ;;
esac
cmake -S . -B "$dir" -G Ninja "${args[@]}" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
