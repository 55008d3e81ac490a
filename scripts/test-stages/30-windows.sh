#!/usr/bin/env bash
# The Windows build of the core and its tests (mingw-w64), run under Wine with
# COM ports that Wine maps to pseudo-terminals. Exits non-zero when the build
# or any test fails.
#
# (scripts/lib-wine.sh: COM7 <-> COM8 and COM10 <-> COM2 are pty pairs).
#
# KESTREL_WINE_SKIP_BUILD=1 reuses an existing build-win64/.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh

need_packages "${WINE_PACKAGES[@]}"

if [ -z "${KESTREL_WINE_SKIP_BUILD:-}" ]; then
  echo "== windows build (build-win64/)"
  cmake --preset mingw $(unity_option)
  cmake --build build-win64 -j"$(jobs)"
fi

# Headless.
unset DISPLAY WAYLAND_DISPLAY
. scripts/lib-wine.sh
wine_setup

export KESTREL_TEST_COM_PORT=COM7 KESTREL_TEST_COM_PEER=COM8
export KESTREL_TEST_SERIALCOMM="$serialcomm"
echo "== windows tests under wine"
LD_PRELOAD="$work/modemshim.so" ctest --test-dir build-win64 --output-on-failure -j"$(jobs)"

# The short flake hunt (scripts/flake-hunt.sh is the long one): the outbox's
# and its forwarder's cases, whose thread once outlived Stop holding the
# outbox open, twenty times over. A case that passes only sometimes fails here.
echo "== the outbox and forwarding cases under wine, 20 times over"
wine build-win64/tests/share_tests.exe --gtest_repeat=20 \
  --gtest_filter='HttpTransport.*:Outbox.*:-HttpTransport.Trickling*:HttpTransport.TheProxyOfTheWindowsSettings' 2>&1 |
  tr -d '\r' >"$work/hunt.log" || true
if [ "$(grep -c '^\[  PASSED  \]' "$work/hunt.log")" != 20 ] || grep -q '^\[  FAILED  \]' "$work/hunt.log"; then
  grep -B 20 -A 5 '^\[  FAILED  \]' "$work/hunt.log" | head -n 120
  echo "FAILED: the outbox and forwarding cases under wine, 20 times over"
  exit 1
fi
grep '^\[==========\]' "$work/hunt.log" | tail -n 1

# extra_pass FILTER [EXE]: one case of the Windows-only tests (or of EXE) that
# needs a machine changed for it, run outside ctest; it must run and pass.
extra_pass() {
  wine "build-win64/tests/${2:-win32_platform_tests}.exe" --gtest_filter="$1" 2>&1 | tr -d '\r' | tee "$work/pass.log"
  grep -q '^\[  PASSED  \] 1 test' "$work/pass.log"
}
# The user's proxy settings (HKCU) set to the test's and back.
echo "== WinHTTP through the proxy of the Windows settings"
KESTREL_TEST_SET_PROXY=1 extra_pass 'HttpTransport.TheProxyOfTheWindowsSettings' share_tests
# Without the shim: a port whose device has no modem lines.
echo "== windows port without modem lines"
KESTREL_TEST_NO_MODEM_LINES=1 extra_pass 'ComPortWin32Test.WithoutModemLines*'
# Last, as the map stays gone until the next server start.
echo "== port list without the registry's serial-port map"
wine reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /f >/dev/null
KESTREL_TEST_NO_SERIALCOMM=1 extra_pass 'PortListWin32.WithoutTheSerialPortMap*'
