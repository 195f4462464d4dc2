// A whole machine in memory: files, directories and registry keys behave as
// Windows NT treats them (see platform/names.h for how names are read), for
// native tests of code that works through the Platform seam. Linked into test
// programs only (library tvp_testing), never into the shipped programs.
//
// A new machine has the drive root C:\ and the directory C:\WINDOWS, reports
// Windows NT 4.0, process 1000, no environment and no module file name.
// Tests seed it with the functions below, then hand it to the code under
// test and look at what it changed through the Platform operations.
//
// Rules, in the order the operations check them (every in-memory machine
// follows them, so that their answers can be compared):
//  - a path that names no file: its error (names.h); a missing file:
//    kFileNotFound when its directory exists, else kPathNotFound;
//  - reading a directory: kAccessDenied; a file in use: kSharingViolation;
//  - creating (writeNew, copyNew, makeDirectory, openAppender, the target of
//    move and replace) needs the directory: else kPathNotFound; a name that
//    is taken: kFileExists (writeNew, copyNew), kAlreadyExists (move,
//    makeDirectory);
//  - copyNew checks its source first (stage OpenSource), then the target
//    (stage CreateTarget); the copy keeps the source's dates;
//  - move: the source missing, then in use (kSharingViolation; a directory
//    holding a file in use: kAccessDenied), then the target; a name moved
//    onto itself (the letter case may differ) takes the new spelling; a
//    directory moved below itself: kSharingViolation;
//  - replace: kCallNotImplemented on the Windows 95 family; as move, but an
//    existing target is replaced: a directory on either side is
//    kAccessDenied, a target in use kSharingViolation, a read-only target
//    kAccessDenied;
//  - remove: a directory or a read-only file kAccessDenied, in use
//    kSharingViolation;
//  - list: a directory that is missing or a file: kPathNotFound; "." and
//    ".." first except at a drive root, then the entries by name;
//  - delayMove: kCallNotImplemented on the Windows 95 family, else recorded
//    (pendingMoves) and nothing moves;
//  - openAppender: null for a directory, a missing directory, a file in use
//    or a read-only file; a file open for appending is in use for every
//    other change (it is shared for reading only);
//  - registry: a missing key kFileNotFound at stage Open; a missing value
//    kFileNotFound at stage Read (regRead) or Delete (regDeleteValue); a
//    value longer than maxBytes kMoreData at stage Read (the type is
//    given); regSet creates the key and its parents; subkeys are listed by
//    name without case, values in the order they were first set;
//    regDeleteKey refuses the root key and a key with subkeys
//    (kAccessDenied, stage Delete), a missing parent is stage Open, a
//    missing key stage Delete;
//  - startProcess: recorded (startedProcesses), nothing runs; true.
#pragma once

#include "platform/machine.h"
#include "platform/names.h"
#include "platform/platform.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// Now by the system clock (UTC), for machines in memory in tests.
std::uint64_t systemNow();

class MemoryPlatform : public Platform, public AccessProbe {
  public:
    // `clock` dates what is written without a date, C:\ and C:\WINDOWS too.
    explicit MemoryPlatform(Clock clock = systemNow);
    ~MemoryPlatform() override;
    MemoryPlatform(const MemoryPlatform &) = delete;
    MemoryPlatform &operator=(const MemoryPlatform &) = delete;

    // ---- seeding (a path that names no file: std::invalid_argument) ------
    // The directory and every missing directory above it.
    void addDirectory(const std::string &path);
    // A file (replacing one of that name), its directories made as needed;
    // without a time it is dated now.
    void addFile(const std::string &path, const std::string &bytes,
                 const std::optional<DosTime> &time = std::nullopt);
    void setReadOnly(const std::string &path, bool readOnly = true);
    // Held open by another program that shares nothing: it cannot be read,
    // moved, replaced, removed or appended to (std::invalid_argument when
    // the path does not exist).
    void setInUse(const std::string &path, bool inUse = true);
    void addKey(Root root, const std::string &path);
    void setValue(Root root, const std::string &path, const std::string *name, const RegValue &value);
    void setVersion(const VersionInfo &version);
    void setWindowsDirectory(const std::optional<std::string> &path);
    void setProcessId(std::uint32_t id);
    void setEnvironment(const std::string &name, const std::optional<std::string> &value);
    void setModuleFileName(const std::optional<std::string> &path);
    // The clock that dates what is written without a date (default: the
    // system's).
    void setClock(Clock clock);

