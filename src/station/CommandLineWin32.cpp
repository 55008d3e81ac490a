// The decoder's help on Windows: its folders and its COM ports (see
// CommandLine.h).

#include "station/CommandLine.h"

namespace kestrel {

const char* DecoderHelpBody() {
    return R"(
Receives the KESTREL satellite's telemetry beacons from a TNC on a serial (COM)
port, shows every byte and each decoded beacon, and archives everything in the
folder Telemetry below the folder it is started from.

The TNC's port is read from RS232Settings.ini in that folder (choose it with
the Settings button; the file is written whenever the program ends). What
went wrong is also written to kestrel-decoder.log there.

  --station    work in Documents\KESTREL instead (made when missing), as
               the Start-menu shortcut does
  -h, --help   show this help
  --version    show the version
)";
}

}  // namespace kestrel
