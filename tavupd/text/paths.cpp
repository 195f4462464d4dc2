#include "text/paths.h"

#include "text/textkit.h"

namespace text {
namespace {

constexpr size_t kPathConsidered = 260; // characters of an input path looked at
constexpr size_t kDriveMax = 2;
constexpr size_t kPartMax = 255;

bool isSeparator(char c) { return c == '\\' || c == '/'; }

std::string cut(const std::string &text, size_t limit) { return text.size() > limit ? text.substr(0, limit) : text; }

// Builds D P \ N E from the four parts (the backslash only when needed).
std::string build(const std::string &drive, const std::string &directory, const std::string &name,
                  const std::string &extension) {
    std::string result = drive;
    result += directory;
    appendBackslash(result);
    result += name;
    result += extension;
    return result;
}

} // namespace

PathParts splitPath(const std::string &path) {
    const std::string considered = cut(path, kPathConsidered);
    PathParts parts;

    size_t pos = 0;
    if (considered.size() >= 2 && considered[1] == ':') {
        parts.drive = considered.substr(0, kDriveMax);
        pos = 2;
    }

    // The directory runs up to and including the last separator.
    size_t nameStart = pos;
    for (size_t i = pos; i < considered.size(); ++i) {
        if (isSeparator(considered[i])) nameStart = i + 1;
    }
    std::string directory = considered.substr(pos, nameStart - pos);
    std::string rest = considered.substr(nameStart);

    // A final "." or ".." names a directory, not an extension.
    if (rest == "." || rest == "..") {
        directory += rest;
        rest.clear();
    }

    const size_t dot = rest.rfind('.');
    std::string name = dot == std::string::npos ? rest : rest.substr(0, dot);
    std::string extension = dot == std::string::npos ? std::string() : rest.substr(dot);

    parts.directory = cut(directory, kPartMax);
    parts.name = cut(name, kPartMax);
    parts.extension = cut(extension, kPartMax);
    return parts;
}

std::string mergePath(const char *drive, const char *directory, const char *name, const char *extension) {
    std::string result;
    if (drive && drive[0] != '\0') {
        result += drive[0];
        result += ':';
    }
    if (directory && directory[0] != '\0') {
        result += directory;
        if (!isSeparator(result.back())) result += '\\';
    }
    if (name) result += name;
    if (extension && extension[0] != '\0') {
        if (extension[0] != '.') result += '.';
        result += extension;
    }
    return result;
}

std::string fileNameOf(const std::string &path) {
    const PathParts parts = splitPath(path);
    return parts.name + parts.extension;
}

std::string folderOf(const std::string &path) {
    const PathParts parts = splitPath(path);
    std::string result = parts.drive + parts.directory;
    appendBackslash(result);
    return result;
}

std::string withExtension(const std::string &path, const char *extension) {
    const PathParts parts = splitPath(path);
    return build(parts.drive, parts.directory, parts.name, extension ? std::string(extension) : parts.extension);
}

std::string withFileName(const std::string &path, const std::string &other) {
    const PathParts parts = splitPath(path);
    const PathParts from = splitPath(other);
    return build(parts.drive, parts.directory, from.name, from.extension);
}

namespace {

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar
// (month 1-12), negative before it.
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

} // namespace

int64_t dosTimeToCalendar(uint16_t dosDate, uint16_t dosTime) {
    // Every field is a few bits wide and each is counted on from the one
    // above it, so out-of-range values (month 0 or 15, day 0, hour 31,
    // second 62) fold into the neighbouring units as mktime folds them.
    int64_t year = 1980 + ((dosDate >> 9) & 0x7F);
    int64_t month = static_cast<int64_t>((dosDate >> 5) & 0x0F) - 1; // from 0; -1 is December before
    if (month < 0) {
        month += 12;
        year -= 1;
    }
    year += month / 12;
    month %= 12;
    const int64_t days = daysFromCivil(year, month + 1, 1) + (dosDate & 0x1F) - 1;
    const int64_t hours = (dosTime >> 11) & 0x1F;
    const int64_t minutes = (dosTime >> 5) & 0x3F;
    const int64_t seconds = (dosTime & 0x1F) * 2;
    return ((days * 24 + hours) * 60 + minutes) * 60 + seconds;
}

} // namespace text
