// The machine as a run would leave it, without changing it: every read goes
// to the wrapped platform unless the overlay holds something newer for that
// name, every write goes to memory, and later reads see earlier writes. The
// preview runs the very code of the real run on it.
//
// The overlay answers as the wrapped machine would after the same writes,
// with the rules that MemoryPlatform follows (names read as Windows reads
// them; the errors of each operation in the same order). What only the
// machine can tell (is this existing file in use or read-only?) is asked of
// an AccessProbe before a change to a file or directory of the machine.
//
// What it holds:
//  - files written, copied or moved, directories made, names removed (a
//    removed name hides the machine's file; a directory made or moved hides
//    what the machine holds under its new name);
//  - a copy of a machine file records where its bytes are and reads them
//    only when the copy itself is read: copying a large file costs no memory
//    for its bytes;
//  - a directory of the machine that is moved keeps showing the machine's
//    entries under its new name;
//  - registry keys made or deleted and, for every key whose values change,
//    all of its values (a deleted key hides everything the machine holds
//    below it);
//  - restart registrations (pendingMoves), programs it was asked to start
//    (startedProcesses: none is started) and files opened for appending
//    (the log and journal of a preview stay in memory).
// System queries pass through.
//
// Listings: the machine's entries keep the machine's order (those replaced
// by the overlay keep their place, removed ones go), new ones follow in
// name order; registry subkeys likewise.
//
// Not foreseen: the directory's own last-write time after a change in it;
// a move across drives; one registry root seen through another
// (HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE\SOFTWARE\Classes); a change the
// machine would refuse for want of rights (a directory or key the account
// cannot write), unless the probe says so.
//
// The overlay must outlive the appenders it opens.
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

class OverlayPlatform : public Platform {
  public:
    // `clock` dates what is written without a date.
    OverlayPlatform(Platform &base, AccessProbe &probe, Clock clock);
    ~OverlayPlatform() override;
    OverlayPlatform(const OverlayPlatform &) = delete;
    OverlayPlatform &operator=(const OverlayPlatform &) = delete;

    // Another clock from now on.
    void setClock(Clock clock);

    // Restart registrations made through delayMove, in order.
    const std::vector<PendingMove> &pendingMoves() const { return pendingMoves_; }
    // Programs the run asked to start; none was started (startProcess says
    // whether the program is there to be started).
    const std::vector<StartedProcess> &startedProcesses() const { return started_; }

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
    class OverlayAppender;
    class OverlayWriter;
    // The bytes of a file written in the overlay: those of a machine file
    // first (read when asked for), then its own.
    struct Content {
        std::optional<std::string> basePath;
        std::uint64_t baseSize = 0;
        std::string bytes;
    };
    enum class Kind { Gone, File, Directory };
    struct Node {
        Kind kind = Kind::Gone;
        std::string name;                  // last component as written
        std::optional<std::string> origin; // the machine's file or directory this is
        std::shared_ptr<Content> content;  // a file: null while it is `origin` unchanged
        DosTime dos;                       // a file with content
        std::uint64_t written = 0;         // a file with content, a directory made here
        int appenders = 0;
    };
    enum class Where { Node, Base, Missing };
    struct View {
        Where where = Where::Missing;
        Node *node = nullptr;
        std::string basePath; // Base: the name the machine knows it by
        Code missing = kOk;   // Missing: why
    };
    // What a name is, and what the machine says of it.
    struct Facts {
        Code code = kOk; // kOk: it exists
        bool directory = false;
        View view;
    };
    struct RegNode {
        bool deleted = false;
        bool fresh = false; // made here: nothing of the machine at this path shows
        std::string name;
        std::optional<std::vector<RegNamedValue>> values;
    };
    using RegId = std::pair<int, std::string>;

    View resolve(const names::FilePath &p, const std::string &asGiven);
    // A read of `path`: `onMachine` with the name the machine knows when
    // the overlay holds nothing of it (or it names no file), `onNode` with
    // the overlay's node; a name that is gone or missing answers its code.
    template <typename R, typename OnMachine, typename OnNode>
    R read(const std::string &path, OnMachine onMachine, OnNode onNode);
    Facts facts(const names::FilePath &p, const std::string &asGiven);
    Code parentReady(const names::FilePath &p);
    Code probeChange(const Facts &f, Access access);
    bool appendersBelow(const std::string &key) const;
    Code renameCheck(const Facts &f, const std::string &key);
    Code moveChecked(const std::string &from, const std::string &to, bool replacing);
    Node nodeOf(const Facts &f) const;
    void rekey(const std::string &fromKey, const std::string &toKey, Node moving);
    std::shared_ptr<Content> baseContent(const std::string &basePath, Code &code);
    void mergeEntries(const std::string &key, std::vector<DirEntry> &entries);
    Code prepareAppend(const names::FilePath &p, const std::string &path, bool truncate);

    RegNode *regNode(Root root, const std::string &key);
    bool baseShows(Root root, const names::KeyPath &k);
    Code keyState(Root root, const names::KeyPath &k);
    Code writableFrom(Root root, const names::KeyPath &k);
    Code materialize(Root root, const names::KeyPath &k, RegNode **node);

    Platform &base_;
    AccessProbe &probe_;
    Clock clock_;
    std::map<std::string, Node> nodes_;
    std::map<RegId, RegNode> regs_;
    std::vector<PendingMove> pendingMoves_;
    std::vector<StartedProcess> started_;
    std::uint64_t fileChanges_ = 0;
};

} // namespace platform
