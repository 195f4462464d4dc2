// Line table and line grammar of INI-format files.
#include "tvpprof_ini.h"

#include "tavupd_error.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

namespace ini {
namespace {

const char *const kModule = "tvpprof";

// Bytes a table of `slots` line pointers takes, as reported when it cannot
// be allocated.
int tableBytes(std::size_t slots) {
    std::size_t bytes = slots * sizeof(char *);
    return bytes > 0x7fffffffu ? 0x7fffffff : static_cast<int>(bytes);
}

int lineBytes(std::size_t length) {
    return length >= 0x7fffffffu ? 0x7fffffff : static_cast<int>(length + 1);
}

// "key=value", with an absent text taken as empty.
std::string keyValueLine(const char *key, const char *value) {
    const char *k = key ? key : "";
    const char *v = value ? value : "";
    std::size_t length = std::strlen(k) + 1 + std::strlen(v);
    try {
        std::string line;
        line.reserve(length);
        line.append(k).append(1, '=').append(v);
        return line;
    } catch (const std::bad_alloc &) {
        throw Error(1, lineBytes(length), kModule, __LINE__);
    }
}

} // namespace

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char foldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsPrefixNoCase(const char *text, const char *prefix, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        char a = foldCase(text[i]);
        char b = foldCase(prefix[i]);
        if (a != b) return false;
        if (a == '\0') return true; // both ended together
    }
    return true;
}

bool equalsNoCase(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldCase(a[i]) != foldCase(b[i])) return false;
    return true;
}

bool isSectionLine(const char *line) {
    if (!line) return false;
    std::size_t i = 0;
    while (i < kMaxFormatted && line[i] != '\0' && isBlank(line[i])) ++i;
    return i < kMaxFormatted && line[i] == '[';
}

bool formatHeader(const char *section, std::string &out) {
    if (!section) return false;
    std::size_t length = std::strlen(section);
    if (length + 2 > kMaxFormatted) return false;
    out.assign(1, '[');
    out.append(section, length).append(1, ']');
    return true;
}

bool parseInt(const char *text, int &value) {
    if (!text) return false;
    const char *p = text;
    while (*p != '\0' && isBlank(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (*p < '0' || *p > '9') return false;
    std::uint32_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) magnitude = magnitude * 10u + static_cast<std::uint32_t>(*p - '0');
    if (negative) magnitude = 0u - magnitude;
    // Two's-complement reading of the 32 bits, without an out-of-range cast.
    value = magnitude <= 0x7fffffffu ? static_cast<int>(magnitude)
                                      : -static_cast<int>(~magnitude) - 1;
    return true;
}

std::string textModeTranslate(const char *data, std::size_t size) {
    std::string out;
    out.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        char c = data[i];
        if (c == '\x1a') break;
        if (c == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
        out.push_back(c);
    }
    return out;
}

std::string textModeExpand(const std::string &text) {
    std::size_t feeds = 0;
    for (char c : text)
        if (c == '\n') ++feeds;
    std::string out;
    out.reserve(text.size() + feeds);
    for (char c : text) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

std::vector<std::string> splitLines(const char *data, std::size_t size) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < size) {
        const void *feed = std::memchr(data + pos, '\n', size - pos);
        std::size_t end = feed ? static_cast<std::size_t>(static_cast<const char *>(feed) - data) : size;
        try {
            lines.emplace_back(data + pos, end - pos);
        } catch (const std::bad_alloc &) {
            throw Error(1, lineBytes(end - pos), kModule, __LINE__);
        } catch (const std::length_error &) {
            throw Error(1, lineBytes(end - pos), kModule, __LINE__);
        }
        pos = feed ? end + 1 : size;
    }
    return lines;
}

const char *valueOfKey(const char *line, const char *key) {
    if (!line || !key) return nullptr;
    const char *p = line;
    while (*p != '\0' && isBlank(*p)) ++p;
    std::size_t keyLength = std::strlen(key);
    if (!equalsPrefixNoCase(p, key, keyLength)) return nullptr;
    // equalsPrefixNoCase stops at the line's end, so p has keyLength
    // characters here.
    p += keyLength;
    while (*p != '\0' && isBlank(*p)) ++p;
    return *p == '=' ? p + 1 : nullptr;
}

// ---- Table -----------------------------------------------------------------

void Table::assign(std::vector<std::string> lines) {
    std::size_t needed = lines.size() + 1;
    if (capacity_ < needed) capacity_ = lines.size() + kGrowStep;
    lines_ = std::move(lines);
}

