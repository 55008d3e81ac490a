#pragma once
// A small telemetry server for the tests, POSIX sockets and OpenSSL: takes
// SiDS form posts on 127.0.0.1, checks every field and its format, and answers
// as the test tells it; answers GETs (pages of telemetry) as the test's handler
// says. Plain HTTP, or HTTPS with a certificate of TestPki.

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::test {

// A throw-away certificate authority and a server certificate it signed for
// 127.0.0.1 and localhost, made by the openssl program in dir.
struct TestPki {
    std::string caCert, serverCert, serverKey;
    static TestPki Make(const std::filesystem::path& dir, const std::string& name = "ca");
};

class SidsServer {
public:
    // 201, 400, 500, none at all, 429 (with Retry-After when set), and the
    // redirects 301, 302 and 307 to another path.
    enum class Answer { Created, BadRequest, ServerError, Never, TooManyRequests, Moved, Found, TemporaryRedirect };

    struct Submission {
        std::string request;                        // as it came, head and body
        std::map<std::string, std::string> fields;  // decoded
        std::vector<std::string> problems;          // what is wrong with it; empty when all is right
        int answered = 0;                           // the status sent back; 0: none
        std::chrono::system_clock::time_point at;
    };

    explicit SidsServer(std::optional<TestPki> tls = {});
    ~SidsServer();
    SidsServer(const SidsServer&) = delete;
    SidsServer& operator=(const SidsServer&) = delete;

    std::string url() const;  // http(s)://127.0.0.1:<port>/api/telemetry/
    // How the next requests are answered (a frame whose hex is in refuse gets
    // 400 whatever the answer).
    void answer(Answer a);
    void refuseFrame(const std::string& hex);
    // The Retry-After header of a 429; empty: none.
    void retryAfter(const std::string& value);
    // The listener closed (connections refused) and opened again on its port.
    void goDown();
    void comeUp();

    // A GET's answer: status, further header lines (each ending in CR LF), body.
    struct Reply {
        int status = 200;
        std::string headers;
        std::string body;
        bool cut = false;  // the connection closes before the whole body (its length claimed) is sent
    };
    // Answers each GET with what the handler makes of its request head (the
    // request line and headers); without one a GET gets 404.
    void answerGets(std::function<Reply(const std::string& head)> handler);

    // Answers each post (but those of refused frames) with what the handler
    // makes of it, instead of answer()'s.
    void answerPosts(std::function<Reply(const Submission&)> handler);

    // Posts and GETs as they came; a GET's fields are empty.
    std::vector<Submission> received() const;
    // The frames of the requests answered 2xx, in order.
    std::vector<std::string> taken() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrel::test
