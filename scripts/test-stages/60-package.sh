#!/usr/bin/env bash
# The Debian package as a user gets it: scripts/package-debian.sh builds it;
# lintian must find no error in it; it is installed with apt (so that its
# dependencies come along); the installed desktop entry and AppStream file
# must pass desktop-file-validate and appstreamcli validate; the installed
# programs answer --version and --help. Then as a new user starts it: the
# desktop entry's Exec, run under Xvfb from / with a fresh home, makes
# ~/KESTREL; started again on the installed simulator's line it archives
# beacons there and ends with exit code 0 on SIGTERM; a settings file that
# cannot be stored at that shut-down is written down in the station log. A
# package that was not installed before the stage is removed again at its end.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh

need_packages desktop-file-utils appstream lintian xvfb
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

deb=$(bash scripts/package-debian.sh | tail -n 1)
version=$(dpkg-deb -f "$deb" Version)
app_id=org.example.kestrel.Decoder

echo "== contents of $(basename "$deb")"
dpkg-deb -c "$deb" | awk '{ print $3, $6 }'
echo "== lintian"
# Warnings and notes are printed; only errors fail the stage.
lintian --fail-on error "$deb"

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-package.XXXXXX")
pids=()
installed_before=$(dpkg-query -W -f='${Status}' kestrel-decoder 2>/dev/null || true)
cleanup() {
  local rc=$? p
  set +e
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  rm -rf "$work"
  if [[ "$installed_before" != *"install ok installed"* ]]; then
    $sudo dpkg -r kestrel-decoder >/dev/null 2>&1 || true
  fi
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "== installing the package"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; exit 1; }
[ "$(command -v kestrel-decoder)" = /usr/bin/kestrel-decoder ] || { echo "kestrel-decoder is not in /usr/bin"; exit 1; }

echo "== desktop-file-validate"
desktop-file-validate /usr/share/applications/$app_id.desktop
echo "== appstreamcli validate --no-net"
appstreamcli validate --no-net /usr/share/metainfo/$app_id.metainfo.xml
[ -s /usr/share/icons/hicolor/scalable/apps/$app_id.svg ] || { echo "no icon installed"; exit 1; }
zcat /usr/share/man/man1/kestrel-decoder.1.gz | grep -q dialout || { echo "the man page does not name dialout"; exit 1; }
cmp packaging/satnogs/kestrel.ksy /usr/share/kestrel-decoder/satnogs/kestrel.ksy ||
  { echo "the SatNOGS DB decoder description is not installed as it is in the sources"; exit 1; }

echo "== the installed programs"
mkdir "$work/empty"
(cd "$work/empty" && kestrel-decoder --version && kestrel-decoder --help >/dev/null) | tee "$work/version"
head -n 1 "$work/version" | grep -qx "kestrel-decoder $version" || { echo "wrong version"; exit 1; }
[ -z "$(ls -A "$work/empty")" ] || { echo "--version or --help left files: $(ls -A "$work/empty")"; exit 1; }
kestrel-redecode --help | sed -n 1p
kestrel-tnc-sim --version | sed -n 1p
kestrel-trends --version | sed -n 1p

echo "== the menu entry, as a new user starts it (Xvfb, from /, a fresh home)"
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/$app_id.desktop)
home="$work/home"
station="$home/KESTREL"
mkdir -p "$home"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { cat "$work/xvfb.log"; echo "Xvfb did not start"; exit 1; }
# menu_start SECONDS [BEFORE_TERM]: starts the entry's command as a launcher
# does, runs BEFORE_TERM after SECONDS, then ends it with SIGTERM.
menu_start() {
  (cd / && HOME="$home" DISPLAY=":$(cat "$work/display")" exec sh -c "exec $exec_line") >>"$work/decoder.log" 2>&1 &
  local decoder=$! status=0
  pids+=("$decoder")
  sleep "$1"
  [ -z "${2:-}" ] || eval "$2"
  kill -TERM "$decoder"
  wait "$decoder" || status=$?
  [ "$status" -eq 0 ] || { cat "$work/decoder.log"; echo "kestrel-decoder ended with $status"; exit 1; }
}
menu_start 3
[ -d "$station/Telemetry" ] || { cat "$work/decoder.log"; echo "no $station/Telemetry after the first start"; exit 1; }
[ ! -e /Telemetry ] || { echo "the menu start archived in /"; exit 1; }
kestrel-tnc-sim --write-ini "$station" --interval 0.5 --quiet >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q 'FlowControl' "$station/RS232Settings.ini" 2>/dev/null && break; sleep 0.1; done
# The settings file made a folder while the program runs: storing it at the
# shut-down must fail, and say so in the station log.
menu_start "${KESTREL_PACKAGE_RUN_SECONDS:-5}" 'rm "$station/RS232Settings.ini" && mkdir "$station/RS232Settings.ini"'
cat "$work/decoder.log"
beacons=$(find "$station/Telemetry/raw_data" -type f 2>/dev/null | wc -l)
echo "decoded and archived in $station: $beacons beacons"
[ "$beacons" -gt 0 ] || { echo "no beacon archived"; exit 1; }
grep 'failed at shut-down' "$station/kestrel-decoder.log" ||
  { cat "$station/kestrel-decoder.log"; echo "the shut-down failure is not in the station log"; exit 1; }
echo "== package stage passed"
