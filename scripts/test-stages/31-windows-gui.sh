#!/usr/bin/env bash
# The Windows program itself (build-win64/kestrel-decoder.exe) under Wine on a
# virtual display (Xvfb), its COM7 a pseudo-terminal whose other end the test
# driver holds: received bytes reach the archive, keys and shortcuts reach the
# line, the setup dialog, the start-up message, closing with WM_CLOSE; the
# receive pane against the edit control it replaced. Then a
# short receive-rate run at 256000 baud. Exits non-zero when anything fails.
#
# KESTREL_WINE_SKIP_BUILD=1 reuses the builds; KESTREL_WINE_BENCH_SECONDS=N
# sets the rate runs' length (default 15; 0 skips them), KESTREL_WINE_BENCH_RUNS
# their count (default 3, the median is printed), KESTREL_WINE_BENCH_RATE their
# pace in bytes/s (default 25600; 960 comes as a byte or two per write, a
# 9600 baud line), KESTREL_WINE_BENCH_MAX=1 adds
# runs as fast as the program takes the bytes, KESTREL_WINE_BENCH_ONLY=1 skips
# the window tests.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh

need_packages "${NATIVE_PACKAGES[@]}" "${WINE_PACKAGES[@]}" xvfb xdotool imagemagick xclip
started=$(date +%s)

if [ -z "${KESTREL_WINE_SKIP_BUILD:-}" ]; then
  echo "== windows program (build-win64/) and its native drivers (build/)"
  cmake --preset mingw >/dev/null
  cmake --build build-win64 -j"$(jobs)" --target kestrel-decoder kestrel-trends win32_pane_tests
  cmake --preset default >/dev/null
  cmake --build build -j"$(jobs)" --target wine_window_tests bench_receive_rate_wine
fi

. scripts/lib-wine.sh
# A display of its own: the first free number, as Xvfb reports it.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wine_on_exit "kill $xvfb_pid 2>/dev/null; wait $xvfb_pid 2>/dev/null"
# The bench counts the X server's CPU apart.
export KESTREL_X_SERVER_PID=$xvfb_pid
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start:"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(cat "$work/display")"
unset WAYLAND_DISPLAY
wine_setup

export KESTREL_WIN_EXE="${KESTREL_WIN_EXE:-$PWD/build-win64/kestrel-decoder.exe}" KESTREL_COM_PEER_PATH="$work/com8" \
  KESTREL_MODEM_SHIM="$work/modemshim.so"
for exe in "$KESTREL_WIN_EXE" "$(dirname "$KESTREL_WIN_EXE")/kestrel-trends.exe"; do
  echo "== imports of $(basename "$exe")"
  imports=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ { print $3 }' | tr 'a-z' 'A-Z' | sort)
  echo "$imports" | paste -sd' '
  if echo "$imports" | grep -vqE '^(KERNEL32|USER32|GDI32|COMCTL32|COMDLG32|ADVAPI32|MSVCRT|SHELL32|OLE32|WS2_32|WINHTTP)\.DLL$'; then
    echo "FAILED: $(basename "$exe") imports a DLL that Windows does not ship"; exit 1
  fi
done

if [ -z "${KESTREL_WINE_BENCH_ONLY:-}" ]; then
  echo "== the receive pane against the edit control"
  wine build-win64/tests/win32_pane_tests.exe 2>&1 | tr -d '\r' | tee "$work/pane.log"
  if ! grep -q '^\[  PASSED  \]' "$work/pane.log" || grep -q '^\[  FAILED  \]' "$work/pane.log"; then
    echo "FAILED: the receive pane"; exit 1
  fi
  echo "== the window under wine (DISPLAY=$DISPLAY)"
  build/tests/wine_window_tests
fi

seconds=${KESTREL_WINE_BENCH_SECONDS:-15}
runs=${KESTREL_WINE_BENCH_RUNS:-3}
if [ "$seconds" != 0 ]; then
  rate=${KESTREL_WINE_BENCH_RATE:-25600}
  echo "== receive rate under wine, $rate bytes/s for $seconds s, $runs runs"
  build/bench_receive_rate_wine --rate "$rate" --seconds "$seconds" --runs "$runs"
  if [ -n "${KESTREL_WINE_BENCH_MAX:-}" ]; then
    echo "== receive rate under wine, as fast as taken"
    build/bench_receive_rate_wine --max --seconds "$seconds" --runs "$runs"
  fi
fi
echo "== windows GUI stage passed in $(( $(date +%s) - started )) s"
