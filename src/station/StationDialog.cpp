// The station dialog's rules without a window: the form checked by the
// settings file's rules, the keys it sets, the port field's choices (see
// StationDialog.h); and the engine's side of it: the form as the settings
// stand, and OK put in use.

#include "station/StationDialog.h"

#include "serial/AsciiCase.h"
#include "station/PortFailure.h"
#include "station/Station.h"
#include "serial/ComSelect.h"
#include "share/ShareSettings.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <memory>
#include <string_view>

namespace kestrel {
namespace {

// The guide's placeholders, which forward nothing anyone can use.
constexpr std::string_view kPlaceholderCallsign = "N0CALL";
constexpr std::string_view kPlaceholderNoradId = "99999";
constexpr double kExampleLatitude = 49.73145, kExampleLongitude = 8.95564;

// A software TNC's pseudo-terminal, as direwolf -p names it.
constexpr const char* kSoftwareTncPty = "/tmp/kisstnc";

bool IsNumber(const std::string& text, double value) {
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
    return ec == std::errc() && end == text.data() + text.size() && v == value;
}

// A whole number from 1 to 65535 in digits alone, or 0.
int TcpPortOf(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    const int port = std::stoi(text);
    return port <= 65535 ? port : 0;
}

// The field a [Share] sentence is about: the key it begins with.
StationField ShareField(const std::string& sentence) {
    const std::string_view key = std::string_view(sentence).substr(0, sentence.find(' '));
    if (key == "NoradId")
        return StationField::NoradId;
    if (key == "Callsign")
        return StationField::Callsign;
    if (key == "Latitude")
        return StationField::Latitude;
    if (key == "Longitude")
        return StationField::Longitude;
    return StationField::Url;
}

}  // namespace

StationFormProblem CheckStationForm(const StationForm& form) {
    if (form.source == LineSourceSettings::KissTcp) {
        if (form.host.empty())
            return {StationField::Host, "Host is missing: the software TNC's machine (127.0.0.1 for this one)"};
        if (!TcpPortOf(form.tcpPort))
            return {StationField::TcpPort, "TCP port must be a whole number from 1 to 65535 (direwolf's is 8001)"};
    } else if (form.port.empty()) {
        return {StationField::Port, "Serial port is missing: choose the TNC's port, or type its device"};
    }

    if (form.url.empty())
        return {};  // forwarding off: the other keys are kept as typed
    ShareSettings share;
    share.Check({form.url, form.noradId, form.callsign, form.latitude, form.longitude, std::nullopt},
                "the station dialog");
    if (!share.reason.empty())
        return {ShareField(share.reason), share.reason};
    if (SameTextAscii(form.callsign, kPlaceholderCallsign))
        return {StationField::Callsign, "Callsign N0CALL is the guide's placeholder: put your own callsign"};
    if (form.noradId == kPlaceholderNoradId)
        return {StationField::NoradId,
                "NoradId 99999 is the guide's placeholder: put the satellite's catalogue number the team gives you"};
    if (IsNumber(form.latitude, kExampleLatitude) && IsNumber(form.longitude, kExampleLongitude))
        return {StationField::Latitude, "Latitude and Longitude are the guide's example: put your station's position"};
    return {};
}

ProfileSections StationFormSections(const StationForm& form, bool lineInFile, bool shareInFile) {
    ProfileSections sections{{"CPort", {{"Port", form.port}}}};
    LineSourceSettings line;
    line.inFile = lineInFile;
    line.kind = form.source;
    line.host = form.host.empty() ? line.host : form.host;
    if (const int port = TcpPortOf(form.tcpPort))
        line.port = port;
    if (line.NeedsWriting())
        sections.emplace_back(LineSourceSettings::kSection, line.Keys());
    const bool shareTyped = !(form.url + form.noradId + form.callsign + form.latitude + form.longitude).empty();
    if (shareInFile || shareTyped)
        sections.emplace_back(ShareSettings::kSection, ProfileKeys{{"Url", form.url},
                                                                   {"NoradId", form.noradId},
                                                                   {"Callsign", form.callsign},
                                                                   {"Latitude", form.latitude},
                                                                   {"Longitude", form.longitude}});
    return sections;
}

std::vector<std::string> StationPortChoices(const std::string& currentPort) {
    std::vector<std::string> ports;
    try {
        ports = TComSelect::ItemsFor(cpPort, currentPort);
    } catch (const std::exception&) {
        // No list from the system: the field still takes a typed device.
    }
    std::error_code ec;
    if (std::filesystem::exists(kSoftwareTncPty, ec) &&
        std::find(ports.begin(), ports.end(), kSoftwareTncPty) == ports.end())
        ports.emplace_back(kSoftwareTncPty);
    return ports;
}

// ---- The engine's side ---------------------------------------------------------

void Station::aStationExecute() {
    StationDialogModel model;
    model.form = stationForm();
    model.ports = StationPortChoices(CPort.Port());
    model.folder = baseDirectory_;
    model.notice = lineProblem_;
    // Called from a dialog's handler: nothing may escape into the toolkit.
    model.apply = [this](const StationForm& form) -> StationFormProblem {
        try {
            return applyStationForm(form);
        } catch (const std::exception& e) {
            return {StationField::None, e.what()};
        }
    };
    view_.runStationDialog(model);
}

StationForm Station::stationForm() const {
    StationForm form;
    form.port = CPort.Port();
    form.source = lineSource_.kind;
    form.host = lineSource_.host;
    form.tcpPort = std::to_string(lineSource_.port);
    // As the file holds it, so that what does not parse is seen and mended.
    ShareSettings::Texts share;
    try {
        share = ShareSettings::Read(*CreateProfileStore(), settingsFilePath_);
    } catch (const std::exception&) {
    }
    form.url = share.url.value_or("");
    form.noradId = share.noradId.value_or("");
    form.callsign = share.callsign.value_or("");
    form.latitude = share.latitude.value_or("");
    form.longitude = share.longitude.value_or("");
    return form;
}

StationFormProblem Station::applyStationForm(const StationForm& form) {
    if (StationFormProblem problem = CheckStationForm(form))
        return problem;
    const std::unique_ptr<ProfileStore> store = CreateProfileStore();
    const ShareSettings::Texts share = ShareSettings::Read(*store, settingsFilePath_);
    const bool shareInFile = share.url || share.noradId || share.callsign || share.latitude || share.longitude;
    if (!store->WriteSections(settingsFilePath_, StationFormSections(form, lineSource_.inFile, shareInFile))) {
        const std::string why = store->WhyUnreadable(settingsFilePath_);
        return {StationField::None,
                settingsFilePath_ + (why.empty() ? " cannot be written" : " " + why) + "; nothing was changed"};
    }

    // In use at once: the line the form names, then the forwarding as the
    // file says now.
    settingsBeforeDialog();
    try {
        line_->close();
    } catch (const std::exception& e) {
        notices_.say(std::string("closing the line failed: ") + e.what());
    }
    CPort.SetPort(form.port);
    lineSource_.Load(*store, settingsFilePath_);
    chooseLine();
    StationFormProblem problem;
    try {
        line_->open();
        lineProblem_.clear();
        display_.post(StatusSource::Line, {});
    } catch (...) {
        lineProblem_ = PortFailureReason(CPort.Port(), std::current_exception());
        notices_.say(lineProblem_);
        display_.post(StatusSource::Line, lineProblem_);
        problem = {StationField::Port, "Stored, but the port cannot be opened: " + lineProblem_};
    }
    share_.Stop();
    for (const std::string& notice : share_.TakeNotices())
        notices_.say(notice);
    startSharing();
    showShareState();
    flushDisplay();
    // What the dialog does not hold (CaFile) may still keep it from forwarding.
    if (!problem && !share_.Settings().reason.empty())
        problem = {StationField::None, "Stored, but no telemetry is forwarded: " + share_.Settings().reason};
    return problem;
}

}  // namespace kestrel
