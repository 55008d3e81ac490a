#pragma once
// The station dialog (F3, and the window's system menu on Windows): where the
// bytes come from (the serial port, KISS on it, or a software TNC's KISS port
// over TCP), where the beacons are forwarded ([Share]), and the station
// folder. Both windows draw it from the design below and hand OK to the
// engine, which checks the form by the settings file's own rules (and refuses
// the guide's placeholders), writes only the dialog's keys into
// RS232Settings.ini and puts them in use at once.
//
// The designed setup dialog's port list stays a drop-down list of the ports
// the system names; the station dialog's port field is the place for a
// device the list cannot name (a software TNC's pseudo-terminal, /dev/rfcomm0):
// it offers the listed ports and takes any path typed into it.

#include "kiss/LineSource.h"
#include "serial/ProfileStore.h"
#include "station/WindowDesign.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace kestrel {

// What the dialog shows and the operator types, as texts.
struct StationForm {
    LineSourceSettings::Kind source = LineSourceSettings::Serial;
    std::string port;  // [CPort] Port: a listed port or a typed device path
    std::string host, tcpPort;
    std::string url, noradId, callsign, latitude, longitude;
    friend bool operator==(const StationForm&, const StationForm&) = default;
};

// The form's fields, in the dialog's tab order.
enum class StationField { None, Source, Port, Host, TcpPort, Url, NoradId, Callsign, Latitude, Longitude };

// What keeps the form from being stored: a sentence, and the field to put
// the caret in (None: no one field).
struct StationFormProblem {
    StationField field = StationField::None;
    std::string text;
    explicit operator bool() const { return !text.empty(); }
};

// The rules of the settings file for the line and [Share], in its sentences,
// and the guide's placeholders (N0CALL, 99999, its example position) refused
// while forwarding is on (a Url).
StationFormProblem CheckStationForm(const StationForm& form);

// The keys of the settings file that OK sets, section by section: [CPort]
// Port, the [Line] section (unless it is absent and the form asks for the
// plain serial port; `lineInFile`), and [Share]'s five keys (unless the
// section is absent and they are all empty; `shareInFile`). Every other key,
// CaFile among them, stays as it is.
ProfileSections StationFormSections(const StationForm& form, bool lineInFile, bool shareInFile);

// The port field's choices: the ports of the setup dialog's list, and a
// software TNC's pseudo-terminal where it is (direwolf -p: /tmp/kisstnc).
std::vector<std::string> StationPortChoices(const std::string& currentPort);

// Everything a window needs to run the dialog.
struct StationDialogModel {
    StationForm form;                // as the dialog opens
    std::vector<std::string> ports;  // the port field's choices
    std::string folder;              // the station folder, shown and opened in the file manager
    // Why the line failed, when it did: shown as the dialog opens.
    std::string notice;
    // OK: the form checked, stored and put in use; the problem when it was
    // refused or could not be stored (the dialog stays open then).
    std::function<StationFormProblem(const StationForm&)> apply;
};

namespace design {

// The dialog as designed, in pixels at 96 dots per inch, the setup dialog's
// font. Controls lie in the dialog's client area.
struct StationDialogDesign {
    const char* caption = "Station";
    int clientWidth = 400, clientHeight = 410;

    Labelled lineGroup{" Line ", {8, 8, 384, 104}};
    Labelled shareGroup{" Sharing ", {8, 118, 384, 152}};
    Labelled folderGroup{" Station folder ", {8, 276, 384, 52}};

    // The fields in tab order (StationField order, from Source), each with its
    // label; positions in the dialog's client area.
    struct Field {
        StationField field;
        Labelled label;
        Rect box;
    };
    std::array<Field, 9> fields{{
        {StationField::Source, {"Source", {16, 32, 84, 16}}, {104, 28, 280, 21}},
        {StationField::Port, {"Serial port", {16, 58, 84, 16}}, {104, 54, 280, 21}},
        {StationField::Host, {"Host", {16, 84, 84, 16}}, {104, 80, 160, 21}},
        {StationField::TcpPort, {"TCP port", {272, 84, 50, 16}}, {324, 80, 60, 21}},
        {StationField::Url, {"Url", {16, 142, 84, 16}}, {104, 138, 280, 21}},
        {StationField::NoradId, {"NoradId", {16, 168, 84, 16}}, {104, 164, 80, 21}},
        {StationField::Callsign, {"Callsign", {196, 168, 60, 16}}, {260, 164, 124, 21}},
        {StationField::Latitude, {"Latitude", {16, 194, 84, 16}}, {104, 190, 80, 21}},
        {StationField::Longitude, {"Longitude", {196, 194, 60, 16}}, {260, 190, 124, 21}},
    }};
    // The choices of Source, in the order of LineSourceSettings::Kind.
    std::array<const char*, 3> sources{"Serial port", "KISS on the serial port", "KISS over TCP (software TNC)"};
    Labelled shareNote{
        "Each decoded beacon goes to the Url as it comes (SatNOGS DB: "
        "https://db.satnogs.org/api/telemetry/). An empty Url forwards nothing.",
        {16, 218, 368, 44}};
    Rect folder{16, 298, 296, 21};  // read-only
    Labelled openFolder{"Open", {318, 297, 66, 23}};
    // Why the line failed, or what keeps OK from storing the form.
    Rect message{8, 334, 384, 36};
    Labelled ok{"OK", {236, 378, 75, 25}};
    Labelled cancel{"Cancel", {317, 378, 75, 25}};
};
inline constexpr StationDialogDesign kStationDialog{};

}  // namespace design
}  // namespace kestrel
