// Substitution variables: references introduced by a marker character
// ("\TAVRO", "\WINDOWS") expanded in values and text lines.
#pragma once

#include <list>
#include <string>

struct SubstituteEntry {
    std::string name;  // at most SubstituteClass::kNameMax characters
    std::string value; // at most SubstituteClass::kValueMax characters
};

class SubstituteClass {
  public:
    // Longer names and values are cut to these lengths. A value holds a
    // whole directory path.
    static constexpr size_t kNameMax = 80;
    static constexpr size_t kValueMax = 259;
    // Longest text substitute() gives by default: an expanded value or field
    // is cut to this length.
    static constexpr size_t kTextMax = 1023;

    explicit SubstituteClass(char marker);
    // Copies carry the variables and the cursor's position.
    SubstituteClass(const SubstituteClass &other);
    SubstituteClass &operator=(const SubstituteClass &other);

    int add(const std::string &name, const std::string &value);
    int addEntry(const SubstituteEntry &entry);
    int first();
    int last();
    int next();
    // 0 when no iteration has started.
    int current(SubstituteEntry &out) const;
    int firstEntry(SubstituteEntry &out);
    int lastEntry(SubstituteEntry &out);
    int nextEntry(SubstituteEntry &out);

    // Expands the references in place: a doubled marker becomes one literal
    // marker; a marker followed by a variable name (any case) becomes the
    // value; inserted values are not expanded again. The result is cut
    // after maxLength characters (the expansion stops there);
    // std::string::npos sets no limit.
    void substitute(std::string &text, size_t maxLength = kTextMax) const;

  private:
    std::list<SubstituteEntry> entries_;
    std::list<SubstituteEntry>::iterator current_;
    bool hasCurrent_ = false;
    char marker_;
};

// Expands the references of a text, such as a file, line by line as its
// bytes arrive in pieces of any size. A line is its bytes up to and
// including a line feed (the last one may have none); each is expanded whole
// by SubstituteClass::substitute, whatever its length, and never cut. Every
// byte outside a reference is kept as it is: NUL, Ctrl-Z, CR and LF too.
class LineExpander {
  public:
    // The list must outlive the expander.
    explicit LineExpander(const SubstituteClass &list) : list_(list) {}

    // Takes the next bytes of the text and appends the expansion of every
    // line they complete to `out`; the rest waits for its line end.
    void feed(const char *data, size_t size, std::string &out);
    // Appends the expansion of what is left: the last line, when the text
    // does not end with a line feed.
    void finish(std::string &out);

  private:
    void expandLine(std::string &out);

    const SubstituteClass &list_;
    std::string line_; // the line begun and not yet ended
};
