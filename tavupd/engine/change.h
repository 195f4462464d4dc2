// What a run changes on the machine, described before each change is made.
//
// Every primitive that changes the machine (the file primitives, the INI
// profiles, the registry action, the installed-patch record, the work
// directories) describes the change to the run's ChangeSink BEFORE making it,
// and tells the sink afterwards whether it was made. The default sink does
// nothing. The journal is a sink that appends and flushes one record per
// change (and saves what undo needs: a copy of a file about to be replaced or
// removed); the preview is a sink that collects what the run would do.
//
// Platform-free: paths and keys are texts, registry data are bytes.
#pragma once

#include "platform/platform.h" // Root, RegValue (tavupd/platform)

#include <optional>
#include <string>
#include <vector>

namespace change {

enum class Kind {
    DirectoryCreated,  // path: a work directory made by the run
    FileCreated,       // path did not exist and gets bytes (installed, copied, staged work file)
    FileReplaced,      // path exists and its bytes are replaced in one step (from: the new file's source)
    FileMoved,         // path -> target (rename, backup to .OLD, work file into place)
    FileRemoved,       // path exists and is deleted
    RestartRegistered, // path -> target (or none: deletion) registered for the next start of Windows;
                       // detail: "WININIT.INI" or "PendingFileRenameOperations"
    IniKeySet,         // path (file or registry-mirror key), section, key, before (absent or value), after
    IniKeyDeleted,     // path, section, key, before
    IniSectionDeleted, // path, section, lines (the section's lines as they were)
    RegValueSet,       // root, path, name (absent: default value), regBefore (absent or value), regAfter
    RegValueDeleted,   // root, path, name, regBefore
    RegKeyCreated,     // root, path: a key that did not exist (created by a value set)
    RegTreeDeleted,    // root, path, tree (every key and value below, depth first)
    PatchRecorded,     // section "Install", key "Patch<n>", after: the patch name
};

struct RegKeySnapshot {
    std::string path; // full path of the key below the root
    std::vector<platform::RegNamedValue> values;
};

struct Change {
    Kind kind = Kind::FileCreated;
    std::string path;                  // file, INI file / mirror key, or registry key path
    std::optional<std::string> target; // FileMoved, RestartRegistered
    std::optional<std::string> from;   // FileReplaced / FileCreated: where the new bytes come from
    std::string detail;                // mechanism or free note for people
    // INI
    std::string section;
    std::optional<std::string> key;
    std::optional<std::string> before; // absent: the key was not there
    std::optional<std::string> after;
    std::vector<std::string> lines;
    // registry
    platform::Root root = platform::Root::LocalMachine;
    std::optional<std::string> name;
    std::optional<platform::RegValue> regBefore;
    std::optional<platform::RegValue> regAfter;
    std::vector<RegKeySnapshot> tree;
};

class ChangeSink {
  public:
    virtual ~ChangeSink() = default;
    // Whether before() needs the old state: old INI and registry values
    // (`before`, `regBefore`), the keys and values of a tree about to be
    // deleted (`tree`), the lines of a registry-mirror section. Reading it
    // costs calls on the machine, so a sink that does not use it (the
    // default) gets those fields empty; what a primitive has at hand anyway
    // (the old line of an INI file, a section's lines) is always filled in.
    // When the old state is needed and cannot be read, the change is not
    // made and fails as if the system had refused it.
    virtual bool needsOldState() const { return false; }
    // Before the change is made. A sink that cannot record it (a journal that
    // cannot be written) returns false: the change is then not made, and the
    // primitive fails as if the system had refused it.
    virtual bool before(const Change &) { return true; }
    // After the attempt: whether the change was made.
    virtual void after(const Change &, bool /*made*/) {}
};

// The sink that records nothing.
ChangeSink &noChanges();

// Makes the change `c` through `operation` (a call that returns a
// platform::Code): described to the sink before, told afterwards whether it
// was made. A change the sink refuses is not made and fails with
// kAccessDenied, as a refusal of the system would.
template <typename Operation>
platform::Code apply(ChangeSink &sink, const Change &c, Operation operation) {
    if (!sink.before(c)) return platform::kAccessDenied;
    const platform::Code code = operation();
    sink.after(c, code == platform::kOk);
    return code;
}

// The keys a registry value set at `key` makes: `key` and each missing key
// above it, as RegKeyCreated changes, the topmost first - so that undo,
// taking them back newest first, removes each empty key from the bottom
// up. None when the sink does not need the old state (finding them costs
// calls on the machine).
std::vector<Change> keysMadeBy(const ChangeSink &sink, platform::Platform &machine, platform::Root root,
                               const std::string &key);

// As apply, for a change that makes others with it (a value set that makes
// its keys): those are described first, then `c`, and all are told
// afterwards whether it was made.
template <typename Operation>
platform::Code applyWith(ChangeSink &sink, const std::vector<Change> &with, const Change &c, Operation operation) {
    for (const Change &w : with)
        if (!sink.before(w)) return platform::kAccessDenied;
    if (!sink.before(c)) return platform::kAccessDenied;
    const platform::Code code = operation();
    sink.after(c, code == platform::kOk);
    for (const Change &w : with) sink.after(w, code == platform::kOk);
    return code;
}

} // namespace change
