// The journal as the run's ChangeSink: before each change it saves what undo
// needs and appends one record to ARCHIVE\<patch>.JNL (each write flushed);
// after it, the files the change wrote with their size and CRC. When
// anything of that fails, the change is refused (before() returns false) and
// so is every change after it: no change is made that the journal does not
// know. A run that makes no change writes nothing.
//
// What is saved before a change, so that undo can restore it exactly:
//  - a file about to be replaced, removed or expanded, and a file a restart
//    registration will replace or delete: a copy under
//    ARCHIVE\UNDO\<patch>\ (copied with its date);
//  - an INI file about to be changed (key set or deleted, section deleted,
//    patch recorded): a copy of the whole file; in the registry form, the
//    value's type and data, or the section's whole key;
//  - a restart registration: WININIT.INI's copy and the line it adds, or
//    how many pairs PendingFileRenameOperations held;
//  - registry values and trees: the description itself holds them.
// A run that finds the journal of an earlier run of the patch (cut short or
// failed) appends to it: undo takes back both, the later first.
// When the archive directory is still to be made, the journal begins beside
// it in the product directory with a record of the directory, and moves in
// once the directory is made: a run cut at any point leaves a journal that
// knows everything the run made.
#pragma once

#include "engine/change.h"
#include "journal/format.h"
#include "platform/platform.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace journal {

struct RunInfo {
    std::string archive; // the archive directory, e.g. C:\TAVRO\ARCHIVE
    Begin begin;         // patch, profile, time, family, directories, free record index
};

class JournalSink : public change::ChangeSink {
  public:
    JournalSink(platform::Platform &machine, RunInfo run);
    ~JournalSink() override;
    JournalSink(const JournalSink &) = delete;
    JournalSink &operator=(const JournalSink &) = delete;

    // The records hold the old values and trees: primitives read them.
    bool needsOldState() const override { return true; }
    bool before(const change::Change &c) override;
    void after(const change::Change &c, bool made) override;

    // The journal could not be written: every change since was refused.
    bool broken() const { return broken_; }
    // A change was recorded: there is something to take back.
    bool recorded() const { return recorded_; }
    const std::string &path() const { return path_; }

  private:
    bool start();
    bool append(Body body);
    bool write(std::string text, std::vector<Body> bodies);
    bool open(const std::string &path, std::vector<Body> first, bool &made);
    bool makeCopyDirectories();
    std::optional<Saved> save(const std::string &original);
    bool describe(ChangeRecord &record);
    bool describeRestart(ChangeRecord &record);
    bool describeIni(ChangeRecord &record);
    bool putsBack(const change::Change &c) const;

    platform::Platform &machine_;
    RunInfo run_;
    std::string path_;
    std::unique_ptr<platform::Appender> out_;
    std::uint64_t nextSeq_ = 1;
    std::uint64_t nextCopy_ = 1;
    bool started_ = false;
    bool broken_ = false;
    bool recorded_ = false;
    // Changes described and not yet reported made or not: their records and
    // the files they write.
    struct Open {
        const change::Change *change;
        std::uint64_t seq;
        std::vector<std::string> files;
    };
    std::vector<Open> open_;
    // Moves and creations this run made (what a broken journal still lets
    // a primitive put back).
    struct Made {
        change::Kind kind;
        std::string path;
        std::optional<std::string> target;
    };
    std::vector<Made> made_;
    // Files the run's registrations move away at the restart.
    std::vector<std::string> movedAtRestart_;
};

} // namespace journal
