// The profile checker: every problem of an installation profile and of the
// kit directory beside it that can be seen without touching a machine,
// reported the way a compiler reports, with fixed English texts:
//
//   TAVUPD.DAT(12): error: unknown action key "FIEL2"; did you mean "FILE2"?
//       FIEL2=TAVRO,TVCORE.DLL,BIN
//   ...
//   2 errors, 1 warning
//
// Platform-free: the programs that run it supply the profile's bytes and a
// view of the kit directory.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "text/patchmodel.h"

namespace check {

using patch::Severity;

// The files of the kit directory (the directory the patch files are taken
// from). Names are matched without regard to case.
class KitView {
  public:
    virtual ~KitView() = default;
    // The names of the files (not directories) in the kit directory.
    virtual std::vector<std::string> fileNames() const = 0;
};

struct Finding {
    int line = 0; // 1-based; 0 for the file as a whole
    Severity severity = Severity::Error;
    std::string text;
};

struct Report {
    std::vector<Finding> findings; // ordered by line
    int errors = 0;
    int warnings = 0;
    // The exit status: 0 without errors, 1 with.
    int status() const { return errors > 0 ? 1 : 0; }
};

// Checks the model against the kit.
Report checkProfile(const patch::Model &model, const KitView &kit);

// The report of a profile that cannot be read at all.
Report unreadableProfile();

// The printed form: per finding "<name>(<line>): error: <text>" (or
// "<name>: ..." for the file as a whole), then the line's text indented by
// four blanks; last "N errors, M warnings". Lines end with "\n"; bytes
// outside printable ASCII show as \xNN.
std::string formatReport(const Report &report, const patch::Model &model, std::string_view profileName);

} // namespace check
