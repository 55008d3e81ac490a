#pragma once
// The profile-string rules (ProfileStore.h) carried out on a file's text, with
// no file access: what ProfileStorePosix.cpp reads and writes through, and
// what the settings-file fuzzer drives directly.

#include <optional>
#include <string>
#include <string_view>

#include "serial/ProfileStore.h"

namespace kestrel {

// The value of key in section, or nullopt when the section or key is missing.
// A leading UTF-8 byte-order mark is no part of the first line.
std::optional<std::string> ProfileTextLookup(std::string_view text, std::string_view section, std::string_view key);

// The text with every key of `keys` set in section: an existing key line is
// replaced in place, a missing key goes after the section's last non-blank
// line, a missing section is appended. Every other line stays, the byte-order
// mark too; lines end in CR LF afterwards.
std::string ProfileTextWithKeys(std::string_view text, const std::string& section, const ProfileKeys& keys);

}  // namespace kestrel
