// The archive below BaseDirectory/Telemetry: naming the run's files, creating
// and appending to them, and what a failure leaves behind.
//
// In order: the files' names and the BeaconTextLog's line; folders, unique
// names and temporary files; the run's files opened, the RawByteLog retried
// and appended to; a beacon's BeaconTextLog line (aSaveTempFileExecute) and
// RawFrameFile (aSaveBinFileExecute); closing.

#include "telemetry/Archive.h"

#include "telemetry/InOutError.h"
#include "telemetry/TextFormat.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace kestrel {
namespace {

constexpr std::string_view kCrLf = "\r\n";

constexpr std::string_view kTitle =
    "Flight time, s\tVbatt, V\tIin, mA\tIsys, mA\tBx\tBy\tBz\tLat\tLong\tAlt\tVelocity\tGPS_ON\t"
    "Tcpu, C Teps, C Tsol_max, C\tTsol_min, C\tTransponder time, s\t"
    "Transponder_ON  Iphoto[1..3], mA        Kphoto[1..6]    ErrorCodes      Date     TimeUTC";

static_assert(kTitle.size() == 227);

// Folder names below BaseDirectory/Telemetry.
constexpr std::string_view kTelemetry = "Telemetry";
constexpr std::string_view kRawLogFolder = "raw_log";
constexpr std::string_view kDecodedFolder = "Decoded";
constexpr std::string_view kRawDataFolder = "raw_data";

// More taken names in a row than any second can plausibly need; past them the
// name is reported taken. It bounds the probes, not the suffix: a RawByteLog
// decoded again stamps all of its many beacons with the run's one start time.
constexpr int kMaxNameProbes = 10000;

// Room a disk must have beyond the bytes at hand before a log that fails on
// it is taken for one that cannot grow rather than for a full disk.
constexpr std::uint64_t kRoomMargin = 1024 * 1024;

std::string stamp(const SystemTime& t) {
    return formatSigned(t.year, 4) + "_" + formatUnsigned(t.month, 2) + "_" + formatUnsigned(t.day, 2) + "_" +
           formatUnsigned(t.hour, 2) + formatUnsigned(t.minute, 2) + formatUnsigned(t.second, 2);
}

}  // namespace

const std::string_view kBeaconTextLogTitle = kTitle;

const std::string& beaconTextLogHeader() {
    static const std::string header = "KESTREL (ZZ0KR) beacon data log file\r\n\r\n" + std::string(kTitle) + "\r\n\r\n";
    return header;
}

std::string logPiecePath(const std::string& firstPiecePath, int part) {
    const auto nameAt = firstPiecePath.find_last_of(kPathSeparator);
    auto dot = firstPiecePath.find_last_of('.');
    if (dot == std::string::npos || (nameAt != std::string::npos && dot < nameAt))
        dot = firstPiecePath.size();
    return firstPiecePath.substr(0, dot) + "_part" + std::to_string(part) + firstPiecePath.substr(dot);
}

std::string rawByteLogName(const SystemTime& t) { return "log_raw_" + stamp(t) + "_UTC.KR7"; }
std::string beaconTextLogName(const SystemTime& t) { return "KR7_beacon_" + stamp(t) + "_UTC.txt"; }
std::string rawFrameFileName(const SystemTime& t) { return "KR7_raw_" + stamp(t) + "_UTC.KR7"; }

std::string beaconTextLogFields(const BeaconRecord& r) {
    std::string s;
    s.reserve(200);
    const auto field = [&s](const std::string& text) {
        if (!s.empty())
            s += '\t';
        s += text;
    };
    field(formatUnsigned(r.FlightTime()));
    field(formatRightAligned(r.Vbat(), 4));
    field(formatRightAligned(r.Iin(), 4));
    field(formatRightAligned(r.Isys(), 4));
    field(formatFixedLog(r.Bx(), 1));
    field(formatFixedLog(r.By(), 1));
    field(formatFixedLog(r.Bz(), 1));
    field(formatFixedLog(r.Latitude(), 6));
    field(formatFixedLog(r.Longitude(), 6));
    field(formatFixedLog(r.Altitude(), 4));
    field(formatFixedLog(r.Velocity(), 4));
    field(formatUnsigned(r.GpsOn()));
    field(formatFixedLog(r.TcpuCelsius(), 1));
    field(formatSigned(r.Tpsu()));
    field(formatSigned(r.ToutMin()));
    field(formatSigned(r.ToutMax()));
    field(formatUnsigned(r.TransponderTime()));
    field(formatUnsigned(r.TransponderOn()));
    for (std::size_t i = 0; i < kIsunCount; ++i)
        field(formatUnsigned(r.Isun(i)));
    for (std::size_t i = 0; i < kFotoCount; ++i)
        field(formatUnsigned(r.Foto(i)));
    std::string status = "0x";
    for (std::size_t i = 0; i < kStatusByteCount; ++i)
        status += formatHex2(r.StatusByte(i));
    field(status);
    return s;
}

