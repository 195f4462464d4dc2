#include "text/catalog.h"

#include <algorithm>
#include <cstdio>

#include "text/textkit.h"

namespace catalog {
namespace {

bool endsList(const std::string &line) {
    std::size_t i = 0;
    while (i < line.size() && text::isBlank(line[i])) ++i;
    if (i == line.size()) return true;
    if (line[i] == ';' || line[i] == '#') return true;
    return text::startsWithNoCase(std::string_view(line).substr(i), "rem");
}

} // namespace

std::vector<std::string> parseMessages(const std::string &bytes) {
    const std::size_t stop = bytes.find('\x1a');
    const std::size_t size = stop == std::string::npos ? bytes.size() : stop;
    std::vector<std::string> messages(1);
    std::size_t pos = 0;
    while (pos < size) {
        std::size_t end = bytes.find('\n', pos);
        if (end == std::string::npos || end > size) end = size;
        std::size_t length = end - pos;
        if (end < size && length > 0 && bytes[end - 1] == '\r') --length;
        const std::size_t nul = bytes.find('\0', pos);
        if (nul != std::string::npos && nul < pos + length) length = nul - pos;
        std::string line = bytes.substr(pos, std::min(length, kMessageMax));
        if (endsList(line)) break;
        messages.push_back(std::move(line));
        pos = end + 1;
    }
    return messages;
}

Catalog::Catalog(std::vector<std::string> messages)
    : messages_(std::move(messages)), count_(messages_.empty() ? 0 : static_cast<int>(messages_.size() - 1)) {}

const char *Catalog::message(int n) const {
    if (n >= 1 && n <= count_) return messages_[static_cast<std::size_t>(n)].c_str();
    // Any other number stands for message 2; a catalog too short to have one
    // gives an empty text.
    if (count_ >= 2) return messages_[2].c_str();
    return "";
}

bool formatText(std::string &out, const char *format, va_list args) {
    if (!format) return false;
    va_list probe;
    va_copy(probe, args);
    const int length = std::vsnprintf(nullptr, 0, format, probe);
    va_end(probe);
    if (length < 0) return false;
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    if (std::vsnprintf(&text[0], text.size(), format, args) < 0) return false;
    text.resize(static_cast<std::size_t>(length));
    out.swap(text);
    return true;
}

std::string format(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::string out;
    formatText(out, format, args);
    va_end(args);
    return out;
}

} // namespace catalog
