#!/usr/bin/env bash
# The serial component's tests under ThreadSanitizer (build-tsan/, no GUI):
# the event thread, the mailbox and the port engine must be free of races, and
# so must the telemetry forwarder's thread.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh

need_packages cmake ninja-build g++ libgtest-dev libgmock-dev libtsan2 libcurl4-openssl-dev ca-certificates libssl-dev openssl nlohmann-json3-dev

SERIAL_TESTS=(serial_settings_tests serial_dispatch_tests serial_port_tests serial_posix_tests kiss_tcp_tests
  share_forwarder_tests)

cmake --preset tsan $(unity_option) >/dev/null
cmake --build build-tsan -j"$(jobs)" --target "${SERIAL_TESTS[@]}"

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
# Kernels with high mmap randomisation break this TSan runtime; run without
# address randomisation there.
run() {
  local out
  if out=$("$@" 2>&1); then printf '%s\n' "$out" | tail -n 3; return 0; fi
  if grep -q "unexpected memory mapping" <<<"$out" && command -v setarch >/dev/null; then
    setarch "$(uname -m)" -R "$@"
    return
  fi
  printf '%s\n' "$out"
  return 1
}
# As many at a time as there are cores, as ctest runs the other suites; each
# one's output afterwards, in order.
out=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-tsan.XXXXXX")
trap 'rm -rf "$out"' EXIT
one() {
  local status=0
  run "build-tsan/tests/$1" >"$out/$1.log" 2>&1 || status=$?
  echo "$status" >"$out/$1.status"
}
built=()
for t in "${SERIAL_TESTS[@]}"; do
  [ ! -x "build-tsan/tests/$t" ] || built+=("$t")
done
per_core one "${built[@]}"
failed=0
for t in "${SERIAL_TESTS[@]}"; do
  [ -e "$out/$t.status" ] || continue
  echo "== tsan: $t"
  cat "$out/$t.log"
  [ "$(cat "$out/$t.status")" = 0 ] || { echo "FAILED: $t under ThreadSanitizer"; failed=1; }
done
[ "$failed" = 0 ]
