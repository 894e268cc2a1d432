#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (Debian's, with its sanitizer runtime): every
# fuzz/*_fuzz.cpp becomes build/fuzz/<name>, compiled with the src/ files it needs under
# AddressSanitizer and UndefinedBehaviorSanitizer. Usage: fuzz/build.sh [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${TOVI_FUZZ_OUT:-$root/build/fuzz}
mkdir -p "$out/obj"

cxx=${CXX_FUZZ:-}
if [[ -z $cxx ]]; then
  for c in clang++ clang++-16 clang++-15 clang++-14; do
    if command -v "$c" >/dev/null; then cxx=$c; break; fi
  done
fi
if [[ -z $cxx ]]; then
  echo "fuzz/build.sh: clang++ is needed (apt-get install clang libclang-rt-14-dev)" >&2
  exit 1
fi

# No recovery: the first sanitizer report ends the run as a crash. The library's bounds checks
# catch element accesses past a container's end, which the sanitizers do not see.
flags=(-std=c++20 -O1 -gline-tables-only -fno-omit-frame-pointer -I"$root/src"
       -fsanitize=address,undefined -fno-sanitize-recover=all -D_GLIBCXX_ASSERTIONS)

# The engine sources each target may need; a target links only what it uses (--gc-sections).
common=(src/platform/posix/socket.cpp src/platform/posix/readiness.cpp src/platform/posix/process.cpp
        src/platform/posix/identity.cpp src/platform/name_lookup.cpp
        src/platform/posix/detached_thread.cpp)
# The media-server side's readers are pure: only they, not the rest of src/dlna/.
common+=(src/dlna/xml.cpp src/dlna/soap.cpp src/dlna/ssdp.cpp src/dlna/identity.cpp src/platform/utf8.cpp
         src/dlna/subtitle_text.cpp src/platform/eight_bit_text.cpp)
for f in src/http/*.cpp src/http/server/*.cpp src/http/client/*.cpp src/regex/*.cpp src/media/*.cpp; do
  [[ -f $f ]] && common+=("$f")
done

# Whether an object must be compiled again: missing, or older than this script, its source or
# any header it read (the compiler's dependency list beside it). An object kept across a header's
# change would be linked with objects that see another layout, and the sanitizers report that.
stale() {  # object
  local obj=$1 f
  [[ -f $obj && -f $obj.d && ! fuzz/build.sh -nt $obj ]] || return 0
  for f in $(sed -e 's/^[^:]*://' -e 's/\\$//' "$obj.d"); do
    [[ $f -nt $obj ]] && return 0
  done
  return 1
}

# Two compilers at a time (the machine has two cores); any failure fails the build.
jobs=${FUZZ_BUILD_JOBS:-2}
objs=()
running=0
for src in "${common[@]}"; do
  obj=$out/obj/$(echo "$src" | tr '/' '_').o
  objs+=("$obj")
  stale "$obj" || continue
  "$cxx" "${flags[@]}" -fsanitize=fuzzer-no-link -ffunction-sections -MMD -MF "$obj.d" \
    -c "$src" -o "$obj" &
  running=$((running + 1))
  if [[ $running -ge $jobs ]]; then wait -n; running=$((running - 1)); fi
done
while [[ $running -gt 0 ]]; do wait -n; running=$((running - 1)); done

targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for f in fuzz/*_fuzz.cpp; do targets+=("$(basename "$f" _fuzz.cpp)"); done
fi
running=0
failures=0
for t in "${targets[@]}"; do
  echo "fuzz/build.sh: $t"
  "$cxx" "${flags[@]}" -fsanitize=fuzzer "fuzz/${t}_fuzz.cpp" "${objs[@]}" \
    -Wl,--gc-sections -lpthread -o "$out/$t" &
  running=$((running + 1))
  if [[ $running -ge $jobs ]]; then wait -n || failures=$((failures + 1)); running=$((running - 1)); fi
done
while [[ $running -gt 0 ]]; do wait -n || failures=$((failures + 1)); running=$((running - 1)); done
[[ $failures -eq 0 ]]
