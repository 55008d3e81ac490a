#!/usr/bin/env bash
# Sets up what is missing on a Debian 12 machine, builds everything into build/
# and runs the test suites. Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

need_packages "${NATIVE_PACKAGES[@]}"
# The tools are run under a decimal-comma locale too.
need_locale de_DE.UTF-8

echo "== native build (build/)"
start=$SECONDS
cmake --preset default
cmake --build build -j"$(jobs)"
echo "== native build took $((SECONDS - start)) s"
echo "== native tests"
start=$SECONDS
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j"$(jobs)"
echo "== native tests took $((SECONDS - start)) s"

# Further suites (sanitizers, the Windows build under Wine) add themselves here.
for stage in scripts/test-stages/*.sh; do
  [ -e "$stage" ] || continue
  echo "== stage $(basename "$stage")"
  start=$SECONDS
  bash "$stage"
  echo "== stage $(basename "$stage") took $((SECONDS - start)) s"
done
echo "== all test suites passed"