namespace {
std::string dateTimeTail(const SystemTime& utc) {
    return "\t" + formatDate(utc) + "\t" + formatTime(utc) + std::string(kCrLf);
}
}  // namespace

std::string beaconTextLogLine(const BeaconRecord& record, const SystemTime& utc) {
    return beaconTextLogFields(record) + dateTimeTail(utc);
}

std::string Archive::folder(std::string_view name) const {
    return JoinPath(JoinPath(baseDirectory_, kTelemetry), name);
}

void Archive::ensureFolder(const std::string& path) {
    // Collect the missing folders up to the first that exists (or the root).
    std::vector<std::string> missing;
    std::string current = path;
    while (!current.empty() && !fs_.directoryExists(current)) {
        missing.push_back(current);
        const auto cut = current.find_last_of(kPathSeparator);
        if (cut == std::string::npos || cut == 0)
            break;
        current.erase(cut);
        if (current.back() == ':')
            break;  // a drive with no root separator left
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        try {
            fs_.createDirectory(*it);
        } catch (const EInOutError&) {
            // Not reported here: creating the file inside fails and says why.
            return;
        }
    }
}

FileHandle Archive::createInFolder(const std::string& folderPath, const std::string& path) {
    // The folder is made sure of once; afterwards only a failed create looks
    // again, in case it was removed meanwhile.
    const bool checkedNow = knownFolders_.insert(folderPath).second;
    if (checkedNow)
        ensureFolder(folderPath);
    try {
        return fs_.createFile(path);
    } catch (const EInOutError& e) {
        if (e.ErrorCode == kIoFileExists || checkedNow)
            throw;
    }
    ensureFolder(folderPath);
    return fs_.createFile(path);
}

template <class TryName>
void Archive::firstFreeName(const std::string& folderPath, const std::string& name, std::string& chosenPath,
                            TryName&& tryName) {
    const auto dot = name.find_last_of('.');
    const std::string stem = name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
    // Many beacons within one second: go on from the suffix taken last instead
    // of testing every taken name again.
    const std::string plain = JoinPath(folderPath, name);
    const int first = plain == lastUniqueName_ ? lastUniqueSuffix_ + 1 : 1;
    for (int n = first; n < first + kMaxNameProbes; ++n) {
        const std::string candidate = n == 1 ? plain : JoinPath(folderPath, stem + "_" + std::to_string(n) + extension);
        // No look beforehand: the exclusive create and the rename that
        // replaces nothing report a taken name themselves.
        try {
            tryName(candidate);
            chosenPath = candidate;
            lastUniqueName_ = plain;
            lastUniqueSuffix_ = n;
            return;
        } catch (const EInOutError& e) {
            if (e.ErrorCode != kIoFileExists)
                throw;  // taken: try the next name
        }
    }
    throw EInOutError::fromCode(kIoFileExists);
}

FileHandle Archive::createUnique(const std::string& folderPath, const std::string& name, std::string& chosenPath) {
    FileHandle file = kNoFile;
    firstFreeName(folderPath, name, chosenPath,
                  [&](const std::string& candidate) { file = createInFolder(folderPath, candidate); });
    return file;
}

std::string Archive::writeTemporary(const std::string& folderPath, const std::string& finalPath,
                                    std::string_view bytes) {
    // Never one that exists: it may be another program's, being written.
    // What a kill left goes at the next start (removeLeftovers).
    std::string tempPath;
    FileHandle file = kNoFile;
    for (int n = 1; file == kNoFile; ++n) {
        tempPath = finalPath + (n == 1 ? "" : "." + std::to_string(n)) + std::string(kTemporarySuffix);
        try {
            file = createInFolder(folderPath, tempPath);
        } catch (const EInOutError& e) {
            if (e.ErrorCode != kIoFileExists || n == kMaxNameProbes)
                throw;
        }
    }
    try {
        writeOrClose(file, bytes);
        fs_.close(file);
    } catch (...) {
        fs_.removeFile(tempPath);
        throw;
    }
    return tempPath;
}

