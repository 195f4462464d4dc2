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
#include "tvpdf_fields.h"
#include "tvpfile_subst.h"
#include "tvpprof.h"

namespace {

constexpr size_t kLineMax = 255;  // characters of a condition line
constexpr size_t kValueMax = 255; // characters of a test value
constexpr DWORD kRegBuffer = 256; // bytes read from a registry value
constexpr char kBell = 7;

using Field = std::optional<std::string>;

Field take(const char *field) { return field ? Field(field) : std::nullopt; }
const char *textOf(const Field &f) { return f ? f->c_str() : nullptr; }
bool presentNonEmpty(const Field &f) { return f && !f->empty(); }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

void trim(std::string &s) {
    size_t end = s.size();
    while (end > 0 && isBlank(s[end - 1])) --end;
    size_t begin = 0;
    while (begin < end && isBlank(s[begin])) ++begin;
    s = s.substr(begin, end - begin);
}

int upper(char c) { return std::toupper(static_cast<unsigned char>(c)); }

// Text comparison after folding lower-case letters to upper case; the first
// differing character decides, the end of a text counting as code 0.
int compareNoCase(const std::string &a, const std::string &b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const int ca = upper(a[i]);
        const int cb = upper(b[i]);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool equalsNoCase(const std::string &a, const char *b) { return compareNoCase(a, b) == 0; }

bool startsWithNoCase(const char *text, const std::string &prefix) {
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (text[i] == '\0' || upper(text[i]) != upper(prefix[i])) return false;
    }
    return true;
}

// The registry root a condition's fourth field names, or null for an INI
// condition: the first four characters HKLM, HKCU or HKCR in any case, or
// exactly HKU in any case.
HKEY registryRoot(const Field &field) {
    if (!field) return nullptr;
    const std::string &f = *field;
    if (f.size() >= 4) {
        const std::string head = f.substr(0, 4);
        if (equalsNoCase(head, "HKLM")) return HKEY_LOCAL_MACHINE;
        if (equalsNoCase(head, "HKCU")) return HKEY_CURRENT_USER;
        if (equalsNoCase(head, "HKCR")) return HKEY_CLASSES_ROOT;
    }
    if (equalsNoCase(f, "HKU")) return HKEY_USERS;
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
                if (copy.size() > kLineMax) copy.resize(kLineMax);
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
        if (!config_->failedProgram().empty())
            startFollowOnProgram(*config_, config_->failedProgram());
        else
            messages_->printTo(stderr, "\n%c%s\n%s\n", kBell, messages_->getMessage(9), messages_->getMessage(10));
    }
    endRun(1);
}

int DataFile::testCondition(const std::string &line, std::string &branch) {
    SubstituteClass list('\\');
    list.add("TAVRO", config_->productDirectory());
    list.add("WINDOWS", config_->windowsDirectory());

    // Fields are copied out at once: the splitter's buffer belongs to the
    // next line split.
    nextField(line.c_str(), "=", 1);
    Field fields[8];
    for (Field &f : fields) f = take(nextField(nullptr, ",", 1));

    const Field &branchField = fields[0];
    const Field &osField = fields[1];
    const Field &forceField = fields[2];
    const Field &sectionField = fields[3];
    const HKEY root = registryRoot(sectionField);
    const bool registry = root != nullptr;
    const Field &pathField = fields[4]; // registry form only
    const Field &keyField = registry ? fields[5] : fields[4];
    Field rangeStart = registry ? fields[6] : fields[5];
    Field rangeEnd = registry ? fields[7] : fields[6];

    if (rangeStart) list.substitute(*rangeStart);

    const bool debug = config_->isDebug();
    if (debug) {
        messages_->print(registry ? "Testing Registry Condition\n" : "Testing Condition\n");
        messages_->print("\tbranch : %s\n", orNull(textOf(branchField)));
        messages_->print("\tOS     : %s\n", orNull(textOf(osField)));
        messages_->print("\tforce  : %s\n", orNull(textOf(forceField)));
        messages_->print("\tsection: %s\n", orNull(textOf(sectionField)));
        if (registry) messages_->print("\tpath   : %s\n", orNull(textOf(pathField)));
        messages_->print("\tkey    : %s\n", orNull(textOf(keyField)));
        messages_->print("\trange s: %s\n", orNull(textOf(rangeStart)));
        messages_->print("\trange e: %s\n", orNull(textOf(rangeEnd)));
    }

    if (!presentNonEmpty(sectionField) || !presentNonEmpty(osField)) return 0;
    if (!registry && !presentNonEmpty(keyField)) return 0;

    branch = branchField ? *branchField : std::string();

    int mode = numericField(textOf(forceField), 2);
    if (mode < 0 || mode > 4) mode = 2;
    const int os = numericField(textOf(osField), 0);
    if (debug) {
        messages_->print("Testing OS\n");
        messages_->print("\tDatafile:  %d\n", os);
        messages_->print("\tDetection: %d\n", config_->osVersion());
    }
    if (os != config_->osVersion()) return 0;

    if (debug) messages_->print("Testing Condition Value\n");

    std::string value;
    if (registry) {
        const std::string path = pathField ? *pathField : std::string();
        sys::RegKey key;
        if (sys::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
            if (debug)
                messages_->printTo(stderr, "\n%c%s:\n\t%s\\%s\n", kBell, messages_->getMessage(19),
                                   sectionField->c_str(), orNull(textOf(pathField)));
            return 0;
        }
        BYTE buffer[kRegBuffer] = {};
        DWORD size = kRegBuffer;
        DWORD type = 0;
        const char *valueName = keyField ? keyField->c_str() : nullptr;
        if (sys::RegQueryValueExA(key.get(), valueName, nullptr, &type, buffer, &size) != ERROR_SUCCESS) {
            key.reset();
            if (debug)
                messages_->printTo(stderr, "\n%c%s:\n\t%s\\%s\\%s\n", kBell, messages_->getMessage(27),
                                   sectionField->c_str(), orNull(textOf(pathField)), orNull(valueName));
            return 0;
        }
        key.reset();
        // The value need not end in a terminator: read no further than the
        // bytes returned, and no more than a test value holds.
        size_t length = 0;
        const size_t limit = size < kRegBuffer ? size : kRegBuffer;
        while (length < limit && buffer[length] != 0) ++length;
        value.assign(reinterpret_cast<const char *>(buffer), length);
    } else {
        Profile *systemIni = config_->systemIni();
        if (systemIni) value = systemIni->getString(sectionField->c_str(), keyField->c_str(), "");
    }
    if (value.size() > kValueMax) value.resize(kValueMax);

    if (value.empty()) return 0;
    trim(value);
    if (debug) messages_->print("\tTest Val: %s\n", value.c_str());

    if (!presentNonEmpty(rangeStart)) return 0;
    trim(*rangeStart);
    const int rc = compareNoCase(value, *rangeStart);
    int rcEnd = 0;
    const bool haveEnd = presentNonEmpty(rangeEnd);
    if (rangeEnd) {
        trim(*rangeEnd);
        rcEnd = compareNoCase(value, *rangeEnd);
    }

    switch (mode) {
    case 0:
        return 1;
    case 1:
        return rc == 0 ? 1 : 0;
    case 2:
        return rc >= 0 ? 1 : 0;
    case 3:
        return rc <= 0 ? 1 : 0;
    default: // 4
        return (haveEnd && rc >= 0 && rcEnd <= 0) ? 1 : 0;
    }
}
