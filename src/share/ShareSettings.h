#pragma once
// Where decoded beacons are forwarded, in a section of its own in the settings
// file beside [CPort] and [Line]:
//
//   [Share]
//   Url=https://db.satnogs.org/api/telemetry/   ; or the team's own server
//   NoradId=99999                               ; the satellite's catalogue number
//   Callsign=N0CALL                             ; this station, sent as the source
//   Latitude=49.73145                           ; decimal degrees, north positive
//   Longitude=8.95564                           ; decimal degrees, east positive
//   CaFile=/path/team-ca.pem                    ; optional: certificates trusted
//                                               ; besides the system's
//
// The Url may not hold a user name or password (HttpUrl.h). Without the
// section nothing is forwarded, nor with an empty Url (forwarding switched
// off; the position stays, for the trend window's map). A section that is
// present but incomplete forwards nothing either, and says why (problem);
// reception goes on regardless. The program writes the section only when the
// operator sets it in the station dialog.

#include <optional>
#include <string>

namespace kestrel {

class ProfileStore;

struct ShareSettings {
    std::string url;
    long noradId = 0;
    std::string callsign;
    double latitude = 0;
    double longitude = 0;
    std::string caFile;  // empty: the system's certificates only

    bool inFile = false;  // the section holds at least one key
    // Latitude and Longitude are both there and valid (the station's place,
    // whatever else the section lacks).
    bool hasPosition = false;
    // Why a present section cannot be used: a sentence for standard error and
    // a few words for a status panel. Both empty when it can.
    std::string problem;
    std::string shortProblem;
    // The sentence of problem alone, which begins with the key it is about
    // ("NoradId must be a positive whole number (digits only)").
    std::string reason;

    static constexpr const char* kSection = "Share";
    // What the open telemetry database takes as a source; longer ones it refuses.
    static constexpr std::size_t kLongestCallsign = 45;

    // The section's keys as the file holds them; nullopt for a missing key.
    struct Texts {
        std::optional<std::string> url, noradId, callsign, latitude, longitude, caFile;
    };
    static Texts Read(ProfileStore& store, const std::string& path);

    void Load(ProfileStore& store, const std::string& path);
    // The checks of Load on texts; path names the file in the sentences.
    void Check(const Texts& texts, const std::string& path);
    // The section of the settings file in a station folder (nothing when it
    // cannot be read: the caller goes without); for the trend windows'
    // station position.
    static ShareSettings InFolder(const std::string& folder);
    bool enabled() const { return inFile && problem.empty() && !url.empty(); }
};

}  // namespace kestrel
