// Arbitrary bytes as lines for the field splitter, the key and comment tests
// and the blank trimming.
#include "text/oldfields.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // First byte: flags; then up to three separator characters before a NUL;
    // the rest is the line (up to its first NUL, as a C text).
    if (size == 0) return 0;
    const std::uint8_t flags = data[0];
    std::size_t pos = 1;
    std::string separators;
    while (pos < size && data[pos] != 0 && separators.size() < 3) separators.push_back(static_cast<char>(data[pos++]));
    if (pos < size && data[pos] == 0) ++pos;
    const std::string raw(reinterpret_cast<const char *>(data + pos), size - pos);
    const std::string line = raw.substr(0, raw.find('\0'));
    const int escape = flags & 1;
    const std::string considered = line.substr(0, 255);

    // Split the whole line; fields are pieces of the 256-character copy.
    std::size_t total = 0;
    std::size_t count = 0;
    std::string rebuilt;
    const char *firstSeparators = (flags & 2) ? "=" : separators.c_str();
    const char *field = nextField(line.c_str(), firstSeparators, escape);
    require(field != nullptr);
    const char *first = field;
    while (field) {
        const std::size_t length = std::strlen(field);
        require(field >= first && field + length <= first + 255);
        total += length;
        ++count;
        if (!escape) {
            const char *used = count == 1 ? firstSeparators : separators.c_str();
            for (std::size_t i = 0; i < length; ++i) require(std::strchr(used, field[i]) == nullptr);
        }
        if (count > 1) rebuilt.push_back('|');
        rebuilt.append(field, length);
        field = nextField(nullptr, separators.c_str(), escape);
    }
    require(count <= considered.size() + 1);
    require(total + (count - 1) <= considered.size());
    require(nextField(nullptr, separators.c_str(), escape) == nullptr);
    if (!escape && !(flags & 2)) {
        // Without escapes the fields and their separators are the line.
        require(total + (count - 1) == considered.size());
        std::string expected = considered;
        for (char &c : expected) {
            if (!separators.empty() && std::strchr(separators.c_str(), c)) c = '|';
        }
        if (separators.find('|') == std::string::npos) require(rebuilt == expected);
    }

    // The key test: keyword taken from the separators.
    const bool key = isActionKey(line.c_str(), separators.c_str());
    if (key) {
        std::size_t i = separators.size();
        require(line.size() >= i);
        while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
        require(i == line.size() || line[i] == '=');
    }
    require(isActionKey(line.c_str(), "FILE") == isActionKey(line.c_str(), "file"));

    const bool comment = isCommentLine(line.c_str());
    require(comment == (line.rfind(";", 0) == 0 || line.rfind("//", 0) == 0));

    std::string trimmed = raw;
    trimBlanks(trimmed);
    require(trimmed.empty() || (!isBlank(trimmed.front()) && !isBlank(trimmed.back())));
    require(raw.find(trimmed) != std::string::npos);
    std::string again = trimmed;
    trimBlanks(again);
    require(again == trimmed);
    return 0;
}
