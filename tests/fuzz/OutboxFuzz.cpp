// Arbitrary outbox text, as a kill, a full disk or a hand edit could leave it,
// through the outbox's reader on an in-memory file system. Beyond the
// sanitizers it checks that opening keeps exactly the records the reading
// rules find, leaves a file that reads back the same (damaged lines only
// once set aside), and that a frame added and everything settled survive the
// next opening.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "share/Outbox.h"
#include "support/MemoryFileSystem.h"

namespace {

using namespace kestrel;

// Names the broken rule: a crash report alone gives no line once inlined.
void check(bool ok, int line) {
    if (!ok) {
        std::fprintf(stderr, "OutboxFuzz.cpp:%d: rule broken\n", line);
        std::abort();
    }
}
#define CHECK(x) check((x), __LINE__)

const std::string kPath = "/station/Telemetry/share/outbox.txt";
const std::string kDamagedPath = "/station/Telemetry/share/outbox-damaged.txt";

std::vector<std::string> Forms(Outbox& box) {
    std::vector<std::string> forms;
    while (const OutboxRecord* r = box.Front()) {
        forms.push_back(r->form);
        box.Settle(r->id, false);
    }
    return forms;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const OutboxContents expected = ReadOutboxText(text);
    CHECK(expected.wholeLines <= text.size());
    std::vector<std::string> expectedForms;
    for (const OutboxRecord& r : expected.waiting) {
        CHECK(r.number > 0 && !r.form.empty() && r.form.find(' ') == std::string::npos);
        expectedForms.push_back(r.form);
    }

    test::MemoryFileSystem fs;
    fs.folders.insert("/station/Telemetry");
    fs.folders.insert("/station/Telemetry/share");
    fs.files[kPath] = text;
    {
        Outbox box(fs, kPath);
        CHECK(box.Open());
        CHECK(box.Damaged() == expected.damaged.size());
        CHECK(box.Waiting() == expected.waiting.size());
        // What opening left reads back the same, whole. Damaged lines may stay
        // in place until the outbox empties, but only once copied aside.
        const OutboxContents again = ReadOutboxText(fs.files.at(kPath));
        CHECK(again.wholeLines == fs.files.at(kPath).size());
        CHECK(again.waiting.size() == expected.waiting.size());
        CHECK(again.damaged.size() <= expected.damaged.size());
        const auto aside = fs.files.find(kDamagedPath);
        for (const std::string& line : again.damaged)
            CHECK(aside != fs.files.end() && aside->second.find(line + "\n") != std::string::npos);
        box.Add("a=new");
        CHECK(box.Held() == 0);
    }
    fs.revive();
    Outbox box(fs, kPath);
    CHECK(box.Open() && box.Damaged() == 0);
    expectedForms.push_back("a=new");
    CHECK(Forms(box) == expectedForms);
    fs.revive();
    Outbox empty(fs, kPath);
    CHECK(empty.Open() && empty.Waiting() == 0);
    return 0;
}
