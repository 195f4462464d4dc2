// The platform seam: every operation tavupd performs on the machine.
//
// The engine, the profile files and the file primitives see the machine only
// through `Platform`. Operations are whole units (read a file, write a new
// file, copy a file with its date, move, ...) so that a preview can put an
// in-memory overlay between the run and the machine (reads pass through,
// writes go to the overlay, later reads see them), and so that each unit is
// one place where a failure can be injected.
//
// The Win32 implementation performs each operation through a table of the
// raw Win32 calls it needs (`Win32Calls`), handed to it by the program's
// main function. The release program hands it the real functions; test
// builds hand it a table whose entries count calls, fail the k-th, or end
// the process at the k-th (a power cut). No fault state lives in the
// release program.
//
// This header does not include <windows.h>: error codes are the Win32 error
// numbers as plain integers, registry roots an enum, so that platform-free
// code (an overlay, fakes for native tests) can implement the interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A Win32 error number (GetLastError); 0 is success.
using Code = std::uint32_t;
constexpr Code kOk = 0;
constexpr Code kFileNotFound = 2;      // ERROR_FILE_NOT_FOUND
constexpr Code kPathNotFound = 3;      // ERROR_PATH_NOT_FOUND
constexpr Code kAccessDenied = 5;      // ERROR_ACCESS_DENIED
constexpr Code kInvalidDrive = 15;     // ERROR_INVALID_DRIVE
constexpr Code kSharingViolation = 32; // ERROR_SHARING_VIOLATION
constexpr Code kFileExists = 80;       // ERROR_FILE_EXISTS
constexpr Code kDiskFull = 112;        // ERROR_DISK_FULL (also: a write that came up short)
constexpr Code kCallNotImplemented = 120;
constexpr Code kDirNotEmpty = 145;     // ERROR_DIR_NOT_EMPTY
constexpr Code kInvalidName = 123;     // ERROR_INVALID_NAME
constexpr Code kBadPathname = 161;     // ERROR_BAD_PATHNAME
constexpr Code kAlreadyExists = 183;   // ERROR_ALREADY_EXISTS
constexpr Code kFilenameTooLong = 206; // ERROR_FILENAME_EXCED_RANGE
constexpr Code kMoreData = 234;        // ERROR_MORE_DATA
constexpr Code kNoMoreItems = 259;     // ERROR_NO_MORE_ITEMS
constexpr Code kNotADirectory = 267;   // ERROR_DIRECTORY

// "Not there" as opposed to "there but not reachable".
inline bool isNotFound(Code c) { return c == kFileNotFound || c == kPathNotFound; }

template <class T> struct Result {
    Code code = kOk; // kOk: value holds the answer
    T value{};
    bool ok() const { return code == kOk; }
};

// Packed DOS date and time of a last write (local time), as the copy rule
// compares them.
struct DosTime {
    std::uint16_t date = 0;
    std::uint16_t time = 0;
};

struct Attributes {
    Code code = kOk; // kOk: the name exists; else why the test failed
    bool directory = false;
    bool readOnly = false;
    bool exists() const { return code == kOk; }
};

// What a change test needs: size and last-write time at full resolution
// (100 ns units since 1601, UTC), without opening the file.
struct FileInfo {
    std::uint64_t size = 0;
    std::uint64_t written = 0;
    bool directory = false;
    bool readOnly = false;
    // The last write as packed DOS date and time (local time), as a Reader
    // gives it; nothing when the time has no such form.
    std::optional<DosTime> writtenDos;
};

struct DirEntry {
    std::string name;
    bool directory = false;
};

// Where a copy failed, so that the caller raises the matching error.
enum class CopyStage {
    None,         // no failure
    OpenSource,   // the source cannot be opened
    SourceTime,   // the source's last-write time cannot be read
    CreateTarget, // the target cannot be created (it exists: kFileExists)
    Read,         // reading the source failed
    Write,        // writing the target failed or wrote short
    SetTime,      // the target's date and time cannot be set
    Close,        // closing the target failed (data may be lost)
};

struct CopyOutcome {
    Code code = kOk;
    CopyStage stage = CopyStage::None;
    bool ok() const { return code == kOk; }
};

// A file open for reading, shared with other readers and writers. Closed
// when destroyed.
class Reader {
  public:
    virtual ~Reader() = default;
    // Up to `size` bytes into `buffer`; 0 bytes at the end of the file.
    virtual Result<std::size_t> read(char *buffer, std::size_t size) = 0;
    // Packed DOS date and time of the last write (local time).
    virtual Result<DosTime> time() = 0;
};

// A file created by createNew, open for writing only by its creator. Closed
// when destroyed (a failure of that close is not seen: call close()).
class Writer {
  public:
    virtual ~Writer() = default;
    // Writes every byte; a write that comes up short is a failure (kDiskFull
    // when the system names no error).
    virtual Code write(const char *data, std::size_t size) = 0;
    virtual Code setTime(const DosTime &time) = 0;
    // Closes the file; a failure here may have lost the last of the data.
    virtual Code close() = 0;
};

// A file opened for appending (the log, the journal): every write is flushed.
class Appender {
  public:
    virtual ~Appender() = default;
    virtual bool write(const std::string &bytes) = 0;
    virtual bool close() = 0; // idempotent
};

enum class Root { LocalMachine, CurrentUser, ClassesRoot, Users };

// Registry value types used here.
constexpr std::uint32_t kRegSz = 1;     // REG_SZ
constexpr std::uint32_t kRegBinary = 3; // REG_BINARY
constexpr std::uint32_t kRegDword = 4;  // REG_DWORD

struct RegValue {
    std::uint32_t type = 0;
    std::string data; // the bytes as stored (a REG_SZ includes its terminator if stored with one)
};

