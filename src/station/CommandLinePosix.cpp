// The decoder's help on Linux: its folders, a software TNC, and the group a
// serial port needs (see CommandLine.h).

#include "station/CommandLine.h"

namespace kestrel {

const char* DecoderHelpBody() {
    return R"(
Receives the KESTREL satellite's telemetry beacons from a TNC on a serial port
(or a software TNC's KISS port), shows every byte and each decoded beacon, and
archives everything below Telemetry/ in the current directory.

The line is read from RS232Settings.ini in the current directory (choose the
port with the Settings button; the file is written whenever the program ends).
What went wrong is also written to kestrel-decoder.log there. To open a serial
port, the user must be in the group dialout (sudo adduser $USER dialout, then
log in again).

  --station    work in ~/KESTREL instead (made when missing), as the menu
               entry does
  -h, --help   show this help
  --version    show the version
)";
}

}  // namespace kestrel
