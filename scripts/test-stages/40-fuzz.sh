#!/usr/bin/env bash
# libFuzzer on every reader of outside data: the receive path (frame finder,
# decoder, archive on an in-memory file system), the KISS de-framer on a
# serial line and over TCP, the time index, BeaconTextLogs as
# kestrel-redecode --csv reads them, the settings-file rules, the forwarding
# outbox's reader, the [Share] section's rules and the reader of SatNOGS DB's
# answers (API JSON, export lines), built with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/. Each target runs from its seed
# corpus (tests/fuzz/corpus/) for a bounded time and its executions are
# listed; a crash, a leak, undefined behaviour or a hang fails the stage and
# leaves the input that did it in build-fuzz/artifacts/. As many targets run at
# a time as the machine has cores. scripts/fuzz-long.sh runs them far longer.
#
# KESTREL_FUZZ_SECONDS: seconds per target (default 20). With the argument
# `packages` it only installs what it needs; with `build`, it also builds the
# targets and runs none (the test command builds beside an earlier stage).
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh

need_packages cmake ninja-build clang libfuzzer-14-dev libclang-rt-14-dev libcurl4-openssl-dev libssl-dev nlohmann-json3-dev
[ "${1:-}" != packages ] || exit 0

cmake --preset fuzz $(unity_option) >/dev/null
mapfile -t names <build-fuzz/fuzz-targets.txt
cmake --build build-fuzz -j"$(jobs)" --target "${names[@]/#/fuzz_}"
[ "${1:-}" != build ] || exit 0

seconds=${KESTREL_FUZZ_SECONDS:-20}
artifacts=build-fuzz/artifacts
mkdir -p "$artifacts"
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
export UBSAN_OPTIONS="print_stacktrace=1 ${UBSAN_OPTIONS:-}"

# One target: its executions, or FAILED, in $work/NAME.result.
one() {
  local name=$1
  echo "== fuzz: $name (${seconds}s)"
  mkdir -p "$work/$name"
  # New inputs go to the scratch corpus; the seeds in the repo stay as they are.
  if "build-fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -dict="tests/fuzz/$name.dict" -artifact_prefix="$artifacts/$name-" \
      "$work/$name" "tests/fuzz/corpus/$name" >"$work/$name.log" 2>&1; then
    local runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log")
    printf '%-16s %10s executions in %s s\n' "$name" "${runs:-?}" "$seconds" >"$work/$name.result"
  else
    echo FAILED >"$work/$name.result"
  fi
}

# As many targets at a time as there are cores: each fuzzes on one.
per_core one "${names[@]}"
failed=0
for name in "${names[@]}"; do
  if [ "$(cat "$work/$name.result")" = FAILED ]; then
    tail -n 60 "$work/$name.log"
    echo "fuzz_$name failed; the input is in $artifacts/"
    failed=1
  fi
done
[ "$failed" = 0 ] || exit 1
echo "== fuzz: every target clean"
for name in "${names[@]}"; do cat "$work/$name.result"; done
