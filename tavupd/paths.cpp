#include "paths.h"

namespace {

constexpr size_t kPathConsidered = 260; // characters of an input path looked at
constexpr size_t kDriveMax = 2;
constexpr size_t kPartMax = 255;

bool isSeparator(char c) { return c == '\\' || c == '/'; }

std::string cut(const std::string &text, size_t limit) { return text.size() > limit ? text.substr(0, limit) : text; }

// Appends a backslash unless the text already ends in one. An empty text does
// not end in one, so it becomes a single backslash.
void addBackslash(std::string &text) {
    if (text.empty() || text.back() != '\\') text += '\\';
}

// Builds D P \ N E from the four parts (the backslash only when needed).
std::string build(const std::string &drive, const std::string &directory, const std::string &name,
                  const std::string &extension) {
    std::string result = drive;
    result += directory;
    addBackslash(result);
    result += name;
    result += extension;
    return result;
}

} // namespace

PathParts splitPath(const std::string &path) {
    const std::string text = cut(path, kPathConsidered);
    PathParts parts;

    size_t pos = 0;
    if (text.size() >= 2 && text[1] == ':') {
        parts.drive = text.substr(0, kDriveMax);
        pos = 2;
    }

    // The directory runs up to and including the last separator.
    size_t nameStart = pos;
    for (size_t i = pos; i < text.size(); ++i) {
        if (isSeparator(text[i])) nameStart = i + 1;
    }
    std::string directory = text.substr(pos, nameStart - pos);
    std::string rest = text.substr(nameStart);

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

std::string &pathDrive(std::string &path) { return path = splitPath(path).drive; }

std::string &pathDirectory(std::string &path) { return path = splitPath(path).directory; }

std::string &pathBaseName(std::string &path) { return path = splitPath(path).name; }

std::string &pathExtension(std::string &path) { return path = splitPath(path).extension; }

std::string &pathFileName(std::string &path) {
    const PathParts parts = splitPath(path);
    return path = parts.name + parts.extension;
}

std::string &pathFolder(std::string &path) {
    const PathParts parts = splitPath(path);
    std::string result = parts.drive + parts.directory;
    addBackslash(result);
    return path = result;
}

std::string &pathDirectoryAndBase(std::string &path) {
    const PathParts parts = splitPath(path);
    return path = build(std::string(), parts.directory, parts.name, std::string());
}

std::string &pathWithoutDrive(std::string &path) {
    const PathParts parts = splitPath(path);
    return path = build(std::string(), parts.directory, parts.name, parts.extension);
}

std::string &pathDriveAndBase(std::string &path) {
    const PathParts parts = splitPath(path);
    return path = parts.drive + parts.name;
}

std::string &replacePathParts(std::string &path, const char *drive, const char *directory, const char *name,
                              const char *extension) {
    const PathParts parts = splitPath(path);
    return path = build(drive ? std::string(drive) : parts.drive, directory ? std::string(directory) : parts.directory,
                        name ? std::string(name) : parts.name, extension ? std::string(extension) : parts.extension);
}

std::string &replacePathPartsFrom(std::string &path, const char *drive, const char *directory,
                                  const std::string &other) {
    const PathParts from = splitPath(other);
    return replacePathParts(path, drive, directory, from.name.c_str(), from.extension.c_str());
}

std::string &setDrive(std::string &path, const char *drive) {
    return replacePathParts(path, drive, nullptr, nullptr, nullptr);
}

std::string &setDirectory(std::string &path, const char *directory) {
    return replacePathParts(path, nullptr, directory, nullptr, nullptr);
}

std::string &setBaseName(std::string &path, const char *name) {
    return replacePathParts(path, nullptr, nullptr, name, nullptr);
}

std::string &setExtension(std::string &path, const char *extension) {
    return replacePathParts(path, nullptr, nullptr, nullptr, extension);
}

std::string &setBaseNameAndExtension(std::string &path, const char *name, const char *extension) {
    return replacePathParts(path, nullptr, nullptr, name, extension);
}

std::string &setDriveAndDirectory(std::string &path, const char *drive, const char *directory) {
    return replacePathParts(path, drive, directory, nullptr, nullptr);
}

std::string &setDriveAndBaseName(std::string &path, const char *drive, const char *name) {
    return replacePathParts(path, drive, nullptr, name, nullptr);
}

std::string &setDriveAndExtension(std::string &path, const char *drive, const char *extension) {
    return replacePathParts(path, drive, nullptr, nullptr, extension);
}

std::string &setDirectoryAndBaseName(std::string &path, const char *directory, const char *name) {
    return replacePathParts(path, nullptr, directory, name, nullptr);
}

std::string &setDirectoryAndExtension(std::string &path, const char *directory, const char *extension) {
    return replacePathParts(path, nullptr, directory, nullptr, extension);
}

std::string &setDriveDirectoryAndBase(std::string &path, const char *drive, const char *directory, const char *name) {
    return replacePathParts(path, drive, directory, name, nullptr);
}

std::string &setDriveBaseNameAndExtension(std::string &path, const char *drive, const char *name,
                                          const char *extension) {
    return replacePathParts(path, drive, nullptr, name, extension);
}

std::string &setDirectoryBaseNameAndExtension(std::string &path, const char *directory, const char *name,
                                              const char *extension) {
    return replacePathParts(path, nullptr, directory, name, extension);
}

std::string &setFileName(std::string &path, const std::string &other) {
    return replacePathPartsFrom(path, nullptr, nullptr, other);
}

std::string &setDriveAndFileName(std::string &path, const char *drive, const std::string &other) {
    return replacePathPartsFrom(path, drive, nullptr, other);
}

std::string &setDirectoryAndFileName(std::string &path, const char *directory, const std::string &other) {
    return replacePathPartsFrom(path, nullptr, directory, other);
}

std::string joinPath(const std::string &directory, const std::string &name) {
    std::string result = directory;
    addBackslash(result);
    result += name;
    return result;
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
