// Which log paths a run refuses. The log is opened for writing (and emptied
// unless appended to), so it must be neither a directory nor a file the run
// itself needs: the installation profile, the language file or a program of
// the patch kit.
#include "tavupd.h"

#include "sys.h"

#include <vector>

namespace {

constexpr size_t kPathMax = 259;

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool sameText(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// Asks a path call that fills a buffer and answers with the length it
// wrote, or the size it needs when the buffer is too small. Empty when the
// call fails.
template <typename Call> std::string askForPath(Call call) {
    std::vector<char> buffer(MAX_PATH + 1);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD n = call(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::string();
        if (n < buffer.size()) return std::string(buffer.data(), n);
        buffer.resize(static_cast<size_t>(n) + 1);
    }
    return std::string();
}

// A path in the forms Windows compares it by: the full path (relative to
// the current directory and drive) without the dots and blanks that
// Windows drops from the end of a name, and, for a file or directory that
// exists, its short form.
struct Resolved {
    std::string full;
    std::string shortForm;
};

Resolved resolve(const std::string &path) {
    Resolved r;
    r.full = askForPath([&](char *buffer, DWORD size) {
        return sys::GetFullPathNameA(path.c_str(), size, buffer, nullptr);
    });
    while (!r.full.empty() && (r.full.back() == '.' || r.full.back() == ' ') && r.full.size() > 3 &&
           !isSeparator(r.full[r.full.size() - 2]))
        r.full.pop_back();
    if (!r.full.empty())
        r.shortForm = askForPath([&](char *buffer, DWORD size) {
            return sys::GetShortPathNameA(r.full.c_str(), buffer, size);
        });
    return r;
}

bool sameFile(const Resolved &a, const Resolved &b) {
    if (!a.full.empty() && sameText(a.full, b.full)) return true;
    return !a.shortForm.empty() && sameText(a.shortForm, b.shortForm);
}

// The directory part of a full path, its last separator included.
std::string directoryOf(const std::string &full) {
    size_t cut = full.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : full.substr(0, cut + 1);
}

bool isProgramName(const std::string &full) {
    const size_t name = full.find_last_of("\\/");
    const size_t dot = full.find_last_of('.');
    if (dot == std::string::npos || (name != std::string::npos && dot < name)) return false;
    const std::string extension = full.substr(dot);
    for (const char *program : {".EXE", ".COM", ".BAT", ".CMD"})
        if (sameText(extension, program)) return true;
    return false;
}

} // namespace

bool isRefusedLogPath(const std::string &logPath, const std::string &programDirectory,
                      const std::vector<std::string> &kitFiles) {
    // Opened under a cut name, the log would be some other file.
    if (logPath.empty() || logPath.size() > kPathMax) return true;
    const Resolved log = resolve(logPath);
    // What cannot be resolved cannot be shown to be harmless.
    if (log.full.empty() || isSeparator(log.full.back())) return true;
    const DWORD attributes = sys::GetFileAttributesA(log.full.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;

    for (const std::string &file : kitFiles)
        if (!file.empty() && sameFile(log, resolve(file))) return true;

    if (isProgramName(log.full)) {
        std::string kitDirectory = programDirectory;
        if (kitDirectory.empty() || !isSeparator(kitDirectory.back())) kitDirectory += '\\';
        Resolved logDirectory = resolve(directoryOf(log.full));
        if (sameFile(logDirectory, resolve(kitDirectory))) return true;
    }
    return false;
}
