// HTTP through WinHTTP, a system DLL, in its asynchronous mode. The system's
// certificate store decides what is trusted; verification is WinHTTP's
// default (on).
//
// Sections:
//   Texts       what a WinHTTP error or a refused certificate means,
//               in words
//   One call    the status callback's state, and the handles closed in order
//   Transport   opening the session, each step started and waited for
//               against the deadline, cancel; the proxy advice
//
// Each step (send, answer head, each read) is started and then waited for
// here, against the request's one deadline: a server that trickles its answer
// or never gives one costs totalTimeout and no more, whatever WinHTTP's own
// per-step timeouts allow (each byte restarts those). When the deadline or a
// cancel comes first the request handle is closed and post() returns at once;
// WinHTTP may still finish the step in the background (under Wine a blocked
// receive ends only at its own time-out), so what it writes into lives until
// the handle's closing is reported.

#include "share/HttpTransport.h"

#include "share/HttpUrl.h"

#include "Utf16Win32.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace kestrel {

namespace {

// ---- Texts --------------------------------------------------------------------------

// Why a certificate was not trusted, from the flags of the secure-failure
// report; empty when none was given.
std::string CertificateText(DWORD flags) {
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID)
        return "the server's certificate has expired or is not valid yet";
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA)
        return "the server's certificate comes from an authority this system does not trust";
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID)
        return "the server's certificate is for another name";
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED)
        return "the server's certificate has been revoked";
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED)
        return "whether the server's certificate was revoked could not be checked";
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT)
        return "the server's certificate is not valid";
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR)
        return "the secure connection could not be set up";
    return {};
}

