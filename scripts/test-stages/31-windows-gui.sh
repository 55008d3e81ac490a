#!/usr/bin/env bash
# The Windows program itself (build-win64/kestrel-decoder.exe) under Wine on a
# virtual display (Xvfb), its COM7 a pseudo-terminal whose other end the test
# driver holds: received bytes reach the archive, keys and shortcuts reach the
# line, the setup dialog, the start-up message, closing with WM_CLOSE; the
# receive pane against the edit control it replaced; kestrel-redecode.exe
# fetching SatNOGS DB's pages through WinHTTP from the test server; the
# installers (scripts/package-windows.sh): an older build's installed
# silently, the program started from its Start-menu shortcut archiving a
# beacon in Documents\KESTREL, this build's installed over it while it runs,
# README-windows.txt's spreadsheet command, and the uninstaller while the
# program runs again. Then a short receive-rate run at 256000 baud. Exits
# non-zero when anything fails.
#
# KESTREL_WINE_SKIP_BUILD=1 reuses the builds; KESTREL_WINE_BENCH_SECONDS=N
# sets the rate runs' length (default 15; 0 skips them), KESTREL_WINE_BENCH_RUNS
# their count (default 3, the median is printed), KESTREL_WINE_BENCH_RATE their
# pace in bytes/s (default 25600; 960 comes as a byte or two per write, a
# 9600 baud line), KESTREL_WINE_BENCH_EARLIER=N puts N RawFrameFiles of
# earlier runs into raw_data first (what a grown archive costs),
# KESTREL_WINE_BENCH_MAX=1 adds
# runs as fast as the program takes the bytes, KESTREL_WINE_BENCH_ONLY=1 skips
# the window tests. Last, the load test: the same stream for
# KESTREL_WINE_LOAD_SECONDS (default 30; 0 skips it) with two busy loops
# beside the program, KESTREL_WINE_LOAD_RUNS times (default 1; the longer form
# is scripts/wine-load-test.sh): every byte must reach the RawByteLog and the
# program must report no loss.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh

need_packages "${NATIVE_PACKAGES[@]}" "${WINE_PACKAGES[@]}" xvfb xdotool imagemagick xclip nsis zip git
# A German Windows for the tests in folders named outside its code page.
need_locale de_DE.UTF-8
started=$(date +%s)

