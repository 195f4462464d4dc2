// Arbitrary bytes as a language file: its messages compared with a plain
// reading of the format; messages printed through the catalog's formatting.
#include "text/catalog.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The messages as the format defines them: the text up to the first Ctrl-Z,
// one message per line (a line feed, with a CR before it, ends a line), each
// up to its first NUL and at most 510 characters, until the first
// list-ending line.
std::vector<std::string> expectedMessages(const std::string &bytes) {
    std::vector<std::string> out;
    const std::string text = bytes.substr(0, bytes.find('\x1a'));
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        const bool ended = end != std::string::npos;
        if (!ended) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (ended && !line.empty() && line.back() == '\r') line.pop_back();
        line = line.substr(0, line.find('\0')).substr(0, 510);
        std::size_t i = 0;
        while (i < line.size() && isBlank(line[i])) ++i;
        if (i == line.size() || line[i] == ';' || line[i] == '#') break;
        if (line.size() - i >= 3 && lower(line[i]) == 'r' && lower(line[i + 1]) == 'e' && lower(line[i + 2]) == 'm')
            break;
        out.push_back(line);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    const catalog::Catalog messages(catalog::parseMessages(bytes));
    const std::vector<std::string> expected = expectedMessages(bytes);
    require(messages.count() == static_cast<int>(expected.size()));
    for (int n = 1; n <= messages.count(); ++n)
        require(expected[static_cast<std::size_t>(n - 1)] == messages.message(n));
    const std::string stand = messages.count() >= 2 ? expected[1] : std::string();
    require(stand == messages.message(0) && stand == messages.message(-1) &&
            stand == messages.message(messages.count() + 1));

    // Messages are arguments, never formats: they arrive whole.
    for (int n = 1; n <= messages.count() && n <= 4; ++n) {
        const std::string printed = catalog::format("\n%c%s\n", 7, messages.message(n));
        require(printed == std::string("\n\a") + messages.message(n) + "\n");
    }
    return 0;
}