void Archive::removeLeftovers(const std::string& folderPath) {
    for (const std::string& name : fs_.fileNames(folderPath))
        if (name.ends_with(kTemporarySuffix))
            fs_.removeFile(JoinPath(folderPath, name));
}

void Archive::writeOrClose(FileHandle file, std::string_view bytes) {
    try {
        fs_.write(file, bytes.data(), bytes.size());
    } catch (...) {
        // Release the file so later beacons can be stored; what was written stays.
        try {
            fs_.close(file);
        } catch (...) {
        }
        throw;
    }
}

void Archive::openRunFiles(const std::string& baseDirectory, bool folderShared) {
    openBeaconFiles(baseDirectory);
    // Files a kill caught before they were renamed into place.
    if (!folderShared) {
        removeLeftovers(folder(kRawDataFolder));
        removeLeftovers(folder(kDecodedFolder));
    }
    createRawByteLog();
    timeIndex_.open(rawByteLogPath_);
    // Another run took this second's RawByteLog name: its BeaconTextLog name
    // is taken as well, so this run's log takes the same suffix.
    if (rawByteLogPath_ != JoinPath(folder(kRawLogFolder), rawByteLogName(runStamp_))) {
        const std::string name = beaconTextLogName(runStamp_);
        const auto dot = name.find_last_of('.');
        beaconTextLogPath_ = JoinPath(folder(kDecodedFolder),
                                      name.substr(0, dot) + "_" + std::to_string(lastUniqueSuffix_) + name.substr(dot));
    }
}

void Archive::createRawByteLog() {
    const std::string rawLogFolder = folder(kRawLogFolder);
    if (rawByteLogFirst_.empty()) {
        rawByteLog_ = createUnique(rawLogFolder, rawByteLogName(runStamp_), rawByteLogPath_);
        rawByteLogFirst_ = rawByteLogPath_;
    } else {
        // The next piece: a name no piece took yet (one made by hand is left alone).
        for (int probes = 0;; ++probes) {
            rawByteLogPath_ = logPiecePath(rawByteLogFirst_, rawByteLogPart_ + 1);
            try {
                rawByteLog_ = createInFolder(rawLogFolder, rawByteLogPath_);
                ++rawByteLogPart_;
                break;
            } catch (const EInOutError& e) {
                if (e.ErrorCode != kIoFileExists || probes == kMaxNameProbes)
                    throw;
                ++rawByteLogPart_;
            }
        }
    }
    rawBytesStored_ = 0;
}

bool Archive::retryRawByteLog() {
    if (rawByteLog_ != kNoFile || beaconTextLogPath_.empty())
        return false;
    try {
        createRawByteLog();
        timeIndex_.open(rawByteLogPath_);
        return true;
    } catch (const EInOutError&) {
        return false;
    }
}

void Archive::openBeaconFiles(const std::string& baseDirectory) {
    closeRawByteLog();
    knownFolders_.clear();
    baseDirectory_ = baseDirectory;
    utcStamp_ = clock_.utcNow();
    runStamp_ = utcStamp_;
    beaconTextLogPath_ = JoinPath(folder(kDecodedFolder), beaconTextLogName(utcStamp_));
    rawByteLogPath_.clear();
    rawByteLogFirst_.clear();
    textLogFirst_.clear();
    rawByteLogPart_ = textLogPart_ = 1;
}

void Archive::appendRawBytes(std::string_view bytes) {
    if (bytes.empty())
        return;
    if (rawByteLog_ == kNoFile)
        throw EInOutError::fromCode(kIoFileNotOpen);
    // The log stays open after a failed write: the next one may well succeed.
    std::size_t done = 0;
    bool triedAgain = false, newPiece = false;
    for (;;) {
        try {
            writeRawBytes(bytes.substr(done));
            return;
        } catch (EInOutError& e) {
            done += std::min(e.BytesWritten, bytes.size() - done);
            e.BytesWritten = done;
            // A piece that never took a byte is not replaced: its successor would fail alike.
            if (newPiece || rawBytesStored_ == 0)
                throw;
            switch (afterFailure(e, folder(kRawLogFolder), bytes.size() - done, triedAgain)) {
            case AfterFailure::GiveUp: throw;
            case AfterFailure::TryAgain: triedAgain = true; break;
            case AfterFailure::NewPiece: try { continueRawByteLog(e.what());
                } catch (EInOutError& created) {
                    created.BytesWritten = done;
                    throw;
                }
                newPiece = true;
                break;
            }
        }
    }
}

