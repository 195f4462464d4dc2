// The field splitter of profile lines and the line tests of the engine.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The longest line the splitter takes whole. A longer line would be cut, so
// callers refuse such a line before they split it.
constexpr std::size_t kMaxSplitLine = 255;

// Given a line, starts it and returns its first field (up to a separator);
// given null, returns the next field of the current line, or null when the
// line is exhausted. With escape set a backslash takes the next character
// literally and is removed. One program-wide state; fields stay valid until
// the next line is started.
const char *nextField(const char *line, const char *separators, int escape);

// The line is a key of the keyword: the keyword in any case, decimal digits,
// then "=" or the end of the line.
bool isActionKey(const char *line, const char *keyword);
// The line begins with "//" or ";".
bool isCommentLine(const char *line);
// Removes leading and trailing blanks (the C white-space set) in place.
void trimBlanks(std::string &text);

// A field of a split line: absent (no value), empty, or a text.
using Field = std::optional<std::string>;
// The next field of the line being split with "," as separator and escapes
// on, copied out of the splitter's buffer so that it stays valid whatever
// runs next; absent when the line is exhausted.
Field takeField();
// The field's text, or null when it is absent.
inline const char *fieldText(const Field &f) { return f ? f->c_str() : nullptr; }
// Present and not empty.
inline bool isFilled(const Field &f) { return f && !f->empty(); }
// The two texts are equal when ASCII letters are compared without regard to case.
bool equalsIgnoreCase(const char *a, const char *b);
