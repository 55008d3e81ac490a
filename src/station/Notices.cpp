// The station's notices: standard error and the listeners (see Notices.h).

#include "station/Notices.h"

#include <cstdio>

namespace kestrel {

void Notices::say(const std::string& text) {
    std::fprintf(stderr, "kestrel-decoder: %s\n", text.c_str());
    std::fflush(stderr);
    for (const Listener& listener : listeners_)
        listener(text);
}

}  // namespace kestrel