void Table::clear() { lines_.clear(); }

const char *Table::lineAt(long index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= lines_.size()) return nullptr;
    return lines_[static_cast<std::size_t>(index)].c_str();
}

void Table::reserveFor(std::size_t extra) {
    // A table of no slots at all is first made of 10, as a new table is.
    if (capacity_ == 0) capacity_ = kGrowStep;
    while (capacity_ < lines_.size() + extra + 1) {
        std::size_t grown = capacity_ + kGrowStep;
        try {
            lines_.reserve(grown);
        } catch (const std::bad_alloc &) {
            throw Error(1, tableBytes(grown), kModule, __LINE__);
        } catch (const std::length_error &) {
            throw Error(1, tableBytes(grown), kModule, __LINE__);
        }
        capacity_ = grown;
    }
}

void Table::insertLine(std::size_t at, std::string line) {
    reserveFor(1);
    if (at > lines_.size()) at = lines_.size();
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

void Table::eraseLines(std::size_t from, std::size_t to) {
    if (from >= to || from >= lines_.size()) return;
    if (to > lines_.size()) to = lines_.size();
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(from), lines_.begin() + static_cast<std::ptrdiff_t>(to));
}

void Table::appendSection(const std::string &header) {
    reserveFor(2);
    if (!lines_.empty() && !lines_.back().empty()) lines_.emplace_back();
    lines_.push_back(header);
}

long Table::findSection(const char *section) const {
    std::string header;
    if (!formatHeader(section, header)) return -1;
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (equalsPrefixNoCase(lines_[i].c_str(), header.c_str(), header.size())) return static_cast<long>(i);
    return -1;
}

const char *Table::lookup(const char *section, const char *key) const {
    if (!key) return nullptr;
    long header = findSection(section);
    if (header < 0) return nullptr;
    for (std::size_t i = static_cast<std::size_t>(header) + 1; i < lines_.size(); ++i) {
        const char *p = lines_[i].c_str();
        if (*p == '[') return nullptr;
        if (const char *value = valueOfKey(p, key)) return value;
    }
    return nullptr;
}

std::size_t Table::keyPosition(std::size_t header, const char *key) const {
    std::size_t i = header + 1;
    for (; i < lines_.size() && !isSectionLine(lines_[i].c_str()); ++i)
        if (valueOfKey(lines_[i].c_str(), key)) return i;
    if (i > 0 && i - 1 < lines_.size() && lines_[i - 1].empty()) return i - 1;
    return i;
}

bool Table::setValue(const char *section, const char *key, const char *value) {
    long found = findSection(section);
    if (found < 0) {
        if (!key || !value) return false;
        std::string header;
        if (!formatHeader(section, header)) return false;
        std::string line = keyValueLine(key, value);
        appendSection(header);
        reserveFor(1);
        lines_.push_back(std::move(line));
        return true;
    }
    std::size_t header = static_cast<std::size_t>(found);
    if (!key) {
        std::size_t end = header + 1;
        while (end < lines_.size() && !isSectionLine(lines_[end].c_str())) ++end;
        eraseLines(header, end);
        return true;
    }
    std::size_t at = keyPosition(header, key);
    bool matches = at < lines_.size() && valueOfKey(lines_[at].c_str(), key) != nullptr;
    if (!value) {
        if (!matches) return false;
        eraseLines(at, at + 1);
        return true;
    }
    std::string line = keyValueLine(key, value);
    if (matches) {
        lines_[at] = std::move(line);
    } else {
        insertLine(at, std::move(line));
    }
    return true;
}

bool Table::addValue(const char *section, const char *key, const char *value) {
    std::string line = keyValueLine(key, value);
    if (line.size() > kMaxFormatted) return false;
    long found = findSection(section);
    if (found < 0) {
        std::string header;
        if (!formatHeader(section, header)) return false;
        appendSection(header);
        reserveFor(1);
        lines_.push_back(std::move(line));
        return true;
    }
    std::size_t header = static_cast<std::size_t>(found);
    for (std::size_t i = header; i < lines_.size(); ++i)
        if (equalsNoCase(lines_[i], line)) return false;
    std::size_t end = header + 1;
    while (end < lines_.size() && !isSectionLine(lines_[end].c_str())) ++end;
    while (end > 1 && lines_[end - 1].empty()) --end;
    insertLine(end, std::move(line));
    return true;
}

std::string Table::serialize() const {
    std::string out;
    for (const std::string &line : lines_) {
        out += line;
        out += '\n';
    }
    return out;
}

} // namespace ini
