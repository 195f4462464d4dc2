#include "tvpfile_subst.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The text at position pos begins with the name, letter case aside.
bool startsWithName(const std::string &text, size_t pos, const std::string &name) {
    if (text.size() - pos < name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        if (lower(text[pos + i]) != lower(name[i])) return false;
    }
    return true;
}

} // namespace

SubstituteClass::SubstituteClass(char marker) : current_(entries_.end()), marker_(marker) {}

SubstituteClass::SubstituteClass(const SubstituteClass &other)
    : entries_(other.entries_), current_(entries_.end()), hasCurrent_(other.hasCurrent_), marker_(other.marker_) {
    if (hasCurrent_) {
        current_ = std::next(entries_.begin(),
                             std::distance(other.entries_.begin(),
                                           std::list<SubstituteEntry>::const_iterator(other.current_)));
    }
}

SubstituteClass &SubstituteClass::operator=(const SubstituteClass &other) {
    if (this != &other) {
        SubstituteClass copy(other);
        entries_.swap(copy.entries_); // list iterators stay valid across a swap
        current_ = copy.current_;
        hasCurrent_ = copy.hasCurrent_;
        marker_ = copy.marker_;
    }
    return *this;
}

int SubstituteClass::add(const std::string &name, const std::string &value) {
    try {
        SubstituteEntry entry;
        entry.name = name.substr(0, kNameMax);
        entry.value = value.substr(0, kValueMax);
        entries_.push_back(std::move(entry));
    } catch (const std::bad_alloc &) {
        return 0; // the list stays as it was
    }
    return 1;
}

int SubstituteClass::addEntry(const SubstituteEntry &entry) { return add(entry.name, entry.value); }

int SubstituteClass::first() {
    if (entries_.empty()) return 0;
    current_ = entries_.begin();
    hasCurrent_ = true;
    return 1;
}

int SubstituteClass::last() {
    if (entries_.empty()) return 0;
    current_ = std::prev(entries_.end());
    hasCurrent_ = true;
    return 1;
}

int SubstituteClass::next() {
    if (!hasCurrent_ || std::next(current_) == entries_.end()) return 0;
    ++current_;
    return 1;
}

int SubstituteClass::current(SubstituteEntry &out) const {
    // Without a cursor there is nothing to copy.
    if (!hasCurrent_) return 0;
    out = *current_;
    return 1;
}

int SubstituteClass::firstEntry(SubstituteEntry &out) {
    if (!first()) return 0;
    return current(out);
}

int SubstituteClass::lastEntry(SubstituteEntry &out) {
    if (!last()) return 0;
    return current(out);
}

int SubstituteClass::nextEntry(SubstituteEntry &out) {
    if (!next()) return 0;
    return current(out);
}

void SubstituteClass::substitute(std::string &text, size_t maxLength) const {
    // The expansion is built in a text of its own, so that no inserted value
    // is walked again and the result never passes maxLength.
    std::string out;
    out.reserve(std::min(text.size(), maxLength));
    size_t pos = 0;
    while (pos < text.size() && out.size() < maxLength) {
        const char c = text[pos];
        if (c != marker_) {
            out += c;
            ++pos;
            continue;
        }
        if (pos + 1 < text.size() && text[pos + 1] == marker_) {
            // A doubled marker stands for one literal marker.
            out += marker_;
            pos += 2;
            continue;
        }
        const SubstituteEntry *match = nullptr;
        for (const SubstituteEntry &entry : entries_) {
            if (startsWithName(text, pos + 1, entry.name)) {
                match = &entry;
                break;
            }
        }
        if (match != nullptr) {
            out.append(match->value, 0, std::min(match->value.size(), maxLength - out.size()));
            pos += 1 + match->name.size();
        } else {
            out += c;
            ++pos;
        }
    }
    if (out.size() > maxLength) out.resize(maxLength);
    text = std::move(out);
}

void LineExpander::expandLine(std::string &out) {
    list_.substitute(line_, std::string::npos);
    out += line_;
    line_.clear();
}

void LineExpander::feed(const char *data, size_t size, std::string &out) {
    while (size > 0) {
        const void *feedAt = std::memchr(data, '\n', size);
        if (feedAt == nullptr) {
            line_.append(data, size);
            return;
        }
        const size_t length = static_cast<size_t>(static_cast<const char *>(feedAt) - data) + 1;
        line_.append(data, length);
        expandLine(out);
        data += length;
        size -= length;
    }
}

void LineExpander::finish(std::string &out) {
    if (!line_.empty()) expandLine(out);
}
