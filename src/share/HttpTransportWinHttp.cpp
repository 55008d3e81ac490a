// HTTP through WinHTTP, a system DLL. The system's certificate store decides
// what is trusted; verification is WinHTTP's default (on).
#include "share/HttpTransport.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>

namespace kestrel {

namespace {

std::wstring Widen(const std::string& s) {
    if (s.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
    std::wstring w(std::size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), w.data(), n);
    return w;
}

HttpResult Failure(DWORD code) {
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
    case ERROR_WINHTTP_OPERATION_CANCELLED:
    case ERROR_INVALID_HANDLE: r.kind = HttpResult::Kind::Cancelled; break;
    default: r.kind = HttpResult::Kind::Failed; break;
    }
    r.detail = "WinHTTP error " + std::to_string(code);
    return r;
}

// The answer's header lines ("Name: value" each, CR LF between), as ASCII.
std::string RawHeaders(HINTERNET request) {
    DWORD bytes = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &bytes, WINHTTP_NO_HEADER_INDEX);
    if (bytes == 0)
        return {};
    std::wstring wide(bytes / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, wide.data(), &bytes,
                             WINHTTP_NO_HEADER_INDEX))
        return {};
    wide.resize(bytes / sizeof(wchar_t));
    std::string text;
    text.reserve(wide.size());
    for (wchar_t c : wide)
        text += c < 0x80 ? char(c) : '?';
    return text;
}

struct Handle {
    HINTERNET h = nullptr;
    ~Handle() {
        if (h)
            WinHttpCloseHandle(h);
    }
};

class WinHttpTransport final : public IHttpTransport {
public:
    WinHttpTransport() {
        session_ = WinHttpOpen(L"kestrel-decoder", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0);
    }
    ~WinHttpTransport() override { closeSession(); }

    HttpResult post(const HttpRequest& request) override { return perform(request, true); }
    HttpResult get(const HttpRequest& request) override { return perform(request, false); }

    // Closing the session ends a blocking call on its requests.
    void cancel() override {
        cancelled_ = true;
        closeSession();
    }

private:
    HttpResult perform(const HttpRequest& request, bool isPost) {
        HINTERNET session;
        {
            std::lock_guard lock(mutex_);
            session = session_;
        }
        if (cancelled_ || !session)
            return Failure(ERROR_WINHTTP_OPERATION_CANCELLED);
        const std::wstring url = Widen(request.url);
        URL_COMPONENTS parts{};
        parts.dwStructSize = sizeof parts;
        parts.dwHostNameLength = DWORD(-1);
        parts.dwUrlPathLength = DWORD(-1);
        parts.dwExtraInfoLength = DWORD(-1);
        if (!WinHttpCrackUrl(url.c_str(), DWORD(url.size()), 0, &parts))
            return Failure(GetLastError());
        const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
        std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
        path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
        if (path.empty())
            path = L"/";

        const int connect = int(request.connectTimeout.count());
        const int total = int(request.totalTimeout.count());
        WinHttpSetTimeouts(session, connect, connect, total, total);
        Handle connection{WinHttpConnect(session, host.c_str(), parts.nPort, 0)};
        if (!connection.h)
            return Failure(GetLastError());
        const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
        Handle req{WinHttpOpenRequest(connection.h, isPost ? L"POST" : L"GET", path.c_str(), nullptr,
                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags)};
        if (!req.h)
            return Failure(GetLastError());
        std::wstring headers = isPost ? L"Content-Type: application/x-www-form-urlencoded\r\n" : L"";
        for (const std::string& h : request.headers)
            headers += Widen(h) + L"\r\n";
        const DWORD size = isPost ? DWORD(request.form.size()) : 0;
        void* body = isPost ? const_cast<char*>(request.form.data()) : WINHTTP_NO_REQUEST_DATA;
        if (!WinHttpSendRequest(req.h, headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(), DWORD(-1),
                                body, size, size, 0) ||
            !WinHttpReceiveResponse(req.h, nullptr))
            return Failure(GetLastError());

        HttpResult result;
        DWORD status = 0, statusSize = sizeof status;
        if (!WinHttpQueryHeaders(req.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX))
            return Failure(GetLastError());
        result.headers = RawHeaders(req.h);
        for (;;) {
            char buf[4096];
            DWORD got = 0;
            if (!WinHttpReadData(req.h, buf, sizeof buf, &got))
                return Failure(GetLastError());
            if (got == 0)
                break;
            const std::size_t room = request.bodyLimit - std::min<std::size_t>(result.body.size(), request.bodyLimit);
            result.body.append(buf, std::min<std::size_t>(got, room));
            if (got > room)
                result.bodyCut = true;
        }
        result.kind = HttpResult::Kind::Answered;
        result.status = int(status);
        return result;
    }

    void closeSession() {
        std::lock_guard lock(mutex_);
        if (session_)
            WinHttpCloseHandle(session_);
        session_ = nullptr;
    }

    std::mutex mutex_;
    HINTERNET session_ = nullptr;
    std::atomic<bool> cancelled_{false};
};

}  // namespace

std::unique_ptr<IHttpTransport> CreateHttpTransport() { return std::make_unique<WinHttpTransport>(); }

bool HttpTransportTakesCaFile() { return false; }

}  // namespace kestrel
