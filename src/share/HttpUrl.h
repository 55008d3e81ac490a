#pragma once
// The parts of an http:// or https:// URL, split the same way for both
// programs: the settings check refuses what a transport could not send, and
// the WinHTTP transport connects with these parts (Wine's own URL splitting
// loses IPv6 literals).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

struct HttpUrl {
    bool https = false;
    std::string host;        // a name, an IPv4 address, or an IPv6 literal in brackets: "[::1]"
    std::uint16_t port = 0;  // the scheme's own when the URL names none
    std::string path;        // from the first '/' on, the query included; "/" when empty
};

// Splits url; nothing, and why in a few words ("holds a user name or
// password"), when it is not an http:// or https:// URL that both programs
// send the same way. User names and passwords are refused: they would be
// stored in clear in the outbox and rejects file, and the programs would not
// send them alike.
std::optional<HttpUrl> SplitHttpUrl(std::string_view url, std::string& why);

// The URL as it may be shown or stored: a query's values (where a token or key
// goes) masked, "?token=***", a user name and password masked, a fragment
// left out. Works on any text, also one SplitHttpUrl refuses.
std::string MaskedUrl(std::string_view url);

// An answer's status with its standard words, as a status line has them:
// "503 Service Unavailable"; the number alone for one without.
std::string httpStatusText(int status);

}  // namespace kestrel
