// The field splitter of action and condition lines, without state: a line
// goes in, its key and its fields come out.
//
// The key is the text before the first "=" that is not escaped; the fields
// follow, separated by ",". Throughout the line a backslash makes the next
// character literal: the backslash is removed and that character is never a
// separator. The character that follows an escaped one is examined as a
// separator only: when it is itself a backslash it stays in the text and
// escapes nothing. A backslash that ends the line is removed. A line without
// "=" has a key and no fields; "K=" has one empty field; "K=A," has the
// fields "A" and "" (and no third one).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace text {

// A field of a split line: absent (the line ended before it), empty, or a text.
using Field = std::optional<std::string>;

// Present and not empty.
inline bool isFilled(const Field &f) { return f && !f->empty(); }

// Where a piece of the decoded line was written in the line given.
struct Span {
    std::size_t begin = 0;
    std::size_t length = 0;
};

struct SplitLine {
    std::string key;
    Span keySpan;
    // The "=" after the key was found: the line has fields.
    bool hasFields = false;
    // The fields present, in order; every field after them is absent.
    std::vector<std::string> fields;
    std::vector<Span> fieldSpans;
    // Positions in the line given of every backslash the escape rule
    // removed, in order.
    std::vector<std::size_t> removedBackslashes;

    // Field i (0 = the first after "="), absent past the last one.
    Field field(std::size_t i) const { return i < fields.size() ? Field(fields[i]) : std::nullopt; }
};

// Splits the whole line (no length limit: the callers refuse lines longer
// than kLineMax before they use the fields). Every byte counts, a NUL too.
SplitLine splitLine(std::string_view line);

} // namespace text
