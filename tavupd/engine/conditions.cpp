// The test of one condition line against the machine: the value from the
// registry or the system TAVRO.INI, and the debug traces of the test.
#include "engine/conditions.h"

#include "platform/platform.h"
#include "profile/profile.h"
#include "text/condition.h"

namespace engine {
namespace {

constexpr std::size_t kRegBuffer = 256; // bytes read from a registry value

const char *orNull(const text::Field &f) { return f ? f->c_str() : "(null)"; }

platform::Root platformRoot(patch::Root root) {
    switch (root) {
    case patch::Root::CurrentUser: return platform::Root::CurrentUser;
    case patch::Root::ClassesRoot: return platform::Root::ClassesRoot;
    case patch::Root::Users: return platform::Root::Users;
    default: return platform::Root::LocalMachine;
    }
}

class Hooks : public condition::ConditionHooks {
  public:
    explicit Hooks(Context &cx) : cx_(cx), report_(cx.report), debug_(cx.debug()) {}

    void fieldsSplit(const patch::ConditionFields &c) override {
        if (!debug_) return;
        const bool registry = c.registry();
        report_.trace(registry ? "Testing Registry Condition\n" : "Testing Condition\n");
        report_.trace("\tbranch : %s\n", orNull(c.branch));
        report_.trace("\tOS     : %s\n", orNull(c.os));
        report_.trace("\tforce  : %s\n", orNull(c.mode));
        report_.trace("\tsection: %s\n", orNull(c.section));
        if (registry) report_.trace("\tpath   : %s\n", orNull(c.path));
        report_.trace("\tkey    : %s\n", orNull(c.key));
        report_.trace("\trange s: %s\n", orNull(c.rangeStart));
        report_.trace("\trange e: %s\n", orNull(c.rangeEnd));
    }

    void osCompared(int os) override {
        osTested_ = true;
        osWanted_ = os;
        if (!debug_) return;
        report_.trace("Testing OS\n");
        report_.trace("\tDatafile:  %d\n", os);
        report_.trace("\tDetection: %d\n", cx_.machine.osVersion);
    }

    void valueWanted() override {
        valueTested_ = true;
        if (debug_) report_.trace("Testing Condition Value\n");
    }

    std::optional<std::string> fetchValue(const patch::ConditionFields &c) override {
        if (!c.registry()) return cx_.systemIni ? cx_.systemIni->getString(*c.section, *c.key, "") : std::string();
        platform::RegStage stage = platform::RegStage::None;
        const auto read = platform::current().regRead(platformRoot(c.root), c.path ? *c.path : std::string(),
                                                      c.key ? &*c.key : nullptr, kRegBuffer, &stage);
        if (!read.ok()) {
            unreadable_ = true;
            if (debug_ && stage == platform::RegStage::Open)
                report_.messageAt(19, *c.section + "\\" + orNull(c.path));
            else if (debug_)
                report_.messageAt(27, *c.section + "\\" + orNull(c.path) + "\\" + orNull(c.key));
            return std::nullopt;
        }
        // The value need not end in a terminator: read no further than the
        // bytes returned.
        const std::string &bytes = read.value.data;
        return bytes.substr(0, bytes.find('\0'));
    }

    void valueTrimmed(const std::string &value) override {
        value_ = value;
        if (debug_) report_.trace("\tTest Val: %s\n", value.c_str());
    }

    // Which test of a line that does not hold failed, in words; `mode` is
    // the comparison the line asks for.
    std::string whyNot(const patch::ConditionFields &c, int mode) const {
        const std::string where = c.registry() ? "registry value " + named(c.path) + "\\" + named(c.key)
                                               : "[" + named(c.section) + "] " + named(c.key);
        if (!osTested_ && !valueTested_) return "a field the test needs is missing";
        if (!valueTested_)
            return "the system does not match (OS field " + std::to_string(osWanted_) + ", this system " +
                   std::to_string(cx_.machine.osVersion) + ")";
        if (unreadable_) return where + " cannot be read";
        const std::string is = where + " is \"" + value_ + "\", ";
        switch (mode) {
        case 0: return where + " is not set";
        case 1: return is + "not \"" + named(c.rangeStart) + "\"";
        case 2: return is + "below \"" + named(c.rangeStart) + "\"";
        case 3: return is + "above \"" + named(c.rangeStart) + "\"";
        default: return is + "outside \"" + named(c.rangeStart) + "\" to \"" + named(c.rangeEnd) + "\"";
        }
    }

  private:
    static std::string named(const text::Field &f) { return f ? *f : std::string("(none)"); }

    Context &cx_;
    Reporter &report_;
    bool debug_;
    bool osTested_ = false, valueTested_ = false, unreadable_ = false;
    int osWanted_ = 0;
    std::string value_;
};

} // namespace

namespace {

bool testLine(Context &cx, const patch::ConditionLine &line, std::string &branch, std::string *why) {
    Hooks hooks(cx);
    const bool holds = condition::evaluate(line.fields, cx.machine.osVersion, cx.variables, hooks, branch);
    if (!holds && why) *why = hooks.whyNot(line.fields, line.mode);
    return holds;
}

std::string keyOf(const patch::ConditionLine &line) { return line.text.substr(0, line.text.find('=')); }

} // namespace

bool testCondition(Context &cx, const patch::ConditionLine &line, std::string &branch) {
    return testLine(cx, line, branch, nullptr);
}

bool setHolds(Context &cx, const patch::ConditionSet &set, std::string &branch) {
    std::size_t passed = 0;
    std::string why;
    auto fails = [&](const patch::ConditionLine &line) {
        if (cx.observer) cx.observer->conditionTested(line.line, keyOf(line), false, std::string(), why);
        return false;
    };
    for (const patch::ConditionLine &line : set.lines) {
        // A line the engine cannot take whole fails its set: cut, it could
        // test something else.
        if (line.overlong) {
            cx.report.message(18, keyOf(line));
            why = "the line is too long to be read";
            return fails(line);
        }
        std::string lineBranch;
        if (!testLine(cx, line, lineBranch, cx.observer ? &why : nullptr)) return fails(line);
        if (++passed == 1) branch = lineBranch;
    }
    if (passed != set.lines.size()) return false;
    if (cx.observer && !set.lines.empty())
        cx.observer->conditionTested(set.lines.front().line, keyOf(set.lines.front()), true, branch, std::string());
    return true;
}

} // namespace engine
