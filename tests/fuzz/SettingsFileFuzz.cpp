// Arbitrary settings-file text through the profile-string rules. Beyond the
// sanitizers it checks that a key written reads back, that a write changes no
// other section, keeps the byte-order mark and is the same when repeated.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "serial/ProfileStore.h"
#include "serial/ProfileText.h"

namespace {

using namespace kestrel;

void check(bool ok) {
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const char* key : {"Port", "BaudRate", "CustomBaudRate", "FlowControl"}) {
        const auto value = ProfileTextLookup(text, "CPort", key);
        if (value) {
            check(value->size() <= kProfileValueMax);
            (void)ProfileIntegerFromText(*value, 9600);
        }
    }
    const ProfileKeys keys{{"Port", "COM4"}, {"BaudRate", "Custom"}, {"CustomBaudRate", "0x7A12"}};
    const std::string written = ProfileTextWithKeys(text, "CPort", keys);
    for (const auto& [key, value] : keys)
        check(ProfileTextLookup(written, "cport", key) == value);
    check(ProfileTextLookup(written, "Station", "Call") == ProfileTextLookup(text, "Station", "Call"));
    check(text.starts_with("\xEF\xBB\xBF") == written.starts_with("\xEF\xBB\xBF"));
    check(ProfileTextWithKeys(written, "CPort", keys) == written);
    return 0;
}
