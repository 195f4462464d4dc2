// Platform-free part of the condition test.
#include "text/condition.h"

#include "text/subst.h"
#include "text/textkit.h"

namespace condition {
namespace {

constexpr size_t kValueMax = 255; // characters of a test value

int numeric(const text::Field &field, int def) {
    if (!text::isFilled(field)) return def;
    return text::readDecimal(*field).value_or(def);
}

// The comparison of each mode: 0 any value, 1 equal to the range start, 2
// not below it, 3 not above it, 4 within start and end.
bool modeHolds(int mode, int rc, int rcEnd, bool haveEnd) {
    switch (mode) {
    case 0: return true;
    case 1: return rc == 0;
    case 2: return rc >= 0;
    case 3: return rc <= 0;
    default: return haveEnd && rc >= 0 && rcEnd <= 0;
    }
}

} // namespace

bool evaluate(patch::ConditionFields c, int osVersion, const SubstituteClass &variables, ConditionHooks &hooks,
              std::string &branch) {
    if (c.rangeStart) variables.substitute(*c.rangeStart);
    hooks.fieldsSplit(c);

    if (!text::isFilled(c.section) || !text::isFilled(c.os)) return false;
    if (!c.registry() && !text::isFilled(c.key)) return false;

    branch = c.branch ? *c.branch : std::string();

    int mode = numeric(c.mode, 2);
    if (mode < 0 || mode > 4) mode = 2;
    const int os = numeric(c.os, 0);
    hooks.osCompared(os);
    if (os != osVersion) return false;

    hooks.valueWanted();
    std::optional<std::string> fetched = hooks.fetchValue(c);
    if (!fetched) return false;
    std::string value = std::move(*fetched);
    if (value.size() > kValueMax) value.resize(kValueMax);

    if (value.empty()) return false;
    text::trim(value);
    hooks.valueTrimmed(value);

    if (!text::isFilled(c.rangeStart)) return false;
    text::trim(*c.rangeStart);
    const int rc = text::compareNoCase(value, *c.rangeStart);
    int rcEnd = 0;
    const bool haveEnd = text::isFilled(c.rangeEnd);
    if (c.rangeEnd) {
        text::trim(*c.rangeEnd);
        rcEnd = text::compareNoCase(value, *c.rangeEnd);
    }
    return modeHolds(mode, rc, rcEnd, haveEnd);
}

} // namespace condition
