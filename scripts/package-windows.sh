#!/usr/bin/env bash
# Builds the Windows program (mingw-w64, build-win64/) and packs it with a short
# guide into dist/kestrel-decoder-<version>-win64.zip.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

need_packages cmake make g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 zip

cmake --preset mingw >/dev/null
cmake --build build-win64 -j"$(jobs)" --target kestrel-decoder
version=$(sed -n 's/^#define KESTREL_VERSION_TEXT "\(.*\)"$/\1/p' build-win64/generated/Version.h)
[ -n "$version" ] || { echo "no version in build-win64/generated/Version.h"; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
dir="$stage/kestrel-decoder-$version"
mkdir -p "$dir"
cp build-win64/kestrel-decoder.exe "$dir/"
x86_64-w64-mingw32-strip "$dir/kestrel-decoder.exe"
sed 's/$/\r/' >"$dir/README-windows.txt" <<TEXT
KESTREL telemetry decoder $version for Windows (64-bit)
========================================================

kestrel-decoder.exe is the whole program; it needs no installation and no
other files. Copy it anywhere.

1. Pick a folder for the station, for instance C:\Station. The program works
   in the folder it is started from (its working folder), not in the folder
   of the exe: start it from a shortcut whose "Start in" is that folder, or
   put the exe itself there and double-click it.
2. Put a file RS232Settings.ini into that folder with the TNC's COM port:

       [CPort]
       Port=COM3
       BaudRate=9600
       StopBits=1
       DataBits=8
       Parity=None
       FlowControl=None

   Or start without it and pick the port with the Settings button; the
   program writes its settings to that file whenever it ends.
   "RS232 error. Check settings." means the port could not be opened.
3. The archive grows below the folder it was started from:

       Telemetry\raw_log\   every byte received in one run
       Telemetry\Decoded\   one line per decoded beacon
       Telemetry\raw_data\  the bytes of each decoded beacon

   Send the Telemetry folder as a whole to the address shown in the window.
4. With a software TNC (direwolf and the like) on its KISS TCP port, or a TNC
   in KISS mode on the COM port, add a section of its own:

       [Line]
       Source=KISS TCP
       Host=127.0.0.1
       TcpPort=8001

   (or Source=Serial KISS for the COM port). Over TCP the program connects
   by itself and again every 2 seconds when the TNC goes away.
5. To forward every decoded beacon to the team's server or the SatNOGS DB as
   it comes, add:

       [Share]
       Url=https://db.satnogs.org/api/telemetry/
       NoradId=99999
       Callsign=N0CALL
       Latitude=49.73145
       Longitude=8.95564

   (decimal degrees, north and east positive). Frames wait in
   Telemetry\share\outbox.txt while the network or the server is away and go
   out in order when it is back; frames the server refuses go to
   Telemetry\share\rejects.txt with its answer. Certificates are checked
   against the Windows certificate store: for a team's own authority, add its
   certificate there (certutil -addstore Root team-ca.pem).

Keys: typing into "TNC send" sends every key at once; F9 sends the whole pane
and a carriage return; Ctrl+T sends one test beacon; Ctrl+Alt+M switches a
stream of random test bytes on and off (loop-back tests only: it goes out to
the TNC); Alt+C clears the receive panes.
TEXT

mkdir -p dist
out="$PWD/dist/kestrel-decoder-$version-win64.zip"
rm -f "$out"
(cd "$stage" && zip -q -r "$out" "kestrel-decoder-$version")
echo "$out"
unzip -l "$out"
