// Arbitrary variable lists and texts for the substitution, checked against a
// plain reading of the expansion rules that builds a new text; and the line
// by line expansion of a file's bytes, fed in pieces of arbitrary sizes.
#include "tvpfile_subst.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(const std::string &text, std::size_t at, const std::string &name) {
    if (text.size() - at < name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (lower(text[at + i]) != lower(name[i])) return false;
    }
    return true;
}

std::string reference(const std::vector<SubstituteEntry> &entries, char marker, const std::string &text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != marker) {
            out.push_back(text[i++]);
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == marker) {
            out.push_back(marker);
            i += 2;
            continue;
        }
        bool matched = false;
        for (const SubstituteEntry &e : entries) {
            if (sameName(text, i + 1, e.name)) {
                out += e.value;
                i += 1 + e.name.size();
                matched = true;
                break;
            }
        }
        if (!matched) out.push_back(text[i++]);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // Byte 0: the marker; byte 1: the number of variables (0-7). Then the
    // names and values separated by NUL bytes, the rest is the text.
    if (size < 2) return 0;
    const char marker = static_cast<char>(data[0]);
    const std::size_t wanted = data[1] & 7;
    std::vector<std::string> texts(1);
    for (std::size_t i = 2; i < size; ++i) {
        if (data[i] == 0 && texts.size() <= wanted * 2) {
            texts.emplace_back();
        } else {
            texts.back().push_back(static_cast<char>(data[i]));
        }
    }
    const std::string text = texts.back();
    texts.pop_back();

    SubstituteClass list(marker);
    std::vector<SubstituteEntry> entries;
    for (std::size_t i = 0; i + 1 < texts.size(); i += 2) {
        require(list.add(texts[i], texts[i + 1]) == 1);
        entries.push_back(SubstituteEntry{texts[i].substr(0, SubstituteClass::kNameMax),
                                          texts[i + 1].substr(0, SubstituteClass::kValueMax)});
    }

    // The list hands back what was added, in order.
    SubstituteEntry entry;
    std::size_t seen = 0;
    for (int ok = list.firstEntry(entry); ok; ok = list.nextEntry(entry)) {
        require(seen < entries.size());
        require(entry.name == entries[seen].name && entry.value == entries[seen].value);
        ++seen;
    }
    require(seen == entries.size());
    if (!entries.empty()) {
        require(list.lastEntry(entry) == 1 && entry.name == entries.back().name);
        require(list.next() == 0);
    }

    // The default bound, and a small one taken from the input, cut the
    // plain expansion at that length.
    const std::string full = reference(entries, marker, text);
    std::string expanded = text;
    list.substitute(expanded);
    require(expanded == full.substr(0, SubstituteClass::kTextMax));
    const std::size_t limit = (static_cast<std::size_t>(data[0]) * 7 + size) % 97;
    std::string bounded = text;
    list.substitute(bounded, limit);
    require(bounded == full.substr(0, limit));

    // Line by line: every line (up to and including its line feed) expanded
    // whole and unbounded, whatever the sizes of the pieces it arrives in.
    std::string byLines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        byLines += reference(entries, marker, text.substr(start, end - start));
        start = end;
    }
    LineExpander expander(list);
    std::string fed;
    std::size_t piece = 1 + limit % 13;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = std::min(piece, text.size() - at);
        expander.feed(text.data() + at, n, fed);
        at += n;
        piece = 1 + (piece * 7 + static_cast<unsigned char>(text[at - 1])) % 61;
    }
    expander.finish(fed);
    require(fed == byLines);
    return 0;
}
