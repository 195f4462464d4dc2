// Platform-free part of the condition test.
#include "text/condition.h"

#include <cctype>

#include "text/oldfields.h"
#include "text/subst.h"

namespace condeval {
namespace {

constexpr size_t kValueMax = 255; // characters of a test value

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

int upper(char c) { return std::toupper(static_cast<unsigned char>(c)); }

bool equalsNoCase(const std::string &a, const char *b) { return compareNoCase(a, b) == 0; }

bool presentNonEmpty(const Field &f) { return f && !f->empty(); }

Field take(const char *field) { return field ? Field(field) : std::nullopt; }

} // namespace

void trim(std::string &s) {
    size_t end = s.size();
    while (end > 0 && isBlank(s[end - 1])) --end;
    size_t begin = 0;
    while (begin < end && isBlank(s[begin])) ++begin;
    s = s.substr(begin, end - begin);
}

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

Root rootOf(const Field &field) {
    if (!field) return Root::None;
    const std::string &f = *field;
    if (f.size() >= 4) {
        const std::string head = f.substr(0, 4);
        if (equalsNoCase(head, "HKLM")) return Root::LocalMachine;
        if (equalsNoCase(head, "HKCU")) return Root::CurrentUser;
        if (equalsNoCase(head, "HKCR")) return Root::ClassesRoot;
    }
    if (equalsNoCase(f, "HKU")) return Root::Users;
    return Root::None;
}

ConditionFields splitCondition(const std::string &line) {
    // Fields are copied out at once: the splitter's buffer belongs to the
    // next line split.
    nextField(line.c_str(), "=", 1);
    Field fields[8];
    for (Field &f : fields) f = take(nextField(nullptr, ",", 1));

    ConditionFields c;
    c.branch = fields[0];
    c.os = fields[1];
    c.mode = fields[2];
    c.section = fields[3];
    c.root = rootOf(c.section);
    const bool registry = c.registry();
    if (registry) c.path = fields[4];
    c.key = registry ? fields[5] : fields[4];
    c.rangeStart = registry ? fields[6] : fields[5];
    c.rangeEnd = registry ? fields[7] : fields[6];
    return c;
}

int evaluateCondition(const std::string &line, int osVersion, const SubstituteClass &list, ConditionHooks &hooks,
                      std::string &branch) {
    ConditionFields c = splitCondition(line);
    if (c.rangeStart) list.substitute(*c.rangeStart);
    hooks.fieldsSplit(c);

    if (!presentNonEmpty(c.section) || !presentNonEmpty(c.os)) return 0;
    if (!c.registry() && !presentNonEmpty(c.key)) return 0;

    branch = c.branch ? *c.branch : std::string();

    int mode = hooks.numeric(c.mode ? c.mode->c_str() : nullptr, 2);
    if (mode < 0 || mode > 4) mode = 2;
    const int os = hooks.numeric(c.os->c_str(), 0);
    hooks.osCompared(os);
    if (os != osVersion) return 0;

    hooks.valueWanted();
    std::optional<std::string> fetched = hooks.fetchValue(c);
    if (!fetched) return 0;
    std::string value = std::move(*fetched);
    if (value.size() > kValueMax) value.resize(kValueMax);

    if (value.empty()) return 0;
    trim(value);
    hooks.valueTrimmed(value);

    if (!presentNonEmpty(c.rangeStart)) return 0;
    trim(*c.rangeStart);
    const int rc = compareNoCase(value, *c.rangeStart);
    int rcEnd = 0;
    const bool haveEnd = presentNonEmpty(c.rangeEnd);
    if (c.rangeEnd) {
        trim(*c.rangeEnd);
        rcEnd = compareNoCase(value, *c.rangeEnd);
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

} // namespace condeval
