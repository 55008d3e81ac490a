#pragma once
// One HTTP POST of a form, or one GET, as the platform does it: libcurl on
// Linux (HttpTransportCurl.cpp), WinHTTP on Windows (HttpTransportWinHttp.cpp).
// Both behave alike: certificates are always verified against the system's
// trusted ones, plus those of caFile when given (libcurl); redirects are
// never followed (the 3xx comes back as the answer); totalTimeout bounds the
// whole request, name look-up and connection included; an answer's body is
// kept up to bodyLimit bytes, and the rest is not read (the connection is
// dropped instead); a URL with a user name or password is not sent. Once an
// answer's head has come whole, the answer counts as given: a connection that
// breaks off in its body leaves an Answered result with bodyBroken set.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace kestrel {

struct HttpRequest {
    std::string url;
    std::string form;    // application/x-www-form-urlencoded
    std::string caFile;  // extra trusted certificates (PEM); empty: none
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds totalTimeout{30000};
    // A refusal's reason is short; a page that is read is not.
    std::size_t bodyLimit = 64 * 1024;
    std::vector<std::string> headers;  // further request headers, "Name: value"
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
    std::string body;         // at most bodyLimit bytes of it
    bool bodyCut = false;     // the answer had more
    bool bodyBroken = false;  // the connection broke off before the body's end
    // The answer is a proxy's refusal of the way (its answer to CONNECT), not
    // the server's.
    bool fromProxy = false;
    std::string retryAfter;  // the Retry-After header, when there is one
    std::string location;    // the Location header, when there is one
    std::string link;        // the Link header, when there is one
    std::string date;        // the Date header, when there is one
    std::string detail;      // a readable reason when not answered
};

class IHttpTransport {
public:
    virtual ~IHttpTransport() = default;
    // Blocks until answered, failed or cancelled (totalTimeout at most). One
    // call at a time.
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
// Where this platform's requests take their proxy from, and its credentials:
// the end of a sentence about a proxy that wants them.
std::string HttpProxyAdvice();

}  // namespace kestrel
