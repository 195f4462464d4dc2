#include "profile/regtree.h"

#include "text/textkit.h"

namespace regtree {
namespace {

class Walk {
  public:
    Walk(platform::Root root, const Options &options, Observer &observer)
        : os_(platform::current()), root_(root), options_(options), observer_(observer) {}

    // Deletes the subkeys `names` of `path`, each with everything below it.
    // False when the walk stops.
    bool deleteListed(const std::string &path, const std::vector<std::string> &names) {
        for (const std::string &name : names) {
            if (name.size() > options_.nameMax) {
                observer_.failed(Failure::Enumerate, platform::kMoreData, path, nullptr);
                return false;
            }
            const std::string sub = text::joinPath(path, name);
            const platform::Code opened = os_.regOpenable(root_, sub, true);
            if (opened != platform::kOk) {
                observer_.failed(Failure::Open, opened, path, &name);
                return false;
            }
            if (!deleteBelow(sub)) return false;
            const platform::RegOutcome deleted = os_.regDeleteKey(root_, sub);
            if (!deleted.ok()) {
                observer_.failed(Failure::Delete, deleted.code, sub, nullptr);
                return false;
            }
        }
        return true;
    }

    // The subkeys of `path` as the top of a walk: any failure stops it.
    std::optional<std::vector<std::string>> listTop(const std::string &path) {
        platform::RegStage stage = platform::RegStage::None;
        auto listed = os_.regSubkeys(root_, path, &stage);
        if (listed.ok()) return std::move(listed.value);
        observer_.failed(stage == platform::RegStage::Enumerate ? Failure::Enumerate : Failure::Query, listed.code,
                         path, nullptr);
        return std::nullopt;
    }

  private:
    // Empties the subkey `sub` before it is deleted. False when the walk
    // stops; a failure below a subkey that does not stop the walk leaves
    // the deletion of the subkey to fail on its own.
    bool deleteBelow(const std::string &sub) {
        platform::RegStage stage = platform::RegStage::None;
        auto listed = os_.regSubkeys(root_, sub, &stage);
        if (!listed.ok()) {
            if (stage != platform::RegStage::Enumerate) {
                observer_.failed(Failure::Query, listed.code, sub, nullptr);
                return false;
            }
            observer_.failed(Failure::Enumerate, listed.code, sub, nullptr);
            return !options_.stopAtFirstFailure;
        }
        if (listed.value.empty()) return true;
        return deleteListed(sub, listed.value) || !options_.stopAtFirstFailure;
    }

    platform::Platform &os_;
    platform::Root root_;
    const Options &options_;
    Observer &observer_;
};

bool addKeys(platform::Root root, const std::string &path, std::vector<change::RegKeySnapshot> &out) {
    platform::Platform &os = platform::current();
    auto values = os.regValues(root, path);
    if (!values.ok()) return false;
    out.push_back(change::RegKeySnapshot{path, std::move(values.value)});
    auto subkeys = os.regSubkeys(root, path);
    if (!subkeys.ok()) return false;
    for (const std::string &name : subkeys.value)
        if (!addKeys(root, text::joinPath(path, name), out)) return false;
    return true;
}

} // namespace

bool deleteTree(platform::Root root, const std::string &path, const Options &options, Observer &observer) {
    platform::Platform &os = platform::current();
    const platform::Code opened = os.regOpenable(root, path, true);
    if (opened != platform::kOk) {
        observer.failed(Failure::Open, opened, path, nullptr);
        return false;
    }
    Walk walk(root, options, observer);
    const std::optional<std::vector<std::string>> names = walk.listTop(path);
    if (!names || !walk.deleteListed(path, *names)) return false;
    const platform::RegOutcome deleted = os.regDeleteKey(root, path);
    if (!deleted.ok()) {
        observer.failed(Failure::Delete, deleted.code, path, nullptr);
        return false;
    }
    return true;
}

std::optional<std::vector<change::RegKeySnapshot>> snapshot(platform::Root root, const std::string &path) {
    std::vector<change::RegKeySnapshot> keys;
    if (!addKeys(root, path, keys)) return std::nullopt;
    return keys;
}

} // namespace regtree