struct RegNamedValue {
    std::string name;
    RegValue value;
};

// Where a registry operation failed, so that the caller reports the right
// message (cannot open / create / set / delete / list / query).
enum class RegStage { None, Open, Create, Query, Read, Set, Delete, Enumerate };

struct RegOutcome {
    Code code = kOk;
    RegStage stage = RegStage::None;
    bool ok() const { return code == kOk; }
};

struct VersionInfo {
    std::uint32_t platformId = 0; // VER_PLATFORM_WIN32s 0, _WINDOWS 1, _NT 2
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    bool known = false;           // false: the query failed
};

class Platform {
  public:
    virtual ~Platform() = default;

    // ---- files and directories ---------------------------------------------
    virtual Attributes attributes(const std::string &path) = 0;
    // Size and last-write time of an existing file or directory.
    virtual Result<FileInfo> info(const std::string &path) = 0;
    // Last-write time of a file that can be opened for reading (shared for
    // reading and writing); a file that cannot be opened gives its error.
    virtual Result<DosTime> readableTime(const std::string &path) = 0;
    // Every byte of the file.
    virtual Result<std::string> readAll(const std::string &path) = 0;
    // Creates the file exclusively (kFileExists when the name is taken),
    // writes every byte, sets the date when given, closes it; on any failure
    // the created file is removed again.
    virtual Code writeNew(const std::string &path, const std::string &bytes,
                          const std::optional<DosTime> &time = std::nullopt) = 0;
    // Copies the bytes and the last-write date of `source` into `target`,
    // created exclusively; on failure the target is removed again.
    virtual CopyOutcome copyNew(const std::string &source, const std::string &target) = 0;
    // Renames; fails when the target exists.
    virtual Code move(const std::string &from, const std::string &to) = 0;
    // Renames over an existing target in one step; kCallNotImplemented on
    // systems without a replacing rename (the Windows 95 family).
    virtual Code replace(const std::string &from, const std::string &to) = 0;
    virtual Code remove(const std::string &path) = 0;
    virtual Code makeDirectory(const std::string &path) = 0;
    // Removes an empty directory.
    virtual Code removeDirectory(const std::string &path) = 0;
    // Entries of a directory (".", ".." included as the system lists them).
    virtual Result<std::vector<DirEntry>> list(const std::string &directory) = 0;
    // Registers a rename (or, without a target, a deletion) for the next
    // start of Windows: the NT family's delayed move.
    virtual Code delayMove(const std::string &from, const std::optional<std::string> &to) = 0;
    // Opens a file for appending (or truncated first); null when it cannot.
    virtual std::unique_ptr<Appender> openAppender(const std::string &path, bool truncate) = 0;
    // Opens an existing file for reading (shared for reading and writing),
    // kept open until the Reader is destroyed.
    virtual Result<std::unique_ptr<Reader>> openRead(const std::string &path) = 0;
    // Creates the file exclusively (kFileExists when the name is taken) and
    // keeps it open for writing. Nothing removes it on failure: the caller
    // decides (see writeNew and copyNew for whole units).
    virtual Result<std::unique_ptr<Writer>> createNew(const std::string &path) = 0;
    // How many changes to files and directories this platform has set out
    // to make so far (created, written whole, copied, moved, replaced,
    // removed, registered for the restart; successful or not; appends are
    // not counted): equal counts at two moments mean this process changed
    // no file in between.
    virtual std::uint64_t fileChanges() const = 0;

    // ---- registry ----------------------------------------------------------
    // The key can be opened for reading (or for every access).
    virtual Code regOpenable(Root root, const std::string &path, bool forWriting) = 0;
    // A value; stage Open when the key cannot be opened, Read when the value
    // cannot be read (also when it is longer than maxBytes: kMoreData).
    virtual Result<RegValue> regRead(Root root, const std::string &path, const std::string *name,
                                     std::size_t maxBytes, RegStage *failedAt = nullptr) = 0;
    // Creates the key (and its parents) when missing and sets the value.
    virtual RegOutcome regSet(Root root, const std::string &path, const std::string *name,
                              const RegValue &value) = 0;
    virtual RegOutcome regDeleteValue(Root root, const std::string &path, const std::string &name) = 0;
    // Names of the direct subkeys / the values of a key.
    virtual Result<std::vector<std::string>> regSubkeys(Root root, const std::string &path,
                                                        RegStage *failedAt = nullptr) = 0;
    virtual Result<std::vector<RegNamedValue>> regValues(Root root, const std::string &path,
                                                         RegStage *failedAt = nullptr) = 0;
    // Deletes one key that has no subkeys.
    virtual RegOutcome regDeleteKey(Root root, const std::string &path) = 0;

    // ---- system ------------------------------------------------------------
    virtual std::optional<std::string> windowsDirectory() = 0;
    virtual VersionInfo version() = 0;
    virtual std::uint32_t processId() = 0;
    virtual std::optional<std::string> environment(const std::string &name) = 0;
    virtual std::optional<std::string> moduleFileName() = 0;
    // Starts a program, not waited for, inheriting handles and environment.
    virtual bool startProcess(const std::string &application, const std::string &commandLine) = 0;
    // The full path of a name (relative to the current directory and drive),
    // and the short form of an existing path; nothing when the system cannot
    // give it.
    virtual std::optional<std::string> fullPathName(const std::string &path) = 0;
    virtual std::optional<std::string> shortPathName(const std::string &path) = 0;
};

// The platform of the process, set by main (and by tests).
Platform &current();
// Makes `p` the current platform for the lifetime of the scope.
class Install {
  public:
    explicit Install(Platform &p);
    ~Install();
    Install(const Install &) = delete;
    Install &operator=(const Install &) = delete;

  private:
    Platform *previous_;
};

} // namespace platform
