#pragma once
// Fetching a satellite's frames from SatNOGS DB's telemetry API: the first page
// for the satellite, then each page its Link header names as next, until none
// does. HTTP goes through the forwarding's transport (libcurl or WinHTTP), so
// the same rules hold: certificates verified, a deadline per request, a clear
// reason when it cannot go on.

#include "share/HttpTransport.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel::redecode {

inline constexpr const char* kSatnogsTelemetryUrl = "https://db.satnogs.org/api/telemetry/";

struct FetchOptions {
    std::string url = kSatnogsTelemetryUrl;  // the telemetry endpoint
    long noradId = 0;
    std::string token;   // the API token; empty: none is sent
    std::string caFile;  // further trusted certificates (Linux)
    std::chrono::milliseconds requestTimeout{60000};
    // Waits before trying again after a server error or a broken connection.
    int retries = 4;
    // A page's body is at most this long: pages hold a few hundred frames.
    std::size_t maxPage = 32u << 20;
    // Longest wait a 429's Retry-After is granted; longer ends the fetch.
    std::chrono::seconds longestWait{600};
    // What the fetch says while it waits or tries again (a line each).
    std::function<void(const std::string&)> say;
    // Sleeps; replaced by the tests.
    std::function<void(std::chrono::milliseconds)> sleep;
};

struct FetchSummary {
    std::uint64_t pages = 0;
    std::uint64_t bytes = 0;
};

// The first page's address: the endpoint with satellite=NORAD&format=json.
std::string firstPageUrl(const std::string& endpoint, long noradId);
// The target of rel="next" in a Link header, resolved against the page's
// address; nothing when there is none.
std::optional<std::string> nextPageUrl(std::string_view link, const std::string& pageUrl);
// A Retry-After value: seconds, or an HTTP date (counted from `now`).
std::optional<std::chrono::seconds> retryAfter(std::string_view value, std::chrono::system_clock::time_point now);

// Fetches every page, handing each body to `page` in the order fetched.
// Throws std::runtime_error saying why when it cannot go on; the pages handed
// on before stay handed on.
FetchSummary fetchPooledFrames(IHttpTransport& transport, const FetchOptions& options,
                               const std::function<void(std::string_view body)>& page);

}  // namespace kestrel::redecode
