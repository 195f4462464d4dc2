// Taking Windows paths apart and putting them together with parts replaced,
// and comparing packed DOS file times.
//
// A path is drive (D: "C:" or empty), directory (P: up to and including the
// last backslash or slash), name (N) and extension (E: from the last dot of
// the final component, the dot included). Only the first 260 characters of
// an input path are considered; every part is cut at its limit (drive 2,
// others 255 characters). Joining a directory and a name is text::joinPath.
#pragma once

#include <cstdint>
#include <string>

namespace text {

struct PathParts {
    std::string drive, directory, name, extension;
};

PathParts splitPath(const std::string &path);
// Null or empty parts are left out; the drive gets its ":" and the
// directory a backslash when it ends in no separator, an extension its dot.
std::string mergePath(const char *drive, const char *directory, const char *name, const char *extension);

// Name and extension: what is left when the drive and directory are dropped.
std::string fileNameOf(const std::string &path);
// Drive and directory, ending in a backslash (a lone backslash when the
// path has neither).
std::string folderOf(const std::string &path);
// The path with its extension replaced (the extension given with its dot).
std::string withExtension(const std::string &path, const char *extension);
// The path with its name and extension replaced by those of `other`.
std::string withFileName(const std::string &path, const std::string &other);

// Packed DOS date and time as a comparable count of seconds: the fields
// counted as seconds since 1970-01-01 00:00:00 with no time zone applied, so
// every file time compares the same whatever the zone, and every value the
// two words can hold (years 1980 to 2107) has its own count, greater than 0.
int64_t dosTimeToCalendar(uint16_t dosDate, uint16_t dosTime);

} // namespace text
