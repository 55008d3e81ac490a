#!/usr/bin/env bash
# The fuzz targets of scripts/test-stages/40-fuzz.sh run long: each to 10^7
# executions, or for a given time, one after another (or only those named).
# What a run finds is kept: the corpus grows in build-fuzz/long-corpus/NAME
# (the next run starts from it), a crashing input lands in
# build-fuzz/artifacts/, and each target's log in build-fuzz/long-logs/.
# Ends with a line per target (executions, seconds, result); exits non-zero
# when any target failed.
#
# Usage: scripts/fuzz-long.sh [--seconds N] [--runs N] [-j N] [NAME...]
#   --runs N     executions per target (default 10000000)
#   --seconds N  stop each target after N seconds too, whichever comes first
#                (default: no time limit)
#   -j N         targets run side by side (default 1; each takes one core)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

runs=10000000
seconds=0
parallel=1
names=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    -j) parallel=$2; shift 2 ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) names+=("$1"); shift ;;
  esac
done

need_packages cmake ninja-build clang libfuzzer-14-dev libclang-rt-14-dev libcurl4-openssl-dev libssl-dev nlohmann-json3-dev
cmake --preset fuzz >/dev/null
[ ${#names[@]} -gt 0 ] || mapfile -t names <build-fuzz/fuzz-targets.txt
cmake --build build-fuzz -j"$(jobs)" --target "${names[@]/#/fuzz_}"

mkdir -p build-fuzz/artifacts build-fuzz/long-logs
export UBSAN_OPTIONS="print_stacktrace=1 ${UBSAN_OPTIONS:-}"

one() {
  local name=$1 corpus=build-fuzz/long-corpus/$1 log=build-fuzz/long-logs/$1.log start=$SECONDS
  mkdir -p "$corpus"
  local status=clean
  "build-fuzz/fuzz_$name" -runs="$runs" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -dict="tests/fuzz/$name.dict" -artifact_prefix="build-fuzz/artifacts/$name-" \
    "$corpus" "tests/fuzz/corpus/$name" >"$log" 2>&1 || status="FAILED (see $log and build-fuzz/artifacts/)"
  local done
  done=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  printf '%-16s %10s executions in %5d s, corpus %5d inputs: %s\n' "$name" "${done:-?}" $((SECONDS - start)) \
    "$(find "$corpus" -type f | wc -l)" "$status" >"build-fuzz/long-logs/$name.result"
}

per_core_jobs=$parallel per_core one "${names[@]}"
failed=0
for name in "${names[@]}"; do
  cat "build-fuzz/long-logs/$name.result"
  grep -q ': clean$' "build-fuzz/long-logs/$name.result" || failed=1
done
exit $failed
