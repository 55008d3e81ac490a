#!/usr/bin/env bash
# The SatNOGS DB decoder (packaging/satnogs/kestrel.ksy) as SatNOGS takes it:
#  - linted as the decoders collection's CI lints it (yamllint -s, its rules in
#    tests/ksy/yamllint.yaml) and compiled with the Kaitai Struct compilers it
#    builds with, 0.9 and 0.10 from npm (run with Node, kept in build-ksy/);
#  - against the program's own decoder: generated beacons with edge values in
#    both forms the stations forward, parsed with Debian's python3-kaitaistruct;
#    every :field of its top doc must equal kestrel-redecode's CSV column of the
#    same name (a disagreement fails the stage, naming the field and frame);
#  - into SatNOGS DB's dashboard: every frame written as SatNOGS DB writes it
#    (python3-influxdb) to a real InfluxDB (Debian's influxd, started on
#    loopback ports with a folder of its own); a refused point fails the
#    stage, naming the frame and the field, and every value must read back.
#
# KESTREL_KSY_BEACONS: how many beacons (default 4000).
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh
SECONDS=0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if ! dpkg-query -W -f='${Status}' influxdb 2>/dev/null | grep -q "install ok installed"; then
  need_packages influxdb
  # Only its server program is wanted (started below on ports of its own), not
  # the system service the package starts.
  if command -v systemctl >/dev/null && systemctl is-active --quiet influxdb 2>/dev/null; then
    $sudo systemctl disable --now influxdb
  fi
fi
need_packages "${NATIVE_PACKAGES[@]}" python3 python3-kaitaistruct python3-influxdb yamllint
# Node and npm from Debian unless the machine has them already.
command -v node >/dev/null && command -v npm >/dev/null || need_packages nodejs npm

ksy=packaging/satnogs/kestrel.ksy
yamllint -s -c tests/ksy/yamllint.yaml "$ksy"

cmake --preset default >/dev/null
cmake --build build -j"$(jobs)" --target kestrel-redecode ksy_beacons

# Each compiler with a YAML reader for it, in a folder of its own; kept between runs.
out=build-ksy
for version in 0.9.0 0.10.0; do
  modules=$out/$version/node_modules
  if ! grep -q "\"version\": \"$version\"" "$modules/kaitai-struct-compiler/package.json" 2>/dev/null ||
    [ ! -d "$modules/js-yaml" ]; then
    npm install --prefix "$out/$version" --no-audit --no-fund --no-save --silent \
      "kaitai-struct-compiler@$version" js-yaml@4.1.0
  fi
  rm -rf "$out/python-$version"
  node scripts/ksy/compile.js "$modules" "$ksy" python "$out/python-$version"
done

build/tests/ksy_beacons "${KESTREL_KSY_BEACONS:-4000}" "$out/beacons.csv"
build/kestrel-redecode --quiet --csv "$out/decoded.csv" "$out/beacons.csv"
# SatNOGS DB runs what either compiler made (with Debian's runtime, 0.10, here).
for version in 0.9.0 0.10.0; do
  /usr/bin/python3 tests/ksy/check_ksy.py "$out/python-$version" "$out/beacons.csv" "$out/decoded.csv"
done
/usr/bin/python3 tests/ksy/influx_ksy.py "$out/python-0.10.0" "$out/beacons.csv"
echo "45-ksy: ${SECONDS} s"
