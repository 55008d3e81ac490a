# A throw-away Wine prefix whose COM ports are pseudo-terminals, for the
# Windows stages (sourced, not run). After wine_setup:
#
#   $work            scratch folder, removed on exit
#   $WINEPREFIX      the prefix, inside $work
#   COM7  <-> COM8   the two ends of one pty pair ($work/com7, $work/com8): the
#                    port under test and the peer the tests talk to it through
#   COM10, COM2      a second pty pair, so the port list has names whose
#                    case-insensitive order differs from their numeric one
#   $serialcomm      the port names the registry's SERIALCOMM map shows
#
# The wine server keeps running, so each Windows process starts quickly.
# wine_on_exit CMD adds a command to the clean-up (run before the prefix goes).

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-wine.XXXXXX")
socat_pids=()
wine_exit_hooks=()
wine_cleanup() {
  local rc=$?
  set +e
  local h
  for h in "${wine_exit_hooks[@]}"; do eval "$h"; done
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
  local p
  for p in "${socat_pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  rm -rf "$work"
  exit $rc
}
trap wine_cleanup EXIT
trap 'exit 130' INT TERM
wine_on_exit() { wine_exit_hooks+=("$1"); }

# Quiet, no Mono/Gecko installers.
export WINEDEBUG=-all WINEPREFIX="$work/prefix" WINEDLLOVERRIDES="mscoree,mshtml="

pty_pair() {
  socat pty,raw,echo=0,link="$1" pty,raw,echo=0,link="$2" 2>"$work/socat.log" &
  socat_pids+=($!)
  local i
  for i in $(seq 100); do
    [ -e "$1" ] && [ -e "$2" ] && return 0
    kill -0 "${socat_pids[-1]}" 2>/dev/null || break
    sleep 0.1
  done
  echo "socat did not create $1 and $2:"; cat "$work/socat.log"; return 1
}

wine_setup() {
  echo "== wine prefix ($WINEPREFIX)"
  # Each step says when it fails: with WINEDEBUG=-all a failing wineboot may
  # print nothing at all.
  local status=0
  wineboot -i >"$work/wineboot.log" 2>&1 || status=$?
  [ "$status" = 0 ] || { cat "$work/wineboot.log"; echo "FAILED: wineboot -i ($status)"; exit 1; }
  wineserver -w || { echo "FAILED: wineserver -w after wineboot ($?)"; exit 1; }

  pty_pair "$work/com7" "$work/com8"
  pty_pair "$work/com10" "$work/com2"
  local port lower
  for port in COM7 COM8 COM10 COM2; do
    lower=$(echo "$port" | tr 'A-Z' 'a-z')
    wine reg add 'HKLM\Software\Wine\Ports' /v "$port" /t REG_SZ /d "$work/$lower" /f >/dev/null
  done
  # The mapping takes effect when the server starts again; keep it running
  # afterwards so that each test process starts in a fraction of a second.
  wineserver -w
  wineserver -p

  # What the registry port list must show, read with Wine's own reg tool.
  serialcomm=$(wine reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' 2>/dev/null | tr -d '\r' |
    awk '$2 == "REG_SZ" { print $3 }' | paste -sd';')
  echo "== SERIALCOMM: $serialcomm"

  echo "== modem-line shim"
  gcc -shared -fPIC -O2 -o "$work/modemshim.so" tests/wine/modemshim.c -ldl
}