    // ---- what was asked for and is not carried out ------------------------
    const std::vector<PendingMove> &pendingMoves() const { return pendingMoves_; }
    const std::vector<StartedProcess> &startedProcesses() const { return started_; }

    // ---- AccessProbe -------------------------------------------------------
    Code probe(const std::string &path, Access access) override;

    // ---- Platform ----------------------------------------------------------
    Attributes attributes(const std::string &path) override;
    Result<FileInfo> info(const std::string &path) override;
    Result<DosTime> readableTime(const std::string &path) override;
    Result<std::string> readAll(const std::string &path) override;
    Code writeNew(const std::string &path, const std::string &bytes,
                  const std::optional<DosTime> &time = std::nullopt) override;
    CopyOutcome copyNew(const std::string &source, const std::string &target) override;
    Code move(const std::string &from, const std::string &to) override;
    Code replace(const std::string &from, const std::string &to) override;
    Code remove(const std::string &path) override;
    Code removeDirectory(const std::string &path) override;
    Code makeDirectory(const std::string &path) override;
    Result<std::vector<DirEntry>> list(const std::string &directory) override;
    Code delayMove(const std::string &from, const std::optional<std::string> &to) override;
    std::unique_ptr<Appender> openAppender(const std::string &path, bool truncate) override;
    Result<std::unique_ptr<Reader>> openRead(const std::string &path) override;
    Result<std::unique_ptr<Writer>> createNew(const std::string &path) override;
    std::uint64_t fileChanges() const override { return fileChanges_; }

    Code regOpenable(Root root, const std::string &path, bool forWriting) override;
    Result<RegValue> regRead(Root root, const std::string &path, const std::string *name, std::size_t maxBytes,
                             RegStage *failedAt = nullptr) override;
    RegOutcome regSet(Root root, const std::string &path, const std::string *name, const RegValue &value) override;
    RegOutcome regDeleteValue(Root root, const std::string &path, const std::string &name) override;
    Result<std::vector<std::string>> regSubkeys(Root root, const std::string &path,
                                                RegStage *failedAt = nullptr) override;
    Result<std::vector<RegNamedValue>> regValues(Root root, const std::string &path,
                                                 RegStage *failedAt = nullptr) override;
    RegOutcome regDeleteKey(Root root, const std::string &path) override;

    std::optional<std::string> windowsDirectory() override;
    VersionInfo version() override;
    std::uint32_t processId() override;
    std::optional<std::string> environment(const std::string &name) override;
    std::optional<std::string> moduleFileName() override;
    bool startProcess(const std::string &application, const std::string &commandLine) override;
    std::optional<std::string> fullPathName(const std::string &path) override;
    std::optional<std::string> shortPathName(const std::string &path) override;

  private:
    struct FileData; // bytes, dates and open appenders of a file
    class MemoryAppender;
    class MemoryWriter;
    struct Entry {
        std::string name; // last component as written
        bool directory = false;
        bool readOnly = false;
        bool inUse = false;
        std::uint64_t written = 0;       // directories
        std::shared_ptr<FileData> data;  // files
    };
    struct Key {
        std::string name;
        std::vector<RegNamedValue> values;
    };
    using KeyId = std::pair<int, std::string>;

    Entry *find(const std::string &key);
    Code absentCode(const names::FilePath &p);
    Code directoryReady(const names::FilePath &p);
    bool busy(const Entry &e) const;
    bool holdsBusy(const std::string &dirKey) const;
    Code readable(const std::string &path, Entry **found);
    void rekey(const std::string &fromKey, const std::string &toKey, const std::string &name);
    Code moveChecked(const std::string &from, const std::string &to, bool replacing);
    Entry &seedDirectories(const std::string &path);
    Key *findKey(Root root, const std::string &key);

    std::map<std::string, Entry> files_;
    std::map<KeyId, Key> keys_;
    std::vector<PendingMove> pendingMoves_;
    std::vector<StartedProcess> started_;
    std::uint64_t fileChanges_ = 0;
    VersionInfo version_;
    std::optional<std::string> windowsDirectory_;
    std::uint32_t processId_ = 1000;
    std::vector<std::pair<std::string, std::string>> environment_;
    std::optional<std::string> moduleFileName_;
    Clock clock_;
};

} // namespace platform
