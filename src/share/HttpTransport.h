#pragma once
// One HTTP POST of a form, as the platform does it: libcurl on Linux
// (HttpTransportCurl.cpp), WinHTTP on Windows (HttpTransportWinHttp.cpp).
// Certificates are always verified against the system's trusted ones, plus
// those of caFile when given.

#include <chrono>
#include <memory>
#include <string>

namespace kestrel {

struct HttpRequest {
    std::string url;
    std::string form;    // application/x-www-form-urlencoded
    std::string caFile;  // extra trusted certificates (PEM); empty: none
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds totalTimeout{30000};
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
    std::string detail;  // a readable reason when not answered
};

class IHttpTransport {
public:
    virtual ~IHttpTransport() = default;
    // Blocks until answered, failed or cancelled. One call at a time.
    virtual HttpResult post(const HttpRequest& request) = 0;
    // From any thread: the post in progress (or the next) ends soon as Cancelled.
    virtual void cancel() = 0;
};

std::unique_ptr<IHttpTransport> CreateHttpTransport();
// Whether HttpRequest::caFile is honoured here; where it is not, certificates
// are trusted through the system's own store.
bool HttpTransportTakesCaFile();

}  // namespace kestrel
