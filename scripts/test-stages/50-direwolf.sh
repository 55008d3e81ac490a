#!/usr/bin/env bash
# Beacons through a real software TNC: Debian's gen_packets makes AX.25 audio
# of them, direwolf decodes it and hands the packets out on its KISS TCP port,
# where the program's KISS line, deframer and frame finder, and the program
# itself connected to that port, must find every beacon byte for byte
# (build/tests/kiss_direwolf_check).
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh

need_packages direwolf

cmake --preset default >/dev/null
cmake --build build -j"$(jobs)" --target kiss_direwolf_check
out=$(build/tests/kiss_direwolf_check "${KESTREL_DIREWOLF_BEACONS:-20}")
printf '%s\n' "$out"
# Installed above, so a skip here is a failure.
! grep -q '^SKIP' <<<"$out"
