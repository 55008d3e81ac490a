#pragma once
// The outbox: every frame to forward, appended as a text line before its first
// attempt, and a mark appended once the server took it (or refused it for
// good). Nothing is ever rewritten in place:
//
//   Q <number> - <form>         a frame to send (the form is percent-encoded,
//                               so it holds no blank and no line break); the
//                               "-" stands where earlier versions wrote the
//                               Url, which may hold a token: frames go to the
//                               Url the settings name now
//   S <number>                  the server took it (2xx)
//   R <number>                  the server refused it (4xx); see the rejects file
//
// A program killed at any moment leaves at worst a torn last line, which the
// next start cuts off. A write that fails part-way (a full disk) is cut back
// to the last whole line, and what could not be written is held in memory and
// written, in order, as soon as writing works again: no line ever holds two
// records. Lines that are not records (a damaged or hand-edited file) are
// copied whole, once, to a file beside the outbox and never sent; they stay
// in the outbox until it is emptied, so nothing needs the room for a second
// copy of the outbox. The file is read once, when opened; it is emptied only
// when nothing in it waits to be sent.
//
// Not thread-safe: the forwarder serialises every call. Only SyncHandle()'s
// handle may be used outside that serialisation (it stays open until the
// outbox goes).

#include "telemetry/FileSystem.h"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

struct OutboxRecord {
    std::uint64_t id = 0;      // this run's own count, never 0
    std::uint64_t number = 0;  // its number in the file; 0 while held in memory
    std::string form;
};

// What a read of the outbox's text found.
struct OutboxContents {
    std::vector<OutboxRecord> waiting;  // queued and not marked, by number
    std::vector<std::string> damaged;   // whole lines that are not records
    std::uint64_t highest = 0;          // the highest record number seen
    std::size_t wholeLines = 0;         // bytes up to the end of the last whole line
};
// The reading rules alone (no files): CR LF reads as LF; a record number is
// 1 to 999999999999999; a line longer than kLongestLine, a record queued
// twice or a line of any other form is damaged; a torn last line is not read.
OutboxContents ReadOutboxText(std::string_view text);

class Outbox {
public:
    static constexpr std::size_t kLongestLine = 16 * 1024;

    Outbox(IFileSystem& fs, std::string path);
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // Reads the file (creating it and its folder when missing) and queues
    // what was not acknowledged, oldest first, before anything added
    // meanwhile. False when it cannot be read or written yet (Problem() says
    // why); then records are held in memory and Add() tries again.
    bool Open();
    bool IsOpen() const { return file_ != kNoFile; }
    // Writes what it can of what is held, lets the file go and forgets the
    // queue: the file says what waits, and the next Open() reads it afresh.
    void Close() noexcept;

    // Queues a frame and writes it (after anything still held in memory).
    // Never throws: what cannot be written is held in memory.
    void Add(const std::string& form);
    // The frame to send next; nullptr when none waits.
    const OutboxRecord* Front() const { return queue_.empty() ? nullptr : &queue_.front(); }
    // The server has had its say on the record with this id: marked (when it
    // is in the file) and off the queue.
    void Settle(std::uint64_t id, bool refused);
    // Writes what is held in memory; true when nothing is held any longer.
    bool WriteHeld();
    // Empties the file when nothing waits and it has grown past `size` or
    // holds damaged lines (once they are safe in the damaged-lines file).
    void Compact(std::uint64_t size);

    std::size_t Waiting() const { return queue_.size(); }
    // Records that are only in memory (lost if the program ends now).
    std::size_t Held() const { return held_; }
    // Damaged lines copied aside at opening (those an earlier start copied
    // already are not counted again), and where to.
    std::size_t Damaged() const { return damaged_; }
    std::string DamagedPath() const;
    // Damaged lines that could not be copied aside yet (Problem() says why):
    // they stay in the outbox, which is not emptied until they are copied.
    bool DamagedUnsaved() const { return damagedUnsaved_; }
    // Why the last open or write failed; empty once one succeeds.
    const std::string& Problem() const { return problem_; }
    const std::string& Path() const { return path_; }
    std::uint64_t Size() const { return size_; }
    // The open file, for a sync to the disk (IFileSystem::sync) that need not
    // hold the forwarder's lock; kNoFile when not open.
    FileHandle SyncHandle() const { return file_; }

private:
    bool openFile();
    bool append(const std::string& line);
    void rewrite(const std::vector<OutboxRecord>& waiting);
    void ensureFolder();
    std::size_t setAside();

    IFileSystem& fs_;
    const std::string path_;
    FileHandle file_ = kNoFile;
    std::deque<OutboxRecord> queue_;
    std::vector<std::string> marks_;  // marks not yet written
    std::size_t held_ = 0;            // records of queue_ not in the file
    std::uint64_t nextId_ = 1;
    std::uint64_t next_ = 1;
    std::uint64_t size_ = 0;
    bool brokenLine_ = false;  // a failed write left part of a line that could not be cut off
    std::size_t damaged_ = 0;
    // Damaged lines still in the file, and those of them not yet copied aside
    // (a full disk): the file is not emptied while any are.
    std::vector<std::string> damagedLines_;
    bool damagedUnsaved_ = false;
    std::string problem_;
};

}  // namespace kestrel
