#!/usr/bin/env bash
# Renders the icon's bitmaps from the SVG: the PNGs the Qt window carries and
# the Windows exe's .ico. Run after changing the SVG and commit the results
# (the builds do not need an SVG renderer).
set -euo pipefail
cd "$(dirname "$0")"
svg=../org.example.kestrel.Decoder.svg
sizes=(16 32 48 256)
for s in "${sizes[@]}"; do
  rsvg-convert -w "$s" -h "$s" "$svg" -o "kestrel-decoder-$s.png"
done
convert $(printf 'kestrel-decoder-%s.png ' "${sizes[@]}") ../../src/win32/kestrel-decoder.ico
