#pragma once
// Shared pieces of the window tests: a scratch working directory, a pseudo-
// terminal standing in for the TNC, recorded message boxes, bounded waits.

#include "gui/ExceptionReport.h"
#include "serial/CPortSetup.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace kestrel::test {

// A fresh directory that is the working directory while the object lives.
class WorkingDir {
public:
    WorkingDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() / ("kestrel-gui-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(path_);
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~WorkingDir() {
        std::error_code ec;
        std::filesystem::current_path(old_, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const char* name) const { return path_ / name; }

private:
    std::filesystem::path path_;
    std::filesystem::path old_;
};

inline std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::filesystem::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

inline std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(dir))
        for (const auto& e : std::filesystem::directory_iterator(dir))
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

// The TNC side of a pseudo-terminal; the program opens slaveName().
class Pty {
public:
    Pty() {
        char name[128];
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        name_ = name;
        termios t{};
        ::tcgetattr(slave_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave_, TCSANOW, &t);
    }
    ~Pty() {
        ::close(master_);
        ::close(slave_);
    }
    const std::string& slaveName() const { return name_; }
    void write(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                throw std::runtime_error("pty write failed");
            done += static_cast<std::size_t>(n);
        }
    }
    // What the program wrote to the port so far (non-blocking).
    std::string readAvailable() {
        std::string out;
        const int flags = ::fcntl(master_, F_GETFL);
        ::fcntl(master_, F_SETFL, flags | O_NONBLOCK);
        char buf[4096];
        for (ssize_t n; (n = ::read(master_, buf, sizeof buf)) > 0;)
            out.append(buf, static_cast<std::size_t>(n));
        ::fcntl(master_, F_SETFL, flags);
        return out;
    }

private:
    int master_ = -1;
    int slave_ = -1;  // kept open so the pty stays up between program opens
    std::string name_;
};

inline std::string SettingsFor(const std::string& port) {
    return "[CPort]\r\nPort=" + port + "\r\nBaudRate=9600\r\nStopBits=1\r\nDataBits=8\r\nParity=None\r\nFlowControl=None\r\n";
}

struct ShownMessage {
    TMessageKind kind;
    QString title;
    QString text;
};

// Records message boxes instead of showing them; onShow runs while the
// "box is up".
class MessageRecorder {
public:
    MessageRecorder() {
        SetMessagePresenter([this](TMessageKind kind, const QString& title, const QString& text) {
            shown.push_back({kind, title, text});
            if (onShow)
                onShow(shown.back());
        });
    }
    ~MessageRecorder() { SetMessagePresenter(nullptr); }
    std::vector<QString> texts() const {
        std::vector<QString> t;
        for (const auto& m : shown)
            t.push_back(m.text);
        return t;
    }
    std::vector<ShownMessage> shown;
    std::function<void(const ShownMessage&)> onShow;
};

// Runs the event loop until pred holds or the bound runs out.
inline bool WaitUntil(const std::function<bool()>& pred, int boundMs = 10000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > boundMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Runs the setup dialog through a test function instead of its modal loop.
class DialogDriver {
public:
    explicit DialogDriver(TSetupDialogDriver driver) { SetSetupDialogDriver(std::move(driver)); }
    ~DialogDriver() { SetSetupDialogDriver(nullptr); }
};

}  // namespace kestrel::test
