// What the journal, undo and the status report do on the machine, through
// the Platform seam only: the state of a file, files put in place through a
// work file, the replacements registered for the next start of Windows, and
// the installed-patch record.
#pragma once

#include "journal/format.h"
#include "platform/platform.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ini {
class Table;
}

namespace journal {

// The state of a file now: its size and CRC, absent, or unknown (it is
// there but cannot be read, e.g. held open by a program).
FileState currentState(platform::Platform &machine, const std::string &path);
bool exists(platform::Platform &machine, const std::string &path);

// Where the patch's journal is: in the archive directory, or beside it
// where a cut left it (a file there that is no journal is none of ours).
std::string journalOf(platform::Platform &machine, const std::string &archive, const std::string &patch);

// A failure that can wait for the next start of Windows: the file is there
// but cannot be changed now (in use, protected), as opposed to a name that
// names nothing, or a name that is taken.
bool waitsForRestart(platform::Code code);

// Puts `work` (a complete file) in place of `path` in one step: a replacing
// rename, or on systems without one the old file moved aside to `aside`,
// the work file moved in and the old one removed. `path` missing: a rename.
// On failure `work` stays (the caller removes it or registers it for the
// restart) and `path` is as it was.
platform::Code putInPlace(platform::Platform &machine, const std::string &work, const std::string &path,
                          const std::string &aside);

// Writes the bytes to `work` (created anew; a leftover of that name is
// removed first), then puts it in place of `path`. The work file is removed
// again on failure.
platform::Code writeInPlace(platform::Platform &machine, const std::string &path, const std::string &bytes,
                            const std::string &work, const std::string &aside);

// Work names in the directory of `path`: "~U" (or another letter) and six
// hexadecimal digits of the number, ".TMP".
std::string workName(const std::string &path, char letter, std::uint64_t number);
std::string directoryOf(const std::string &path);

// ---- replacements registered for the next start of Windows ----------------

constexpr const char *kWininit = "WININIT.INI";
constexpr const char *kPendingName = "PendingFileRenameOperations";
constexpr const char *kSessionManager = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// The WININIT.INI line of a registration: "target=source" ("NUL=source"
// for a deletion).
std::string wininitEntry(const std::string &source, const std::optional<std::string> &target);

// Lines of [rename] in a WININIT.INI table: target and source, and the
// line's index in the table.
struct WininitLine {
    std::string target;
    std::string source;
    std::size_t index = 0;
};
std::vector<WininitLine> wininitRenames(const ini::Table &table);

// One pair of PendingFileRenameOperations: where its bytes are in the value.
struct PendingPair {
    std::string source;                // as stored (usually "\??\C:\...")
    std::string target;                // as stored: "" deletes, "!" replaces
    std::size_t begin = 0, end = 0;    // byte range of the pair
};
std::vector<PendingPair> pendingPairs(std::string_view data);
// A stored name as a path: without "!" and "\??\".
std::string plainName(std::string_view stored);
// The pair is the registration of a move from `source` to `target` (none:
// a deletion), letter case aside.
bool pairIs(const PendingPair &pair, const std::string &source, const std::optional<std::string> &target);

struct PendingValue {
    platform::Code code = platform::kOk; // kOk: read (or not there: exists false)
    bool exists = false;
    platform::RegValue value;
    std::vector<PendingPair> pairs;
};
PendingValue readPendingValue(platform::Platform &machine);

// Registrations waiting now, sources and targets as paths: the [rename]
// lines of WININIT.INI on the Windows 95 family, the pairs of
// PendingFileRenameOperations on the NT family (what the family's next
// start carries out).
struct Waiting {
    std::string mechanism; // kWininit or kPendingName
    std::string source;
    std::optional<std::string> target; // none: deleted at the restart
};
std::vector<Waiting> waitingNow(platform::Platform &machine, const std::string &windowsDirectory, Family family);

// The registration is still waiting for the restart.
bool stillWaiting(platform::Platform &machine, const std::string &windowsDirectory, const ChangeRecord &registration);

// ---- the installed-patch record ([Install] Patch0, Patch1, ...) ------------

// `location`: the system TAVRO.INI file, or its registry form (a key path
// ending with a backslash, see isRegistryIni).
std::vector<std::string> installedPatches(platform::Platform &machine, const std::string &location);
// Writes the list as Patch0..Patch<n-1> and deletes the keys after it up to
// the number there were. The file is written through `work`.
platform::Code writeInstalled(platform::Platform &machine, const std::string &location,
                              const std::vector<std::string> &names, const std::string &work,
                              const std::string &aside);

// ---- registry trees ---------------------------------------------------------

// Every key below and including `path`, parents first, with its values.
std::optional<std::vector<change::RegKeySnapshot>> readTree(platform::Platform &machine, platform::Root root,
                                                            const std::string &path);
// Makes the keys and values of the snapshot exist as they were (keys
// without values too). False when the registry refuses.
bool writeTree(platform::Platform &machine, platform::Root root, const std::vector<change::RegKeySnapshot> &tree);

} // namespace journal
