// The REG action: creates or changes a string value, deletes a value, or
// deletes a key with everything below it.
#include "engine/actions.h"
#include "platform/platform.h"
#include "profile/regtree.h"
#include "text/textkit.h"

namespace engine {
namespace {

// Subkey names the REG action's tree deletion takes (up to 49 characters).
constexpr std::size_t kSubkeyNameMax = 49;
// Any size: old values are read whole for the change sink.
constexpr std::size_t kWholeValue = static_cast<std::size_t>(-1);

platform::Root platformRoot(patch::Root root) {
    switch (root) {
    case patch::Root::CurrentUser: return platform::Root::CurrentUser;
    case patch::Root::ClassesRoot: return platform::Root::ClassesRoot;
    case patch::Root::Users: return platform::Root::Users;
    default: return platform::Root::LocalMachine;
    }
}

std::string orNull(const text::Field &f) { return f ? *f : std::string("(null)"); }

// "path\name" as the messages name a value.
std::string keyAndName(const patch::RegAction &a) { return orNull(a.path) + "\\" + orNull(a.name); }

change::Change regChange(change::Kind kind, platform::Root root, const std::string &path, const text::Field &name) {
    change::Change c;
    c.kind = kind;
    c.root = root;
    c.path = path;
    c.name = name;
    return c;
}

// The value as it is now, for a sink that needs it: absent when there is
// none; false when it cannot be read.
bool oldValue(platform::Root root, const std::string &path, const text::Field &name, change::Change &c) {
    auto read = platform::current().regRead(root, path, name ? &*name : nullptr, kWholeValue);
    if (read.ok()) {
        c.regBefore = read.value;
        return true;
    }
    return platform::isNotFound(read.code);
}

Outcome setValue(Context &cx, const patch::RegAction &a, platform::Root root, const std::string &key,
                 const std::string &value) {
    if (cx.debug()) cx.report.trace("Creating/Changing a registry key\n");
    platform::Platform &os = platform::current();
    change::Change c = regChange(change::Kind::RegValueSet, root, key, a.name);
    c.regAfter = platform::RegValue{platform::kRegSz, value + '\0'};
    change::ChangeSink &sink = cx.changes;
    platform::RegOutcome set{platform::kAccessDenied, platform::RegStage::Create};
    if (!sink.needsOldState() || oldValue(root, key, a.name, c))
        change::applyWith(sink, change::keysMadeBy(sink, os, root, key), c, [&] {
            set = os.regSet(root, key, a.name ? &*a.name : nullptr, *c.regAfter);
            return set.code;
        });
    if (set.ok()) return Outcome::done();
    cx.report.messageAt(set.stage == platform::RegStage::Create ? 21 : 24, keyAndName(a));
    return Outcome::failed();
}

Outcome deleteValue(Context &cx, const patch::RegAction &a, platform::Root root, const std::string &key) {
    if (cx.debug()) cx.report.trace("Deleting a registry value\n");
    change::Change c = regChange(change::Kind::RegValueDeleted, root, key, a.name);
    change::ChangeSink &sink = cx.changes;
    const bool described = (!sink.needsOldState() || oldValue(root, key, a.name, c)) && sink.before(c);
    const platform::RegOutcome deleted =
        described ? platform::current().regDeleteValue(root, key, *a.name)
                  : platform::RegOutcome{platform::kAccessDenied, platform::RegStage::Delete};
    if (described) sink.after(c, deleted.ok());
    if (deleted.ok()) return Outcome::done();
    cx.report.messageAt(deleted.stage == platform::RegStage::Open ? 19 : 25, keyAndName(a));
    return Outcome::failed();
}

// Reports each failure of a tree deletion as it arises.
class TreeReport : public regtree::Observer {
  public:
    explicit TreeReport(Reporter &report) : report_(report) {}
    void failed(regtree::Failure failure, platform::Code, const std::string &path, const std::string *name) override {
        switch (failure) {
        case regtree::Failure::Open: report_.messageAt(19, path + "\\" + (name ? *name : "(null)")); break;
        case regtree::Failure::Query: report_.messageAt(26, path); break;
        case regtree::Failure::Enumerate: report_.messageAt(23, path); break;
        case regtree::Failure::Delete: report_.messageAt(22, path); break;
        }
    }

  private:
    Reporter &report_;
};

Outcome deleteTree(Context &cx, const patch::RegAction &a, platform::Root root, const std::string &key) {
    platform::Platform &os = platform::current();
    if (os.regOpenable(root, key, true) != platform::kOk) {
        cx.report.messageAt(19, keyAndName(a));
        return Outcome::failed();
    }
    if (cx.debug()) cx.report.trace("Deleting a registry subtree\n");
    change::Change c = regChange(change::Kind::RegTreeDeleted, root, key, std::nullopt);
    change::ChangeSink &sink = cx.changes;
    bool described = true;
    if (sink.needsOldState()) {
        std::optional<std::vector<change::RegKeySnapshot>> tree = regtree::snapshot(root, key);
        described = tree.has_value();
        if (tree) c.tree = std::move(*tree);
    }
    if (!described || !sink.before(c)) {
        cx.report.messageAt(22, key);
        return Outcome::failed();
    }
    TreeReport report(cx.report);
    regtree::Options options;
    options.nameMax = kSubkeyNameMax;
    options.stopAtFirstFailure = false;
    const bool deleted = regtree::deleteTree(root, key, options, report);
    sink.after(c, deleted);
    return deleted ? Outcome::done() : Outcome::failed();
}

void traceFields(Context &cx, const patch::RegAction &a, const text::Field &value) {
    cx.report.trace("\tsection: %s\n", orNull(a.rootText).c_str());
    cx.report.trace("\tpath:    %s\n", orNull(a.writtenPath).c_str());
    cx.report.trace("\tkey:     %s\n", orNull(a.writtenName).c_str());
    cx.report.trace("\tvalue:   %s\n", orNull(value).c_str());
}

} // namespace

Outcome runReg(Context &cx, const patch::RegAction &a) {
    if (cx.debug()) {
        cx.report.trace("\tRegistry\n");
        cx.report.trace("Entered processRegistry\n");
    }
    text::Field value = a.value;
    if (value) cx.variables.substitute(*value);
    if (cx.debug()) traceFields(cx, a, value);

    // Without a path or a value name the line would address the root key
    // itself, and its deletion would empty the whole root: refused.
    if (!text::isFilled(a.rootText) || a.root == patch::Root::None || (!a.path && !a.name)) {
        cx.report.message(18);
        return Outcome::failed();
    }
    const platform::Root root = platformRoot(a.root);
    const std::string key = a.path ? *a.path : std::string();
    if (value) return setValue(cx, a, root, key, *value);
    if (a.name) return deleteValue(cx, a, root, key);
    return deleteTree(cx, a, root, key);
}

} // namespace engine
