// Fuzzes the evaluation of a condition line: field splitting with escapes,
// the INI and registry forms, OS and mode fields, the test value, trimming,
// the textual comparison and the mode table. The input is
// "<os byte><line>\n<test value>".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "text/condition.h"
#include "text/subst.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The "%d" reading of a numeric field, with its default.
int numericOf(const char *field, int def) {
    if (!field || !*field) return def;
    const char *p = field;
    while (isBlank(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p < '0' || *p > '9') return def;
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if (value < 10000000000LL) value = value * 10 + (*p - '0');
    if (value > 2147483647LL) value = negative ? 2147483648LL : 2147483647LL;
    return static_cast<int>(negative ? -value : value);
}

class FuzzHooks : public condeval::ConditionHooks {
  public:
    explicit FuzzHooks(std::string value) : value_(std::move(value)) {}
    int numeric(const char *field, int def) override { return numericOf(field, def); }
    void fieldsSplit(const condeval::ConditionFields &c) override {
        // The form follows the fourth field.
        if (c.registry() != (condeval::rootOf(c.section) != condeval::Root::None)) std::abort();
        if (!c.registry() && c.path) std::abort();
    }
    std::optional<std::string> fetchValue(const condeval::ConditionFields &) override {
        fetched = true;
        if (value_ == "<none>") return std::nullopt;
        return value_;
    }
    // A value of blanks only is not empty before the trim and so is
    // compared as an empty text.
    void valueTrimmed(const std::string &v) override {
        if (v.size() > 255 || (!v.empty() && (isBlank(v.front()) || isBlank(v.back())))) std::abort();
    }
    bool fetched = false;

  private:
    std::string value_;
};

int sign(int v) { return (v > 0) - (v < 0); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const int os = data[0] % 10;
    std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    const size_t cut = rest.find('\n');
    const std::string line = rest.substr(0, cut).substr(0, 255);
    const std::string value = cut == std::string::npos ? std::string("2.0") : rest.substr(cut + 1);

    SubstituteClass list('\\');
    list.add("TAVRO", "C:\\TAVRO");
    list.add("WINDOWS", "C:\\WINDOWS");
    FuzzHooks hooks(value);
    std::string branch;
    const int result = condeval::evaluateCondition(line, os, list, hooks, branch);
    if (result != 0 && result != 1) std::abort();
    if (result == 1 && !hooks.fetched) std::abort();

    // The comparison is a total order: antisymmetric and reflexive.
    const int ab = condeval::compareNoCase(line, value);
    if (sign(ab) != -sign(condeval::compareNoCase(value, line))) std::abort();
    if (condeval::compareNoCase(value, value) != 0) std::abort();
    // Trimming is idempotent.
    std::string once = value;
    condeval::trim(once);
    std::string twice = once;
    condeval::trim(twice);
    if (once != twice) std::abort();
    return 0;
}
