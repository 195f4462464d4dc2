// Taking a patch back from its journal.
//
// planUndo reads the journal and the machine and decides, changing nothing:
// which records are still to be taken back (newest first), and whether undo
// must refuse - a later patch recorded after this one, a file the patch
// wrote that holds other bytes now (an INI file only when a key or section
// the patch touched was changed since: other keys may change freely), a
// damaged journal. Forced (-u -u), it refuses only what it cannot read.
//
// applyUndo takes the records back in reverse order, each step journaled in
// the same file (undo-step before, undone after), so that undo cut at any
// point can be run again and ends where an uncut one would:
//  - files: restored from the journal's copies (with their dates), removed
//    when the patch created them, moved back when it moved them;
//  - INI files: the saved whole file put back when the file still holds
//    what the patch left (byte for byte as before); else key by key;
//  - registry values, keys and trees as they were;
//  - replacements registered for the restart and not yet carried out: the
//    patch's own WININIT.INI line or PendingFileRenameOperations pair
//    removed, nothing else; carried out ones are moved back;
//  - the installed-patch record removed, the later ones renumbered;
//  - finally the copies, the journal and the work directories the patch
//    made (when empty); the journal first moves out of them to its place
//    beside the archive directory, so that undo cut there finds it again.
// A file in use is restored at the next start of Windows through the
// deferral the install uses (WININIT.INI on the Windows 95 family, a delayed
// move on the NT family), staged beside the file it restores; the journal,
// the copies and the directories the patch made go all the same, so that
// after the restart nothing of the patch is left.
#pragma once

#include "journal/format.h"
#include "journal/reader.h"
#include "platform/platform.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace journal {

struct UndoSetup {
    std::string archive;          // the archive directory
    std::string patch;            // the patch to take back
    std::string systemIni;        // [Install]'s place: the file, or its registry form (isRegistryIni)
    std::string windowsDirectory; // where WININIT.INI is
    Family family = Family::None; // how this system defers a replacement to its next start
    bool forced = false;          // the switch given twice
    std::string time;             // for the journal
    // The names of the work files the run makes beside the files it writes
    // (a copy's work file, an INI file's new content): a run cut in the
    // middle of a change leaves one, which undo removes.
    std::function<bool(const std::string &name)> isWorkFileName;
};

enum class PlanStatus {
    Ready,         // steps to take (or only the clean-up left)
    NothingToUndo, // no journal, and the patch is not recorded
    NoJournal,     // the patch is recorded, but there is no journal to undo it with
    Unreadable,    // the journal cannot be read, is no journal or of a later version
    Damaged,       // a record of the journal cannot be read (forced: passed over)
    LaterPatch,    // a patch was recorded after this one
    Changed,       // something the patch wrote was changed since
};

// Something the patch wrote that holds something else now.
struct Conflict {
    std::string subject; // a path, or "path [section] key"
    std::string what;    // e.g. "holds other bytes than the patch left"
};

struct UndoPlan {
    PlanStatus status = PlanStatus::Ready;
    Journal journal;
    std::vector<std::string> laterPatches;
    std::vector<Conflict> conflicts;
    // Indexes into journal.entries of the change records to take back,
    // newest first (work directories are left to the clean-up).
    std::vector<std::size_t> steps;
    // The step a cut undo left half done, and what it had decided.
    std::map<std::uint64_t, UndoStep> started;
    std::string journalPath;
};

UndoPlan planUndo(platform::Platform &machine, const UndoSetup &setup);

enum class UndoOutcome {
    Undone,              // the machine is as before the patch
    UndoneRestartNeeded, // ... once Windows has been restarted
    NothingToUndo,
    Refused,    // see the plan's status: nothing was changed
    Incomplete, // a step failed: what came before it is taken back, run undo again
};

struct UndoResult {
    UndoOutcome outcome = UndoOutcome::Refused;
    std::vector<std::string> atRestart; // files restored or removed at the next start of Windows
    std::vector<Conflict> passedOver;   // forced past, and other things left as they are
    // Files the patch changed while a program held them unreadable: the
    // journal has no copy, they are left as they are.
    std::vector<std::string> notRestored;
    std::string failure;                // Incomplete: what failed
};

UndoResult applyUndo(platform::Platform &machine, const UndoSetup &setup, const UndoPlan &plan);

// ---- what both halves use ---------------------------------------------------

// The files a change writes (whose state a `left` record gives).
std::vector<std::string> filesWritten(const ChangeRecord &record);

// The journal's records, found by number.
struct JournalIndex {
    std::map<std::uint64_t, std::size_t> changes; // number -> index of the change record
    std::map<std::uint64_t, const Left *> left;   // change number -> what it left
    std::map<std::uint64_t, const Undone *> undone;
    std::map<std::uint64_t, UndoStep> started; // the last undo-step of a record
    std::vector<const UndoDeferral *> deferrals;
    const Begin *firstBegin = nullptr;
};
JournalIndex indexJournal(const Journal &journal);

} // namespace journal
