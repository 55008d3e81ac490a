#!/usr/bin/env bash
# The SatNOGS DB decoder (packaging/satnogs/kestrel.ksy) against the program's
# own: compiled to Python with the Kaitai Struct compiler from npm (run with
# Node, installed into build-ksy/), it parses generated beacons in both
# forms the stations forward, with Debian's python3-kaitaistruct, and every
# :field of its top doc must equal the CSV column of kestrel-redecode of the
# same name. A value they disagree on fails the stage, naming the field.
#
# KESTREL_KSY_BEACONS: how many beacons (default 4000).
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh

need_packages "${NATIVE_PACKAGES[@]}" python3 python3-kaitaistruct
# Node and npm from Debian unless the machine has them already.
command -v node >/dev/null && command -v npm >/dev/null || need_packages nodejs npm

cmake --preset default >/dev/null
cmake --build build -j"$(jobs)" --target kestrel-redecode ksy_beacons

# The compiler whose output Debian's runtime (0.10) reads, and a YAML reader
# for it; kept between runs.
out=build-ksy
compiler=$out/node_modules/kaitai-struct-compiler/package.json
if ! grep -q '"version": "0.10.0"' "$compiler" 2>/dev/null || [ ! -d "$out/node_modules/js-yaml" ]; then
  npm install --prefix "$out" --no-audit --no-fund --no-save --silent kaitai-struct-compiler@0.10.0 js-yaml@4.1.0
fi
rm -rf "$out/python"
node scripts/ksy/compile.js "$out/node_modules" packaging/satnogs/kestrel.ksy python "$out/python"

build/tests/ksy_beacons "${KESTREL_KSY_BEACONS:-4000}" "$out/beacons.csv"
build/kestrel-redecode --quiet --csv "$out/decoded.csv" "$out/beacons.csv"
/usr/bin/python3 tests/ksy/check_ksy.py "$out/python" "$out/beacons.csv" "$out/decoded.csv"
