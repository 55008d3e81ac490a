#!/usr/bin/env bash
# The Windows program's load test, long form: RUNS runs (default 20) of
# SECONDS (default 40) each, the stream at 25600 bytes/s into its COM7 under
# Wine with two busy loops beside it. Prints each run and how many of them
# lost a byte or a beacon or reported a loss; exits non-zero when any did.
# Builds what is missing (see scripts/test-stages/31-windows-gui.sh, whose
# setup it uses; KESTREL_WINE_SKIP_BUILD=1 reuses the builds).
#
#   scripts/wine-load-test.sh [RUNS [SECONDS]]
set -euo pipefail
cd "$(dirname "$0")/.."
KESTREL_WINE_BENCH_ONLY=1 KESTREL_WINE_BENCH_SECONDS=0 KESTREL_WINE_LOAD_RUNS="${1:-20}" \
  KESTREL_WINE_LOAD_SECONDS="${2:-40}" exec bash scripts/test-stages/31-windows-gui.sh
