#include "text/textkit.h"

#include <climits>

namespace text {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view trimmed(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0 && isBlank(text[end - 1])) --end;
    std::size_t begin = 0;
    while (begin < end && isBlank(text[begin])) ++begin;
    return text.substr(begin, end - begin);
}

void trim(std::string &text) {
    const std::string_view view = trimmed(text);
    const std::size_t begin = static_cast<std::size_t>(view.data() - text.data());
    text = text.substr(begin, view.size());
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

int compareNoCase(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char ca = static_cast<unsigned char>(upper(a[i]));
        const unsigned char cb = static_cast<unsigned char>(upper(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool equalsNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && compareNoCase(a, b) == 0; }

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

std::optional<int> readDecimal(std::string_view text) {
    std::size_t p = 0;
    while (p < text.size() && isBlank(text[p])) ++p;
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
        negative = text[p] == '-';
        ++p;
    }
    if (p >= text.size() || text[p] < '0' || text[p] > '9') return std::nullopt;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : static_cast<long long>(INT_MAX);
    long long value = 0;
    for (; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p) {
        value = value * 10 + (text[p] - '0');
        if (value > limit) value = limit; // stays clamped for every later digit
    }
    return static_cast<int>(negative ? -value : value);
}

void appendBackslash(std::string &path) {
    if (path.empty() || path.back() != '\\') path += '\\';
}

std::string joinPath(std::string_view directory, std::string_view name) {
    std::string path(directory);
    appendBackslash(path);
    path.append(name);
    return path;
}

std::string visible(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u <= 0x7e) {
            out += c;
        } else {
            out += "\\x";
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

} // namespace text
