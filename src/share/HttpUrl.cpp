// Splitting a telemetry server's URL into scheme, host, port and path.

#include "share/HttpUrl.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <utility>

namespace kestrel {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

bool Is(std::string_view text, bool (*ok)(unsigned char)) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [ok](char c) { return ok(static_cast<unsigned char>(c)); });
}

bool NameChar(unsigned char c) { return std::isalnum(c) || c == '-' || c == '.' || c == '_'; }
bool Ipv6Char(unsigned char c) { return std::isxdigit(c) || c == ':' || c == '.'; }
bool UrlChar(unsigned char c) { return c > ' ' && c < 127; }

}  // namespace

std::optional<HttpUrl> SplitHttpUrl(std::string_view url, std::string& why) {
    HttpUrl u;
    if (StartsWithNoCase(url, "https://")) {
        u.https = true;
        url.remove_prefix(8);
    } else if (StartsWithNoCase(url, "http://")) {
        url.remove_prefix(7);
    } else {
        why = "is not an http:// or https:// address";
        return std::nullopt;
    }
    if (!url.empty() && !Is(url, UrlChar)) {
        why = "holds a blank or a character outside ASCII";
        return std::nullopt;
    }
    const std::size_t end = std::min(url.find_first_of("/?#"), url.size());
    std::string_view authority = url.substr(0, end);
    std::string_view rest = url.substr(end);
    if (authority.find('@') != std::string_view::npos) {
        why = "holds a user name or password (user@host), which is neither sent nor stored";
        return std::nullopt;
    }
    std::string_view portText;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        const std::string_view literal =
            close == std::string_view::npos ? std::string_view() : authority.substr(1, close - 1);
        if (!Is(literal, Ipv6Char) || literal.find(':') == std::string_view::npos) {
            why = "has an IPv6 address that is not of the form [2001:db8::1]";
            return std::nullopt;
        }
        u.host = std::string(authority.substr(0, close + 1));
        authority.remove_prefix(close + 1);
        if (!authority.empty() && authority.front() != ':') {
            why = "has something after its IPv6 address that is not a port";
            return std::nullopt;
        }
        portText = authority.empty() ? authority : authority.substr(1);
    } else {
        const std::size_t colon = authority.find(':');
        u.host = std::string(authority.substr(0, colon));
        if (!Is(u.host, NameChar)) {
            why = u.host.empty() ? "names no host" : "has a host name that is not letters, digits, '-' and '.'";
            return std::nullopt;
        }
        portText = colon == std::string_view::npos ? std::string_view() : authority.substr(colon + 1);
    }
    u.port = u.https ? 443 : 80;
    if (!portText.empty() || authority.find(':') != std::string_view::npos) {
        unsigned port = 0;
        auto [p, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
        if (portText.empty() || ec != std::errc() || p != portText.data() + portText.size() || port == 0 ||
            port > 65535) {
            why = "has a port that is not a number from 1 to 65535";
            return std::nullopt;
        }
        u.port = static_cast<std::uint16_t>(port);
    }
    rest = rest.substr(0, rest.find('#'));  // a fragment is never sent
    u.path = rest.empty() || rest.front() != '/' ? "/" + std::string(rest) : std::string(rest);
    return u;
}

std::string MaskedUrl(std::string_view url) {
    const std::size_t cut = std::min(url.find_first_of("?#"), url.size());
    std::string shown(url.substr(0, cut));
    const std::size_t scheme = shown.find("://");
    const std::size_t from = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t at = shown.rfind('@', std::min(shown.find('/', from), shown.size()));
    if (at != std::string::npos && at >= from)
        shown.replace(from, at - from, "***");
    if (cut == url.size() || url[cut] != '?')
        return shown;
    std::string_view query = url.substr(cut + 1);
    query = query.substr(0, std::min(query.find('#'), query.size()));
    shown += '?';
    for (std::size_t pos = 0; pos <= query.size();) {
        const std::size_t end = std::min(query.find('&', pos), query.size());
        const std::string_view pair = query.substr(pos, end - pos);
        const std::size_t eq = pair.find('=');
        if (pos > 0)
            shown += '&';
        // A name is shown (which key is wrong helps), its value never.
        shown += eq == std::string_view::npos ? std::string("***") : std::string(pair.substr(0, eq)) + "=***";
        pos = end + 1;
    }
    return shown;
}

std::string httpStatusText(int status) {
    static constexpr std::pair<int, const char*> kWords[] = {
        {301, "Moved Permanently"},
        {302, "Found"},
        {303, "See Other"},
        {307, "Temporary Redirect"},
        {308, "Permanent Redirect"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {407, "Proxy Authentication Required"},
        {408, "Request Timeout"},
        {409, "Conflict"},
        {410, "Gone"},
        {413, "Content Too Large"},
        {415, "Unsupported Media Type"},
        {422, "Unprocessable Content"},
        {425, "Too Early"},
        {429, "Too Many Requests"},
        {500, "Internal Server Error"},
        {501, "Not Implemented"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
    };
    for (const auto& [number, words] : kWords)
        if (number == status)
            return std::to_string(status) + " " + words;
    return std::to_string(status);
}

}  // namespace kestrel
