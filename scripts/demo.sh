#!/usr/bin/env bash
# The demo: the decoder receiving beacons from the simulated TNC.
#
#   scripts/demo.sh [WORKDIR]
#
# Sets up what is missing on Debian 12, builds every program the README uses
# (decoder, simulator, kestrel-redecode, kestrel-trends), starts kestrel-tnc-sim
# on a pseudo-terminal and the decoder in WORKDIR (default: a fresh directory under
# the system temp dir) with RS232Settings.ini pointing at the simulator.
# With a display the window stays up until you close it; without one the
# decoder runs offscreen for KESTREL_DEMO_SECONDS (default 20) and is then shut
# down orderly. Either way the archive it wrote is listed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
. scripts/lib.sh

need_packages "${NATIVE_PACKAGES[@]}"

echo "== build"
cmake --preset default >/dev/null
cmake --build build -j"$(jobs)" --target kestrel-decoder kestrel-tnc-sim kestrel-redecode kestrel-trends

if [ $# -ge 1 ]; then
  workdir=$1
  mkdir -p "$workdir"
else
  workdir=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-demo.XXXXXX")
fi
workdir=$(cd "$workdir" && pwd)
sim_log=$(mktemp "${TMPDIR:-/tmp}/kestrel-tnc-sim.XXXXXX.log")
echo "== working directory: $workdir"
echo "== simulator output: $sim_log"

sim_pid=""
decoder_pid=""
tail_pid=""
cleanup() {
  local p
  for p in "$decoder_pid" "$sim_pid" "$tail_pid"; do
    [ -n "$p" ] && kill "$p" 2>/dev/null || true
  done
  for p in "$decoder_pid" "$sim_pid" "$tail_pid"; do
    [ -n "$p" ] && wait "$p" 2>/dev/null || true
  done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Waits up to $2 seconds for process $1 to end; returns non-zero if it did not.
wait_gone() {
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

rm -f "$workdir/RS232Settings.ini"
"$repo/build/kestrel-tnc-sim" --write-ini "$workdir" --interval 1 --noise 12 --damage 10 >"$sim_log" 2>&1 &
sim_pid=$!
for ((i = 0; i < 100; i++)); do
  [ -s "$workdir/RS232Settings.ini" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$sim_log"; echo "demo: the simulator did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$workdir/RS232Settings.ini" ] || { echo "demo: no settings file from the simulator" >&2; exit 1; }
grep '^port:' "$sim_log" | sed 's/^/== simulated TNC /'

# Show what the simulator does while the decoder runs.
tail -n +1 -f "$sim_log" | sed -u 's/^/   sim | /' &
tail_pid=$!

if [ -n "${DISPLAY:-}" ]; then
  echo "== starting the decoder on $DISPLAY; close its window to end the demo"
  (cd "$workdir" && exec "$repo/build/kestrel-decoder") &
  decoder_pid=$!
  status=0
  wait "$decoder_pid" || status=$?
  decoder_pid=""
  echo "== decoder ended (exit status $status)"
else
  seconds=${KESTREL_DEMO_SECONDS:-20}
  echo "== no display: running the decoder offscreen for $seconds seconds"
  (cd "$workdir" && QT_QPA_PLATFORM=offscreen exec "$repo/build/kestrel-decoder") &
  decoder_pid=$!
  sleep "$seconds"
  kill -TERM "$decoder_pid" 2>/dev/null || true
  status=0
  if wait_gone "$decoder_pid" 10; then
    wait "$decoder_pid" || status=$?
  else
    echo "demo: the decoder did not shut down within 10 s" >&2
    kill -KILL "$decoder_pid" 2>/dev/null || true
    status=1
  fi
  decoder_pid=""
  echo "== decoder shut down (exit status $status)"
fi

kill -TERM "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
sim_pid=""
sleep 0.2  # let tail print the simulator's last line
kill "$tail_pid" 2>/dev/null || true
wait "$tail_pid" 2>/dev/null || true
tail_pid=""

echo "== archive in $workdir/Telemetry"
if [ -d "$workdir/Telemetry" ]; then
  (cd "$workdir" && find Telemetry -type f -printf '%10s  %p\n' | sort -k2)
  for log in "$workdir"/Telemetry/Decoded/*.txt; do
    [ -e "$log" ] || { echo "(no BeaconTextLog: no beacon was decoded)"; break; }
    echo "== BeaconTextLog $(basename "$log")"
    tr -d '\r' <"$log" | expand -t 10
  done
else
  echo "(nothing archived)"
fi
exit "$status"
