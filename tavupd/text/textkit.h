// The text toolkit every platform-free module uses: the blank set, trims,
// ASCII case-insensitive comparison, "%d" reading, path joining and the
// named limits of the installer.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace text {

// Longest path the installer builds or keeps (a 260-character field with
// its terminator).
constexpr std::size_t kPathMax = 259;
// Longest action or condition line, after trimming: the field splitter's
// 256-character buffer. A longer line is refused, never carried out cut.
constexpr std::size_t kLineMax = 255;
// The bell that opens every error line.
constexpr char kBell = '\a';

// The C white-space set: space, tab, line feed, vertical tab, form feed and
// carriage return. Nothing else is a blank, whatever the locale.
bool isBlank(char c);

// The text without its leading and trailing blanks.
std::string_view trimmed(std::string_view text);
// Removes leading and trailing blanks in place.
void trim(std::string &text);

// ASCII case folding; bytes outside A-Z and a-z are left as they are.
char upper(char c);
char lower(char c);

// Compares after folding to upper case, byte by byte, the first differing
// byte deciding (as unsigned codes); a text that is a prefix of the other
// is the smaller. Negative, 0 or positive.
int compareNoCase(std::string_view a, std::string_view b);
bool equalsNoCase(std::string_view a, std::string_view b);
bool startsWithNoCase(std::string_view text, std::string_view prefix);

// Reads the text the way the "%d" conversion does: leading blanks skipped,
// an optional sign, then decimal digits up to the first non-digit (anything
// after them is ignored). Nothing when no digit follows. One overflow rule
// for the whole installer: a value beyond the range of int is clamped to
// INT_MAX or INT_MIN, so that a huge number never wraps round into a small
// one (a flag of 4294967297 must not read as 1).
std::optional<int> readDecimal(std::string_view text);

// Appends a backslash unless the path already ends with one (an empty path
// gets one too).
void appendBackslash(std::string &path);
// The directory, a backslash unless it ends with one, and the name.
std::string joinPath(std::string_view directory, std::string_view name);

// The text with every byte outside printable ASCII (0x20-0x7E) written as
// \xNN, so that a report shows control and 8-bit bytes the same way on
// every console.
std::string visible(std::string_view text);

} // namespace text
