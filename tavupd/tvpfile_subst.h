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
    // after maxLength characters (the expansion stops there).
    void substitute(std::string &text, size_t maxLength = kTextMax) const;

  private:
    std::list<SubstituteEntry> entries_;
    std::list<SubstituteEntry>::iterator current_;
    bool hasCurrent_ = false;
    char marker_;
};
