// The forwarding tests' telemetry server: accepts form posts on 127.0.0.1
// over plain HTTP or TLS, checks each field and answers as told.
//
// In order: the test certificates; checking a posted form field by field; the
// server's thread (accept, TLS, read a request, answer as told); the public
// calls that tell it how to answer and what it received.

#include "support/SidsServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <regex>
#include <set>
#include <stdexcept>
#include <thread>

namespace kestrel::test {

namespace fs = std::filesystem;

TestPki TestPki::Make(const fs::path& dir, const std::string& name) {
    const fs::path d = dir / name;
    fs::create_directories(d);
    const std::string q = "'" + d.string() + "/";
    const std::string cmd =
        "cd '" + d.string() +
        "' && printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' > san.ext && "
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=kestrel test " +
        name +
        "' -keyout ca.key -out ca.pem && "
        "openssl req -newkey rsa:2048 -nodes -subj '/CN=127.0.0.1' -keyout server.key -out server.csr && "
        "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile san.ext "
        "-out server.pem";
    if (std::system(("(" + cmd + ") >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("openssl could not make the test certificates in " + d.string());
    return {(d / "ca.pem").string(), (d / "server.pem").string(), (d / "server.key").string()};
}

namespace {

std::string PercentDecode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+')
            out += ' ';
        else if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
                 std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += char(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else
            out += s[i];
    }
    return out;
}

// Every field the convention has, its format, and nothing else.
void Check(SidsServer::Submission& s, const std::string& head, const std::string& body) {
    auto problem = [&](std::string p) { s.problems.push_back(std::move(p)); };
    if (head.rfind("POST /api/telemetry/ HTTP/1.1\r\n", 0) != 0)
        problem("not a POST to /api/telemetry/");
    static const std::regex contentType("\r\ncontent-type: *application/x-www-form-urlencoded\r\n", std::regex::icase);
    if (!std::regex_search(head, contentType))
        problem("Content-Type is not application/x-www-form-urlencoded");
    std::size_t pos = 0;
    while (pos <= body.size()) {
        std::size_t amp = body.find('&', pos);
        if (amp == std::string::npos)
            amp = body.size();
        const std::string pair = body.substr(pos, amp - pos);
        const std::size_t eq = pair.find('=');
        if (eq == std::string::npos) {
            problem("a field without '=': " + pair);
        } else {
            const std::string name = PercentDecode(pair.substr(0, eq));
            if (!s.fields.emplace(name, PercentDecode(pair.substr(eq + 1))).second)
                problem("twice: " + name);
        }
        pos = amp + 1;
    }
    static const std::vector<std::pair<std::string, std::regex>> kFormats = {
        {"noradID", std::regex("[1-9][0-9]*")},
        {"source", std::regex(".+")},
        {"timestamp", std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z")},
        {"frame", std::regex("([0-9A-F]{2})+")},
        {"locator", std::regex("longLat")},
        {"longitude", std::regex("[0-9]{1,3}\\.[0-9]+[EW]")},
        {"latitude", std::regex("[0-9]{1,2}\\.[0-9]+[NS]")},
        {"version", std::regex(".+")},
    };
    for (const auto& [name, format] : kFormats) {
        auto it = s.fields.find(name);
        if (it == s.fields.end())
            problem("missing: " + name);
        else if (!std::regex_match(it->second, format))
            problem("malformed " + name + ": " + it->second);
    }
    for (const auto& [name, value] : s.fields)
        if (std::none_of(kFormats.begin(), kFormats.end(), [&](auto& f) { return f.first == name; }))
            problem("unknown field: " + name);
}

}  // namespace

struct SidsServer::Impl {
    SSL_CTX* ctx = nullptr;
    int port = 0;
    int listener = -1;
    int wake[2] = {-1, -1};
    std::thread thread;
    mutable std::mutex mutex;
    Answer mode = Answer::Created;
    std::string retryAfter;
    std::set<std::string> refused;
    std::vector<Submission> received;
    std::vector<int> held;  // connections never answered
    std::function<Reply(const std::string&)> gets;
    std::function<Reply(const Submission&)> posts;
    std::atomic<bool> stop{false};

    void listen() {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        int one = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(port));
        // Back on its old port, a client of another test may hold that port
        // for a moment as its own end of a connection.
        for (int tries = 0; bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0; ++tries) {
            if (tries == 200)
                throw std::runtime_error("the test server cannot listen on its port");
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        if (::listen(listener, 64) != 0)
            throw std::runtime_error("the test server cannot listen");
        socklen_t len = sizeof a;
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }

    void run() {
        while (!stop) {
            pollfd p[2] = {{wake[0], POLLIN, 0}, {-1, POLLIN, 0}};
            {
                std::lock_guard lock(mutex);
                p[1].fd = listener;
            }
            if (poll(p, 2, 100) <= 0 || stop)
                continue;
            if (p[0].revents) {
                char c;
                (void)!read(wake[0], &c, 1);
                continue;
            }
            if (!(p[1].revents & POLLIN))
                continue;
            int fd;
            {
                std::lock_guard lock(mutex);  // the listener may have gone down meanwhile
                fd = listener == p[1].fd ? accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
            }
            if (fd >= 0)
                serve(fd);
        }
    }

    // One request per connection, answered with Connection: close.
    void serve(int fd) {
        timeval tv{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        SSL* ssl = nullptr;
        if (ctx) {
            ssl = SSL_new(ctx);
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) != 1) {  // an untrusting client ends here
                SSL_free(ssl);
                close(fd);
                return;
            }
        }
        auto recvSome = [&](char* buf, int n) { return ssl ? SSL_read(ssl, buf, n) : int(::recv(fd, buf, n, 0)); };
        std::string in;
        std::size_t headEnd;
        char buf[8192];
        while ((headEnd = in.find("\r\n\r\n")) == std::string::npos) {
            const int n = recvSome(buf, sizeof buf);
            if (n <= 0)
                return finish(fd, ssl);
            in.append(buf, std::size_t(n));
        }
        std::size_t length = 0;
        static const std::regex contentLength("\r\ncontent-length: *([0-9]+)\r\n", std::regex::icase);
        std::smatch m;
        const std::string head = in.substr(0, headEnd + 2);
        if (std::regex_search(head, m, contentLength))
            length = std::stoul(m[1]);
        while (in.size() < headEnd + 4 + length) {
            const int n = recvSome(buf, sizeof buf);
            if (n <= 0)
                return finish(fd, ssl);
            in.append(buf, std::size_t(n));
        }
        Submission s;
        s.request = in;
        s.at = std::chrono::system_clock::now();
        if (head.rfind("GET ", 0) == 0)
            return answerGet(fd, ssl, std::move(s), head);
        Check(s, head, in.substr(headEnd + 4, length));
        std::function<Reply(const Submission&)> handler;
        {
            std::lock_guard lock(mutex);
            if (!refused.count(s.fields["frame"]))
                handler = posts;
        }
        if (handler) {
            const Reply r = handler(s);
            return reply(fd, ssl, std::move(s), r);
        }
        std::lock_guard lock(mutex);
        Answer a = mode;
        if (refused.count(s.fields["frame"]))
            a = Answer::BadRequest;
        if (a == Answer::Never) {
            received.push_back(std::move(s));
            if (ssl)
                SSL_free(ssl);  // the socket stays open, unanswered
            held.push_back(fd);
            return;
        }
        std::string reply;
        std::string body = "server error";
        switch (a) {
        case Answer::Created:
            s.answered = 201;
            reply = "HTTP/1.1 201 Created\r\n";
            body = "{\"status\": \"created\"}";
            break;
        case Answer::BadRequest:
            s.answered = 400;
            reply = "HTTP/1.1 400 Bad Request\r\n";
            body = "{\"frame\": [\"This frame is not valid for this satellite.\"]}";
            break;
        case Answer::TooManyRequests:
            s.answered = 429;
            reply = "HTTP/1.1 429 Too Many Requests\r\n";
            if (!retryAfter.empty())
                reply += "Retry-After: " + retryAfter + "\r\n";
            body = "{\"detail\": \"Request was throttled.\"}";
            break;
        case Answer::Moved:
        case Answer::Found:
        case Answer::TemporaryRedirect:
            s.answered = a == Answer::Moved ? 301 : a == Answer::Found ? 302 : 307;
            reply = "HTTP/1.1 " + std::to_string(s.answered) + " Elsewhere\r\nLocation: /api/moved/\r\n";
            body = "";
            break;
        default:
            s.answered = 500;
            reply = "HTTP/1.1 500 Internal Server Error\r\n";
            break;
        }
        reply +=
            "Content-Type: application/json\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\n\r\n" + body;
        received.push_back(std::move(s));
        if (ssl)
            SSL_write(ssl, reply.data(), int(reply.size()));
        else
            (void)!::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        finish(fd, ssl);
    }

    void answerGet(int fd, SSL* ssl, Submission s, const std::string& head) {
        std::function<Reply(const std::string&)> handler;
        {
            std::lock_guard lock(mutex);
            handler = gets;
        }
        reply(fd, ssl, std::move(s), handler ? handler(head) : Reply{404, "", "{\"detail\": \"Not found.\"}"});
    }

    // A reply as the test's handler made it; a cut one claims twice its body.
    void reply(int fd, SSL* ssl, Submission s, const Reply& r) {
        const std::size_t claimed = r.cut ? 2 * r.body.size() + 10 : r.body.size();
        const std::string reply =
            "HTTP/1.1 " + std::to_string(r.status) + " Answer\r\n" + r.headers +
            "Content-Type: application/json\r\nConnection: close\r\nContent-Length: " + std::to_string(claimed) +
            "\r\n\r\n" + r.body;
        s.answered = r.status;
        {
            std::lock_guard lock(mutex);
            received.push_back(std::move(s));
        }
        if (ssl)
            SSL_write(ssl, reply.data(), int(reply.size()));
        else
            (void)!::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        finish(fd, ssl);
    }

    void finish(int fd, SSL* ssl) {
        if (ssl) {
            SSL_shutdown(ssl);
            SSL_free(ssl);
        }
        close(fd);
    }

    void dropHeld() {
        for (int fd : held)
            close(fd);
        held.clear();
    }
};

SidsServer::SidsServer(std::optional<TestPki> tls) : impl_(std::make_unique<Impl>()) {
    if (tls) {
        impl_->ctx = SSL_CTX_new(TLS_server_method());
        if (SSL_CTX_use_certificate_chain_file(impl_->ctx, tls->serverCert.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(impl_->ctx, tls->serverKey.c_str(), SSL_FILETYPE_PEM) != 1)
            throw std::runtime_error("the test server cannot load its certificate");
    }
    if (pipe(impl_->wake) != 0)
        throw std::runtime_error("pipe");
    impl_->listen();
    impl_->thread = std::thread([this] { impl_->run(); });
}

SidsServer::~SidsServer() {
    impl_->stop = true;
    (void)!write(impl_->wake[1], "x", 1);
    impl_->thread.join();
    std::lock_guard lock(impl_->mutex);
    impl_->dropHeld();
    if (impl_->listener >= 0)
        close(impl_->listener);
    close(impl_->wake[0]);
    close(impl_->wake[1]);
    if (impl_->ctx)
        SSL_CTX_free(impl_->ctx);
}

std::string SidsServer::url() const {
    return std::string(impl_->ctx ? "https" : "http") + "://127.0.0.1:" + std::to_string(impl_->port) +
           "/api/telemetry/";
}

void SidsServer::answer(Answer a) {
    std::lock_guard lock(impl_->mutex);
    impl_->mode = a;
    if (a != Answer::Never)
        impl_->dropHeld();
}

void SidsServer::answerGets(std::function<Reply(const std::string& head)> handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->gets = std::move(handler);
}

void SidsServer::answerPosts(std::function<Reply(const Submission&)> handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->posts = std::move(handler);
}

void SidsServer::retryAfter(const std::string& value) {
    std::lock_guard lock(impl_->mutex);
    impl_->retryAfter = value;
}

void SidsServer::refuseFrame(const std::string& hex) {
    std::lock_guard lock(impl_->mutex);
    impl_->refused.insert(hex);
}

void SidsServer::goDown() {
    std::lock_guard lock(impl_->mutex);
    close(impl_->listener);
    impl_->listener = -1;
    impl_->dropHeld();
}

void SidsServer::comeUp() {
    std::lock_guard lock(impl_->mutex);
    if (impl_->listener < 0)
        impl_->listen();
    (void)!write(impl_->wake[1], "x", 1);
}

std::vector<SidsServer::Submission> SidsServer::received() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->received;
}

std::vector<std::string> SidsServer::taken() const {
    std::lock_guard lock(impl_->mutex);
    std::vector<std::string> frames;
    for (const auto& s : impl_->received)
        if (s.answered / 100 == 2 && s.fields.count("frame"))
            frames.push_back(s.fields.at("frame"));
    return frames;
}

}  // namespace kestrel::test
