#!/usr/bin/env bash
# Installs what is missing (when run as root), builds both builds and runs every test:
#   1. the Linux build (warnings are errors) and its suites, the terminal program test included;
#   2. the Windows build, cross-compiled, its suites under wine and the tray program's GUI test
#      under wine on Xvfb (screenshots in build/windows/wine-gui/);
#   3. the suites again under AddressSanitizer with UndefinedBehaviorSanitizer, and the engine,
#      request handler and client suites under ThreadSanitizer (only the test targets are built);
#   4. the fuzz targets, 40 s of a core each (scripts/ci-hardening.sh).
# Arguments choose steps (linux windows asan tsan fuzz; default all). Every chosen step runs; the
# end names the steps that failed. A step's build runs while the step before runs its suites.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
if [ "$(id -u)" = 0 ]; then bash scripts/setup.sh test || exit 1; fi
jobs=$(nproc)
# The four builds compile much the same sources; a compiler cache keyed on paths relative to
# the clone lets a later run in another folder (CI clones afresh) reuse what an earlier compiled.
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=$root
  export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
  export CCACHE_NOHASHDIR=1  # debug info names the build folder; the cache must not
fi
steps=" ${*:-linux windows asan tsan} "
failures=()
step() { echo; echo "=== $* ($(date +%T))"; }
failed() { echo "FAILED: $*"; failures+=("$*"); }
wanted() { [[ "$steps" == *" $1 "* ]]; }

# Each step is a build and then its suites. A step's suites mostly wait (on sockets, child
# programs, wine), so the next step's build runs meanwhile, in the background at the lowest
# priority: the suites get the processor whenever they want it, and their timing stays as it
# would be alone. A build's output is shown when it has ended.
# The suites are asked for by name: scripts/run.sh builds build/linux without them, and a
# cached OFF would leave nothing for ctest to run (which it takes as passing).
build_linux() {
  # No debug info: it nearly doubles each file's compile time, and nothing here reads it.
  scripts/build.sh linux -DTOVI_BUILD_TESTS=ON -DTOVI_WERROR=ON -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"
}
tests_linux() { ctest --test-dir build/linux --output-on-failure --no-tests=error -j "$jobs"; }

build_windows() {
  scripts/build.sh windows -DTOVI_BUILD_TESTS=ON -DTOVI_WERROR=ON -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"
}
tests_windows() {
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=$root/build/wine-prefix
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "initialising the wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  xvfb-run -a timeout 300 wineboot -i >/dev/null 2>&1 || { echo "wine prefix: not made"; return 1; }
  timeout 60 wineserver -w || true
fi
# Suites that open windows get a display; the GUI test starts its own X screen and prefix.
xvfb-run -a bash -c "$(declare -f wine_ctest); wine_ctest $jobs"
}
# The first wine process starts the wineserver and wine's services (explorer, winedevice...),
# which outlive it holding a copy of its output: ctest then waits for that suite's pipe until
# they end, and counts a 2 s suite as 70 s. Started first with their output elsewhere, they
# serve every suite and are stopped at the end.
wine_ctest() {
  wineserver -p >/dev/null 2>&1
  timeout 120 wine cmd /c exit >/dev/null 2>&1 </dev/null
  ctest --test-dir build/windows --output-on-failure --no-tests=error -j "$1"
  local rc=$?
  timeout 60 wineserver -k >/dev/null 2>&1
  return $rc
}

# The sanitizer builds build only the suites they run (and what those need).
sanitizer_suites() {  # sanitizer_suites DIR [SUITE...]: those of the SUITEs this build has
  local dir=$1
  shift
  local suites=("$@")
  if [ ${#suites[@]} -eq 0 ]; then mapfile -t suites <"build/$dir/test_targets.txt"; fi
  for s in "${suites[@]}"; do
    if grep -qx "$s" "build/$dir/test_targets.txt"; then echo "$s"; fi
  done
}
sanitized_build() {  # sanitized_build DIR SANITIZERS [SUITE...]
  local dir=$1 sanitizers=$2
  shift 2
  # -O1 -g1: quicker to build, and still line numbers in the reports.
  cmake -S . -B "build/$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
    -DTOVI_SANITIZE="$sanitizers" >/dev/null || return 1
  local present
  mapfile -t present < <(sanitizer_suites "$dir" "$@")
  cmake --build "build/$dir" -j "$jobs" --target "${present[@]}"
}
sanitized_tests() {  # sanitized_tests DIR [SUITE...]
  local dir=$1
  shift
  local present
  mapfile -t present < <(sanitizer_suites "$dir" "$@")
  ctest --test-dir "build/$dir" --output-on-failure -j "$jobs" \
    -R "^($(IFS='|'; echo "${present[*]}"))\$"
}
tsan_suites=(http_server_tests server_tests http_client_tests http_tests app_tests)
build_asan() { sanitized_build asan address,undefined; }
tests_asan() {
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 sanitized_tests asan
}
build_tsan() { sanitized_build tsan thread "${tsan_suites[@]}"; }
tests_tsan() {
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" sanitized_tests tsan "${tsan_suites[@]}"
}

# The fuzz targets build with clang (fuzz/build.sh); the step then builds only what changed.
build_fuzz() { TOVI_FUZZ_OUT=$root/build/fuzz-ci bash fuzz/build.sh; }
tests_fuzz() { bash scripts/ci-hardening.sh; }

declare -A titles=(
  [linux]="Linux build" [windows]="Windows build (mingw-w64)"
  [asan]="AddressSanitizer + UndefinedBehaviorSanitizer build" [tsan]="ThreadSanitizer build"
  [fuzz]="Fuzz targets' build")
declare -A test_titles=(
  [linux]="Linux tests" [windows]="Windows tests under wine"
  [asan]="ASan/UBSan suites" [tsan]="TSan suites" [fuzz]="Fuzz targets, 40 s of a core each")
chosen=()
for s in linux windows asan tsan fuzz; do
  if wanted "$s" || { [ "$s" = fuzz ] && [ $# -eq 0 ]; }; then chosen+=("$s"); fi
done
mkdir -p build
ready=""  # the step whose build has ended well and whose suites are still to run
run_tests() {
  [ -n "$ready" ] || return 0
  step "${test_titles[$ready]}"
  if [ "$ready" = windows ]; then
    tests_windows || failed "Windows tests (screenshots of the GUI test in build/windows/wine-gui/)"
  else
    "tests_$ready" || failed "${test_titles[$ready]}"
  fi
  echo "--- ${test_titles[$ready]} ended ($(date +%T))"
  ready=""
}
for s in "${chosen[@]}"; do
  log=build/$s-build.log
  started=$(date +%T)
  ( renice -n 19 -p "$BASHPID" >/dev/null; "build_$s" ) >"$log" 2>&1 &
  pid=$!
  run_tests
  wait "$pid"
  rc=$?
  step "${titles[$s]}, from $started to"
  cat "$log"
  if [ $rc -eq 0 ]; then ready=$s; else failed "${titles[$s]}"; fi
done
run_tests

echo
if [ ${#failures[@]} -gt 0 ]; then
  echo "TESTS FAILED ($(date +%T)):"
  printf '  %s\n' "${failures[@]}"
  exit 1
fi
echo "ALL TESTS PASSED ($(date +%T))"
