#!/usr/bin/env bash
# Builds the Windows programs (mingw-w64, build-win64/) and packs them with a
# guide, the licence and the copyright notices into
# dist/kestrel-decoder-<version>-win64.zip, and into an installer (Debian's
# nsis: packaging/windows/kestrel-decoder.nsi),
# dist/kestrel-decoder-<version>-win64-setup.exe, replacing older ones there
# (version: 1.83 and the number of commits, or KESTREL_BUILD_NUMBER from the
# environment; see CMakeLists.txt). Prints the zip's path, then the
# installer's, then the zip's listing.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

need_packages cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 zip nsis nlohmann-json3-dev

cmake --preset mingw >/dev/null
cmake --build build-win64 -j"$(jobs)" --target kestrel-decoder kestrel-redecode kestrel-trends
version=$(sed -n 's/^#define KESTREL_PACKAGE_VERSION "\(.*\)"$/\1/p' build-win64/generated/BuildVersion.h)
[ -n "$version" ] || { echo "no version in build-win64/generated/BuildVersion.h"; exit 1; }
caption=$(sed -n 's/.*kMainCaption = "\(.*\)" KESTREL_VERSION_TEXT;$/\1/p' build-win64/generated/Version.h)
caption="$caption$(sed -n 's/^#define KESTREL_VERSION_TEXT "\(.*\)"$/\1/p' build-win64/generated/Version.h)"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
dir="$stage/kestrel-decoder-$version"
mkdir -p "$dir"
for exe in kestrel-decoder kestrel-redecode kestrel-trends; do
  cp "build-win64/$exe.exe" "$dir/"
  x86_64-w64-mingw32-strip "$dir/$exe.exe"
done
# Windows editors want CR LF.
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
crlf LICENSE "$dir/LICENSE.txt"
crlf packaging/copyright "$dir/copyright.txt"
# As SatNOGS' collection takes it: LF line ends, byte for byte.
mkdir "$dir/satnogs"
cp packaging/satnogs/kestrel.ksy "$dir/satnogs/"
cat >"$stage/README-windows.txt" <<TEXT
KESTREL telemetry decoder $version for Windows (64-bit)
========================================================

What is in this folder
----------------------
  kestrel-decoder.exe   the program: receives, decodes and archives the
                        KESTREL satellite's beacons from a TNC
  kestrel-redecode.exe  decodes recorded logs again and writes the beacons
                        as CSV for a spreadsheet (runs in a Command Prompt)
  kestrel-trends.exe    the trend window on its own: plots and ground track
                        of a Telemetry folder or of a CSV
  LICENSE.txt           the licence: GNU GPL version 3 or later
  copyright.txt         copyright, and the licences of the runtime libraries
                        built into the programs, and of the map's coastline
  satnogs\kestrel.ksy   the beacon's description for SatNOGS DB's decoders
                        (Kaitai Struct), for the satellite team

Windows 10 or 11, 64-bit. (The programs declare Windows 7 and later and are
tested under Wine; a 32-bit Windows cannot run them.)

Installing
----------
Either run kestrel-decoder-$version-win64-setup.exe: it installs the programs
and this guide under C:\Program Files\KESTREL Telemetry Decoder and puts
into the Start menu "KESTREL Telemetry Decoder", which starts the program in
its station folder Documents\KESTREL (made at the first start), "KESTREL
Trends" (the trend window on that folder) and "KESTREL Command Prompt" (a
Command Prompt in that folder in which the programs run by their names, for
the commands below). Its last page offers to start the decoder.

A newer installer installs over an older one the same way; the station
folder stays as it is. If the decoder (or another of the programs) is
running, the installer says so and closes it as its close box would (the
decoder stores its settings first); Cancel there leaves everything as it
was. The version is in Settings, Apps, and kestrel-decoder.exe --version
shows it.

Uninstall it with Settings, Apps (or Control Panel, "Uninstall a program"):
the programs and the shortcuts go, the station folder with the settings, the
archive and the station log stays. A running decoder is closed first, as by
the installer.

Or use the zip: first extract it (right-click it, "Extract All..."); a
program started inside the zip runs in a temporary folder that Windows
removes, and its settings and archive go with it. Copy the extracted folder
anywhere you may write, for instance C:\Station (not below C:\Program Files,
where a program may not write its archive). To uninstall, delete the folder.

The first start: the SmartScreen warning
----------------------------------------
The programs are not signed with a code-signing certificate. When you start
one that was downloaded, Windows may show "Windows protected your PC"
(Microsoft Defender SmartScreen). It says only that Windows does not know
the publisher, not that anything harmful was found. If you got the zip from
the KESTREL team's address, click "More info", then "Run anyway"; Windows
asks no more for that file. Instead you can right-click the zip before
unpacking it, choose Properties and tick "Unblock".

Finding the TNC's COM port
--------------------------
1. Connect the TNC (or its USB serial adapter) and open the Device Manager:
   right-click the Start button, "Device Manager".
