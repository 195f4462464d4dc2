// Registry trees: deleting a key with everything below it, depth first, and
// the snapshot of a tree that undo would need. One implementation for the
// REG action and the registry form of INI files.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "engine/change.h"
#include "platform/platform.h"

namespace regtree {

enum class Failure {
    Open,      // a key cannot be opened for deleting (name: the subkey of `path`, or none for the key itself)
    Query,     // the number of a key's subkeys cannot be had
    Enumerate, // a key's subkeys cannot be listed (also: a name longer than the walk takes)
    Delete,    // a key cannot be deleted
};

class Observer {
  public:
    virtual ~Observer() = default;
    // `name` is set only for Open of a subkey: the key `path` holds it.
    virtual void failed(Failure failure, platform::Code code, const std::string &path, const std::string *name) = 0;
};

struct Options {
    // Longest subkey name the walk takes; a longer one fails as Enumerate.
    std::size_t nameMax = 255;
    // Stop at the first failure. Otherwise a failure below a subkey is
    // reported and the subkey is still tried (its deletion then fails too
    // where the system deletes only empty keys).
    bool stopAtFirstFailure = true;
};

// Deletes the key `path` and everything below it. False when anything could
// not be deleted (reported to the observer); what was deleted stays deleted.
bool deleteTree(platform::Root root, const std::string &path, const Options &options, Observer &observer);

// Every key from `path` down, depth first (a key before its subkeys), with
// its values; nothing when any of it cannot be read.
std::optional<std::vector<change::RegKeySnapshot>> snapshot(platform::Root root, const std::string &path);

} // namespace regtree
