// Arbitrary outbox text, as a kill, a full disk or a hand edit could leave it,
// through the outbox's reader on an in-memory file system. Beyond the
// sanitizers it checks that opening keeps exactly the records the reading
// rules find, leaves a file that reads back the same with nothing damaged,
// and that a frame added and everything settled survive the next opening.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "share/Outbox.h"
#include "support/MemoryFileSystem.h"

namespace {

using namespace kestrel;

void check(bool ok) {
    if (!ok)
        std::abort();
}

const std::string kPath = "/station/Telemetry/share/outbox.txt";

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
    check(expected.wholeLines <= text.size());
    std::vector<std::string> expectedForms;
    for (const OutboxRecord& r : expected.waiting) {
        check(r.number > 0 && !r.form.empty() && r.form.find(' ') == std::string::npos);
        expectedForms.push_back(r.form);
    }

    test::MemoryFileSystem fs;
    fs.folders.insert("/station/Telemetry");
    fs.folders.insert("/station/Telemetry/share");
    fs.files[kPath] = text;
    {
        Outbox box(fs, kPath);
        check(box.Open());
        check(box.Damaged() == expected.damaged.size());
        check(box.Waiting() == expected.waiting.size());
        // What opening left reads back the same, whole.
        const OutboxContents again = ReadOutboxText(fs.files.at(kPath));
        check(again.damaged.empty() && again.wholeLines == fs.files.at(kPath).size());
        check(again.waiting.size() == expected.waiting.size());
        box.Add("a=new");
        check(box.Held() == 0);
    }
    fs.revive();
    Outbox box(fs, kPath);
    check(box.Open() && box.Damaged() == 0);
    expectedForms.push_back("a=new");
    check(Forms(box) == expectedForms);
    fs.revive();
    Outbox empty(fs, kPath);
    check(empty.Open() && empty.Waiting() == 0);
    return 0;
}
