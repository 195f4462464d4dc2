// The field syntax of a journal line: writing fields, and cutting a line
// back into them. Used by format.cpp and parse.cpp only.
#pragma once

#include "engine/change.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace journal::fields {

struct KindName {
    change::Kind kind;
    const char *word;
};
extern const KindName kKindNames[14];

// "HKLM", "HKCU", "HKCR", "HKU".
const char *rootWord(platform::Root root);
std::optional<platform::Root> rootOf(std::string_view word);
// "REG_SZ" and the other names of the usual types, else the number.
std::string typeWord(std::uint32_t type);
std::optional<std::uint32_t> typeOf(std::string_view word);

// Text with every byte outside ' '..'~', and '"' and '%', as %XX.
std::string escape(std::string_view text);
// The text back; none when a '%' is not followed by two hexadecimal digits
// or a byte that escape() would have escaped appears as it is.
std::optional<std::string> unescape(std::string_view text);

// Builds one record line.
class Writer {
  public:
    Writer(std::uint64_t seq, const char *kind);
    void text(const char *name, std::string_view value); // name="escaped"
    void word(const char *name, std::string_view word);  // name=word
    void number(const char *name, std::uint64_t value);
    void hex(const char *name, std::uint32_t value); // eight digits
    // The line, ended by its check field.
    std::string take();

  private:
    std::string line_;
};

struct Field {
    std::string name;
    std::string value; // unescaped
    bool quoted = false;
};

// Every line ends with " check=" and the CRC-32 of the bytes before it, so
// that a line cut short or filled with garbage is never taken for a record.
constexpr const char *kCheck = " check=";
// The line without its check field, or none when the check is missing or
// does not match.
std::optional<std::string_view> checkedLine(std::string_view line);

// A line cut into its number, its kind word and its fields.
struct Cut {
    std::uint64_t seq = 0;
    std::string kind;
    std::vector<Field> fields;
};
// None, with the reason in `problem`, when the line breaks the syntax.
std::optional<Cut> cutLine(std::string_view line, std::string &problem);

std::optional<std::uint64_t> decimal(std::string_view word);
std::optional<std::uint32_t> hex8(std::string_view word);

} // namespace journal::fields
