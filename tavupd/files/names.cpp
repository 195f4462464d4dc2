// Names the file primitives make: temporary and work names, backup names.
#include "files/operation.h"

#include <cstring>

#include "text/paths.h"
#include "text/textkit.h"

namespace files {
namespace {

// The characters of a temporary name: base-32 digits of the process
// identifier, and the third character that tells candidates apart.
const char kDigits[] = "0123456789abcdefghijklmnopqrstuv";
const char kThird[] = "0abcdefghijklmnopqrstuvwxyz";

// The character (letter case aside) is one of the set.
bool oneOf(char c, const char *set) { return c != '\0' && std::strchr(set, text::lower(c)) != nullptr; }

} // namespace

std::optional<std::string> templateCandidate(const std::string &directory, const char *templ, uint32_t pid,
                                             std::size_t index) {
    if (templ == nullptr || std::strlen(templ) != 8 || index + 1 >= sizeof kThird) return std::nullopt;

    std::string name(templ);
    const uint32_t bits = pid & 0xFFFFFu;
    name[2] = kThird[index];
    name[3] = kDigits[bits & 31u];
    name[4] = '.';
    name[5] = kDigits[(bits >> 5) & 31u];
    name[6] = kDigits[(bits >> 10) & 31u];
    name[7] = kDigits[(bits >> 15) & 31u];
    std::string candidate = text::joinPath(directory, name);
    if (candidate.size() > text::kPathMax) return std::nullopt;
    return candidate;
}

std::optional<std::string> tempNameFromTemplate(const std::string &directory, const char *templ, uint32_t pid) {
    for (std::size_t i = 0;; ++i) {
        std::optional<std::string> candidate = templateCandidate(directory, templ, pid, i);
        if (!candidate || !detail::exists(*candidate)) return candidate;
    }
}

bool isWorkFileName(const std::string &name) {
    return name.size() == 8 && name[0] == kWorkTemplate[0] && oneOf(name[1], "c") && oneOf(name[2], kThird) &&
           oneOf(name[3], kDigits) && name[4] == '.' && oneOf(name[5], kDigits) && oneOf(name[6], kDigits) &&
           oneOf(name[7], kDigits);
}

std::string backupNameOf(const std::string &path) {
    const text::PathParts parts = text::splitPath(path);
    const std::size_t length = path.size() - parts.extension.size() + 4;
    if (path.size() <= text::kPathMax && length <= text::kPathMax && path.size() >= parts.extension.size())
        return text::withExtension(path, ".OLD");
    // Too long to be used; built whole so that the caller refuses it by name.
    std::string result = path;
    const std::size_t slash = result.find_last_of("\\/:");
    const std::size_t dot = result.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) result.erase(dot);
    return result + ".OLD";
}

} // namespace files
