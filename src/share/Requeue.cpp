// Emptying a station folder's rejects files into an outbox (see Requeue.h).

#include "share/Requeue.h"

#include "share/Outbox.h"
#include "share/OutboxSlots.h"
#include "share/ShareSettings.h"
#include "share/SidsForm.h"
#include "telemetry/StationLock.h"
#include "telemetry/TextFormat.h"
#include "telemetry/TimeIndex.h"

#include <cstdio>
#include <optional>
#include <stdexcept>
#include <vector>

namespace kestrel {

namespace {

std::string PercentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexDigitValue(text[i + 1]) >= 0 &&
            hexDigitValue(text[i + 2]) >= 0) {
            out += char(hexDigitValue(text[i + 1]) * 16 + hexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

// The received frame and its receive time from a rejects line ("time, status,
// Url, form, answer", tab-separated); nothing when the line holds none.
struct Refused {
    std::string frame;
    SystemTime utc;
};

std::optional<Refused> Parse(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::size_t pos = 0;;) {
        const std::size_t tab = line.find('\t', pos);
        fields.push_back(line.substr(pos, tab == std::string_view::npos ? std::string_view::npos : tab - pos));
        if (tab == std::string_view::npos)
            break;
        pos = tab + 1;
    }
    if (fields.size() < 4)
        return std::nullopt;
    std::string hex, stamp;
    const std::string_view form = fields[3];
    for (std::size_t pos = 0; pos <= form.size();) {
        const std::size_t end = std::min(form.find('&', pos), form.size());
        const std::string_view pair = form.substr(pos, end - pos);
        const std::size_t eq = pair.find('=');
        if (eq != std::string_view::npos) {
            const std::string name = PercentDecoded(pair.substr(0, eq));
            if (name == "frame")
                hex = PercentDecoded(pair.substr(eq + 1));
            else if (name == "timestamp")
                stamp = PercentDecoded(pair.substr(eq + 1));
        }
        pos = end + 1;
    }
    Refused r;
    if (hex.empty() || hex.size() % 2)
        return std::nullopt;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = hexDigitValue(hex[i]), lo = hexDigitValue(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        r.frame += char(hi * 16 + lo);
    }
    unsigned y, mo, d, h, mi, s, ms;
    char z = 0;
    if (std::sscanf(stamp.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u.%3u%c", &y, &mo, &d, &h, &mi, &s, &ms, &z) != 8 ||
        z != 'Z' || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60)
        return std::nullopt;
    r.utc = utcFromMilliseconds(
        utcMilliseconds(SystemTime{std::uint16_t(y), std::uint16_t(mo), 0, std::uint16_t(d), std::uint16_t(h),
                                   std::uint16_t(mi), std::uint16_t(s), std::uint16_t(ms)}));
    return r;
}

bool IsRejectsFile(const std::string& name) {
    return name == "rejects.txt" || (name.starts_with("rejects-") && name.ends_with(".txt"));
}

void Append(IFileSystem& fs, const std::string& path, const std::string& text) {
    const FileHandle file = fs.openOrCreate(path);
    try {
        fs.write(file, text.data(), text.size());
        fs.sync(file);
    } catch (...) {
        fs.close(file);
        throw;
    }
    fs.close(file);
}

}  // namespace

std::string RequeueSummary::text() const {
    std::string t =
        std::to_string(queued) + (queued == 1 ? " refused frame" : " refused frames") + " queued again in " + outbox;
    if (unreadable)
        t += "; " + std::to_string(unreadable) + (unreadable == 1 ? " line" : " lines") +
             " holding no frame left in the rejects files";
    return t;
}

RequeueSummary RequeueRejects(const std::string& baseDirectory, IFileSystem& fs) {
    if (!fs.directoryExists(baseDirectory))
        throw std::runtime_error(baseDirectory + " is not a folder");
    if (!fs.fileExists(JoinPath(baseDirectory, "RS232Settings.ini")))
        throw std::runtime_error(baseDirectory + " holds no RS232Settings.ini: it is not a station folder");
    const ShareSettings settings = ShareSettings::InFolder(baseDirectory);
    if (!settings.enabled())
        throw std::runtime_error(settings.inFile ? settings.problem
                                                 : "the settings file in " + baseDirectory +
                                                       " has no [Share] section: there is nowhere to send frames");
    StationLock lock(fs);
    if (lock.take(baseDirectory) != StationLock::State::Held)
        throw std::runtime_error("no outbox can be taken in " + baseDirectory + ": " + lock.why());
    const std::string folder = ShareFolder(baseDirectory);
    RequeueSummary summary;
    summary.outbox = JoinPath(folder, OutboxName(lock.slot()));

    // Each rejects file taken whole under another name first, so that a
    // program refusing a frame meanwhile starts a new one; what a killed run
    // took and left is taken along.
    std::vector<std::string> taken;
    for (const std::string& name : fs.fileNames(folder)) {
        const std::string path = JoinPath(folder, name);
        if (name.ends_with(".txt.requeue")) {
            taken.push_back(path);
        } else if (IsRejectsFile(name) && !fs.fileExists(path + ".requeue")) {
            fs.renameNoReplace(path, path + ".requeue");
            taken.push_back(path + ".requeue");
        }
    }
    Outbox box(fs, summary.outbox);
    if (!box.Open())
        throw std::runtime_error(box.Problem());
    for (const std::string& path : taken) {
        const std::string text = fs.readFile(path);
        std::string unreadable;
        for (std::size_t pos = 0; pos < text.size();) {
            const std::size_t eol = std::min(text.find('\n', pos), text.size());
            const std::string_view line = std::string_view(text).substr(pos, eol - pos);
            pos = eol + 1;
            if (line.empty())
                continue;
            const std::optional<Refused> r = Parse(line);
            if (!r) {
                unreadable += std::string(line) + "\n";
                ++summary.unreadable;
                continue;
            }
            SidsFrame f;
            f.noradId = settings.noradId;
            f.source = settings.callsign;
            f.utc = r->utc;
            f.frame = r->frame;
            f.latitude = settings.latitude;
            f.longitude = settings.longitude;
            box.Add(FormEncode(SidsFields(f)));
            if (box.Held())
                throw std::runtime_error(box.Problem());
            ++summary.queued;
        }
        if (!unreadable.empty())
            Append(fs, path.substr(0, path.size() - 8), unreadable);  // back where it was
    }
    if (box.SyncHandle() != kNoFile)
        fs.sync(box.SyncHandle());
    for (const std::string& path : taken)
        fs.removeFile(path);
    return summary;
}

}  // namespace kestrel
