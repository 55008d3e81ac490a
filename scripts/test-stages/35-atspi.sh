#!/usr/bin/env bash
# The Linux program as a screen reader sees it, through AT-SPI (at-spi2-core,
# python3-pyatspi) on a virtual display in a D-Bus session of its own: the
# receive panes are editable texts named as their headings whose text holds
# the bytes received, with the caret and selection a reader sets; received
# bytes are told at most once a tick; the setup dialog's lists are named by
# their labels; the trend window's plots are named with what they show
# (tests/a11y/check_atspi.py). The main window's accessible tree is written to
# build/atspi-main-window.txt. Exits non-zero when anything fails.
#
# KESTREL_ATSPI_SKIP_BUILD=1 reuses the build.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh

need_packages "${NATIVE_PACKAGES[@]}" xvfb dbus-daemon at-spi2-core python3-pyatspi python3-gi

if [ -z "${KESTREL_ATSPI_SKIP_BUILD:-}" ]; then
  cmake --preset default >/dev/null
  cmake --build build -j"$(jobs)" --target kestrel-decoder kestrel-trends kestrel-tnc-sim
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-atspi.XXXXXX")
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# A display of its own: the first free number, as Xvfb reports it.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start:"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(cat "$work/display")"
unset WAYLAND_DISPLAY
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# Debian's python3, which has the bindings (not one a user put first on PATH).
dbus-run-session -- /usr/bin/python3 tests/a11y/check_atspi.py --decoder build/kestrel-decoder \
  --sim build/kestrel-tnc-sim --trends build/kestrel-trends --dump build/atspi-main-window.txt
