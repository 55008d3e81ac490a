#pragma once
// The progress line kestrel-redecode draws on standard error while a large
// file is read: only on a terminal, and cleared before anything else is said.

#include "Terminal.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrel::redecode {

// "\r<name>: 42 %" on a terminal, for files large enough to wait for.
class ProgressLine {
public:
    ProgressLine(bool enabled, const std::string& name, std::uint64_t size)
        : enabled_(enabled && size >= (16u << 20) && errorStreamIsTerminal()), name_(name), size_(size) {}
    ~ProgressLine() { clear(); }
    void clear() {
        if (shown_)
            std::fprintf(stderr, "\r%*s\r", static_cast<int>(name_.size() + 8), "");
        shown_ = false;
        enabled_ = false;
    }
    void update(std::uint64_t done) {
        if (!enabled_)
            return;
        const int percent = static_cast<int>(done * 100 / size_);
        if (percent == last_)
            return;
        last_ = percent;
        shown_ = true;
        std::fprintf(stderr, "\r%s: %3d %%", name_.c_str(), percent);
        std::fflush(stderr);
    }

private:
    bool enabled_;
    std::string name_;
    std::uint64_t size_;
    int last_ = -1;
    bool shown_ = false;
};

}  // namespace kestrel::redecode
