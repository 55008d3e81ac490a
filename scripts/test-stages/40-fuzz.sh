#!/usr/bin/env bash
# libFuzzer on the receive path (frame finder, decoder, archive on an
# in-memory file system), on the settings-file rules, on the forwarding
# outbox's reader, on the [Share] section's rules and on the reader of SatNOGS
# DB's answers (API JSON, export lines), built with clang,
# AddressSanitizer and UndefinedBehaviorSanitizer into build-fuzz/. Each
# target runs from its seed corpus (tests/fuzz/corpus/) for a bounded time;
# a crash, a leak, undefined behaviour or a hang fails the stage and leaves the
# input that did it in build-fuzz/artifacts/.
#
# KESTREL_FUZZ_SECONDS: seconds per target (default 30).
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh

need_packages cmake make clang libfuzzer-14-dev libclang-rt-14-dev libcurl4-openssl-dev libssl-dev nlohmann-json3-dev

cmake --preset fuzz >/dev/null
cmake --build build-fuzz -j"$(jobs)" --target fuzz_frame_finder fuzz_settings_file fuzz_outbox fuzz_share_settings \
  fuzz_pooled

seconds=${KESTREL_FUZZ_SECONDS:-30}
artifacts=build-fuzz/artifacts
mkdir -p "$artifacts"
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
export UBSAN_OPTIONS="print_stacktrace=1 ${UBSAN_OPTIONS:-}"

for name in frame_finder settings_file outbox share_settings pooled; do
  echo "== fuzz: $name (${seconds}s)"
  mkdir -p "$work/$name"
  # New inputs go to the scratch corpus; the seeds in the repo stay as they are.
  if ! "build-fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -dict="tests/fuzz/$name.dict" -artifact_prefix="$artifacts/$name-" \
      "$work/$name" "tests/fuzz/corpus/$name" >"$work/$name.log" 2>&1; then
    tail -n 60 "$work/$name.log"
    echo "fuzz_$name failed; the input is in $artifacts/"
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$work/$name.log" || true
done
