#!/usr/bin/env bash
# The Windows build of the core and its tests (mingw-w64), run under Wine with
# COM ports that Wine maps to pseudo-terminals. Exits non-zero when the build
# or any test fails.
#
#   COM7  <-> COM8   the two ends of one pty pair: the port under test and
#                    the peer the tests talk to it through
#   COM10, COM2      a second pty pair, so the port list has names whose
#                    case-insensitive order differs from their numeric one
#
# KESTREL_WINE_SKIP_BUILD=1 reuses an existing build-win64/.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh

need_packages cmake make gcc libc6-dev googletest g++-mingw-w64-x86-64-posix wine wine64 socat

if [ -z "${KESTREL_WINE_SKIP_BUILD:-}" ]; then
  echo "== windows build (build-win64/)"
  cmake --preset mingw
  cmake --build build-win64 -j"$(jobs)"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-wine.XXXXXX")
socat_pids=()
cleanup() {
  local rc=$?
  set +e
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
  local p
  for p in "${socat_pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  rm -rf "$work"
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Headless, quiet, no Mono/Gecko installers.
unset DISPLAY WAYLAND_DISPLAY
export WINEDEBUG=-all WINEPREFIX="$work/prefix" WINEDLLOVERRIDES="mscoree,mshtml="

echo "== wine prefix ($WINEPREFIX)"
wineboot -i >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; exit 1; }
wineserver -w

pty_pair() {
  socat pty,raw,echo=0,link="$1" pty,raw,echo=0,link="$2" 2>"$work/socat.log" &
  socat_pids+=($!)
  local i
  for i in $(seq 100); do
    [ -e "$1" ] && [ -e "$2" ] && return 0
    kill -0 "${socat_pids[-1]}" 2>/dev/null || break
    sleep 0.1
  done
  echo "socat did not create $1 and $2:"; cat "$work/socat.log"; return 1
}
pty_pair "$work/com7" "$work/com8"
pty_pair "$work/com10" "$work/com2"

for port in COM7 COM8 COM10 COM2; do
  lower=$(echo "$port" | tr 'A-Z' 'a-z')
  wine reg add 'HKLM\Software\Wine\Ports' /v "$port" /t REG_SZ /d "$work/$lower" /f >/dev/null
done
# The mapping takes effect when the server starts again; keep it running
# afterwards so that each test process starts in a fraction of a second.
wineserver -w
wineserver -p

# What the registry port list must show, read with Wine's own reg tool.
serialcomm=$(wine reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' 2>/dev/null | tr -d '\r' |
  awk '$2 == "REG_SZ" { print $3 }' | paste -sd';')
echo "== SERIALCOMM: $serialcomm"

echo "== modem-line shim"
gcc -shared -fPIC -O2 -o "$work/modemshim.so" tests/wine/modemshim.c -ldl

export KESTREL_TEST_COM_PORT=COM7 KESTREL_TEST_COM_PEER=COM8
export KESTREL_TEST_SERIALCOMM="$serialcomm"
echo "== windows tests under wine"
LD_PRELOAD="$work/modemshim.so" ctest --test-dir build-win64 --output-on-failure -j"$(jobs)"

# Once more without the shim, for a port whose device has no modem lines.
echo "== windows port without modem lines"
KESTREL_TEST_NO_MODEM_LINES=1 wine build-win64/tests/win32_platform_tests.exe \
  --gtest_filter='ComPortWin32Test.WithoutModemLines*' 2>&1 | tr -d '\r' | tee "$work/nomodem.log"
grep -q '^\[  PASSED  \] 1 test' "$work/nomodem.log"
