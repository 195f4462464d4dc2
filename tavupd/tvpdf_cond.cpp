// Condition sets of the installation profile: which branch sections apply to
// this machine.
#include "tvpdf.h"

#include <cctype>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>

#include "nls.h"
#include "sys.h"
#include "tavupd.h"
#include "tvpdf_condeval.h"
#include "tvpdf_fields.h"
#include "tvpfile_subst.h"
#include "tvpprof.h"

namespace {

constexpr DWORD kRegBuffer = 256; // bytes read from a registry value
constexpr char kBell = 7;

using condeval::Field;

const char *textOf(const Field &f) { return f ? f->c_str() : nullptr; }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

int upper(char c) { return std::toupper(static_cast<unsigned char>(c)); }

bool startsWithNoCase(const char *text, const std::string &prefix) {
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (text[i] == '\0' || upper(text[i]) != upper(prefix[i])) return false;
    }
    return true;
}

HKEY rootKey(condeval::Root root) {
    switch (root) {
    case condeval::Root::LocalMachine:
        return HKEY_LOCAL_MACHINE;
    case condeval::Root::CurrentUser:
        return HKEY_CURRENT_USER;
    case condeval::Root::ClassesRoot:
        return HKEY_CLASSES_ROOT;
    case condeval::Root::Users:
        return HKEY_USERS;
    case condeval::Root::None:
        break;
    }
    return nullptr;
}

} // namespace

void DataFile::checkConditions() {
    int matched = 0;
    for (int set = 0;; ++set) {
        char prefixText[32];
        std::snprintf(prefixText, sizeof prefixText, "Condition%d=", set);
        const std::string prefix = prefixText;

        int total = 0;
        int passed = 0;
        std::string branch;
        const long header = profile_->findSection("Patch");
        if (header >= 0) {
            long index = header;
            const char *line = profile_->lineAt(index);
            if (line && Profile::isSectionLine(line)) line = profile_->lineAt(++index);
            for (; line && !Profile::isSectionLine(line); line = profile_->lineAt(++index)) {
                if (!startsWithNoCase(line, prefix)) continue;
                ++total;
                std::string copy = line;
                size_t end = copy.size();
                while (end > 0 && isBlank(copy[end - 1])) --end;
                copy.resize(end);
                // A line the engine cannot take whole fails its set: cut,
                // it could test something else.
                if (copy.size() > kMaxSplitLine) {
                    reportMessage(18, lineKey(copy));
                    break;
                }
                std::string lineBranch;
                if (!testCondition(copy, lineBranch)) break;
                ++passed;
                if (passed == 1) branch = lineBranch;
            }
        }
        if (total == 0) break;
        if (passed == total) {
            ++matched;
            processSection(branch.c_str());
        }
        if (set == std::numeric_limits<int>::max()) break;
    }

    if (matched != 0) return;
    if (config_->isInteractive()) {
        // Ends the run when it starts; one that cannot be started leaves
        // the messages to be shown as without one.
        startFollowOnProgram(*config_, config_->failedProgram());
        messages_->printTo(stderr, "\n%c%s\n%s\n", kBell, messages_->getMessage(9), messages_->getMessage(10));
    }
    endRun(1);
}

int DataFile::testCondition(const std::string &line, std::string &branch) {
    SubstituteClass list('\\');
    list.add("TAVRO", config_->productDirectory());
    list.add("WINDOWS", config_->windowsDirectory());

    // What needs the machine: trace output, the numeric fields, the test
    // value from the registry or the system TAVRO.INI.
    class Hooks : public condeval::ConditionHooks {
      public:
        Hooks(ConfigData *config, NLSClass *messages)
            : config_(config), messages_(messages), debug_(config->isDebug()) {}

        void fieldsSplit(const condeval::ConditionFields &c) override {
            if (!debug_) return;
            const bool registry = c.registry();
            messages_->print(registry ? "Testing Registry Condition\n" : "Testing Condition\n");
            messages_->print("\tbranch : %s\n", orNull(textOf(c.branch)));
            messages_->print("\tOS     : %s\n", orNull(textOf(c.os)));
            messages_->print("\tforce  : %s\n", orNull(textOf(c.mode)));
            messages_->print("\tsection: %s\n", orNull(textOf(c.section)));
            if (registry) messages_->print("\tpath   : %s\n", orNull(textOf(c.path)));
            messages_->print("\tkey    : %s\n", orNull(textOf(c.key)));
            messages_->print("\trange s: %s\n", orNull(textOf(c.rangeStart)));
            messages_->print("\trange e: %s\n", orNull(textOf(c.rangeEnd)));
        }

        int numeric(const char *field, int def) override { return DataFile::numericField(field, def); }

        void osCompared(int os) override {
            if (!debug_) return;
            messages_->print("Testing OS\n");
            messages_->print("\tDatafile:  %d\n", os);
            messages_->print("\tDetection: %d\n", config_->osVersion());
        }

        void valueWanted() override {
            if (debug_) messages_->print("Testing Condition Value\n");
        }

        std::optional<std::string> fetchValue(const condeval::ConditionFields &c) override {
            if (!c.registry()) {
                Profile *systemIni = config_->systemIni();
                if (!systemIni) return std::string();
                return systemIni->getString(c.section->c_str(), c.key->c_str(), "");
            }
            const std::string path = c.path ? *c.path : std::string();
            sys::RegKey key;
            if (sys::RegOpenKeyExA(rootKey(c.root), path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
                if (debug_)
                    messages_->printTo(stderr, "\n%c%s:\n\t%s\\%s\n", kBell, messages_->getMessage(19),
                                       c.section->c_str(), orNull(textOf(c.path)));
                return std::nullopt;
            }
            BYTE buffer[kRegBuffer] = {};
            DWORD size = kRegBuffer;
            DWORD type = 0;
            const char *valueName = textOf(c.key);
            if (sys::RegQueryValueExA(key.get(), valueName, nullptr, &type, buffer, &size) != ERROR_SUCCESS) {
                key.reset();
                if (debug_)
                    messages_->printTo(stderr, "\n%c%s:\n\t%s\\%s\\%s\n", kBell, messages_->getMessage(27),
                                       c.section->c_str(), orNull(textOf(c.path)), orNull(valueName));
                return std::nullopt;
            }
            key.reset();
            // The value need not end in a terminator: read no further than
            // the bytes returned.
            size_t length = 0;
            const size_t limit = size < kRegBuffer ? size : kRegBuffer;
            while (length < limit && buffer[length] != 0) ++length;
            return std::string(reinterpret_cast<const char *>(buffer), length);
        }

        void valueTrimmed(const std::string &value) override {
            if (debug_) messages_->print("\tTest Val: %s\n", value.c_str());
        }

      private:
        ConfigData *config_;
        NLSClass *messages_;
        bool debug_;
    } hooks(config_, messages_);

    return condeval::evaluateCondition(line, config_->osVersion(), list, hooks, branch);
}
