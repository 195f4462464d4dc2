// The message catalog of the language file: its line rules and the lookup
// of a message by number, and printf-style formatting into a string.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

#if defined(__GNUC__)
#define TAVUPD_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TAVUPD_PRINTF(fmt, args)
#endif

// A text argument that may be absent prints as "(null)".
inline const char *orNull(const char *text) { return text ? text : "(null)"; }

namespace catalog {

// A message holds at most this many characters; the rest of a longer line
// is dropped, never read as a message of its own.
constexpr std::size_t kMessageMax = 510;

// The messages of a language file's bytes: line N is message N (entry 0
// holds nothing). The text ends at the first Ctrl-Z; each line is one
// message whatever its length, up to its line end (LF or CR LF), its first
// NUL or its 510th character. A blank line, or one whose first non-blank
// text is "rem" (any case), ";" or "#", ends the list.
std::vector<std::string> parseMessages(const std::string &bytes);

class Catalog {
  public:
    Catalog() = default;
    explicit Catalog(std::vector<std::string> messages);
    // Message n when 1 <= n <= count(), else message 2 (or "" when there is none).
    const char *message(int n) const;
    int count() const { return count_; }

  private:
    std::vector<std::string> messages_; // entry 0 unused
    int count_ = 0;
};

// The formatted text; false when the format fails.
bool formatText(std::string &out, const char *format, va_list args);
std::string format(const char *format, ...) TAVUPD_PRINTF(1, 2);

} // namespace catalog
