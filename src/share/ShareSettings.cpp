// The [Share] section read and checked, each fault said in words (see ShareSettings.h).

#include "share/ShareSettings.h"

#include "serial/ProfileStore.h"
#include "share/HttpTransport.h"
#include "share/HttpUrl.h"
#include "telemetry/FileSystem.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace kestrel {

namespace {

// A default no one writes into a settings file, to tell a missing key.
const std::string kAbsent = "\x01";

bool ParseNumber(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    return ec == std::errc() && p == end && std::isfinite(value);
}

}  // namespace

ShareSettings::Texts ShareSettings::Read(ProfileStore& store, const std::string& path) {
    auto read = [&](const char* key) -> std::optional<std::string> {
        std::string v = store.ReadString(path, kSection, key, kAbsent);
        if (v == kAbsent)
            return std::nullopt;
        return v;
    };
    return {read("Url"), read("NoradId"), read("Callsign"), read("Latitude"), read("Longitude"), read("CaFile")};
}

void ShareSettings::Load(ProfileStore& store, const std::string& path) { Check(Read(store, path), path); }

void ShareSettings::Check(const Texts& texts, const std::string& path) {
    *this = ShareSettings{};
    inFile = texts.url || texts.noradId || texts.callsign || texts.latitude || texts.longitude || texts.caFile;
    if (!inFile)
        return;
    const std::string noradText = texts.noradId.value_or(kAbsent);
    const std::string callText = texts.callsign.value_or(kAbsent);
    const std::string latText = texts.latitude.value_or(kAbsent);
    const std::string lonText = texts.longitude.value_or(kAbsent);
    const std::string caText = texts.caFile.value_or(kAbsent);

    // An empty Url switches forwarding off: nothing else is asked for then.
    const bool off = texts.url && texts.url->empty();
    auto fail = [&](std::string sentence, const char* panel) {
        if (problem.empty() && !off) {
            reason = std::move(sentence);
            problem = "[Share] in " + path + ": " + reason + "; no telemetry is forwarded";
            shortProblem = panel;
        }
    };
    url = texts.url.value_or(std::string());
    std::string why;
    if (url.empty())
        fail("Url is missing", "Share: no Url");
    else if (!SplitHttpUrl(url, why))
        // A password or token is not repeated on the screen or in a log.
        fail("Url \"" + MaskedUrl(url) + "\" " + why, "Share: bad Url");

    // Digits alone: a sign, a 0x or a fraction is a mistake, not a number.
    long id = 0;
    if (noradText != kAbsent && !noradText.empty() && noradText.size() <= 9 &&
        std::all_of(noradText.begin(), noradText.end(), [](char c) { return c >= '0' && c <= '9'; }))
        id = std::stol(noradText);
    if (id <= 0)
        fail("NoradId must be a positive whole number (digits only)", "Share: NoradId?");
    noradId = id;

    callsign = callText == kAbsent ? std::string() : callText;
    if (callsign.empty())
        fail("Callsign is missing", "Share: Callsign?");
    else if (callsign.size() > kLongestCallsign)
        fail("Callsign is longer than " + std::to_string(kLongestCallsign) + " characters", "Share: Callsign?");

    const bool latOk = latText != kAbsent && ParseNumber(latText, latitude) && latitude >= -90 && latitude <= 90;
    if (!latOk)
        fail("Latitude must be decimal degrees from -90 to 90", "Share: Latitude?");
    const bool lonOk = lonText != kAbsent && ParseNumber(lonText, longitude) && longitude >= -180 && longitude <= 180;
    if (!lonOk)
        fail("Longitude must be decimal degrees from -180 to 180", "Share: Longitude?");
    hasPosition = latOk && lonOk;

    if (caText != kAbsent && !caText.empty()) {
        caFile = caText;
        if (!HttpTransportTakesCaFile())
            fail("CaFile is not used on this system; add the certificate to the system's trusted root store instead",
                 "Share: CaFile?");
        else if (std::FILE* f = std::fopen(caFile.c_str(), "rb"))
            std::fclose(f);
        else
            fail("CaFile " + caFile + " cannot be read", "Share: CaFile?");
    }
}

ShareSettings ShareSettings::InFolder(const std::string& folder) {
    ShareSettings s;
    try {
        // The system's profile functions take a name without a folder as one
        // in the Windows folder: the whole path.
        namespace fs = std::filesystem;
        const fs::path file = fs::absolute(pathFromUtf8(folder.empty() ? "." : folder) / "RS232Settings.ini");
        std::error_code ec;
        if (!fs::is_regular_file(file, ec))
            return s;
        const std::string path = utf8Of(file);
        s.Load(*CreateProfileStore(), path);
    } catch (const std::exception&) {  // an unreadable file
        s = ShareSettings{};
    }
    return s;
}

}  // namespace kestrel
