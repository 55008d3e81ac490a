// The [Line] section of the settings file: reading it with its fallbacks and
// writing it back only when it was there or differs from the defaults.

#include "kiss/LineSource.h"

#include "serial/AsciiCase.h"

namespace kestrel {

namespace {

constexpr const char* kSourceKey = "Source";
constexpr const char* kHostKey = "Host";
constexpr const char* kPortKey = "TcpPort";

constexpr LineSourceSettings::Kind kKinds[] = {LineSourceSettings::Serial, LineSourceSettings::SerialKiss,
                                               LineSourceSettings::KissTcp};

// A default no one writes into a settings file, to tell a missing key.
const std::string kAbsent = "\x01";

}  // namespace

const char* LineSourceKindText(LineSourceSettings::Kind kind) {
    switch (kind) {
    case LineSourceSettings::SerialKiss: return "Serial KISS";
    case LineSourceSettings::KissTcp: return "KISS TCP";
    case LineSourceSettings::Serial: break;
    }
    return "Serial";
}

void LineSourceSettings::Load(ProfileStore& store, const std::string& path) {
    *this = LineSourceSettings{};
    const std::string source = store.ReadString(path, kSection, kSourceKey, kAbsent);
    const std::string hostText = store.ReadString(path, kSection, kHostKey, kAbsent);
    const std::string portText = store.ReadString(path, kSection, kPortKey, kAbsent);
    inFile = source != kAbsent || hostText != kAbsent || portText != kAbsent;
    for (Kind k : kKinds)
        if (SameTextAscii(source, LineSourceKindText(k)))
            kind = k;
    if (hostText != kAbsent && !hostText.empty())
        host = hostText;
    if (portText != kAbsent) {
        const int32_t p = ProfileIntegerFromText(portText, 0);
        if (p >= 1 && p <= 65535)
            port = p;
    }
}

bool LineSourceSettings::NeedsWriting() const {
    LineSourceSettings defaults;
    defaults.inFile = inFile;
    return inFile || !(*this == defaults);
}

ProfileKeys LineSourceSettings::Keys() const {
    return {{kSourceKey, LineSourceKindText(kind)}, {kHostKey, host}, {kPortKey, std::to_string(port)}};
}

bool LineSourceSettings::Save(ProfileStore& store, const std::string& path) const {
    return !NeedsWriting() || store.WriteStrings(path, kSection, Keys());
}

}  // namespace kestrel