// A sentence for an error code: the words of winhttp.dll's message table
// where it has them (real Windows), else this program's own for the errors a
// station meets (Wine's DLL has no table), with the number for searching.
std::string ErrorText(DWORD code, DWORD certificateFlags) {
    std::string text = code == ERROR_WINHTTP_SECURE_FAILURE ? CertificateText(certificateFlags) : std::string();
    if (text.empty()) {
        wchar_t* buf = nullptr;
        const DWORD n =
            FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                           GetModuleHandleW(L"winhttp.dll"), code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
        if (n && buf) {
            text = toUtf8(std::wstring(buf, n));
            while (!text.empty() &&
                   (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
                text.pop_back();
        }
        if (buf)
            LocalFree(buf);
    }
    if (text.empty()) {
        switch (code) {
        case ERROR_WINHTTP_TIMEOUT: text = "the server did not answer in time"; break;
        case ERROR_WINHTTP_NAME_NOT_RESOLVED: text = "the server's name could not be looked up"; break;
        case ERROR_WINHTTP_CANNOT_CONNECT:
            text = "the server could not be connected to (refused or unreachable)";
            break;
        case ERROR_WINHTTP_CONNECTION_ERROR: text = "the connection to the server was broken off"; break;
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: text = "the server's answer was not HTTP"; break;
        case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        case ERROR_WINHTTP_SECURE_INVALID_CA:
        case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        case ERROR_WINHTTP_SECURE_CERT_REVOKED:
        case ERROR_WINHTTP_SECURE_INVALID_CERT:
        case ERROR_WINHTTP_SECURE_FAILURE: text = "the server's certificate is not trusted"; break;
        case ERROR_WINHTTP_SECURE_CHANNEL_ERROR: text = "the secure connection could not be set up"; break;
        default: text = "WinHTTP failed"; break;
        }
    }
    return text + " (WinHTTP error " + std::to_string(code) + ")";
}

HttpResult Failure(DWORD code, DWORD certificateFlags = 0) {
    HttpResult r;
    switch (code) {
    case ERROR_WINHTTP_TIMEOUT: r.kind = HttpResult::Kind::Timeout; break;
    case ERROR_WINHTTP_CANNOT_CONNECT: r.kind = HttpResult::Kind::Refused; break;
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: r.kind = HttpResult::Kind::Dropped; break;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: r.kind = HttpResult::Kind::NameLookup; break;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE: r.kind = HttpResult::Kind::Tls; break;
    case ERROR_WINHTTP_OPERATION_CANCELLED: r.kind = HttpResult::Kind::Cancelled; break;
    default: r.kind = HttpResult::Kind::Failed; break;
    }
    r.detail = ErrorText(code, certificateFlags);
    return r;
}

// One request's share with WinHTTP's callback: the step's outcome, and the
// read buffer. WinHTTP holds a reference until the handle's closing.
// ---- One call -----------------------------------------------------------------------

struct Call {
    Call() : done(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~Call() { CloseHandle(done); }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    HANDLE done;  // set when a step ends
    std::atomic<DWORD> error{0};
    std::atomic<DWORD> bytes{0};
    std::atomic<DWORD> certificateFlags{0};
    char buffer[16384];
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    auto* keep = reinterpret_cast<std::shared_ptr<Call>*>(context);
    if (!keep)
        return;  // the connection's own reports
    Call& call = **keep;
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        call.error = 0;
        SetEvent(call.done);
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        call.error = 0;
        call.bytes = length;
        SetEvent(call.done);
        break;
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
        if (info && length >= sizeof(DWORD))
            call.certificateFlags = *static_cast<DWORD*>(info);
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        call.error = static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError;
        SetEvent(call.done);
        break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING: delete keep; break;
    default: break;
    }
}

struct Handle {
    HINTERNET h = nullptr;
    ~Handle() { close(); }
    void close() {
        if (h)
            WinHttpCloseHandle(h);
        h = nullptr;
    }
};

// ---- Transport ----------------------------------------------------------------------

class WinHttpTransport final : public IHttpTransport {
public:
    WinHttpTransport() : cancel_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        // Synchronous, for reading a proxy's setup script only.
        resolver_ = WinHttpOpen(L"kestrel-decoder", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, 0);
    }
    ~WinHttpTransport() override {
        for (const auto& [way, session] : sessions_)
            WinHttpCloseHandle(session);
        if (resolver_)
            WinHttpCloseHandle(resolver_);
        CloseHandle(cancel_);
    }
    HttpResult post(const HttpRequest& request) override { return perform(request, true); }
    HttpResult get(const HttpRequest& request) override { return perform(request, false); }

    void cancel() override {
        cancelled_ = true;
        SetEvent(cancel_);
    }

private:
    // How requests to a server go: straight, through a named proxy, or as
    // the system's WinHTTP default (netsh winhttp) says; `said` names it for
    // a failure's reason.
    struct Way {
        DWORD access = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
        std::wstring proxy, bypass;
        std::string said;
        std::chrono::steady_clock::time_point until;  // chosen anew after this
    };

    // The user's proxy as Windows has it (the Internet settings: automatic
    // detection, a setup script, or a proxy given there), as a browser takes
    // it; else WinHTTP's own default. WinHttpOpen's automatic proxy would do
    // the same from Windows 8.1 on, but Wine takes it for no proxy at all.
    Way chooseWay(const std::string& url) {
        Way way;
        WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
        if (WinHttpGetIEProxyConfigForCurrentUser(&ie)) {
            if (resolver_ && (ie.fAutoDetect || ie.lpszAutoConfigUrl)) {
                WINHTTP_AUTOPROXY_OPTIONS o{};
                o.dwFlags = (ie.lpszAutoConfigUrl ? WINHTTP_AUTOPROXY_CONFIG_URL : 0) |
                            (ie.fAutoDetect ? WINHTTP_AUTOPROXY_AUTO_DETECT : 0);
                o.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
                o.lpszAutoConfigUrl = ie.lpszAutoConfigUrl;
                o.fAutoLogonIfChallenged = TRUE;
                WINHTTP_PROXY_INFO info{};
                if (WinHttpGetProxyForUrl(resolver_, toUtf16(url).c_str(), &o, &info)) {
                    way.access = info.lpszProxy ? WINHTTP_ACCESS_TYPE_NAMED_PROXY : WINHTTP_ACCESS_TYPE_NO_PROXY;
                    if (info.lpszProxy)
                        way.proxy = info.lpszProxy;
                    if (info.lpszProxyBypass)
                        way.bypass = info.lpszProxyBypass;
                    way.said = ie.lpszAutoConfigUrl ? "the Windows proxy settings' setup script"
                                                    : "the Windows proxy settings' automatic detection";
                    GlobalFree(info.lpszProxy);
                    GlobalFree(info.lpszProxyBypass);
                }
            }
            if (way.said.empty() && ie.lpszProxy) {
                way.access = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
                way.proxy = ie.lpszProxy;
                if (ie.lpszProxyBypass)
                    way.bypass = ie.lpszProxyBypass;
                way.said = "the Windows proxy settings";
            }
            GlobalFree(ie.lpszAutoConfigUrl);
            GlobalFree(ie.lpszProxy);
            GlobalFree(ie.lpszProxyBypass);
        }
        if (way.said.empty()) {
            WINHTTP_PROXY_INFO info{};
            if (WinHttpGetDefaultProxyConfiguration(&info) && info.lpszProxy) {
                way.proxy = info.lpszProxy;  // said only; the default session takes it itself
                way.said = "WinHTTP's setting (netsh winhttp)";
            }
            GlobalFree(info.lpszProxy);
            GlobalFree(info.lpszProxyBypass);
        }
        // A laptop carried elsewhere meets another proxy: looked at again now and then.
        way.until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        return way;
    }

    // A session of its own for each way: Wine ignores a proxy set on a
    // request handle.
    HINTERNET sessionFor(const Way& way) {
        const std::wstring key = std::to_wstring(way.access) + L"|" + way.proxy + L"|" + way.bypass;
        if (const auto it = sessions_.find(key); it != sessions_.end())
            return it->second;
        const bool named = way.access == WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        HINTERNET session = WinHttpOpen(
            L"kestrel-decoder", way.access, named ? way.proxy.c_str() : WINHTTP_NO_PROXY_NAME,
            named && !way.bypass.empty() ? way.bypass.c_str() : WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
        if (!session)
            return nullptr;
        WinHttpSetStatusCallback(session, OnStatus,
                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES |
                                     WINHTTP_CALLBACK_FLAG_SECURE_FAILURE,
                                 0);
        sessions_[key] = session;
        return session;
    }

    // A POST of the form, or a GET: one way through for both.
    HttpResult perform(const HttpRequest& request, bool isPost) {
        HttpResult r = attempt(request, isPost);
        if (r.kind != HttpResult::Kind::Answered && r.kind != HttpResult::Kind::Cancelled && !way_.proxy.empty())
            r.detail += ", through the proxy " + toUtf8(way_.proxy) + " (from " + way_.said + ")";
        return r;
    }

    HttpResult attempt(const HttpRequest& request, bool isPost) {
        using Clock = std::chrono::steady_clock;
        if (cancelled_)
            return Failure(ERROR_WINHTTP_OPERATION_CANCELLED);
        std::string why;
        const std::optional<HttpUrl> url = SplitHttpUrl(request.url, why);
        if (!url) {
            HttpResult r;
            r.detail = "the address " + why;
            return r;
        }
        if (request.url != wayUrl_ || Clock::now() >= way_.until) {
            way_ = chooseWay(request.url);
            wayUrl_ = request.url;
        }
        HINTERNET session = sessionFor(way_);
        if (!session)
            return Failure(GetLastError());
        // From here: a setup script's fetch above does not shorten the request.
        const Clock::time_point deadline = Clock::now() + request.totalTimeout;
        // WinHTTP takes an IPv6 literal with its brackets, as in the URL, and
        // sends the Host header from it.
        Handle connection{WinHttpConnect(session, toUtf16(url->host).c_str(), url->port, 0)};
        if (!connection.h)
            return Failure(GetLastError());
        Handle req{WinHttpOpenRequest(connection.h, isPost ? L"POST" : L"GET", toUtf16(url->path).c_str(), nullptr,
                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                      url->https ? WINHTTP_FLAG_SECURE : 0)};
        if (!req.h)
            return Failure(GetLastError());
        auto call = std::make_shared<Call>();
        auto* keep = new std::shared_ptr<Call>(call);
        DWORD_PTR context = reinterpret_cast<DWORD_PTR>(keep);
        if (!WinHttpSetOption(req.h, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
            const DWORD err = GetLastError();
            delete keep;
            return Failure(err);
        }
        // A POST is never sent on elsewhere, nor turned into a GET.
        DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        WinHttpSetOption(req.h, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
        DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
        WinHttpSetOption(req.h, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
        // Each step bounded as well, so one that is cut off here still ends.
        const int total = int(request.totalTimeout.count());
        WinHttpSetTimeouts(req.h, total, int(std::min(request.connectTimeout, request.totalTimeout).count()), total,
                           total);

        // Waits for the step under way: 0 when it succeeded, else why not.
        const auto step = [&]() -> DWORD {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            HANDLE events[2] = {call->done, cancel_};
            switch (WaitForMultipleObjects(2, events, FALSE, DWORD(std::max<long long>(left.count(), 0)))) {
            case WAIT_OBJECT_0: return call->error;
            case WAIT_OBJECT_0 + 1: return ERROR_WINHTTP_OPERATION_CANCELLED;
            default: return ERROR_WINHTTP_TIMEOUT;
            }
        };
        std::wstring headers = isPost ? L"Content-Type: application/x-www-form-urlencoded\r\n" : L"";
        for (const std::string& h : request.headers)
            headers += toUtf16(h) + L"\r\n";
        const DWORD size = isPost ? DWORD(request.form.size()) : 0;
        void* body = isPost ? const_cast<char*>(request.form.data()) : WINHTTP_NO_REQUEST_DATA;
        DWORD err = 0;
        if (!WinHttpSendRequest(req.h, headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(), DWORD(-1),
                                body, size, size, context))
            err = GetLastError();
        if (!err)
            err = step();
        if (!err && !WinHttpReceiveResponse(req.h, nullptr))
            err = GetLastError();
        if (!err)
            err = step();
        if (err)
            return Failure(err, call->certificateFlags);

        HttpResult result;
        DWORD status = 0, statusSize = sizeof status;
        if (!WinHttpQueryHeaders(req.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX))
            return Failure(GetLastError());
        result.retryAfter = header(req.h, WINHTTP_QUERY_RETRY_AFTER);
        result.location = header(req.h, WINHTTP_QUERY_LOCATION);
        result.link = customHeader(req.h, L"Link");
        result.date = header(req.h, WINHTTP_QUERY_DATE);
        for (;;) {
            // One byte past the limit tells whether more would come.
            const std::size_t room = request.bodyLimit - result.body.size();
            const DWORD want = DWORD(std::min(sizeof call->buffer, room + 1));
            err = WinHttpReadData(req.h, call->buffer, want, nullptr) ? step() : GetLastError();
            if (err == ERROR_WINHTTP_OPERATION_CANCELLED)
                return Failure(err);
            if (err) {
                // The head has come: the server has answered, only its body broke off.
                result.bodyBroken = true;
                result.detail = ErrorText(err, 0);
                break;
            }
            const DWORD got = call->bytes;
            if (got == 0)
                break;
            if (got > room) {
                result.body.append(call->buffer, room);
                result.bodyCut = true;  // the rest goes with the connection
                break;
            }
            result.body.append(call->buffer, got);
        }
        // A connection closed early reads like the body's end here.
        DWORD length = 0, lengthSize = sizeof length;
        if (!result.bodyCut && !result.bodyBroken &&
            WinHttpQueryHeaders(req.h, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                                WINHTTP_HEADER_NAME_BY_INDEX, &length, &lengthSize, WINHTTP_NO_HEADER_INDEX) &&
            length > result.body.size())
            result.bodyBroken = true;
        result.kind = HttpResult::Kind::Answered;
        result.status = int(status);
        return result;
    }

    // A header WinHTTP has no number for, however long (a Link holds two URLs).
    static std::string customHeader(HINTERNET request, const wchar_t* name) {
        DWORD size = 0;
        WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name, WINHTTP_NO_OUTPUT_BUFFER, &size,
                            WINHTTP_NO_HEADER_INDEX);
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
            return {};
        std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
        if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name, value.data(), &size, WINHTTP_NO_HEADER_INDEX))
            return {};
        value.resize(size / sizeof(wchar_t));
        return toUtf8(value);
    }

    static std::string header(HINTERNET request, DWORD which) {
        wchar_t buf[512];
        DWORD size = sizeof buf;
        if (!WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, buf, &size, WINHTTP_NO_HEADER_INDEX))
            return {};
        return toUtf8(std::wstring(buf, size / sizeof(wchar_t)));
    }

    HANDLE cancel_;
    HINTERNET resolver_ = nullptr;
    std::map<std::wstring, HINTERNET> sessions_;  // by way
    Way way_;
    std::string wayUrl_;  // the URL way_ was chosen for
    std::atomic<bool> cancelled_{false};
};

}  // namespace

std::unique_ptr<IHttpTransport> CreateHttpTransport() { return std::make_unique<WinHttpTransport>(); }

bool HttpTransportTakesCaFile() { return false; }

std::string HttpProxyAdvice() {
    return "the Windows program takes its proxy from the Windows proxy settings (automatic detection, a setup "
           "script or a proxy given there), else from netsh winhttp, and gives a proxy no user name or password: "
           "have the proxy let the station through, or name the server among the proxy's exceptions";
}

}  // namespace kestrel
