#include "journal/fields.h"

#include "journal/format.h"

namespace journal::fields {

const KindName kKindNames[14] = {
    {change::Kind::DirectoryCreated, "dir-created"},
    {change::Kind::FileCreated, "file-created"},
    {change::Kind::FileReplaced, "file-replaced"},
    {change::Kind::FileMoved, "file-moved"},
    {change::Kind::FileRemoved, "file-removed"},
    {change::Kind::RestartRegistered, "restart-registered"},
    {change::Kind::IniKeySet, "ini-set"},
    {change::Kind::IniKeyDeleted, "ini-deleted"},
    {change::Kind::IniSectionDeleted, "ini-section-deleted"},
    {change::Kind::RegValueSet, "reg-set"},
    {change::Kind::RegValueDeleted, "reg-deleted"},
    {change::Kind::RegKeyCreated, "reg-key-created"},
    {change::Kind::RegTreeDeleted, "reg-tree-deleted"},
    {change::Kind::PatchRecorded, "patch-recorded"},
};

namespace {

const char kHex[] = "0123456789ABCDEF";

struct RootName {
    platform::Root root;
    const char *word;
};
const RootName kRoots[] = {{platform::Root::LocalMachine, "HKLM"},
                           {platform::Root::CurrentUser, "HKCU"},
                           {platform::Root::ClassesRoot, "HKCR"},
                           {platform::Root::Users, "HKU"}};

const char *const kTypes[] = {"REG_NONE",   "REG_SZ",               "REG_EXPAND_SZ", "REG_BINARY",
                              "REG_DWORD", "REG_DWORD_BIG_ENDIAN", "REG_LINK",      "REG_MULTI_SZ"};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool keptAsIs(unsigned char u) { return u >= 0x20 && u <= 0x7e && u != '"' && u != '%'; }

bool wordByte(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
}

bool nameByte(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; }

// One field at `pos` (just after the blanks before it).
std::optional<Field> cutField(std::string_view line, std::size_t &pos, std::string &problem) {
    const std::size_t start = pos;
    while (pos < line.size() && nameByte(line[pos])) ++pos;
    if (pos == start || pos >= line.size() || line[pos] != '=') {
        problem = "a field is not name=value";
        return std::nullopt;
    }
    Field f;
    f.name.assign(line.substr(start, pos - start));
    ++pos;
    if (pos < line.size() && line[pos] == '"') {
        const std::size_t close = line.find('"', pos + 1);
        if (close == std::string_view::npos) {
            problem = "a quoted value is not closed";
            return std::nullopt;
        }
        std::optional<std::string> value = unescape(line.substr(pos + 1, close - pos - 1));
        if (!value) {
            problem = "a quoted value holds a byte that is not escaped as %XX";
            return std::nullopt;
        }
        f.value = std::move(*value);
        f.quoted = true;
        pos = close + 1;
    } else {
        const std::size_t begin = pos;
        while (pos < line.size() && wordByte(line[pos])) ++pos;
        if (pos == begin) {
            problem = "a field has no value";
            return std::nullopt;
        }
        f.value.assign(line.substr(begin, pos - begin));
    }
    if (pos < line.size() && line[pos] != ' ') {
        problem = "fields are not separated by blanks";
        return std::nullopt;
    }
    return f;
}

} // namespace

const char *rootWord(platform::Root root) {
    for (const RootName &r : kRoots)
        if (r.root == root) return r.word;
    return "HKLM";
}

std::optional<platform::Root> rootOf(std::string_view word) {
    for (const RootName &r : kRoots)
        if (word == r.word) return r.root;
    return std::nullopt;
}

std::string typeWord(std::uint32_t type) {
    if (type < sizeof kTypes / sizeof kTypes[0]) return kTypes[type];
    return std::to_string(type);
}

std::optional<std::uint32_t> typeOf(std::string_view word) {
    for (std::uint32_t t = 0; t < sizeof kTypes / sizeof kTypes[0]; ++t)
        if (word == kTypes[t]) return t;
    std::optional<std::uint64_t> n = decimal(word);
    if (!n || *n > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<std::uint32_t>(*n);
}

std::string escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (keptAsIs(u)) {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

std::optional<std::string> unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char u = static_cast<unsigned char>(text[i]);
        if (u != '%') {
            if (!keptAsIs(u)) return std::nullopt;
            out += text[i];
            continue;
        }
        const int high = i + 1 < text.size() ? hexDigit(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? hexDigit(text[i + 2]) : -1;
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

Writer::Writer(std::uint64_t seq, const char *kind) : line_(std::to_string(seq)) {
    line_ += ' ';
    line_ += kind;
}

void Writer::text(const char *name, std::string_view value) {
    line_ += ' ';
    line_ += name;
    line_ += "=\"";
    line_ += escape(value);
    line_ += '"';
}

void Writer::word(const char *name, std::string_view word) {
    line_ += ' ';
    line_ += name;
    line_ += '=';
    line_ += word;
}

std::string Writer::take() {
    const std::uint32_t crc = crc32(line_);
    line_ += kCheck;
    for (int shift = 28; shift >= 0; shift -= 4) line_ += kHex[(crc >> shift) & 0xFu];
    return std::move(line_);
}

std::optional<std::string_view> checkedLine(std::string_view line) {
    const std::size_t tail = std::string_view(kCheck).size() + 8;
    if (line.size() < tail || line.substr(line.size() - tail, tail - 8) != kCheck) return std::nullopt;
    const std::string_view body = line.substr(0, line.size() - tail);
    const std::optional<std::uint32_t> crc = hex8(line.substr(line.size() - 8));
    if (!crc || *crc != crc32(body)) return std::nullopt;
    return body;
}

void Writer::number(const char *name, std::uint64_t value) { word(name, std::to_string(value)); }

void Writer::hex(const char *name, std::uint32_t value) {
    std::string digits;
    for (int shift = 28; shift >= 0; shift -= 4) digits += kHex[(value >> shift) & 0xFu];
    word(name, digits);
}

std::optional<std::uint64_t> decimal(std::string_view word) {
    if (word.empty() || word.size() > 19) return std::nullopt; // 19 digits always fit
    std::uint64_t value = 0;
    for (char c : word) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

std::optional<std::uint32_t> hex8(std::string_view word) {
    if (word.size() != 8) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : word) {
        const int d = hexDigit(c);
        if (d < 0) return std::nullopt;
        value = value << 4 | static_cast<std::uint32_t>(d);
    }
    return value;
}

std::optional<Cut> cutLine(std::string_view line, std::string &problem) {
    Cut cut;
    std::size_t pos = line.find(' ');
    std::optional<std::uint64_t> seq = decimal(line.substr(0, pos));
    if (!seq || pos == std::string_view::npos) {
        problem = "the line does not begin with a record number and a kind";
        return std::nullopt;
    }
    cut.seq = *seq;
    const std::size_t kindStart = ++pos;
    while (pos < line.size() && nameByte(line[pos])) ++pos;
    cut.kind.assign(line.substr(kindStart, pos - kindStart));
    if (cut.kind.empty() || (pos < line.size() && line[pos] != ' ')) {
        problem = "the record kind is not a word";
        return std::nullopt;
    }
    for (;;) {
        while (pos < line.size() && line[pos] == ' ') ++pos;
        if (pos >= line.size()) return cut;
        std::optional<Field> f = cutField(line, pos, problem);
        if (!f) return std::nullopt;
        cut.fields.push_back(std::move(*f));
    }
}

} // namespace journal::fields
