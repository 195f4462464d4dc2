// Line table and line grammar of INI-format files.
#include "text/ini.h"

#include "text/error.h"
#include "text/textkit.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

namespace ini {
namespace {

const char *const kModule = "tvpprof";

// Bytes a table of `slots` lines takes, as reported when it cannot be
// allocated.
int tableBytes(std::size_t slots) {
    std::size_t bytes = slots * sizeof(std::string);
    return bytes > 0x7fffffffu ? 0x7fffffff : static_cast<int>(bytes);
}

// The C text begins with the prefix, letter case aside (the text ends at
// its first NUL).
bool startsWithNoCase(const char *text, const std::string &prefix) {
    return text::startsWithNoCase(std::string_view(text), prefix);
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

bool isSectionLine(const char *line) {
    if (!line) return false;
    std::size_t i = 0;
    while (i < kMaxFormatted && line[i] != '\0' && text::isBlank(line[i])) ++i;
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

const char *valueOfKey(const char *line, const char *key) {
    if (!line || !key) return nullptr;
    const char *p = line;
    while (*p != '\0' && text::isBlank(*p)) ++p;
    const std::string name = key;
    if (!startsWithNoCase(p, name)) return nullptr;
    // The prefix test stops at the line's end, so p has the key's
    // characters here.
    p += name.size();
    while (*p != '\0' && text::isBlank(*p)) ++p;
    return *p == '=' ? p + 1 : nullptr;
}

// ---- Table -----------------------------------------------------------------

void Table::read(const char *data, std::size_t size) {
    std::vector<std::string> lines;
    std::vector<End> ends;
    std::string tail;
    const void *stop = std::memchr(data, '\x1a', size);
    const std::size_t text = stop ? static_cast<std::size_t>(static_cast<const char *>(stop) - data) : size;
    std::size_t pos = 0;
    while (pos < text) {
        const void *feed = std::memchr(data + pos, '\n', text - pos);
        std::size_t end = feed ? static_cast<std::size_t>(static_cast<const char *>(feed) - data) : text;
        End kind = End::None;
        std::size_t length = end - pos;
        if (feed) {
            kind = (length > 0 && data[end - 1] == '\r') ? End::CrLf : End::Lf;
            if (kind == End::CrLf) --length;
        }
        try {
            lines.emplace_back(data + pos, length);
            ends.push_back(kind);
        } catch (const std::bad_alloc &) {
            throw Error(1, lineBytes(length), kModule, __LINE__);
        } catch (const std::length_error &) {
            throw Error(1, lineBytes(length), kModule, __LINE__);
        }
        pos = feed ? end + 1 : text;
    }
    try {
        tail.assign(data + text, size - text);
    } catch (const std::bad_alloc &) {
        throw Error(1, lineBytes(size - text), kModule, __LINE__);
    }
    newEnd_ = ends.empty() || ends.front() != End::Lf ? End::CrLf : End::Lf;
    lines_ = std::move(lines);
    ends_ = std::move(ends);
    tail_ = std::move(tail);
}

void Table::clear() {
    lines_.clear();
    ends_.clear();
    tail_.clear();
    newEnd_ = End::CrLf;
}

const char *Table::lineAt(long index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= lines_.size()) return nullptr;
    return lines_[static_cast<std::size_t>(index)].c_str();
}

void Table::reserveFor(std::size_t extra) {
    const std::size_t slots = lines_.size() + extra;
    try {
        lines_.reserve(slots);
        ends_.reserve(slots);
    } catch (const std::bad_alloc &) {
        throw Error(1, tableBytes(slots), kModule, __LINE__);
    } catch (const std::length_error &) {
        throw Error(1, tableBytes(slots), kModule, __LINE__);
    }
}

void Table::endLineBefore(std::size_t at) {
    if (at > 0 && at <= ends_.size() && ends_[at - 1] == End::None) ends_[at - 1] = newEnd_;
}

void Table::insertLine(std::size_t at, std::string line) {
    reserveFor(1);
    if (at > lines_.size()) at = lines_.size();
    // Room for both was reserved above: neither insertion allocates.
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
    ends_.insert(ends_.begin() + static_cast<std::ptrdiff_t>(at), newEnd_);
    endLineBefore(at);
}

void Table::eraseLines(std::size_t from, std::size_t to) {
    if (from >= to || from >= lines_.size()) return;
    if (to > lines_.size()) to = lines_.size();
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(from), lines_.begin() + static_cast<std::ptrdiff_t>(to));
    ends_.erase(ends_.begin() + static_cast<std::ptrdiff_t>(from), ends_.begin() + static_cast<std::ptrdiff_t>(to));
}

void Table::appendSection(const std::string &header, std::string line) {
    // Room for all three lines first: the table changes only once nothing
    // can fail any more.
    reserveFor(3);
    if (!lines_.empty() && !lines_.back().empty()) insertLine(lines_.size(), std::string());
    insertLine(lines_.size(), header);
    insertLine(lines_.size(), std::move(line));
}

long Table::findSection(const char *section) const {
    std::string header;
    if (!formatHeader(section, header)) return -1;
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (startsWithNoCase(lines_[i].c_str(), header)) return static_cast<long>(i);
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
        appendSection(header, keyValueLine(key, value));
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
        appendSection(header, std::move(line));
        return true;
    }
    std::size_t header = static_cast<std::size_t>(found);
    for (std::size_t i = header; i < lines_.size(); ++i)
        if (text::equalsNoCase(lines_[i], line)) return false;
    std::size_t end = header + 1;
    while (end < lines_.size() && !isSectionLine(lines_[end].c_str())) ++end;
    while (end > 1 && lines_[end - 1].empty()) --end;
    insertLine(end, std::move(line));
    return true;
}

void Table::replaceLines(std::size_t from, std::size_t to, const std::vector<std::string> &lines) {
    if (from > lines_.size()) from = lines_.size();
    // Room first: the table changes only once nothing can fail any more.
    reserveFor(lines.size());
    eraseLines(from, to);
    for (std::size_t i = 0; i < lines.size(); ++i) insertLine(from + i, lines[i]);
}

std::string Table::bytes() const {
    std::size_t size = tail_.size();
    for (std::size_t i = 0; i < lines_.size(); ++i) size += lines_[i].size() + 2;
    std::string out;
    out.reserve(size);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const std::string &line = lines_[i];
        out += line;
        // A text ending in CR takes CR LF even where the file's lines end in
        // LF: followed by a bare LF, its CR would read back as the line end.
        const bool endsInCr = !line.empty() && line.back() == '\r';
        if (ends_[i] == End::CrLf || (ends_[i] == End::Lf && endsInCr)) out += '\r';
        if (ends_[i] != End::None) out += '\n';
    }
    out += tail_;
    return out;
}

} // namespace ini
