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

stage_lines=()
run_started=$SECONDS
work=$(mktemp -d)
# Builds running beside a stage (below): their process group, and the files
# each leaves when it ends (status, seconds, CPU).
beside=
beside_dir=$work/beside

# cpu_of FILE: the user and system milliseconds of a shell and of the
# processes it waited for, from what its `times` wrote to FILE
# ("0m1.234s 0m0.120s" on each line).
cpu_of() {
  awk '{ for (i = 1; i <= 2; i++) { split($i, p, /[ms]/); t += p[1] * 60000 + p[2] * 1000 } } END { printf "%d\n", t }' "$1"
}

stage_table() {
  local status=$?
  [ -z "$beside" ] || kill -- -"$beside" 2>/dev/null || true
  rm -rf "$work"
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
# fails ends the run. Its CPU seconds are those of its own processes, which
# its subshell counts: a build running beside it is not among them.
run_stage() {
  local name=$1 started=$SECONDS status=0 cpu_ms=0
  shift
  echo "== $name"
  # A build that ran beside an earlier stage is this one's: waited for here,
  # and its CPU seconds count in this stage's row.
  if [ "$1" = beside_then ]; then
    shift
    # Until its status is written, or the builds beside have ended without it
    # (killed): then the stage builds on its own.
    while [ ! -e "$beside_dir/$name.status" ] && kill -0 "$beside" 2>/dev/null; do sleep 1; done
    if [ -e "$beside_dir/$name.status" ]; then
      echo "== built beside the Windows window stage in $(cat "$beside_dir/$name.seconds") s" \
        "(status $(cat "$beside_dir/$name.status"))"
      cpu_ms=$(cpu_of "$beside_dir/$name.times")
    else
      echo "== the build beside the Windows window stage ended without finishing $name"
    fi
  fi
  # In a subshell of its own, not after ||, so that errexit holds inside.
  set +e
  (
    set -e
    trap 'times >"$work/times"' EXIT
    "$@"
  )
  status=$?
  set -e
  cpu_ms=$((cpu_ms + $(cpu_of "$work/times")))
  stage_lines+=("$(printf '  %-22s %6s %6s  %s' "$name" "$((SECONDS - started))" "$((cpu_ms / 1000))" \
    "$([ "$status" = 0 ] && echo passed || echo "FAILED ($status)")")")
  echo "== $name took $((SECONDS - started)) s"
  [ "$status" = 0 ] || exit "$status"
}

# start_beside STAGE...: builds the stages' trees one after the other
# (`scripts/test-stages/STAGE.sh build`) at the lowest priority, in a process
# group of its own and not as a child of this shell (whose `times` would
# otherwise count them in the stage during which they end). Each leaves its
# status, seconds and `times` in $beside_dir/STAGE.*, its output in
# $beside_dir/STAGE.log.
start_beside() {
  mkdir -p "$beside_dir"
  rm -f "$beside_dir"/*
  (setsid nice -n 19 bash -c 'echo $$ >"$0/pid"
    for stage in "$@"; do
      (
        started=$SECONDS status=0
        bash "scripts/test-stages/$stage.sh" build >"$0/$stage.log" 2>&1 || status=$?
        times >"$0/$stage.times"
        echo $((SECONDS - started)) >"$0/$stage.seconds"
        echo "$status" >"$0/$stage.status.new"
        mv "$0/$stage.status.new" "$0/$stage.status"
      )
    done' "$beside_dir" "$@" >/dev/null 2>&1 &)
  while [ ! -s "$beside_dir/pid" ]; do sleep 0.1; done
  beside=$(cat "$beside_dir/pid")
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
# meanwhile the ASan tree and the fuzz targets are built beside it at the
# lowest priority, so that they take only what it leaves (its timing checks
# pass with two busy loops beside them; compilers at nice 19 weigh far less).
# Their stages come after it, find them built, and count their CPU seconds.
# Should such a build fail, its stage builds again and shows why.
built_beside=(33-asan 40-fuzz)
for stage in scripts/test-stages/*.sh; do
  [ -e "$stage" ] || continue
  name=$(basename "$stage" .sh)
  if [ "$name" = 31-windows-gui ]; then
    # apt in the foreground: the stage's own installs would meet its lock.
    for b in "${built_beside[@]}"; do bash "scripts/test-stages/$b.sh" packages; done
    start_beside "${built_beside[@]}"
  fi
  if [ -e "$beside_dir/pid" ] && [[ " ${built_beside[*]} " == *" $name "* ]]; then
    run_stage "$name" beside_then bash "$stage"
  else
    run_stage "$name" bash "$stage"
  fi
done
echo "== all test suites passed"