if [ -z "${KESTREL_WINE_SKIP_BUILD:-}" ]; then
  echo "== windows program (build-win64/) and its native drivers (build/)"
  cmake --preset mingw >/dev/null
  cmake --build build-win64 -j"$(jobs)" --target kestrel-decoder kestrel-redecode kestrel-trends win32_pane_tests win32_probe
  cmake --preset default >/dev/null
  cmake --build build -j"$(jobs)" --target wine_window_tests bench_receive_rate_wine kestrel-tnc-sim kestrel-decoder
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
# A home of its own: the prefix's Documents may be linked to the home folder,
# and the installer test's station folder must not land in the real one.
mkdir -p "$work/home"
export HOME="$work/home"
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

  echo "== the installer: an older build, this one over it and the uninstaller, each while the decoder runs"
  installer_started=$SECONDS
  # The older build first (the build number one lower), so that dist/ and
  # build-win64/ hold this one afterwards.
  build_number=$(git rev-list --count HEAD)
  older_setup=$(KESTREL_BUILD_NUMBER=$((build_number - 1)) bash scripts/package-windows.sh | grep -- "-setup.exe$")
  mv "$older_setup" "$work/"
  older_setup="$work/$(basename "$older_setup")"
  setup=$(bash scripts/package-windows.sh | grep -- "-setup.exe$")
  programs="$WINEPREFIX/drive_c/Program Files/KESTREL Telemetry Decoder"
  # installed_version: what the installed exe's --version says (into a file:
  # without one it shows a box).
  installed_version() {
    (cd "$work" && wine "$programs/kestrel-decoder.exe" --version >version.txt 2>/dev/null) || true
    tr -d '\r' <"$work/version.txt" | sed -n '1s/^kestrel-decoder //p'
  }
  # start_from_menu: as Explorer opens the shortcut (its target, arguments and
  # "Start in"), with the simulated TNC on COM8 until a beacon more is archived.
  archived() { { find "$station/Telemetry/raw_data" -type f 2>/dev/null || true; } | wc -l; }
  start_from_menu() {
    local before sim
    before=$(archived)
    LD_PRELOAD="$work/modemshim.so" wine start "$(winepath -w "$shortcut")"
    build/kestrel-tnc-sim --device "$work/com8" --no-wait --interval 0.5 --quiet >"$work/installed-sim.log" 2>&1 &
    sim=$!
    for _ in $(seq 150); do
      [ "$(archived)" -gt "$before" ] && break
      sleep 0.2
    done
    kill "$sim"
    wait "$sim" 2>/dev/null || true
    [ "$(archived)" -gt "$before" ] || {
      cat "$work/installed-sim.log" "$station/kestrel-decoder.log" 2>/dev/null
      echo "FAILED: nothing archived from the Start-menu start"
      exit 1
    }
  }
  # decoder_running: an installed decoder of this prefix runs (others may run
  # in other prefixes meanwhile).
  decoder_running() {
    local p
    for p in $(pgrep -f 'Telemetry Decoder.kestrel-decoder\.exe'); do
      tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
    done
    return 1
  }
  # decoder_ended: the process gone within 10 s (its exe was free before).
  decoder_ended() {
    for _ in $(seq 50); do decoder_running || return 0; sleep 0.2; done
    return 1
  }

  # A German Windows whose Documents folder is named outside its code page,
  # as a user's named in another script is: the installers, the shortcut's
  # starts and the programs must all work there.
  export LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8
  documents='C:\Dokumente 空 Документы Έγγραφα'
  for key in 'User Shell Folders' 'Shell Folders'; do
    wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\'"$key" /v Personal /t REG_SZ \
      /d "$documents" /f >/dev/null
  done
  mkdir -p "$(winepath -u "$documents")"  # a user's Documents folder is there

  wine "$older_setup" /S
  for f in kestrel-decoder.exe kestrel-redecode.exe kestrel-trends.exe README-windows.txt LICENSE.txt copyright.txt \
    satnogs/kestrel.ksy Uninstall.exe; do
    [ -f "$programs/$f" ] || { ls -la "$programs" || true; echo "FAILED: the installer did not install $f"; exit 1; }
  done
  older_version=$(installed_version)
  # Every file README-windows.txt says the folder holds is there.
  tr -d '\r' <"$programs/README-windows.txt" | sed -n '/^What is in this folder/,/^$/p' | awk '/^  [^ ]/ { print $1 }' |
    while read -r f; do
      [ -f "$programs/${f//\\//}" ] || { echo "FAILED: README-windows.txt names $f, which is not installed"; exit 1; }
    done
  shortcut=$(find "$WINEPREFIX/drive_c/users" -name 'KESTREL Telemetry Decoder.lnk' | head -n 1)
  [ -n "$shortcut" ] || { echo "FAILED: no Start-menu shortcut"; exit 1; }
  station="$(winepath -u "$documents")/KESTREL"
  [ -d "$station" ] || { ls "$(dirname "$station")"; echo "FAILED: no $documents\\KESTREL"; exit 1; }
  printf '; my station\r\n[CPort]\r\nPort=COM7\r\n[Share]\r\nCallsign=DL1ABC\r\n' >"$station/RS232Settings.ini"
  start_from_menu
  decoder_running || { echo "FAILED: the decoder is not running"; exit 1; }

  # This build over the older one while the decoder runs: the installer closes
  # it as its close box would (the settings stored) and replaces the programs.
  status=0
  wine "$setup" /S || status=$?
  [ "$status" = 0 ] || { echo "FAILED: the installer over the running decoder ended with $status"; exit 1; }
  decoder_ended || { echo "FAILED: the decoder still runs"; exit 1; }
  version=$(installed_version)
  echo "installed $older_version, then $version over it while the decoder ran"
  [ -n "$older_version" ] && [ "$version" != "$older_version" ] &&
    [ "$version" = "$(sed -n 's/^#define KESTREL_PACKAGE_VERSION "\(.*\)"$/\1/p' build-win64/generated/BuildVersion.h)" ] ||
    { echo "FAILED: the programs were not replaced ($older_version, then $version)"; exit 1; }
  grep -q FlowControl "$station/RS232Settings.ini" || { echo "FAILED: the settings were not stored"; exit 1; }
  grep -q '^; my station' "$station/RS232Settings.ini" && grep -q '^Callsign=DL1ABC' "$station/RS232Settings.ini" ||
    { cat "$station/RS232Settings.ini"; echo "FAILED: the settings file lost the operator's lines"; exit 1; }
  [ -s "$station/kestrel-decoder.log" ] || { echo "FAILED: no station log"; exit 1; }
  grep -qF "started in $documents\\KESTREL" "$station/kestrel-decoder.log" ||
    { cat "$station/kestrel-decoder.log"; echo "FAILED: the station log does not name its folder in UTF-8"; exit 1; }
  [ ! -e "$programs/Telemetry" ] || { echo "FAILED: archived in Program Files"; exit 1; }

  # README-windows.txt's spreadsheet command as typed in a Command Prompt in
  # the station folder: in the KESTREL Command Prompt (the shortcut's PATH),
  # and in any other with the quoted full path.
  ls "$(dirname "$shortcut")/KESTREL Command Prompt.lnk" >/dev/null || { echo "FAILED: no Command Prompt shortcut"; exit 1; }
  csv='--csv beaconsNN.csv Telemetry\Decoded\KR7_beacon_*.txt'
  printf '%s\r\n' '@echo off' \
    "cmd /c \"set \"PATH=C:\\Program Files\\KESTREL Telemetry Decoder;%PATH%\" && kestrel-redecode.exe ${csv//NN/1}\"" \
    "\"C:\\Program Files\\KESTREL Telemetry Decoder\\kestrel-redecode.exe\" ${csv//NN/2}" >"$station/commands.bat"
  (cd "$station" && wine cmd /c commands.bat >"$work/csv.log" 2>&1) ||
    { cat "$work/csv.log"; echo "FAILED: README-windows.txt's spreadsheet command"; exit 1; }
  [ "$(wc -l <"$station/beacons1.csv")" -gt 1 ] && cmp -s "$station/beacons1.csv" "$station/beacons2.csv" ||
    { cat "$work/csv.log"; echo "FAILED: the spreadsheet command wrote no beacons"; exit 1; }
  rm "$station/commands.bat" "$station/beacons1.csv" "$station/beacons2.csv"

  # The uninstaller while the decoder runs: closed first, then everything of
  # the installer's goes and the station stays.
  start_from_menu
  wine "$programs/Uninstall.exe" /S
  # The uninstaller runs from a copy of itself and returns at once.
  for _ in $(seq 150); do [ -e "$programs" ] || break; sleep 0.2; done
  [ ! -e "$programs" ] || { ls -la "$programs"; echo "FAILED: left in Program Files"; exit 1; }
  decoder_ended || { echo "FAILED: the decoder still runs"; exit 1; }
  [ ! -e "$shortcut" ] || { echo "FAILED: the shortcut stayed"; exit 1; }
  [ "$(find "$station/Telemetry/raw_log" -name '*.KR7' | wc -l)" -ge 2 ] && [ -f "$station/RS232Settings.ini" ] ||
    { echo "FAILED: the uninstaller touched the station folder"; exit 1; }
  unset LANG LC_ALL
  echo "== the installer passed in $((SECONDS - installer_started)) s"
