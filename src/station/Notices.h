#pragma once
// Where the station writes down what an operator must be able to read
// afterwards: a lost port, what could not be archived, a fault of the
// forwarding, why the port or the settings file was not used. Every
// occurrence is written at once, whether or not a box shows it (a box shows a
// repeat only once the first is closed, and none opens while the program
// closes): to standard error, and to every listener (a station log listens
// here).

#include <functional>
#include <string>
#include <vector>

namespace kestrel {

class Notices {
public:
    using Listener = std::function<void(const std::string& text)>;

    // "kestrel-decoder: " and text on standard error, then text to each listener.
    void say(const std::string& text);
    void listen(Listener listener) { listeners_.push_back(std::move(listener)); }

private:
    std::vector<Listener> listeners_;
};

}  // namespace kestrel
