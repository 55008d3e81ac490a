// Forwarding as the station engine sees it: the settings, the forwarder's
// start and stop, one beacon's form, and the status panel's few words.

#include "share/Share.h"

#include "serial/ProfileStore.h"
#include "share/OutboxSlots.h"
#include "share/SidsForm.h"
#include "telemetry/FileSystem.h"

#include <exception>

namespace kestrel {

void Share::Start(const std::string& settingsPath, const std::string& baseDirectory, int slot, IFileSystem& fs,
                  IClock& clock) {
    forwarder_.reset();  // started again: the one before has stopped
    problem_.clear();
    try {
        settings_.Load(*CreateProfileStore(), settingsPath);
    } catch (const std::exception& e) {
        settings_ = {};
        settings_.inFile = true;
        settings_.problem = std::string("[Share] could not be read: ") + e.what();
        settings_.shortProblem = "Share: no ini";
    }
    if (!settings_.inFile)
        return;
    if (!settings_.problem.empty()) {  // the station writes it down
        problem_ = settings_.shortProblem;
        return;
    }
    if (!settings_.enabled())
        return;  // switched off with an empty Url
    const std::string folder = ShareFolder(baseDirectory);
    outboxPath_ = JoinPath(folder, OutboxName(slot));
    ForwarderOptions options;
    options.url = settings_.url;
    options.caFile = settings_.caFile;
    if (slot > 0)  // without a slot of its own it cannot tell a dead program's outbox
        options.adoption = std::make_shared<OutboxAdoption>(fs, baseDirectory, slot);
    try {
        auto forwarder = std::make_unique<Forwarder>(CreateHttpTransport(), outboxPath_,
                                                     JoinPath(folder, RejectsName(slot)), options, fs, clock);
        forwarder->Start();
        forwarder_ = std::move(forwarder);
    } catch (const std::exception& e) {
        notices_.push_back(std::string("Telemetry is not forwarded: ") + e.what());
        problem_ = "Share: failed";
    }
}

void Share::Beacon(std::string_view frame, const SystemTime& utc) {
    if (!forwarder_)
        return;
    SidsFrame f;
    f.noradId = settings_.noradId;
    f.source = settings_.callsign;
    f.utc = utc;
    f.frame = frame;
    f.latitude = settings_.latitude;
    f.longitude = settings_.longitude;
    forwarder_->Submit(FormEncode(SidsFields(f)));
}

void Share::Stop() {
    if (forwarder_)
        forwarder_->Stop();
}

std::string Share::StatusText() const {
    if (!forwarder_)
        return problem_;
    const ForwarderState s = forwarder_->State();
    if (s.held > 0)
        return "In memory " + std::to_string(s.held);
    if (!s.faultText.empty())
        return s.faultText;
    if (s.offline)
        return "Share offline";
    if (s.refusedLast)
        return "Share refused";
    if (s.queued > 0)
        return "Queued " + std::to_string(s.queued);
    return "Shared " + std::to_string(s.sent);
}

std::string Share::StatusTip() const { return forwarder_ ? forwarder_->State().fault : settings_.problem; }

std::vector<std::string> Share::TakeNotices() {
    std::vector<std::string> notices = std::exchange(notices_, {});
    if (forwarder_)
        for (std::string& n : forwarder_->TakeNotices())
            notices.push_back(std::move(n));
    return notices;
}

}  // namespace kestrel