fi

seconds=${KESTREL_WINE_BENCH_SECONDS:-15}
runs=${KESTREL_WINE_BENCH_RUNS:-3}
if [ "$seconds" != 0 ]; then
  rate=${KESTREL_WINE_BENCH_RATE:-25600}
  echo "== receive rate under wine, $rate bytes/s for $seconds s, $runs runs"
  build/bench_receive_rate_wine --rate "$rate" --seconds "$seconds" --runs "$runs" \
    --earlier "${KESTREL_WINE_BENCH_EARLIER:-0}"
  if [ -n "${KESTREL_WINE_BENCH_MAX:-}" ]; then
    echo "== receive rate under wine, as fast as taken"
    build/bench_receive_rate_wine --max --seconds "$seconds" --runs "$runs"
  fi
fi
load_seconds=${KESTREL_WINE_LOAD_SECONDS:-30}
if [ "$load_seconds" != 0 ]; then
  load_runs=${KESTREL_WINE_LOAD_RUNS:-1}
  echo "== receive under load: 25600 bytes/s for $load_seconds s beside two busy loops, $load_runs runs"
  busy=()
  for _ in 1 2; do
    bash -c 'while :; do :; done' &
    busy+=($!)
  done
  wine_on_exit "kill ${busy[*]} 2>/dev/null"
  status=0
  build/bench_receive_rate_wine --rate 25600 --seconds "$load_seconds" --runs "$load_runs" --under-load || status=$?
  kill "${busy[@]}" 2>/dev/null || true
  [ "$status" = 0 ] || exit "$status"
fi
echo "== windows GUI stage passed in $(( $(date +%s) - started )) s"
