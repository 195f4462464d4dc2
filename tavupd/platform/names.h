// How Windows reads the names of files and registry keys, for the in-memory
// machines (MemoryPlatform, OverlayPlatform) that must find a file or key
// under every spelling the system accepts.
//
// File paths: '\' and '/' both separate; repeated separators count once; a
// trailing separator is dropped; "." components are dropped and ".." takes
// the previous component away (never the root); trailing dots and blanks of
// a component are dropped; letters compare without case (ASCII). The root is
// a drive ("C:"), a share ("\\SERVER\SHARE"), the current drive's root ("\")
// or, for a relative path, the current directory ("."). A path of 260
// characters or more is refused as the ANSI calls refuse it; a component
// holding a control character or one of <>:"|?* names nothing (a wildcard
// is not a name).
//
// Registry paths: components separated by '\' only ('/' is an ordinary
// character of a key name), empty components dropped, letters compare
// without case.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <string>
#include <vector>

namespace platform::names {

constexpr Code kNameTooLong = 206; // ERROR_FILENAME_EXCED_RANGE
// Longest path the ANSI file calls take (MAX_PATH with its terminator).
constexpr std::size_t kLongestPath = 259;

struct FilePath {
    Code code = kOk;                // kOk, or why the text names no file
    std::string root;               // upper case: "C:", "\\SERVER\SHARE", "\" or "."
    std::vector<std::string> parts; // components as written
    bool valid() const { return code == kOk; }
    bool isRoot() const { return parts.empty(); }
    // Upper-case key that every spelling of the same file shares.
    std::string key() const;
    // The key of the directory holding it (the root's own key for a root).
    std::string parentKey() const;
    // The last component as written (empty for a root).
    std::string leaf() const;
    // The path spelt with backslashes, components as written.
    std::string text() const;
    // This path with one more component.
    FilePath child(const std::string &name) const;
    FilePath parent() const;
};

FilePath parseFile(const std::string &path);

// Whether `key` lies below the directory key `dir` (not `dir` itself).
bool isBelow(const std::string &key, const std::string &dir);
// The first key of the entries below `dir` in an ordered map of keys, and
// the first key after them: [lowerBelow, upperBelow).
std::string lowerBelow(const std::string &dir);
std::string upperBelow(const std::string &dir);
// Whether `key` names a direct child of `dir`.
bool isChild(const std::string &key, const std::string &dir);

struct KeyPath {
    std::vector<std::string> parts; // components as written
    std::string key() const;        // upper case, '\' joined; "" for the root key
    std::string parentKey() const;
    std::string leaf() const;
    KeyPath parent() const;
    bool isRoot() const { return parts.empty(); }
};

KeyPath parseKey(const std::string &path);

// Registry keys: whether `key` lies below `parent` (every key lies below
// the root key ""), and whether it is a direct subkey of it.
bool isKeyBelow(const std::string &key, const std::string &parent);
bool isKeyChild(const std::string &key, const std::string &parent);

// Value names compare without case; nullptr is the default value ("").
std::string valueKey(const std::string *name);

std::string upperCase(const std::string &text);

} // namespace platform::names
