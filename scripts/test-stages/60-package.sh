#!/usr/bin/env bash
# The Debian package as a user gets it, and an update of it: an older build
# (the build number one lower) is installed with apt first and started as a
# new user starts it: the desktop entry's Exec, run under Xvfb from / with a
# fresh home, makes ~/KESTREL. Then this build's package
# (scripts/package-debian.sh), in which lintian must find no error, is
# installed over it with the same apt command: the programs must be the new
# ones, the station as it was. The installed desktop entry and AppStream file
# must pass desktop-file-validate and appstreamcli validate; every link and
# picture of the installed documentation must lead somewhere; the installed
# programs answer --version and --help. Started again on the installed
# simulator's line, the program archives beacons in the same station and
# ends with exit code 0 on SIGTERM; a settings file that cannot be stored at
# that shut-down is written down in the station log. A package that was not
# installed before the stage is removed again at its end.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh

need_packages desktop-file-utils appstream lintian xvfb python3 git
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
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

# The older build first, so that dist/ holds this one afterwards.
build_number=$(git rev-list --count HEAD)
echo "== the older package (build number $((build_number - 1)))"
older=$(KESTREL_BUILD_NUMBER=$((build_number - 1)) bash scripts/package-debian.sh | tail -n 1)
mv "$older" "$work/"
older="$work/$(basename "$older")"
echo "== this build's package"
deb=$(bash scripts/package-debian.sh | tail -n 1)
version=$(dpkg-deb -f "$deb" Version)
older_version=$(dpkg-deb -f "$older" Version)
dpkg --compare-versions "$version" gt "$older_version" ||
  { echo "$version does not count higher than $older_version"; exit 1; }
app_id=org.example.kestrel.Decoder

echo "== contents of $(basename "$deb")"
dpkg-deb -c "$deb" | awk '{ print $3, $6 }'
echo "== lintian"
# Warnings and notes are printed; only errors fail the stage.
lintian --fail-on error "$deb"


# apt_install DEB: as the README says, the dependencies coming along; waits
# while another apt or dpkg holds the lock.
apt_get() { DEBIAN_FRONTEND=noninteractive $sudo apt-get -y -q -o DPkg::Lock::Timeout=300 "$@"; }
apt_install() { apt_get install --no-install-recommends "$1" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; exit 1; }; }
# installed_version: the version the installed kestrel-decoder says.
installed_version() { kestrel-decoder --version | sed -n '1s/^kestrel-decoder //p'; }

echo "== installing the older package ($older_version)"
if [[ "$installed_before" == *"install ok installed"* ]]; then
  echo "(the installed kestrel-decoder $(dpkg-query -W -f='${Version}' kestrel-decoder) is removed first;" \
    "this build stays installed)"
  apt_get remove kestrel-decoder >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; exit 1; }
fi
apt_install "$older"
[ "$(installed_version)" = "$older_version" ] || { echo "the older package says '$(installed_version)'"; exit 1; }

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
# The station as the older build left it, with a setting of the operator's.
printf '[Share]\r\nCallsign=DL1ABC\r\n' >>"$station/RS232Settings.ini"
(cd "$station" && find . -type f | sort | xargs sha256sum) >"$work/station-before"

echo "== this build's package over it ($version)"
old_programs=$(sha256sum /usr/bin/kestrel-decoder /usr/bin/kestrel-redecode)
apt_install "$deb"
[ "$(installed_version)" = "$version" ] || { echo "after the update kestrel-decoder says '$(installed_version)'"; exit 1; }
[ "$(dpkg-query -W -f='${Version}' kestrel-decoder)" = "$version" ] || { echo "dpkg lists another version"; exit 1; }
[ "$(sha256sum /usr/bin/kestrel-decoder /usr/bin/kestrel-redecode)" != "$old_programs" ] ||
  { echo "the programs were not replaced"; exit 1; }
(cd "$station" && find . -type f | sort | xargs sha256sum) | diff "$work/station-before" - ||
  { echo "the update changed the station"; exit 1; }
echo "updated from $older_version to $version; the station is as it was"
[ "$(command -v kestrel-decoder)" = /usr/bin/kestrel-decoder ] || { echo "kestrel-decoder is not in /usr/bin"; exit 1; }

echo "== desktop-file-validate"
desktop-file-validate /usr/share/applications/$app_id.desktop
echo "== appstreamcli validate --no-net"
appstreamcli validate --no-net /usr/share/metainfo/$app_id.metainfo.xml
[ -s /usr/share/icons/hicolor/scalable/apps/$app_id.svg ] || { echo "no icon installed"; exit 1; }
zcat /usr/share/man/man1/kestrel-decoder.1.gz | grep -q dialout || { echo "the man page does not name dialout"; exit 1; }
cmp packaging/satnogs/kestrel.ksy /usr/share/kestrel-decoder/satnogs/kestrel.ksy ||
  { echo "the SatNOGS DB decoder description is not installed as it is in the sources"; exit 1; }
echo "== the installed documentation's links"
python3 scripts/check-doc-links.py /usr/share/doc/kestrel-decoder
for page in /usr/share/man/man1/kestrel-*.1.gz; do
  for doc in $(zcat "$page" | grep -o '/usr/share/doc/kestrel-decoder/[^ ,]*'); do
    [ -f "$doc" ] || { echo "$page names $doc, which is not installed"; exit 1; }
  done
done

echo "== the installed programs"
mkdir "$work/empty"
(cd "$work/empty" && kestrel-decoder --version && kestrel-decoder --help >/dev/null) | tee "$work/version"
[ -z "$(ls -A "$work/empty")" ] || { echo "--version or --help left files: $(ls -A "$work/empty")"; exit 1; }
kestrel-redecode --help | sed -n 1p
kestrel-tnc-sim --version | sed -n 1p
kestrel-trends --version | sed -n 1p

echo "== started from the menu again, on the simulated TNC"
kestrel-tnc-sim --write-ini "$station" --interval 0.5 --quiet >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^settings: ' "$work/sim.log" && break; sleep 0.1; done
grep -q '^Callsign=DL1ABC' "$station/RS232Settings.ini" || { echo "kestrel-tnc-sim lost [Share]"; exit 1; }
# The settings file made a folder while the program runs: storing it at the
# shut-down must fail, and say so in the station log.
menu_start "${KESTREL_PACKAGE_RUN_SECONDS:-5}" 'rm "$station/RS232Settings.ini" && mkdir "$station/RS232Settings.ini"'
cat "$work/decoder.log"
beacons=$(find "$station/Telemetry/raw_data" -type f 2>/dev/null | wc -l)
echo "decoded and archived in $station: $beacons beacons"
[ "$beacons" -gt 0 ] || { echo "no beacon archived"; exit 1; }
[ "$(find "$station/Telemetry/raw_log" -name '*.KR7' | wc -l)" -ge 2 ] || { echo "the first run's log is gone"; exit 1; }
grep 'failed at shut-down' "$station/kestrel-decoder.log" ||
  { cat "$station/kestrel-decoder.log"; echo "the shut-down failure is not in the station log"; exit 1; }
echo "== package stage passed"
