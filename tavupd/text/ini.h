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
// at most 255 characters (text::kLineMax).
constexpr std::size_t kMaxFormatted = 255;

// True when the line, with leading blanks skipped, begins with "[". Only
// the first 255 characters of the line are examined.
bool isSectionLine(const char *line);

// "[section]", or false when that text would not fit in 255 characters.
bool formatHeader(const char *section, std::string &out);

// Where the value of `key` starts in `line` (just after its "="), or null
// when the line is not a line of that key: optional blanks, the whole key
// (ignoring case), optional blanks, "=". Reads and edits both use it.
const char *valueOfKey(const char *line, const char *key);

// The table of lines of one file, in order, without line ends.
class Table {
  public:
    Table() = default;

    // Replaces the whole content with the bytes of a file. A line ends at a
    // line feed; a CR just before it belongs to the line end, every other
    // byte (a lone CR, a NUL) to the line, and each line is kept whole
    // whatever its length. A final line without a line end counts, the
    // empty text after a final line end does not. The text ends at the
    // first Ctrl-Z: what follows it is no line, but is kept and written
    // back after the lines.
    void read(const char *data, std::size_t size);
    void clear();
    // The file's bytes: every line with its own line end (CR LF or LF) and
    // what followed a Ctrl-Z, so that lines no edit touched are written back
    // byte for byte. A line the table added ends like the file's first
    // line (CR LF when there is none); a last line without a line end gets
    // one when a line is added after it. A line whose text ends in CR is
    // always ended by CR LF, so that it reads back the same.
    std::string bytes() const;

    std::size_t count() const { return lines_.size(); }
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

    // Replaces the lines [from, to) by `lines` (to past the end: up to the
    // end; from past the end: appended). Lines it keeps keep their bytes
    // and line ends; new ones end like lines the table adds.
    void replaceLines(std::size_t from, std::size_t to, const std::vector<std::string> &lines);

    // Position where a key belongs in the section whose header is at
    // `header`: the first line of the key (see valueOfKey) before the next
    // section line, or else the end of the section, or the one empty line
    // just above that end.
    std::size_t keyPosition(std::size_t header, const char *key) const;

  private:
    void insertLine(std::size_t at, std::string line);
    void eraseLines(std::size_t from, std::size_t to);
    // Appends the header (after an empty line unless the last line is
    // empty already) and the line.
    void appendSection(const std::string &header, std::string line);
    // Makes room for `extra` more lines in both vectors, so that the
    // insertions that follow cannot fail half-way.
    void reserveFor(std::size_t extra);

    enum class End : unsigned char { None, Lf, CrLf };
    // A new line after `at` lines: the line before it gets a line end.
    void endLineBefore(std::size_t at);

    std::vector<std::string> lines_;
    std::vector<End> ends_;  // the line end of each line, in step with lines_
    std::string tail_;       // from the first Ctrl-Z on
    End newEnd_ = End::CrLf; // for lines the table adds
};

} // namespace ini
