// Which log paths a run refuses. The log is opened for writing (and emptied
// unless appended to), so it must be neither a directory nor a file the run
// itself needs: the installation profile, the language file or a program of
// the patch kit.
#include "app/run.h"
#include "platform/platform.h"
#include "text/textkit.h"

namespace app {
namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// A path in the forms Windows compares it by: the full path (relative to
// the current directory and drive) without the dots and blanks that
// Windows drops from the end of a name, and, for a file or directory that
// exists, its short form.
struct Resolved {
    std::string full;
    std::string shortForm;
};

Resolved resolve(const std::string &path) {
    platform::Platform &os = platform::current();
    Resolved r;
    r.full = os.fullPathName(path).value_or(std::string());
    while (!r.full.empty() && (r.full.back() == '.' || r.full.back() == ' ') && r.full.size() > 3 &&
           !isSeparator(r.full[r.full.size() - 2]))
        r.full.pop_back();
    if (!r.full.empty()) r.shortForm = os.shortPathName(r.full).value_or(std::string());
    return r;
}

bool sameFile(const Resolved &a, const Resolved &b) {
    if (!a.full.empty() && text::equalsNoCase(a.full, b.full)) return true;
    return !a.shortForm.empty() && text::equalsNoCase(a.shortForm, b.shortForm);
}

// The directory part of a full path, its last separator included.
std::string directoryOf(const std::string &full) {
    const size_t cut = full.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : full.substr(0, cut + 1);
}

bool isProgramName(const std::string &full) {
    const size_t name = full.find_last_of("\\/");
    const size_t dot = full.find_last_of('.');
    if (dot == std::string::npos || (name != std::string::npos && dot < name)) return false;
    const std::string extension = full.substr(dot);
    for (const char *program : {".EXE", ".COM", ".BAT", ".CMD"})
        if (text::equalsNoCase(extension, program)) return true;
    return false;
}

} // namespace

bool isRefusedLogPath(const std::string &logPath, const std::string &programDirectory,
                      const std::vector<std::string> &kitFiles) {
    // Opened under a cut name, the log would be some other file.
    if (logPath.empty() || logPath.size() > text::kPathMax) return true;
    const Resolved log = resolve(logPath);
    // What cannot be resolved cannot be shown to be harmless.
    if (log.full.empty() || isSeparator(log.full.back())) return true;
    const platform::Attributes attributes = platform::current().attributes(log.full);
    if (attributes.exists() && attributes.directory) return true;

    for (const std::string &file : kitFiles)
        if (!file.empty() && sameFile(log, resolve(file))) return true;

    if (isProgramName(log.full)) {
        std::string kitDirectory = programDirectory;
        if (kitDirectory.empty() || !isSeparator(kitDirectory.back())) kitDirectory += '\\';
        if (sameFile(resolve(directoryOf(log.full)), resolve(kitDirectory))) return true;
    }
    return false;
}

} // namespace app
