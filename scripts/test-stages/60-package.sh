#!/usr/bin/env bash
# The Debian package as a user gets it: scripts/package-debian.sh builds it;
# lintian must find no error in it; it is installed with apt (so that its
# dependencies come along); the installed desktop entry and AppStream file
# must pass desktop-file-validate and appstreamcli validate; the installed
# programs answer --version and --help, and kestrel-decoder runs offscreen on
# the installed simulator's line for a few seconds, archives beacons and ends
# with exit code 0 on SIGTERM. A package that was not installed before the
# stage is removed again at its end.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh

need_packages desktop-file-utils appstream lintian
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

echo "== the installed programs"
mkdir "$work/empty"
(cd "$work/empty" && kestrel-decoder --version && kestrel-decoder --help >/dev/null) | tee "$work/version"
head -n 1 "$work/version" | grep -qx "kestrel-decoder $version" || { echo "wrong version"; exit 1; }
[ -z "$(ls -A "$work/empty")" ] || { echo "--version or --help left files: $(ls -A "$work/empty")"; exit 1; }
kestrel-redecode --help | head -n 1
kestrel-tnc-sim --version | head -n 1
kestrel-trends --version | head -n 1

echo "== kestrel-decoder offscreen on the simulator's line"
station="$work/station"
mkdir -p "$station"
kestrel-tnc-sim --write-ini "$station" --interval 0.5 --quiet >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q 'FlowControl' "$station/RS232Settings.ini" 2>/dev/null && break; sleep 0.1; done
(cd "$station" && QT_QPA_PLATFORM=offscreen exec kestrel-decoder) >"$work/decoder.log" 2>&1 &
decoder=$!
pids+=("$decoder")
sleep "${KESTREL_PACKAGE_RUN_SECONDS:-5}"
kill -TERM "$decoder"
status=0
wait "$decoder" || status=$?
cat "$work/decoder.log"
[ "$status" -eq 0 ] || { echo "kestrel-decoder ended with $status"; exit 1; }
beacons=$(cat "$station"/Telemetry/Decoded/*.txt 2>/dev/null | wc -l)
echo "decoded and archived: $beacons beacons"
[ "$beacons" -gt 0 ] || { echo "no beacon archived"; exit 1; }
echo "== package stage passed"
