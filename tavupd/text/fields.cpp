#include "text/fields.h"

namespace text {
namespace {

// Walks the line from `pos`, collecting one piece up to the separator.
class Scanner {
  public:
    Scanner(std::string_view line, SplitLine &out) : line_(line), out_(out) {}

    // The next piece up to `separator` (not included). True when the
    // separator was found, false when the line ended first.
    bool piece(char separator, std::string &text, Span &span) {
        span.begin = pos_;
        bool found = false;
        while (pos_ < line_.size()) {
            if (line_[pos_] == '\\') {
                // The backslash goes; the character after it is literal.
                out_.removedBackslashes.push_back(pos_);
                if (++pos_ >= line_.size()) break;
                text += line_[pos_++];
                // The character after an escaped one is looked at as a
                // separator only; a backslash there stays and escapes nothing.
                if (pos_ >= line_.size()) break;
                if (line_[pos_] == separator) {
                    found = true;
                    break;
                }
                text += line_[pos_++];
                continue;
            }
            if (line_[pos_] == separator) {
                found = true;
                break;
            }
            text += line_[pos_++];
        }
        span.length = pos_ - span.begin;
        if (found) ++pos_; // past the separator
        return found;
    }

  private:
    std::string_view line_;
    SplitLine &out_;
    std::size_t pos_ = 0;
};

} // namespace

SplitLine splitLine(std::string_view line) {
    SplitLine out;
    Scanner scanner(line, out);
    out.hasFields = scanner.piece('=', out.key, out.keySpan);
    bool more = out.hasFields;
    while (more) {
        std::string field;
        Span span;
        more = scanner.piece(',', field, span);
        out.fields.push_back(std::move(field));
        out.fieldSpans.push_back(span);
    }
    return out;
}

} // namespace text
