#!/usr/bin/env bash
# The whole native suite under AddressSanitizer and UndefinedBehaviorSanitizer
# (the asan preset, build-asan/): the test executables and the programs they
# run, no benchmarks. LeakSanitizer's suppressions (tests/sanitizers/lsan.supp)
# name only leaks inside system libraries. With the argument `packages` it only
# installs what it needs; with `build`, it also builds and runs nothing (the
# test command builds beside an earlier stage).
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh

need_packages "${NATIVE_PACKAGES[@]}" libasan8 libubsan1
[ "${1:-}" != packages ] || exit 0

cmake --preset asan $(unity_option) >/dev/null
cmake --build build-asan -j"$(jobs)" --target kestrel_tests
[ "${1:-}" != build ] || exit 0

supp="$PWD/tests/sanitizers/lsan.supp"
export ASAN_OPTIONS="detect_leaks=1 abort_on_error=1 ${ASAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$supp print_suppressions=0 ${LSAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1 ${UBSAN_OPTIONS:-}"
QT_QPA_PLATFORM=offscreen ctest --test-dir build-asan --output-on-failure -j"$(jobs)"