void Archive::writeRawBytes(std::string_view bytes) {
    std::size_t stored = bytes.size();
    try {
        fs_.write(rawByteLog_, bytes.data(), bytes.size());
    } catch (const EInOutError& e) {
        stored = std::min(e.BytesWritten, bytes.size());
        if (stored)
            timeIndex_.byteStored(rawBytesStored_);
        rawBytesStored_ += stored;
        throw;
    }
    timeIndex_.byteStored(rawBytesStored_);
    rawBytesStored_ += stored;
}

Archive::AfterFailure Archive::afterFailure(const EInOutError& e, const std::string& folderPath, std::size_t need,
                                            bool triedAgain) {
    if (e.Cause == IoCause::FileTooLarge)
        return AfterFailure::NewPiece;
    if (e.Cause == IoCause::Quota)
        return AfterFailure::GiveUp;  // a new file would count against it too
    // A full disk gives no room to a new file either; a failure with room to
    // spare (FAT32's 4 GiB limit reads as a full disk on Windows, a damaged
    // file) is tried once more before the log is taken for one that cannot grow.
    const std::optional<std::uint64_t> room = fs_.freeSpace(folderPath);
    if (!room || *room < need + kRoomMargin)
        return AfterFailure::GiveUp;
    return triedAgain ? AfterFailure::NewPiece : AfterFailure::TryAgain;
}

void Archive::continueRawByteLog(const std::string& why) {
    const std::string from = rawByteLogPath_;
    const FileHandle old = std::exchange(rawByteLog_, kNoFile);
    try {
        fs_.close(old);
    } catch (...) {
        // What it holds is on disk; a handle that will not close is no reason to stop.
    }
    createRawByteLog();  // throws: then the tick's retry makes the piece later
    timeIndex_.continueIn(rawByteLogPath_);
    continued_.push_back({"RawByteLog", from, rawByteLogPath_, why});
}

std::int64_t Archive::noteReadTime() noexcept {
    // Without a RawByteLog there is no index to write, but the bytes still
    // need their time: the same reading, no entry.
    try {
        timeIndex_.readTime(clock_.tickCount(), [this] { return utcMilliseconds(clock_.utcNow()); });
    } catch (...) {
    }
    return timeIndex_.readMs();
}

void Archive::requireRunFiles() const {
    // Without a start-up there is no BaseDirectory: store nothing anywhere.
    if (beaconTextLogPath_.empty())
        throw EInOutError::fromCode(kIoFileNotFound);
}

void Archive::aSaveTempFileExecute(const BeaconRecord& currentRecord, const SystemTime& utc) {
    requireRunFiles();
    // The log stays open between lines. One look per line that it is still
    // where it belongs: a log deleted or moved away meanwhile is made anew.
    if (textLog_ != kNoFile && !fs_.fileExists(beaconTextLogPath_))
        closeTextLog();
    std::string line = beaconTextLogFields(currentRecord);
    utcStamp_ = utc;
    line += dateTimeTail(utcStamp_);
    if (!extraFields_.empty())
        line.insert(line.size() - kCrLf.size(), extraFields_);
    if (textLog_ == kNoFile) {
        if (fs_.directoryExists(beaconTextLogPath_))
            beaconTextLogPath_ = freeTextLogName();
        if (!fs_.fileExists(beaconTextLogPath_)) {
            const bool made = createTextLog(beaconTextLogPath_, line);
            if (textLogFirst_.empty())
                textLogFirst_ = beaconTextLogPath_;
            if (made)
                return;
        }
    }
    if (textLogFirst_.empty())
        textLogFirst_ = beaconTextLogPath_;
    for (bool triedAgain = false;;) {
        try {
            appendTextLine(line);
            return;
        } catch (const EInOutError& e) {
            switch (afterFailure(e, folder(kDecodedFolder), line.size(), triedAgain)) {
            case AfterFailure::GiveUp: throw;
            case AfterFailure::TryAgain: triedAgain = true; break;
            case AfterFailure::NewPiece: continueTextLog(e.what(), line); return;
            }
        }
    }
}

bool Archive::createTextLog(const std::string& path, const std::string& line) {
    // A new log appears with its header and first line, or not at all.
    std::string header = beaconTextLogHeader();
    if (!extraTitles_.empty())
        header.insert(header.size() - 2 * kCrLf.size(), extraTitles_);
    const std::string temp = writeTemporary(folder(kDecodedFolder), path, header + line);
    try {
        fs_.renameNoReplace(temp, path);
        textLineBroken_ = false;
        return true;
    } catch (const EInOutError& e) {
        fs_.removeFile(temp);
        // Another program made it meanwhile: add to it like any existing log.
        if (e.ErrorCode != kIoFileExists)
            throw;
    }
    return false;
}

