// The machine state a run leaves behind, as the end-to-end benchmark
// compares it: files (size, last-write time, attributes, a hash of the
// bytes), directories, and registry keys and values (type and data).
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tvbench {

// What a snapshot looks at.
struct StateScope {
    // Directories: the directory itself and everything below it.
    std::vector<std::string> trees;
    // Single files (an INI file, WININIT.INI): recorded as absent when missing.
    std::vector<std::string> files;
    // Registry keys named with their root, e.g. "HKLM\\SOFTWARE\\X": the key,
    // its values and every subkey below it.
    std::vector<std::string> registryTrees;
    // Single registry values: key (with its root) and value name.
    std::vector<std::pair<std::string, std::string>> registryValues;
    // Last-write times later than this (a FILETIME as one number) are
    // recorded as "fresh" instead of their value: two runs that write a file
    // at different moments leave the same state. 0: every time as it is.
    unsigned long long freshAfter = 0;
};

// One line per file, directory, key and value, by name (paths as the file
// system and the registry spell them). Differences in case are differences.
using Snapshot = std::map<std::string, std::string>;

Snapshot takeSnapshot(const StateScope &scope);

// The entries in which two snapshots differ, one line each, naming the
// entry and both descriptions ("absent" on the side that lacks it). Empty
// when the states are the same.
std::vector<std::string> compareSnapshots(const Snapshot &a, const Snapshot &b, const std::string &nameA,
                                          const std::string &nameB);

// The hash recorded for a file's bytes (exposed for the tests).
unsigned long long contentHash(const void *data, size_t size, unsigned long long seed = 0);

} // namespace tvbench
