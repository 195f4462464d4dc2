// The line table of an INI-format file and every rule of its line grammar:
// finding sections and keys, setting, inserting and deleting lines, and the
// way a file's text is cut into lines. No platform calls: the file and
// registry side lives in Profile (tvpprof.cpp).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ini {

// Texts the profile formats itself ("[%s]" headers, the line of addValue,
// a line examined by isSectionLine) are bounded by 256-character buffers:
// at most 255 characters.
constexpr std::size_t kMaxFormatted = 255;
// The table grows in steps of this many slots.
constexpr std::size_t kGrowStep = 10;

// The C whitespace set: space, tab, line feed, vertical tab, form feed, CR.
bool isBlank(char c);
// ASCII-only case folding, the way names are compared.
char foldCase(char c);
// Compares at most n characters ignoring ASCII case, stopping at a NUL in
// either text (a shorter text differs from a longer one).
bool equalsPrefixNoCase(const char *text, const char *prefix, std::size_t n);
bool equalsNoCase(const std::string &a, const std::string &b);

// True when the line, with leading blanks skipped, begins with "[". Only
// the first 255 characters of the line are examined.
bool isSectionLine(const char *line);

// "[section]", or false when that text would not fit in 255 characters.
bool formatHeader(const char *section, std::string &out);

// Reads the text the way "%d" does: blanks skipped, optional sign, digits up
// to the first non-digit, kept in 32 bits (wrapping like the C library's
// 32-bit arithmetic, never undefined). False when there is no digit.
bool parseInt(const char *text, int &value);

// Translates the bytes of a file opened in text mode: each CR LF pair reads
// as one LF, and a Ctrl-Z ends the text.
std::string textModeTranslate(const char *data, std::size_t size);

// The bytes a stream opened for writing in text mode puts on disk for the
// text: each line feed becomes CR LF, everything else is written as it is.
std::string textModeExpand(const std::string &text);

// Cuts already translated text into its physical lines, each kept whole
// whatever its length: a line ends at a line feed (which is not kept) or at
// the end of the text. Every other byte, a NUL included, stays in the line,
// so that writing the lines back gives the same bytes. A final line without
// a line end counts, the empty text after a final line end does not.
std::vector<std::string> splitLines(const char *data, std::size_t size);

// Where the value of `key` starts in `line` (just after its "="), or null
// when the line is not a line of that key: optional blanks, the whole key
// (ignoring case), optional blanks, "=". Reads and edits both use it.
const char *valueOfKey(const char *line, const char *key);

// The table of lines of one file, in order, without line ends.
class Table {
  public:
    Table() = default;

    // Replaces the whole content (a fresh read of the file).
    void assign(std::vector<std::string> lines);
    void clear();

    std::size_t count() const { return lines_.size(); }
    // Slots, as the table sizes itself: always more than count().
    std::size_t capacity() const { return capacity_; }
    // The line at index, or null at and after count() and before 0.
    const char *lineAt(long index) const;
    const std::vector<std::string> &lines() const { return lines_; }

    // Index of the header line of the section (first column, ignoring
    // case, anything may follow the "]"), or -1.
    long findSection(const char *section) const;

    // The value of the key in the section (the rest of its line after the
    // "="), or null when the section or the key is missing. Valid until the
    // next change of the table.
    const char *lookup(const char *section, const char *key) const;

    // Set (key and value), delete a key (key, no value) or delete the
    // section (no key). A section header that would not fit in 255
    // characters cannot be found nor appended: nothing changes then.
    // Returns true when the table was changed.
    bool setValue(const char *section, const char *key, const char *value);

    // Adds "key=value" to the section unless that whole line is present
    // already (ignoring case) anywhere from the section's header to the end
    // of the table. Refuses (no change) a line or header that would not fit
    // in 255 characters. Returns true when the line was added.
    bool addValue(const char *section, const char *key, const char *value);

    // Every line followed by "\n".
    std::string serialize() const;

    // Position where a key belongs in the section whose header is at
    // `header`: the first line of the key (see valueOfKey) before the next
    // section line, or else the end of the section, or the one empty line
    // just above that end.
    std::size_t keyPosition(std::size_t header, const char *key) const;

  private:
    void insertLine(std::size_t at, std::string line);
    void eraseLines(std::size_t from, std::size_t to);
    void appendSection(const std::string &header);
    // Makes room for `extra` more lines, growing in steps of 10 slots.
    void reserveFor(std::size_t extra);

    std::vector<std::string> lines_;
    std::size_t capacity_ = 0;
};

} // namespace ini
