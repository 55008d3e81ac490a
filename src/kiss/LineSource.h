#pragma once
// Where the station's bytes come from, kept in a section of its own in the
// settings file beside [CPort]:
//
//   [Line]
//   Source=KISS TCP        ; "Serial" (the default), "Serial KISS" or "KISS TCP"
//   Host=127.0.0.1         ; KISS TCP only: the software TNC's host ...
//   TcpPort=8001           ; ... and its KISS port
//
// "Serial" is the plain TNC of old; "Serial KISS" a TNC speaking KISS on the
// serial port [CPort] describes; "KISS TCP" a software TNC's KISS port. A file
// without the section behaves as before and does not get one written.

#include "serial/ProfileStore.h"

#include <string>

namespace kestrel {

struct LineSourceSettings {
    enum Kind { Serial, SerialKiss, KissTcp } kind = Serial;
    std::string host = "127.0.0.1";
    int port = 8001;

    static constexpr const char* kSection = "Line";

    // Reads the section; values that are missing or not understood keep their
    // defaults (an unknown Source is Serial, a port outside 1..65535 is 8001).
    void Load(ProfileStore& store, const std::string& path);
    // Writes the section, unless it was absent when loaded and nothing here
    // differs from the defaults. False when the file cannot be written.
    bool Save(ProfileStore& store, const std::string& path) const;
    // Whether Save writes the section, and the keys it writes.
    bool NeedsWriting() const;
    ProfileKeys Keys() const;

    // Whether the bytes come in KISS framing.
    bool kiss() const { return kind != Serial; }

    bool inFile = false;  // the section was found by Load()

    friend bool operator==(const LineSourceSettings&, const LineSourceSettings&) = default;
};

// "Serial", "Serial KISS", "KISS TCP".
const char* LineSourceKindText(LineSourceSettings::Kind kind);

}  // namespace kestrel