2. Open "Ports (COM & LPT)". The TNC's line shows there with its name in
   brackets, for instance "USB Serial Port (COM3)". Unplug the adapter and
   plug it in again to see which entry it is.
3. If the adapter shows under "Other devices" with a yellow mark instead,
   Windows has no driver for it: install the driver from the adapter's
   maker (the box or the maker's web site names it), then look again.
The program's Settings button also lists the COM ports Windows knows.

Settings and archive: the station folder
----------------------------------------
Started from the Start menu, the program works in Documents\KESTREL;
otherwise in the folder it is started from (its working folder):
double-clicked in Explorer, that is the folder of the exe; from a shortcut of
your own, the shortcut's "Start in" folder (add --station to its target to
use Documents\KESTREL instead). There it keeps

  RS232Settings.ini     the TNC's port and line settings
  kestrel-decoder.log   what went wrong, with its time (UTC): every error
                        message, the port's reason, settings it could not use,
                        forwarding trouble, a failure at shut-down; the
                        program has no console, so this is where to look
                        (kestrel-decoder.old.log holds the older part from
                        1 MB on)
  Telemetry\raw_log\    every byte received in one run (a run that reaches
                        the disk's file size limit, 4 GB on FAT32, goes on in
                        pieces named ..._part2.KR7, ..._part3.KR7)
  Telemetry\Decoded\    one line per decoded beacon
  Telemetry\raw_data\   the bytes of each decoded beacon

A folder the program cannot write is said when it starts, with its path and
Windows' reason. A failure at the last shut-down (the settings could not be
stored, say) shows as "Exit failed" on the status bar at the next start; a
click on it shows what failed and dismisses it. A click on any status panel
shows its whole text.

The first start tries COM4, the port the program was designed with: on a
computer without one it says "RS232 error. Check settings." and the status
bar says "COM4: no such device"; on one with a COM4 that port is opened
(check that it is the TNC's). Press the Settings button and pick the TNC's
port and its line settings; why a port could not be opened stands below the
Settings dialog's buttons. F3 (also in the window's system menu: Alt+Space,
"Station...") opens the station dialog: the line (the COM port, KISS on it,
or a software TNC over TCP), sharing, and the station folder with a button
that opens it in Explorer. The program writes RS232Settings.ini itself (the
port's settings whenever it ends, the station dialog's at OK), changing only
its own keys, so the file need not be edited by hand.

To write it by hand instead, put RS232Settings.ini into that folder with the
TNC's COM port:

    [CPort]
    Port=COM3
    BaudRate=9600
    StopBits=1
    DataBits=8
    Parity=None
    FlowControl=None

Notepad saves a new file as "RS232Settings.ini.txt" unless told otherwise:
in its Save As dialog choose "Save as type: All files (*.*)" and type the
name RS232Settings.ini (Explorer hides the .txt that would give it away
unless "File name extensions" is ticked on its View menu).

Once a port is chosen, "RS232 error. Check settings." means it could not be
opened: the status bar and the Settings dialog say why (no such device, in
use by another program).

Send the Telemetry folder as a whole to the address shown in the window.

With a software TNC (direwolf and the like) on its KISS TCP port, or a TNC in
KISS mode on the COM port, choose it as the Source in the station dialog
(F3), or add a section of its own:

    [Line]
    Source=KISS TCP
    Host=127.0.0.1
    TcpPort=8001

(or Source=Serial KISS for the COM port). Over TCP the program connects by
itself and again every 2 seconds when the TNC goes away.

Sharing telemetry
-----------------
To forward every decoded beacon to the team's server or the SatNOGS DB as it
comes, fill in Sharing in the station dialog (F3), or add:

    [Share]
    Url=https://db.satnogs.org/api/telemetry/
    NoradId=99999
    Callsign=N0CALL
    Latitude=49.73145
    Longitude=8.95564

(decimal degrees, north and east positive). N0CALL, 99999 and the position
are placeholders: put in your own callsign, the satellite's NORAD catalogue
number the team gives you and your station's position (the station dialog
refuses the placeholders). An empty Url forwards nothing. Frames wait in
Telemetry\share\outbox.txt while the network or the server is away and go out
in order when it is back; frames the server refuses go to
Telemetry\share\rejects.txt with its answer (after a fix,
kestrel-redecode.exe --requeue-rejects "%USERPROFILE%\Documents\KESTREL" sends
them again). A wrong Url path, a token the server does not take or a proxy
that wants credentials keeps the frames waiting and says what to mend; they
go out once it is mended and the program started again. Certificates are
checked against the Windows certificate store: for a team's own authority,
add its certificate there (certutil -addstore Root team-ca.pem). The proxy
is the one in Settings, Network & Internet, Proxy (automatic detection, a
setup script or a proxy given there), else netsh winhttp's; a proxy that
asks for a user name and password must let the station through. A second
program on the same station folder forwards its own beacons, and takes over
the frames a program that ended left waiting.

