#pragma once
// The archive below BaseDirectory/Telemetry: the run's RawByteLog (every
// received byte) with its time index, the run's BeaconTextLog (one tab-separated line per beacon)
// and one RawFrameFile per beacon. Files are never overwritten: a taken name
// gets the first free suffix _2, _3, ... before its extension. A RawFrameFile
// and a new BeaconTextLog appear whole or not at all. A run's log that
// cannot grow (the file system's size limit, or writes that keep failing
// while the disk has room) goes on in a new piece named after it with
// _part2, _part3, ... before the extension; nothing is lost between them.

#include "telemetry/BeaconFrame.h"
#include "telemetry/Clock.h"
#include "telemetry/FileSystem.h"
#include "telemetry/InOutError.h"
#include "telemetry/TimeIndex.h"

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrel {

// The BeaconTextLog's title line (without the line end) and the four lines,
// each ending in CR LF, a new BeaconTextLog starts with.
extern const std::string_view kBeaconTextLogTitle;
const std::string& beaconTextLogHeader();

// Fields 1 to 28 of a BeaconTextLog data line, tab-separated.
std::string beaconTextLogFields(const BeaconRecord& record);
// The whole data line with the date and time of `utc`, ending in CR LF.
std::string beaconTextLogLine(const BeaconRecord& record, const SystemTime& utc);

// File names from a stamp (year, month, day, hour, minute, second).
std::string rawByteLogName(const SystemTime& stamp);
std::string beaconTextLogName(const SystemTime& stamp);
std::string rawFrameFileName(const SystemTime& stamp);

// A file the archive writes whole carries this after its name until it is
// renamed into place; what a kill leaves so is removed at the next start.
inline constexpr std::string_view kTemporarySuffix = ".part";

// The name of piece `part` (2, 3, ...) of a run's log: "_part<N>" before the
// file name's extension.
std::string logPiecePath(const std::string& firstPiecePath, int part);

// A run's log that went on in a new piece, for the one notice about it.
struct LogContinued {
    const char* kind;  // "RawByteLog", "BeaconTextLog"
    std::string from, to;
    std::string why;  // the failure that ended the old piece
};

class Archive {
public:
    Archive(IFileSystem& fs, IClock& clock) : fs_(fs), clock_(clock) {}
    ~Archive() { closeRawByteLog(); }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // Start-up: reads UtcStamp, fixes the BeaconTextLog path and creates the
    // RawByteLog. Throws EInOutError; the RawByteLog then stays not open.
    // folderShared: another program archives into the same folder (it holds
    // the station lock), so what looks left over may be its work in progress.
    // A RawByteLog name taken in the same second gets a suffix, and the run's
    // BeaconTextLog the same one, so two programs never share a file.
    void openRunFiles(const std::string& baseDirectory, bool folderShared = false);
    // The same without a RawByteLog, for beacons decoded again from recorded
    // bytes: reads UtcStamp and fixes the BeaconTextLog path; touches no file.
    void openBeaconFiles(const std::string& baseDirectory);

    // Bytes to the RawByteLog in one write to the operating system: the
    // receive path hands over each read chunk whole; a log that cannot grow
    // takes the rest in its next piece. Throws EInOutError (103 when the log
    // is not open); its BytesWritten says how much was stored.
    void appendRawBytes(std::string_view bytes);
    void appendRawByte(std::uint8_t byte) { appendRawBytes({reinterpret_cast<const char*>(&byte), 1}); }

    // The time of a chunk about to be handed on byte by byte: one tick count
    // per chunk, never per byte, and the calendar clock when an entry is due.
    // Returns the receive time (ms since 1970, UTC) of the chunk's bytes as
    // the time index gives it, so a beacon decoded live and decoded again
    // from the index carry the same time. Never throws; the time index's
    // failures are counted and reported apart from the RawByteLog's.
    std::int64_t noteReadTime() noexcept;
    std::uint64_t TimeIndexFailures() const { return timeIndex_.failures(); }
    std::optional<std::string> takeTimeIndexReport() { return timeIndex_.takeReport(); }
    const std::string& TimeIndexPath() const { return timeIndex_.path(); }

    // Columns a re-decoded tree's BeaconTextLog carries after the date and
    // time: their titles (each after a tab, for the header of a log made from
    // now on) and the next lines' values (each after a tab, no line break).
    void setExtraColumns(std::string titles) { extraTitles_ = std::move(titles); }
    void setExtraFields(std::string fields) { extraFields_ = std::move(fields); }

    // A beacon's BeaconTextLog line and its RawFrameFile, stamped with its
    // receive time. Throw EInOutError; before openRunFiles they store nothing
    // (code 2).
    void aSaveTempFileExecute(const BeaconRecord& currentRecord, const SystemTime& utc);
    void aSaveBinFileExecute(const RawFrame& rawFrameCopy, const SystemTime& utc);

    // Creates the run's RawByteLog (or its next piece) if it could not be
    // created so far; true when it is open now. Never throws.
    bool retryRawByteLog();

    // The logs that went on in a new piece since the last call, once each.
    std::vector<LogContinued> takeContinued() { return std::exchange(continued_, {}); }

    // Shut-down: closes the RawByteLog and the BeaconTextLog, which stays open
    // between beacons; every failure is ignored.
    void closeRawByteLog() noexcept;

    bool rawByteLogOpen() const { return rawByteLog_ != kNoFile; }
    const SystemTime& UtcStamp() const { return utcStamp_; }
    const std::string& BaseDirectory() const { return baseDirectory_; }
    const std::string& BeaconTextLogPath() const { return beaconTextLogPath_; }
    const std::string& RawByteLogPath() const { return rawByteLogPath_; }
    // Path of the latest RawFrameFile written (empty before the first).
    const std::string& LastRawFrameFilePath() const { return lastRawFrameFilePath_; }
    // Where the failing file was to be, for the report: the run's RawByteLog
    // (also when it could not be made), the latest RawFrameFile tried.
    std::string RawByteLogTarget() const;
    const std::string& RawFrameFileTarget() const { return rawFrameFileTarget_; }

private:
    void requireRunFiles() const;
    void createRawByteLog();
    std::string freeTextLogName() const;
    std::string folder(std::string_view name) const;
    void ensureFolder(const std::string& path);
    FileHandle createInFolder(const std::string& folderPath, const std::string& path);
    void closeTextLog() noexcept;
    // Tries folderPath/name, then name with _2, _3, ... before its extension,
    // until tryName does not fail with kIoFileExists.
    template <class TryName>
    void firstFreeName(const std::string& folderPath, const std::string& name, std::string& chosenPath,
                       TryName&& tryName);
    FileHandle createUnique(const std::string& folderPath, const std::string& name, std::string& chosenPath);
    // A file written whole and closed under its temporary name (nothing left
    // there when that fails).
    // Returns the temporary's path: finalPath.part, or finalPath.N.part when
    // another program's temporary has that name.
    std::string writeTemporary(const std::string& folderPath, const std::string& finalPath, std::string_view bytes);
    void removeLeftovers(const std::string& folderPath);
    void writeOrClose(FileHandle file, std::string_view bytes);
    // One write to the RawByteLog, the time index told what it stored.
    void writeRawBytes(std::string_view bytes);
    // A BeaconTextLog line to the open log (opening it when closed), cut
    // back to the last whole line when the write fails.
    void appendTextLine(const std::string& line);
    // A new BeaconTextLog with its header and first line, whole or not at
    // all; false when another program made it meanwhile.
    bool createTextLog(const std::string& path, const std::string& line);
    // What to do after a write to a run's log failed: give up (reported),
    // try the same file once more, or go on in a new piece.
    enum class AfterFailure { GiveUp, TryAgain, NewPiece };
    AfterFailure afterFailure(const EInOutError& e, const std::string& folderPath, std::size_t need, bool triedAgain);
    // The RawByteLog's and the BeaconTextLog's next piece.
    void continueRawByteLog(const std::string& why);
    void continueTextLog(const std::string& why, const std::string& line);

    IFileSystem& fs_;
    IClock& clock_;
    SystemTime utcStamp_;
    SystemTime runStamp_;          // the start-up's stamp: the run's file names
    bool textLineBroken_ = false;  // the last BeaconTextLog line failed part-way
    std::string baseDirectory_;
    std::string beaconTextLogPath_;
    std::string rawByteLogPath_;
    std::string lastRawFrameFilePath_;
    std::string rawFrameFileTarget_;
    FileHandle rawByteLog_ = kNoFile;
    FileHandle textLog_ = kNoFile;
    // Folders made sure of since start-up.
    std::set<std::string> knownFolders_;
    std::uint64_t rawBytesStored_ = 0;  // the RawByteLog's size on disk
    TimeIndexWriter timeIndex_{fs_};
    std::string extraTitles_, extraFields_;
    // The name createUnique made a file for last, and the suffix it took.
    std::string lastUniqueName_;
    int lastUniqueSuffix_ = 0;
    // The run's first RawByteLog and BeaconTextLog, whose names the pieces
    // take, and the piece each is in (1: the first).
    std::string rawByteLogFirst_, textLogFirst_;
    int rawByteLogPart_ = 1, textLogPart_ = 1;
    std::vector<LogContinued> continued_;
};

}  // namespace kestrel
