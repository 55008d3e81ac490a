#pragma once
// The outbox: every frame to forward, appended as a text line before its first
// attempt, and a mark appended once the server took it (or refused it for
// good). Nothing is ever rewritten in place:
//
//   Q <number> <url> <form>     a frame to send to url (the form is
//                               percent-encoded, so it holds no blank and no
//                               line break)
//   S <number>                  the server took it (2xx)
//   R <number>                  the server refused it (4xx); see the rejects file
//
// A program killed at any moment leaves at worst a torn last line, which the
// next start ignores. The file is read once, when opened; it is emptied only
// when nothing in it waits to be sent.
//
// Not thread-safe: the forwarder serialises every call.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kestrel {

struct OutboxRecord {
    std::uint64_t number = 0;
    std::string url;
    std::string form;
};

class Outbox {
public:
    explicit Outbox(std::string path) : path_(std::move(path)) {}
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // Reads the file (creating it and its folder when missing) and returns what
    // was not acknowledged, oldest first. Throws std::runtime_error saying why
    // it cannot be read or written.
    std::vector<OutboxRecord> Open();

    // Appends a frame and hands it to the operating system (a killed program
    // keeps it). Throws std::runtime_error when it cannot be written; the
    // record is still returned through `record` for sending.
    void Append(OutboxRecord& record, const std::string& url, const std::string& form);
    void MarkSent(std::uint64_t number) { mark('S', number); }
    void MarkRefused(std::uint64_t number) { mark('R', number); }
    // Down to the disk (a power cut keeps what was appended so far).
    void Sync();
    // Empties the file; only for when nothing in it waits to be sent.
    void Clear();
    std::uint64_t Size() const { return size_; }
    const std::string& Path() const { return path_; }

private:
    void write(const std::string& line);
    void mark(char kind, std::uint64_t number);

    std::string path_;
    std::FILE* file_ = nullptr;
    std::uint64_t next_ = 1;
    std::uint64_t size_ = 0;
};

// Flushes a stdio stream's file to the disk; platform files FileSync*.cpp.
bool SyncToDisk(std::FILE* file);

}  // namespace kestrel
