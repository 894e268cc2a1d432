#!/usr/bin/env bash
# Installs what the Linux build needs (when run as root), builds it and starts the program in
# this terminal. Arguments go to the program (see --help).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then bash scripts/setup.sh build; fi
echo "Building the Linux build in build/linux ..." >&2
cmake -S . -B build/linux -G Ninja -DTOVI_BUILD_TESTS=OFF >/dev/null
cmake --build build/linux --target remote-toviplayer -j "$(nproc)" >/dev/null
exec build/linux/src/app/remote-toviplayer "$@"