Keys
----
Typing into "TNC send" sends every key at once; F9 sends the whole pane and
a carriage return; Ctrl+T sends one test beacon; Ctrl+Alt+M switches a
stream of random test bytes on and off (loop-back tests only: it goes out to
the TNC); Alt+C clears the receive panes; F2 opens the trend window; F3 the
station dialog.

The trend window
----------------
F2 in the program opens a window with battery voltage, currents,
temperatures and magnetic field of the station's beacons (its earlier runs'
and this run's), against their receive time (UTC), growing as beacons come;
its
second tab shows their GPS positions on a world map (the station's own
position too, when the [Share] section has Latitude and Longitude). Passes
are laid side by side with the hours between them folded to a narrow break
(tick "Real time" to see them as they were). Point at a line to read the
value and time of the nearest beacon; double-click a plot to zoom to one
pass, double-click again (or Esc) to go back. "Save as PNG..." saves what is
shown.

kestrel-trends.exe opens the same window on recorded beacons: "KESTREL
Trends" in the Start menu opens Documents\KESTREL; drag a station folder (the
one holding Telemetry), a Telemetry folder, a BeaconTextLog or a CSV written
by kestrel-redecode.exe onto the exe, or run (see "Commands" below)

    kestrel-trends.exe C:\Station
    kestrel-trends.exe beacons.csv

Started without one, it opens the folder it is started in.

Commands
--------
kestrel-redecode.exe runs in a Command Prompt, and the commands below are
typed there. Installed: start "KESTREL Command Prompt" from the Start menu;
it opens in Documents\KESTREL and runs the programs by their names, so the
commands work as written. From the zip: open a Command Prompt in the station
folder (type cmd into Explorer's address bar there and press Enter) and type
the program's path in quotes in place of its name, for instance

    "C:\Station\kestrel-redecode.exe" --help

(the same for an installed program from another Command Prompt:
"C:\Program Files\KESTREL Telemetry Decoder\kestrel-redecode.exe", quoted
because of the blanks).

The beacons in a spreadsheet
----------------------------
kestrel-redecode.exe writes one row per beacon, with a header row naming
each field and, where it has one, its unit (Altitude, Velocity, the Foto
readings and the flags have none). In the station folder's Command Prompt
(see "Commands") run

    kestrel-redecode.exe --csv beacons.csv Telemetry\Decoded\KR7_beacon_*.txt

and open beacons.csv, which it writes there. It also reads the raw logs in
Telemetry\raw_log\ and then decodes them again. kestrel-redecode.exe --help
lists its options.

The file uses commas between the fields and a full stop in numbers, whatever
Windows' language; times are UTC, to the millisecond
(2024-03-05T14:15:07.250Z). A spreadsheet set to a language with a decimal
comma needs to be told so:
  - Excel: Data, From Text/CSV, choose beacons.csv, "File origin" or
    "Locale": English (United States), Delimiter: Comma, then Load.
  - LibreOffice Calc: open beacons.csv; in the Text Import dialog set
    Language to English (USA) and Separated by: Comma.
Values that are no number read nan, inf or -inf.

Every station's frames from SatNOGS DB
--------------------------------------
kestrel-redecode.exe also decodes the frames that every station sent to
SatNOGS DB, with each station's name, and merges the copies of a beacon that
several stations heard into one row. With the API token from your profile
page on db.satnogs.org, in the Command Prompt (see "Commands"):

    set SATNOGS_TOKEN=your-token
    kestrel-redecode.exe --satnogs 99999 --csv all.csv

fetches every page (99999: the satellite's NORAD ID). It also reads saved
pages of the API (page1.json ...) and the export that the satellite's page
mails on request (99999-...-week.csv) given as files. Run again, it replaces
all.csv; a run that fails (a token no longer valid, a page cut short) leaves
the earlier all.csv as it was and says so.

satnogs\kestrel.ksy is the description of the beacon that SatNOGS DB decodes
it with, once the team has it added to SatNOGS' collection of decoders.

kestrel-decoder.exe --version (or --help) shows the version.
TEXT
crlf "$stage/README-windows.txt" "$dir/README-windows.txt"
rm "$stage/README-windows.txt"

mkdir -p dist
# The newest build only, so that dist/kestrel-decoder-*-win64-setup.exe names one.
rm -f dist/kestrel-decoder-*-win64.zip dist/kestrel-decoder-*-win64-setup.exe
out="$PWD/dist/kestrel-decoder-$version-win64.zip"
(cd "$stage" && zip -q -r "$out" "kestrel-decoder-$version")
echo "$out"

setup="$PWD/dist/kestrel-decoder-$version-win64-setup.exe"
cp src/win32/kestrel-decoder.ico "$dir/"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$dir" -DOUTFILE="$setup" -DCAPTION="$caption" \
  packaging/windows/kestrel-decoder.nsi >"$stage/makensis.log" 2>&1 || { cat "$stage/makensis.log"; exit 1; }
echo "$setup"
unzip -l "$out"
