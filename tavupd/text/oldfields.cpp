#include "text/oldfields.h"

#include <cctype>

#include <array>
#include <cstring>

namespace {

// The splitter's program-wide state: a copy of the current line, the start
// of the field returned last, and whether the line is used up.
constexpr size_t kFieldBuffer = 256;

struct SplitterState {
    std::array<char, kFieldBuffer> buffer{};
    size_t cursor = 0;
    bool exhausted = true; // nothing to split before the first line
};

SplitterState state;

bool isBlankChar(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isSeparatorChar(char c, const char *separators) {
    return c != '\0' && separators != nullptr && std::strchr(separators, c) != nullptr;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

} // namespace

const char *nextField(const char *line, const char *separators, int escape) {
    if (line) {
        // A line longer than the buffer keeps its first 255 characters.
        size_t length = 0;
        while (length < kFieldBuffer - 1 && line[length] != '\0') ++length;
        std::memcpy(state.buffer.data(), line, length);
        state.buffer[length] = '\0';
        state.cursor = 0;
        state.exhausted = false;
    } else {
        if (state.exhausted) return nullptr;
        // Step past the field returned last and the terminator that ended it.
        state.cursor += std::strlen(state.buffer.data() + state.cursor) + 1;
    }

    char *text = state.buffer.data() + state.cursor;
    size_t length = std::strlen(text);
    size_t pos = 0;
    bool found = false;
    while (!found && pos < length) {
        if (escape && text[pos] == '\\') {
            // Drop the backslash (the terminator moves along) and step past
            // the character that took its place: it is literal.
            std::memmove(text + pos, text + pos + 1, length - pos);
            --length;
            ++pos;
        }
        // The character after an escaped one is looked at as a separator
        // only; a backslash there stays and escapes nothing.
        if (pos < length && isSeparatorChar(text[pos], separators)) {
            text[pos] = '\0';
            found = true;
        }
        ++pos;
    }
    if (!found) state.exhausted = true;
    return text;
}

bool isActionKey(const char *line, const char *keyword) {
    if (!line || !keyword) return false;
    size_t i = 0;
    for (; keyword[i] != '\0'; ++i) {
        if (line[i] == '\0' || lower(line[i]) != lower(keyword[i])) return false;
    }
    while (line[i] >= '0' && line[i] <= '9') ++i;
    return line[i] == '=' || line[i] == '\0';
}

bool isCommentLine(const char *line) {
    if (!line) return false;
    return line[0] == ';' || (line[0] == '/' && line[1] == '/');
}

void trimBlanks(std::string &text) {
    size_t end = text.size();
    while (end > 0 && isBlankChar(text[end - 1])) --end;
    size_t begin = 0;
    while (begin < end && isBlankChar(text[begin])) ++begin;
    text = text.substr(begin, end - begin);
}

Field takeField() {
    const char *f = nextField(nullptr, ",", 1);
    if (!f) return std::nullopt;
    return std::string(f);
}

bool equalsIgnoreCase(const char *a, const char *b) {
    for (; *a && *b; ++a, ++b) {
        if (std::toupper(static_cast<unsigned char>(*a)) != std::toupper(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}
