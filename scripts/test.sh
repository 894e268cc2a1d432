#!/usr/bin/env bash
# Installs what is missing (when run as root), builds both builds and runs every test:
#   1. the Linux build (warnings are errors) and its suites, the terminal program test included;
#   2. the Windows build, cross-compiled, its suites under wine and the tray program's GUI test
#      under wine on Xvfb (screenshots in build/windows/wine-gui/);
#   3. the suites again under AddressSanitizer with UndefinedBehaviorSanitizer, and the engine,
#      request handler and client suites under ThreadSanitizer (only the test targets are built).
# Arguments choose steps (linux windows asan tsan; default all). Every chosen step runs; the end
# names the steps that failed.
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

if wanted linux; then
  step "Linux build"
  if scripts/build.sh linux -DTOVI_WERROR=ON; then
    step "Linux tests"
    ctest --test-dir build/linux --output-on-failure -j "$jobs" || failed "Linux tests"
  else
    failed "Linux build"
  fi
fi

windows_tests() {
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=$root/build/wine-prefix
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "initialising the wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  xvfb-run -a timeout 300 wineboot -i >/dev/null 2>&1 || { failed "wine prefix"; return; }
  timeout 60 wineserver -w || true
fi
# Suites that open windows get a display; the GUI test starts its own X screen and prefix.
xvfb-run -a bash -c "$(declare -f wine_ctest); wine_ctest $jobs" ||
  failed "Windows tests (screenshots of the GUI test in build/windows/wine-gui/)"
}
# The first wine process starts the wineserver and wine's services (explorer, winedevice...),
# which outlive it holding a copy of its output: ctest then waits for that suite's pipe until
# they end, and counts a 2 s suite as 70 s. Started first with their output elsewhere, they
# serve every suite and are stopped at the end.
wine_ctest() {
  wineserver -p >/dev/null 2>&1
  timeout 120 wine cmd /c exit >/dev/null 2>&1 </dev/null
  ctest --test-dir build/windows --output-on-failure -j "$1"
  local rc=$?
  timeout 60 wineserver -k >/dev/null 2>&1
  return $rc
}
if wanted windows; then
  step "Windows build (mingw-w64)"
  if scripts/build.sh windows -DTOVI_WERROR=ON -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"; then
    step "Windows tests under wine"
    windows_tests
  else
    failed "Windows build"
  fi
fi

sanitized() {  # sanitized DIR SANITIZERS [SUITE...]: build and run only those suites
  local dir=$1 sanitizers=$2
  shift 2
  # -O1 -g1: quicker to build, and still line numbers in the reports.
  cmake -S . -B "build/$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
    -DTOVI_SANITIZE="$sanitizers" >/dev/null
  local suites=("$@")
  if [ ${#suites[@]} -eq 0 ]; then mapfile -t suites <"build/$dir/test_targets.txt"; fi
  local present=()
  for s in "${suites[@]}"; do
    grep -qx "$s" "build/$dir/test_targets.txt" && present+=("$s")
  done
  cmake --build "build/$dir" -j "$jobs" --target "${present[@]}" || return 1
  local regex
  regex="^($(IFS='|'; echo "${present[*]}"))\$"
  ctest --test-dir "build/$dir" --output-on-failure -j "$jobs" -R "$regex"
}
if wanted asan; then
  step "AddressSanitizer + UndefinedBehaviorSanitizer"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    sanitized asan address,undefined || failed "ASan/UBSan suites"
fi
if wanted tsan; then
  step "ThreadSanitizer"
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    sanitized tsan thread http_server_tests server_tests http_client_tests http_tests app_tests ||
    failed "TSan suites"
fi

if [ $# -eq 0 ] || wanted fuzz; then step "Fuzz targets, 40 s of a core each"; bash scripts/ci-hardening.sh || failed "Fuzz targets"; fi
echo
if [ ${#failures[@]} -gt 0 ]; then
  echo "TESTS FAILED ($(date +%T)):"
  printf '  %s\n' "${failures[@]}"
  exit 1
fi
echo "ALL TESTS PASSED ($(date +%T))"
