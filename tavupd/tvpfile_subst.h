// Substitution variables: references introduced by a marker character
// ("\TAVRO", "\WINDOWS") expanded in values and text lines.
#pragma once

#include <list>
#include <string>

struct SubstituteEntry {
    std::string name;  // at most 80 characters
    std::string value; // at most 81 characters
};

class SubstituteClass {
  public:
    static constexpr size_t kNameMax = 80;
    static constexpr size_t kValueMax = 81;

    explicit SubstituteClass(char marker);

    int add(const std::string &name, const std::string &value);
    int addEntry(const SubstituteEntry &entry);
    int first();
    int last();
    int next();
    int current(SubstituteEntry &out) const;
    int firstEntry(SubstituteEntry &out);
    int lastEntry(SubstituteEntry &out);
    int nextEntry(SubstituteEntry &out);

    // Expands the references in place: a doubled marker becomes one literal
    // marker; a marker followed by a variable name (any case) becomes the
    // value; inserted values are not expanded again.
    void substitute(std::string &text) const;

  private:
    std::list<SubstituteEntry> entries_;
    std::list<SubstituteEntry>::iterator current_;
    bool hasCurrent_ = false;
    char marker_;
};
