// Taking Windows paths apart and putting them together with parts replaced,
// and comparing packed DOS file times.
//
// A path is drive (D: "C:" or empty), directory (P: up to and including the
// last backslash or slash), name (N) and extension (E: from the last dot of
// the final component, the dot included). Each helper changes its first
// argument in place and returns it. Only the first 260 characters of an
// input path are considered; every part is cut at its limit (drive 2,
// others 255 characters).
#pragma once

#include <cstdint>
#include <string>

struct PathParts {
    std::string drive, directory, name, extension;
};

PathParts splitPath(const std::string &path);
// Null or empty parts are left out; see the helpers below for the rules.
std::string mergePath(const char *drive, const char *directory, const char *name, const char *extension);

std::string &pathDrive(std::string &path);
std::string &pathDirectory(std::string &path);
std::string &pathBaseName(std::string &path);
std::string &pathExtension(std::string &path);
std::string &pathFileName(std::string &path);
std::string &pathFolder(std::string &path);
std::string &pathDirectoryAndBase(std::string &path);
std::string &pathWithoutDrive(std::string &path);
std::string &pathDriveAndBase(std::string &path);

// Null arguments keep the path's own part.
std::string &replacePathParts(std::string &path, const char *drive, const char *directory, const char *name,
                              const char *extension);
std::string &replacePathPartsFrom(std::string &path, const char *drive, const char *directory,
                                  const std::string &other);
std::string &setDrive(std::string &path, const char *drive);
std::string &setDirectory(std::string &path, const char *directory);
std::string &setBaseName(std::string &path, const char *name);
std::string &setExtension(std::string &path, const char *extension);
std::string &setBaseNameAndExtension(std::string &path, const char *name, const char *extension);
std::string &setDriveAndDirectory(std::string &path, const char *drive, const char *directory);
std::string &setDriveAndBaseName(std::string &path, const char *drive, const char *name);
std::string &setDriveAndExtension(std::string &path, const char *drive, const char *extension);
std::string &setDirectoryAndBaseName(std::string &path, const char *directory, const char *name);
std::string &setDirectoryAndExtension(std::string &path, const char *directory, const char *extension);
std::string &setDriveDirectoryAndBase(std::string &path, const char *drive, const char *directory, const char *name);
std::string &setDriveBaseNameAndExtension(std::string &path, const char *drive, const char *name,
                                          const char *extension);
std::string &setDirectoryBaseNameAndExtension(std::string &path, const char *directory, const char *name,
                                              const char *extension);
std::string &setFileName(std::string &path, const std::string &other);
std::string &setDriveAndFileName(std::string &path, const char *drive, const std::string &other);
std::string &setDirectoryAndFileName(std::string &path, const char *directory, const std::string &other);

// Joins a directory and a name with a backslash unless the directory already
// ends in one (an empty directory gives "\name").
std::string joinPath(const std::string &directory, const std::string &name);

// Packed DOS date and time as a comparable count of seconds: the fields
// counted as seconds since 1970-01-01 00:00:00 with no time zone applied, so
// every file time compares the same whatever the zone, and every value the
// two words can hold (years 1980 to 2107) has its own count, greater than 0.
int64_t dosTimeToCalendar(uint16_t dosDate, uint16_t dosTime);
