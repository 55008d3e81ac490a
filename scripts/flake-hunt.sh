#!/usr/bin/env bash
# The flake hunt: runs test suites again and again on a loaded machine (two
# busy loops beside them, on top of whatever else runs), so that a test whose
# outcome depends on timing shows it. Each suite's ctest runs every case up to
# --repeat times and stops at its first failure (ctest --repeat until-fail),
# ROUNDS times over. Builds what is missing first, as the stages do.
#
#   scripts/flake-hunt.sh [-n ROUNDS] [-r REPEAT] [-R REGEX] [SUITE...]
#
# SUITE: native (build/), asan (build-asan/), tsan (build-tsan/, its test
# executables with --gtest_repeat), wine (build-win64/ under Wine, with the
# Windows stage's COM ports); all four when none is named. -R REGEX runs only
# the cases it matches (not in tsan, which runs whole executables). Logs go to build-flakes/; the end is a line per suite
# and round, and the failing cases by name. Exits non-zero when any failed.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

rounds=3 repeat=3 regex=""
while getopts "n:r:R:" opt; do
  case $opt in
  n) rounds=$OPTARG ;;
  r) repeat=$OPTARG ;;
  R) regex=$OPTARG ;;
  *) sed -n '2,15p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
suites=("$@")
[ ${#suites[@]} -gt 0 ] || suites=(native asan tsan wine)

logs=$PWD/build-flakes
mkdir -p "$logs"
summary=()
failed=0

busy=()
stop_busy() { [ ${#busy[@]} -eq 0 ] || kill "${busy[@]}" 2>/dev/null || true; }
trap stop_busy EXIT
start_busy() {
  for _ in 1 2; do
    bash -c 'while :; do :; done' &
    busy+=($!)
  done
}

# hunt SUITE LOG_PREFIX COMMAND...: the command ROUNDS times; a failed round's
# failing cases are taken from its log.
hunt() {
  local suite=$1 prefix=$2 i status
  shift 2
  for i in $(seq "$rounds"); do
    status=0
    "$@" >"$prefix.$i.log" 2>&1 || status=$?
    if [ "$status" = 0 ]; then
      summary+=("$(printf '%-7s round %2d: passed' "$suite" "$i")")
      echo "${summary[-1]}"
    else
      failed=1
      summary+=("$(printf '%-7s round %2d: FAILED (%s.%d.log)' "$suite" "$i" "$prefix" "$i")")
      echo "${summary[-1]}"
      # The failing cases by name, as ctest and gtest list them.
      while read -r line; do summary+=("          $line"); done < <(grep -E '\((Failed|Timeout|Subprocess)|^\[  FAILED  \] [A-Za-z]' "$prefix.$i.log" | sed 's/ ([0-9]* ms)$//' | sort -u)
    fi
  done
}

ctest_args=(--output-on-failure -j"$(jobs)" --repeat "until-fail:$repeat")
[ -z "$regex" ] || ctest_args+=(-R "$regex")

for suite in "${suites[@]}"; do
  case $suite in
  native)
    need_packages "${NATIVE_PACKAGES[@]}"
    [ -f build/CMakeCache.txt ] || cmake --preset default >/dev/null
    cmake --build build -j"$(jobs)" >/dev/null
    start_busy
    QT_QPA_PLATFORM=offscreen hunt native "$logs/native" ctest --test-dir build "${ctest_args[@]}"
    stop_busy; busy=()
    ;;
  asan)
    need_packages "${NATIVE_PACKAGES[@]}" libasan8 libubsan1
    [ -f build-asan/CMakeCache.txt ] || cmake --preset asan >/dev/null
    cmake --build build-asan -j"$(jobs)" --target kestrel_tests >/dev/null
    export ASAN_OPTIONS="detect_leaks=1 abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1"
    export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp print_suppressions=0"
    start_busy
    QT_QPA_PLATFORM=offscreen hunt asan "$logs/asan" ctest --test-dir build-asan "${ctest_args[@]}"
    stop_busy; busy=()
    ;;
  tsan)
    # The stage's own list (SERIAL_TESTS), run without address randomisation,
    # which this TSan runtime needs on some kernels.
    eval "$(sed -n '/^SERIAL_TESTS=(/,/)/p' scripts/test-stages/20-tsan.sh)"
    need_packages cmake ninja-build g++ libgtest-dev libgmock-dev libtsan2 libcurl4-openssl-dev ca-certificates libssl-dev openssl nlohmann-json3-dev
    [ -f build-tsan/CMakeCache.txt ] || cmake --preset tsan >/dev/null
    cmake --build build-tsan -j"$(jobs)" --target "${SERIAL_TESTS[@]}" >/dev/null
    export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
    tsan_all() {
      local t
      for t in "${SERIAL_TESTS[@]}"; do
        setarch "$(uname -m)" -R "build-tsan/tests/$t" --gtest_repeat="$repeat" --gtest_break_on_failure || return 1
      done
    }
    start_busy
    hunt tsan "$logs/tsan" tsan_all
    stop_busy; busy=()
    ;;
  wine)
    need_packages "${WINE_PACKAGES[@]}"
    [ -f build-win64/CMakeCache.txt ] || cmake --preset mingw >/dev/null
    cmake --build build-win64 -j"$(jobs)" >/dev/null
    rm -f "$logs/wine.summary"
    (
      summary=()
      unset DISPLAY WAYLAND_DISPLAY
      . scripts/lib-wine.sh
      wine_setup >/dev/null
      export KESTREL_TEST_COM_PORT=COM7 KESTREL_TEST_COM_PEER=COM8 KESTREL_TEST_SERIALCOMM="$serialcomm"
      start_busy
      wine_on_exit stop_busy
      LD_PRELOAD="$work/modemshim.so" hunt wine "$logs/wine" ctest --test-dir build-win64 "${ctest_args[@]}"
      printf '%s\n' "${summary[@]}" >"$logs/wine.summary"
      [ "$failed" = 0 ]
    ) || failed=1
    [ ! -f "$logs/wine.summary" ] || mapfile -t -O "${#summary[@]}" summary <"$logs/wine.summary"
    ;;
  *) echo "unknown suite: $suite (native, asan, tsan, wine)"; exit 2 ;;
  esac
done

echo "== flake hunt: $rounds rounds, each case up to $repeat times, beside two busy loops"
printf '%s\n' "${summary[@]}"
exit "$failed"
