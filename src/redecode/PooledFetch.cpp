// SatNOGS DB's telemetry pages, one after the other along their Link headers,
// with the waits a busy server asks for.

#include "redecode/PooledFetch.h"

#include "share/HttpUrl.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <set>
#include <stdexcept>
#include <thread>

namespace kestrel::redecode {
namespace {

// "https://host:port" of an absolute address; empty for anything else.
std::string originOf(std::string_view url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return {};
    const std::size_t pathAt = url.find_first_of("/?#", scheme + 3);
    return std::string(url.substr(0, pathAt));
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// What the server said about a refusal: DRF's {"detail": "..."}, else the start
// of the body.
std::string reasonIn(const std::string& body) {
    const nlohmann::json j = nlohmann::json::parse(body, nullptr, false);
    if (j.is_object() && j.contains("detail") && j["detail"].is_string())
        return j["detail"].get<std::string>();
    std::string text = body.substr(0, 200);
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}

std::string kindText(const HttpResult& r) {
    switch (r.kind) {
    case HttpResult::Kind::Timeout: return "no answer in time";
    case HttpResult::Kind::Refused: return "connection refused";
    case HttpResult::Kind::Dropped: return "the connection broke off";
    case HttpResult::Kind::NameLookup: return "the host name is not known (or there is no network)";
    case HttpResult::Kind::Tls: return "the server's certificate is not trusted, or TLS failed";
    case HttpResult::Kind::Cancelled: return "cancelled";
    default: return "failed";
    }
}

// A redirect is not followed (the token would go along to wherever it points):
// where it points is said, and the usual cause, an endpoint given without its
// trailing slash, with the address to give instead.
std::string redirectText(const std::string& url, const std::string& endpoint, const HttpResult& r) {
    std::string text = url + ": SatNOGS DB answered " + std::to_string(r.status) + " (moved";
    std::string to;
    for (char c : r.location)
        if (static_cast<unsigned char>(c) >= 0x20)
            to += c;
    if (to.empty())
        return text + " without saying where); give the telemetry endpoint's address with --satnogs-url";
    if (to.starts_with("/"))
        to = originOf(url) + to;
    text += " to " + to + "); not followed";
    const auto path = [](const std::string& u) { return u.substr(0, u.find('?')); };
    if (path(to) == path(url) + "/") {
        const std::size_t query = endpoint.find('?');
        return text + ": the address lacks its trailing slash, give --satnogs-url " + endpoint.substr(0, query) + "/" +
               (query == std::string::npos ? "" : endpoint.substr(query));
    }
    return text + ": if that is SatNOGS DB's telemetry endpoint, give --satnogs-url " + path(to);
}

}  // namespace

std::string firstPageUrl(const std::string& endpoint, long noradId) {
    const char joiner = endpoint.find('?') == std::string::npos ? '?' : '&';
    return endpoint + joiner + "satellite=" + std::to_string(noradId) + "&format=json";
}

std::optional<std::string> nextPageUrl(std::string_view link, const std::string& pageUrl) {
    // <url>; rel="next", <url>; rel="prev": each target in angle brackets,
    // its parameters up to the next one.
    for (std::size_t open = link.find('<'); open != std::string_view::npos;) {
        const std::size_t close = link.find('>', open);
        if (close == std::string_view::npos)
            return std::nullopt;
        const std::string target(link.substr(open + 1, close - open - 1));
        const std::size_t nextOpen = link.find('<', close);
        const std::string params = lower(link.substr(close + 1, nextOpen - close - 1));
        bool next = false;
        for (std::size_t at = params.find("rel"); at != std::string::npos; at = params.find("rel", at + 3)) {
            std::size_t v = params.find_first_not_of(' ', at + 3);
            if (v == std::string::npos || params[v] != '=')
                continue;
            v = params.find_first_not_of(' ', v + 1);
            if (v == std::string::npos)
                continue;
            std::string value = params.substr(v, params.find_first_of(";,", v) - v);
            // rel="next last" names several relations.
            for (char& c : value)
                if (c == '"')
                    c = ' ';
            value = " " + value + " ";
            next = next || value.find(" next ") != std::string::npos;
        }
        if (next) {
            if (target.find("://") != std::string::npos)
                return target;
            if (target.starts_with("/"))
                return originOf(pageUrl) + target;
            const std::string base = pageUrl.substr(0, pageUrl.find('?'));
            if (target.starts_with("?"))
                return base + target;
            return base.substr(0, base.rfind('/') + 1) + target;
        }
        open = nextOpen;
    }
    return std::nullopt;
}

std::optional<std::chrono::seconds> retryAfter(std::string_view value, std::chrono::system_clock::time_point now) {
    while (!value.empty() && value.front() == ' ')
        value.remove_prefix(1);
    while (!value.empty() && value.back() == ' ')
        value.remove_suffix(1);
    if (value.empty())
        return std::nullopt;
    if (std::isdigit(static_cast<unsigned char>(value.front()))) {
        long long s = 0;
        for (char c : value) {
            if (!std::isdigit(static_cast<unsigned char>(c)) || s > 1'000'000'000)
                return std::nullopt;
            s = s * 10 + (c - '0');
        }
        return std::chrono::seconds(s);
    }
    // An HTTP date: "Wed, 21 Oct 2015 07:28:00 GMT".
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char month[4] = {};
    int day, year, h, m, s;
    if (std::sscanf(std::string(value).c_str(), "%*3s, %d %3s %d %d:%d:%d GMT", &day, month, &year, &h, &m, &s) != 6)
        return std::nullopt;
    int mon = -1;
    for (int i = 0; i < 12; ++i)
        if (std::string_view(month) == kMonths[i])
            mon = i;
    if (mon < 0 || day < 1 || day > 31 || h > 23 || m > 59 || s > 60)
        return std::nullopt;
    // Days since 1970 of a civil date (proleptic Gregorian).
    const int y = year - (mon < 2);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (mon + (mon > 1 ? -2 : 10)) + 2) / 5 + day - 1;
    const long long days = era * 146097LL + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
    const auto at = std::chrono::system_clock::time_point(std::chrono::seconds(days * 86400 + h * 3600 + m * 60 + s));
    return std::chrono::duration_cast<std::chrono::seconds>(std::max(at - now, std::chrono::system_clock::duration{}));
}

FetchSummary fetchPooledFrames(IHttpTransport& transport, const FetchOptions& o,
                               const std::function<void(std::string_view body)>& page) {
    const auto say = [&](const std::string& text) {
        if (o.say)
            o.say(text);
    };
    const auto sleep = [&](std::chrono::milliseconds d) {
        if (o.sleep)
            o.sleep(d);
        else
            std::this_thread::sleep_for(d);
    };
    FetchSummary summary;
    std::string url = firstPageUrl(o.url, o.noradId);
    const std::string origin = originOf(url);
    std::set<std::string> fetched;
    while (true) {
        if (!fetched.insert(url).second)
            throw std::runtime_error("SatNOGS DB's pages lead back to " + url + "; stopped there");
        HttpRequest request;
        request.url = url;
        request.caFile = o.caFile;
        request.totalTimeout = o.requestTimeout;
        request.bodyLimit = o.maxPage;
        request.headers.push_back("Accept: application/json");
        if (!o.token.empty())
            request.headers.push_back("Authorization: Token " + o.token);

        HttpResult r;
        int failures = 0;
        int waits = 0;
        for (;;) {
            r = transport.get(request);
            if (r.kind == HttpResult::Kind::Answered && r.bodyBroken)
                r.kind = HttpResult::Kind::Dropped;  // half a page is no page: fetched again
            const bool answered = r.kind == HttpResult::Kind::Answered;
            if (answered && r.status == 429) {
                const auto wait = retryAfter(r.retryAfter, std::chrono::system_clock::now())
                                      .value_or(std::chrono::seconds(30 << std::min(waits, 4)));
                if (wait > o.longestWait || ++waits > 20)
                    throw std::runtime_error("SatNOGS DB asks to wait " + std::to_string(wait.count()) +
                                             " s before the next page (429 Too Many Requests); try again later");
                say("SatNOGS DB asks to wait " + std::to_string(wait.count()) + " s (429 Too Many Requests)");
                sleep(wait);
                continue;
            }
            // What waiting may cure: a server error, a time-out, a broken connection.
            const bool passing =
                answered ? r.status >= 500 : r.kind == HttpResult::Kind::Timeout || r.kind == HttpResult::Kind::Dropped;
            if (!passing || failures >= o.retries)
                break;
            const auto wait = std::chrono::seconds(2 << failures++);
            say((answered ? "SatNOGS DB answered " + httpStatusText(r.status) : kindText(r)) + "; trying again in " +
                std::to_string(wait.count()) + " s");
            sleep(wait);
        }
        if (r.kind != HttpResult::Kind::Answered)
            throw std::runtime_error(url + ": " + kindText(r) + (r.detail.empty() ? "" : " (" + r.detail + ")"));
        if (r.status == 401 || r.status == 403)
            throw std::runtime_error(
                "SatNOGS DB refused the request (" + std::to_string(r.status) + "): " + reasonIn(r.body) +
                (o.token.empty() ? "; give your API token with --token (your profile page on db.satnogs.org)"
                                 : "; check the token given with --token"));
        if (r.status >= 300 && r.status < 400)
            throw std::runtime_error(redirectText(url, o.url, r));
        if (r.status != 200)
            throw std::runtime_error(url + ": SatNOGS DB answered " + httpStatusText(r.status) + ": " +
                                     reasonIn(r.body));
        if (r.bodyCut)
            throw std::runtime_error(url + ": a page larger than " + std::to_string(o.maxPage >> 20) +
                                     " MB is not a telemetry page");
        ++summary.pages;
        summary.bytes += r.body.size();
        page(r.body);

        const auto next = nextPageUrl(r.link, url);
        if (!next)
            return summary;
        // The token goes to the server it was given for, and only encrypted
        // if the first page was.
        std::string nextUrl = *next;
        if (originOf(nextUrl) != origin && nextUrl.starts_with("http://") && origin.starts_with("https://") &&
            "https://" + originOf(nextUrl).substr(7) == origin)
            nextUrl = "https://" + nextUrl.substr(7);
        if (originOf(nextUrl) != origin)
            throw std::runtime_error("SatNOGS DB's next page lies at another server (" + nextUrl +
                                     "); not followed with the token");
        url = nextUrl;
    }
}

}  // namespace kestrel::redecode
