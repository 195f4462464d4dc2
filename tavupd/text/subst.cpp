#include "text/subst.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

#include "text/textkit.h"

namespace {

// The text at position pos begins with the name, letter case aside.
bool startsWithName(const std::string &text, size_t pos, const std::string &name) {
    return text::startsWithNoCase(std::string_view(text).substr(pos), name);
}

} // namespace

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
