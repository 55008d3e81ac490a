// Arbitrary settings-file text through the [Share] section's rules. Beyond
// the sanitizers it checks that a section taken as usable holds only values
// both programs can send, and that one refused (other than switched off by
// an empty Url) says why in a sentence and in a few words that fit the
// status panel.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "serial/ProfileStore.h"
#include "serial/ProfileText.h"
#include "share/HttpUrl.h"
#include "share/ShareSettings.h"

namespace {

using namespace kestrel;

void check(bool ok) {
    if (!ok)
        std::abort();
}

// The settings file's text, read with the profile-string rules.
struct TextStore final : ProfileStore {
    std::string_view text;
    std::string ReadString(const std::string&, const std::string& section, const std::string& key,
                           const std::string& defaultValue) override {
        const auto value = ProfileTextLookup(text, section, key);
        return value ? *value : defaultValue;
    }
    bool WriteString(const std::string&, const std::string&, const std::string&, const std::string&) override {
        return false;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TextStore store;
    store.text = std::string_view(reinterpret_cast<const char*>(data), size);
    ShareSettings s;
    s.Load(store, "RS232Settings.ini");
    if (!s.inFile) {
        check(s.problem.empty() && !s.enabled());
        return 0;
    }
    if (!s.enabled()) {
        // An empty Url switches forwarding off without a complaint.
        if (s.url.empty() && s.problem.empty())
            return 0;
        check(!s.problem.empty() && !s.shortProblem.empty() && s.shortProblem.size() <= 18);
        return 0;
    }
    std::string why;
    const auto url = SplitHttpUrl(s.url, why);
    check(url.has_value() && !url->host.empty() && url->port > 0 && !url->path.empty() && url->path[0] == '/');
    const std::size_t from = s.url.find("://") + 3;
    const std::string authority = s.url.substr(from, s.url.find_first_of("/?#", from) - from);
    check(authority.find('@') == std::string::npos && s.url.find_first_of(" \t\r\n") == std::string::npos);
    check(s.noradId > 0 && !s.callsign.empty() && s.callsign.size() <= ShareSettings::kLongestCallsign);
    check(std::isfinite(s.latitude) && std::fabs(s.latitude) <= 90 && std::fabs(s.longitude) <= 180);
    return 0;
}
