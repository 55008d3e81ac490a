#!/usr/bin/env bash
# Sets up what is missing on a Debian 12 machine, builds everything into build/
# and runs the test suites: the native build and its tests, then each stage of
# scripts/test-stages/ in the order of its name. Exits non-zero when anything
# fails, and ends, passed or not, with a table of each stage's time: wall
# seconds, and the CPU seconds its processes used (on a busy machine the
# second says more about the stage itself).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

stage_names=()
stage_lines=()
run_started=$SECONDS
# The process group of a build running beside a stage (below).
beside=

# children_cpu sets cpu_ms to the user and system milliseconds of the
# processes this shell has waited for. It must run in this shell: in a
# command substitution `times` would see the subshell's children, none.
cpu_file=$(mktemp)
children_cpu() {
  times >"$cpu_file"
  # The second line, "1m2.345s 0m3.210s".
  cpu_ms=$(awk 'NR == 2 { t = 0; for (i = 1; i <= 2; i++) { split($i, p, /[ms]/); t += p[1] * 60000 + p[2] * 1000 }
    printf "%d\n", t }' "$cpu_file")
}

stage_table() {
  local status=$?
  rm -f "$cpu_file"
  [ -z "$beside" ] || kill -- -"$beside" 2>/dev/null || true
  [ ${#stage_lines[@]} -gt 0 ] || exit "$status"
  echo "== stage times"
  printf '  %-22s %6s %6s  %s\n' stage wall cpu result
  printf '%s\n' "${stage_lines[@]}"
  printf '  %-22s %6s\n' total "$((SECONDS - run_started))"
  exit "$status"
}
trap stage_table EXIT
trap 'exit 130' INT TERM

# run_stage NAME COMMAND...: runs one stage and notes its times; a stage that
# fails ends the run.
run_stage() {
  local name=$1 started=$SECONDS cpu_before status=0
  shift
  echo "== $name"
  children_cpu
  cpu_before=$cpu_ms
  # A build that ran beside an earlier stage is this one's: waited for here,
  # so that its CPU seconds count in this stage's row.
  if [ "$1" = beside_then ]; then
    shift
    local built=0
    wait "$beside" || built=$?
    echo "== built beside the Windows window stage in $((SECONDS - beside_started)) s (status $built)"
    beside=
  fi
  # In a subshell of its own, not after ||, so that errexit holds inside.
  set +e
  (
    set -e
    "$@"
  )
  status=$?
  set -e
  children_cpu
  local cpu=$(((cpu_ms - cpu_before) / 1000))
  stage_lines+=("$(printf '  %-22s %6s %6s  %s' "$name" "$((SECONDS - started))" "$cpu" \
    "$([ "$status" = 0 ] && echo passed || echo "FAILED ($status)")")")
  echo "== $name took $((SECONDS - started)) s"
  [ "$status" = 0 ] || exit "$status"
}

native_build() {
  need_packages "${NATIVE_PACKAGES[@]}" dpkg-dev
  # The tools are run under a decimal-comma locale too.
  need_locale de_DE.UTF-8
  # With Debian's flags, so that the package stage packs this tree.
  mapfile -t flags < <(deb_build_flags)
  cmake --preset default "${flags[@]}" $(unity_option)
  cmake --build build -j"$(jobs)"
}
native_tests() {
  QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j"$(jobs)"
}

# The trees it makes are unity builds (see unity_option in scripts/lib.sh).
export KESTREL_UNITY_BUILD=1
# The package stage packs build/ rather than building build-deb/ anew.
export KESTREL_PACKAGE_BUILD_DIR=build
# The Windows window stage's receive-rate check: one run makes it (the
# stage's three, whose median it prints, are for figures).
export KESTREL_WINE_BENCH_RUNS=${KESTREL_WINE_BENCH_RUNS:-1}
run_stage "native build" native_build
run_stage "native tests" native_tests
# Further suites (sanitizers, the Windows build under Wine, ...) add themselves
# to scripts/test-stages/.
#
# The Windows window stage runs one program at a time and leaves a core idle;
# meanwhile the fuzz targets are built beside it at the lowest priority, so
# that they take only what it leaves (its timing checks pass with two busy
# loops beside them; a compiler at nice 19 weighs far less). The fuzz stage
# then finds them built, and counts their CPU seconds. Should that build fail,
# the fuzz stage builds again and shows why.
for stage in scripts/test-stages/*.sh; do
  [ -e "$stage" ] || continue
  name=$(basename "$stage" .sh)
  if [ "$name" = 31-windows-gui ] && [ -e scripts/test-stages/40-fuzz.sh ]; then
    # apt in the foreground: the stage's own installs would meet its lock.
    bash scripts/test-stages/40-fuzz.sh packages
    setsid nice -n 19 bash scripts/test-stages/40-fuzz.sh build >build/fuzz-build.log 2>&1 &
    beside=$!
    beside_started=$SECONDS
  fi
  if [ "$name" = 40-fuzz ] && [ -n "$beside" ]; then
    run_stage "$name" beside_then bash "$stage"
  else
    run_stage "$name" bash "$stage"
  fi
done
echo "== all test suites passed"
