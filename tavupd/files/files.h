// File primitives: install a file by its date with an ".OLD" backup (copy),
// rename and erase files, and register what cannot be done now for the next
// start of Windows.
//
// Each call is one operation. What cannot be done now (a file in use) waits
// for the restart through the deferral the caller chose: WININIT.INI on the
// Windows 95 family, the delayed move on the NT family; without one, what
// would have to wait fails (Error 29). Once one step of an operation waits,
// every later step of it waits too, so that the steps are carried out in
// their order at the restart. Every change is described to the change sink
// before it is made. The result says what happened: nothing is reported
// through flags of the run or printed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/change.h"
#include "text/error.h"

class SubstituteClass;

namespace files {

enum class Deferral {
    Wininit,     // a [rename] line in WININIT.INI of the Windows directory
    DelayedMove, // MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT
    None,        // nothing stands in for a restart registration
};

// The deferral of a system family: 1 (Windows 95) WININIT.INI, 2 (NT) the
// delayed move, any other none.
Deferral deferralFor(int osFamily);

// What every operation of a run shares.
struct Setup {
    Deferral deferral = Deferral::None;
    std::string windowsDirectory; // where WININIT.INI is
    // Where a copy that replaces its destination at the restart is staged;
    // empty: such a copy fails (Error 21).
    std::string tempDirectory;
    bool debug = false; // trace lines in the result
    change::ChangeSink *changes = &change::noChanges();
    // Directories whose stray work files (left by copies a power failure
    // cut short) this run has removed already, upper-cased: the run's own
    // copies leave none behind, so each directory is swept once per run.
    // Null: every copy sweeps its directory.
    std::set<std::string> *sweptDirectories = nullptr;
};

// The outcome of a copy, as its outcome line names it.
enum CopyResult { SameDate = 2, DestinationNewer = 4, ReplacedOlder = 8, ReplacedNewer = 16, Created = 32 };

struct Result {
    // A copy: its CopyResult (also when it waits for the restart); 0 when it
    // failed or for other operations.
    int copied = 0;
    // Something was registered for the next start of Windows (also when a
    // later step of the operation failed).
    bool deferred = false;
    // Why the operation failed (number and path; module "tvpfile", or
    // "tvpprof" when WININIT.INI could not be written).
    std::optional<Error> error;
    // Debug trace lines, each ending in a line feed, in the order they arose.
    std::vector<std::string> trace;
    bool ok() const { return !error; }
};

// Copies `source` to `destination` when the destination is missing or
// older (or whatever its date with `force`), keeping the replaced file as
// its backup (extension ".OLD") with `backup`. A destination that is still
// there is never overwritten in place: the copy is staged and replaces it at
// the restart. With `expand` the copy made (now or staged) is the source
// with its references expanded line by line; the date rule compares the
// source's own date. Errors: 20 source, 21 destination, 23 write, 24 read,
// 27 date not set, 28 date not read, 29 no registration.
Result copy(const Setup &setup, const std::string &source, const std::string &destination, int force, int backup,
            const SubstituteClass *expand = nullptr);
// Renames `source` to `destination` (backing up or, with `force`, erasing
// a destination that is there); what is in use waits for the restart. A
// missing source or destination directory fails (Error 26) and registers
// nothing.
Result rename(const Setup &setup, const std::string &source, const std::string &destination, int force, int backup);
// Erases the file (after moving it to its backup name with `backup`); a
// missing file is no failure. Error 25.
Result erase(const Setup &setup, const std::string &path, int backup);
// Registers a move (with a target) or a deletion (without) for the next
// start of Windows. Errors: 29 (none possible, or the line would be cut),
// 21 (WININIT.INI path too long), WININIT.INI not written (tvpprof 21).
Result deferMove(const Setup &setup, const std::string &source, const std::optional<std::string> &target);

// ---- pieces that tests reach -----------------------------------------------------

// Bytes a copy moves per read and write.
constexpr std::size_t kTransferBufferSize = 64u * 1024u;

// A free name from the template ("TVXXXXXX", "MTXXXXXX" or the work
// template) in the directory, with the lowest 20 bits of `pid` in the
// fourth, sixth, seventh and eighth characters; none when all 27 candidates
// exist or the path would be too long.
std::optional<std::string> tempNameFromTemplate(const std::string &directory, const char *templ, std::uint32_t pid);
// The `index`-th of those candidates (0 to 26), without testing whether it
// exists; none past the last or when the path would be too long.
std::optional<std::string> templateCandidate(const std::string &directory, const char *templ, std::uint32_t pid,
                                             std::size_t index);

// Template of the work names under which copies are written beside their
// destination ("~C0k.h40"), and whether a file name is one of them.
constexpr const char *kWorkTemplate = "~CXXXXXX";
bool isWorkFileName(const std::string &name);

// The backup name of a path: its extension replaced by ".OLD". Never cut
// short; a result longer than text::kPathMax is refused where it is used.
std::string backupNameOf(const std::string &path);

} // namespace files
