#pragma once
// One HTTP POST of a form, or one GET, as the platform does it: libcurl on
// Linux (HttpTransportCurl.cpp), WinHTTP on Windows (HttpTransportWinHttp.cpp).
// Certificates are always verified against the system's trusted ones, plus
// those of caFile when given.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

struct HttpRequest {
    std::string url;
    std::string form;    // application/x-www-form-urlencoded
    std::string caFile;  // extra trusted certificates (PEM); empty: none
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds totalTimeout{30000};
    std::vector<std::string> headers;  // further request headers, "Name: value"
    // The most of the answer's body kept (HttpResult::bodyCut beyond): a
    // refusal's reason is short, a page that is read is not.
    std::size_t bodyLimit = 64 * 1024;
};

struct HttpResult {
    enum class Kind {
        Answered,  // status and body hold the server's answer
        Timeout,
        Refused,     // nobody listens there
        Dropped,     // the connection broke off before the answer
        NameLookup,  // the host name is not known (or no network to ask)
        Tls,         // the server's certificate is not trusted, or TLS failed
        Cancelled,   // cancel() was called
        Failed,      // anything else; detail says what
    };
    Kind kind = Kind::Failed;
    int status = 0;
    std::string body;
    bool bodyCut = false;  // the body was longer than HttpRequest::bodyLimit
    std::string headers;   // the answer's header lines, as received
    std::string detail;    // a readable reason when not answered

    // The value of the answer's header `name` (any case), blanks trimmed;
    // empty when it has none.
    std::string header(std::string_view name) const;
};

class IHttpTransport {
public:
    virtual ~IHttpTransport() = default;
    // Blocks until answered, failed or cancelled. One call at a time.
    virtual HttpResult post(const HttpRequest& request) = 0;
    // The same as a GET of request.url: no body, request.form unused.
    virtual HttpResult get(const HttpRequest& request) = 0;
    // From any thread: the post in progress (or the next) ends soon as Cancelled.
    virtual void cancel() = 0;
};

std::unique_ptr<IHttpTransport> CreateHttpTransport();
// Whether HttpRequest::caFile is honoured here; where it is not, certificates
// are trusted through the system's own store.
bool HttpTransportTakesCaFile();

}  // namespace kestrel
