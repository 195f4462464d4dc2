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
#include "text/patchmodel.h"
#include "text/subst.h"
#include "text/textkit.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

class FuzzHooks : public condition::ConditionHooks {
  public:
    explicit FuzzHooks(std::string value) : value_(std::move(value)) {}
    void fieldsSplit(const patch::ConditionFields &c) override {
        // Only the registry form has a path.
        if (!c.registry() && c.path) std::abort();
    }
    std::optional<std::string> fetchValue(const patch::ConditionFields &) override {
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
    const patch::ConditionLine decoded = patch::decodeConditionLine(line, 1, 0);
    const bool holds = condition::evaluate(decoded.fields, os, list, hooks, branch);
    if (holds && !hooks.fetched) std::abort();
    // A line without its section or OS field never holds.
    if (holds && (!text::isFilled(decoded.fields.section) || !text::isFilled(decoded.fields.os))) std::abort();

    // The comparison is a total order: antisymmetric and reflexive.
    const int ab = text::compareNoCase(line, value);
    if (sign(ab) != -sign(text::compareNoCase(value, line))) std::abort();
    if (text::compareNoCase(value, value) != 0) std::abort();
    // Trimming is idempotent.
    std::string once = value;
    text::trim(once);
    std::string twice = once;
    text::trim(twice);
    if (once != twice) std::abort();
    return 0;
}