void Archive::appendTextLine(const std::string& line) {
    if (textLog_ == kNoFile)
        textLog_ = fs_.openForAppend(beaconTextLogPath_);
    // The line goes out in one write. What a failing write stored of it is
    // cut off again, so the log ends at its last whole line; should that
    // fail too, the next line starts on a line of its own, so no two beacons
    // share a line.
    const bool brokenBefore = textLineBroken_;
    const std::string text = brokenBefore ? "\r\n" + line : line;
    textLineBroken_ = true;
    try {
        fs_.write(textLog_, text.data(), text.size());
    } catch (const EInOutError& e) {
        closeTextLog();  // released, so other programs and the next beacon get it
        textLineBroken_ = brokenBefore;
        if (e.BytesWritten > 0) {
            try {
                fs_.cutTail(beaconTextLogPath_, e.BytesWritten);
            } catch (const EInOutError&) {
                textLineBroken_ = true;
            }
        }
        throw;
    } catch (...) {
        closeTextLog();
        throw;
    }
    textLineBroken_ = false;
}

void Archive::continueTextLog(const std::string& why, const std::string& line) {
    const std::string from = beaconTextLogPath_;
    // The next piece: a name nothing stands at yet; the line goes into the
    // new piece's first write with its header.
    for (int probes = 0;; ++probes) {
        const std::string piece = logPiecePath(textLogFirst_, textLogPart_ + 1);
        ++textLogPart_;
        if (fs_.fileExists(piece) || fs_.directoryExists(piece)) {
            if (probes == kMaxNameProbes)
                throw EInOutError::fromCode(kIoFileExists);
            continue;
        }
        beaconTextLogPath_ = piece;
        if (createTextLog(piece, line))
            break;
        appendTextLine(line);  // another program's, made meanwhile: added to
        break;
    }
    continued_.push_back({"BeaconTextLog", from, beaconTextLogPath_, why});
}

void Archive::closeTextLog() noexcept {
    if (textLog_ == kNoFile)
        return;
    const FileHandle file = std::exchange(textLog_, kNoFile);
    try {
        fs_.close(file);
    } catch (...) {
    }
}

std::string Archive::freeTextLogName() const {
    // A folder stands where the run's log should go: the first free name
    // with a suffix, as a taken RawFrameFile name gets.
    const std::string name = beaconTextLogName(runStamp_);
    const auto dot = name.find_last_of('.');
    for (int n = 2; n < kMaxNameProbes; ++n) {
        const std::string candidate =
            JoinPath(folder(kDecodedFolder), name.substr(0, dot) + "_" + std::to_string(n) + name.substr(dot));
        if (!fs_.directoryExists(candidate))
            return candidate;
    }
    return beaconTextLogPath_;
}

void Archive::aSaveBinFileExecute(const RawFrame& rawFrameCopy, const SystemTime& utc) {
    requireRunFiles();
    utcStamp_ = utc;
    const std::string rawDataFolder = folder(kRawDataFolder);
    // Written whole under a name of its own, then renamed into place: a short
    // file under a proper name would pass for a beacon.
    const std::string name = rawFrameFileName(utcStamp_);
    rawFrameFileTarget_ = JoinPath(rawDataFolder, name);
    const std::string temp =
        writeTemporary(rawDataFolder, rawFrameFileTarget_,
                       std::string_view(reinterpret_cast<const char*>(rawFrameCopy.data()), rawFrameCopy.size()));
    try {
        firstFreeName(rawDataFolder, name, lastRawFrameFilePath_,
                      [&](const std::string& candidate) { fs_.renameNoReplace(temp, candidate); });
    } catch (...) {
        fs_.removeFile(temp);
        throw;
    }
}

std::string Archive::RawByteLogTarget() const {
    if (!rawByteLogPath_.empty() || beaconTextLogPath_.empty())
        return rawByteLogPath_;
    return JoinPath(folder(kRawLogFolder), rawByteLogName(runStamp_));
}

void Archive::closeRawByteLog() noexcept {
    closeTextLog();
    if (rawByteLog_ == kNoFile)
        return;
    const FileHandle file = rawByteLog_;
    rawByteLog_ = kNoFile;
    timeIndex_.close();
    try {
        fs_.close(file);
    } catch (...) {
    }
}

}  // namespace kestrel
