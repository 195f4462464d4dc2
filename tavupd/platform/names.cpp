#include "platform/names.h"

#include "text/textkit.h"

#include <cstring>

namespace platform::names {

namespace {

// The key token of the current drive's root; '*' is in no name.
const char kDriveRoot[] = "*";
const char kCurrentDirectory[] = ".";

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool isForbidden(char c) {
    return static_cast<unsigned char>(c) < 0x20 || (c != '\0' && std::strchr("<>:\"|?*", c) != nullptr);
}

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The components of `rest`, "." and ".." resolved, trailing dots and blanks
// dropped; false when one holds a character no name holds.
bool splitComponents(const std::string &rest, std::vector<std::string> &parts) {
    std::size_t at = 0;
    while (at <= rest.size()) {
        std::size_t end = at;
        while (end < rest.size() && !isSeparator(rest[end])) ++end;
        std::string part = rest.substr(at, end - at);
        at = end + 1;
        if (part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
        if (part.empty()) continue;
        for (char c : part)
            if (isForbidden(c)) return false;
        parts.push_back(part);
    }
    return true;
}

// "\\server\share" and what follows; false when the share is missing.
bool splitShare(const std::string &path, std::string &root, std::string &rest) {
    std::size_t at = 2;
    std::string names[2];
    for (std::string &name : names) {
        const std::size_t begin = at;
        while (at < path.size() && !isSeparator(path[at])) ++at;
        name = path.substr(begin, at - begin);
        if (name.empty()) return false;
        for (char c : name)
            if (isForbidden(c)) return false;
        if (at < path.size()) ++at;
    }
    root = "\\\\" + upperCase(names[0]) + "\\" + upperCase(names[1]);
    rest = at <= path.size() ? path.substr(at) : std::string();
    return true;
}

std::string joinKey(const std::string &head, const std::vector<std::string> &parts, std::size_t count) {
    std::string key = head;
    for (std::size_t i = 0; i < count; ++i) {
        if (!key.empty() || i > 0) key += '\\';
        key += upperCase(parts[i]);
    }
    return key;
}

} // namespace

std::string upperCase(const std::string &text) {
    std::string out = text;
    for (char &c : out) c = text::upper(c);
    return out;
}

FilePath parseFile(const std::string &path) {
    FilePath p;
    if (path.size() > kLongestPath) {
        p.code = kNameTooLong;
        return p;
    }
    if (path.empty()) {
        p.code = kPathNotFound;
        return p;
    }
    std::string rest;
    if (path.size() >= 2 && isLetter(path[0]) && path[1] == ':') {
        p.root = upperCase(path.substr(0, 2));
        rest = path.substr(2);
    } else if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        if (!splitShare(path, p.root, rest)) p.code = kInvalidName;
    } else if (isSeparator(path[0])) {
        p.root = kDriveRoot;
        rest = path;
    } else {
        p.root = kCurrentDirectory;
        rest = path;
    }
    if (p.valid() && !splitComponents(rest, p.parts)) p.code = kInvalidName;
    if (!p.valid()) p.parts.clear();
    return p;
}

std::string FilePath::key() const { return joinKey(root, parts, parts.size()); }

std::string FilePath::parentKey() const { return joinKey(root, parts, parts.empty() ? 0 : parts.size() - 1); }

std::string FilePath::leaf() const { return parts.empty() ? std::string() : parts.back(); }

std::string FilePath::text() const {
    std::string out;
    if (root == kDriveRoot)
        out = "\\";
    else if (root == kCurrentDirectory)
        out = parts.empty() ? "." : "";
    else
        out = root + "\\";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += '\\';
        out += parts[i];
    }
    return out;
}

FilePath FilePath::child(const std::string &name) const {
    FilePath p = *this;
    p.parts.push_back(name);
    return p;
}

FilePath FilePath::parent() const {
    FilePath p = *this;
    if (!p.parts.empty()) p.parts.pop_back();
    return p;
}

bool isBelow(const std::string &key, const std::string &dir) {
    return key.size() > dir.size() + 1 && key.compare(0, dir.size(), dir) == 0 && key[dir.size()] == '\\';
}

std::string lowerBelow(const std::string &dir) { return dir + '\\'; }

// ']' is the character after '\' in byte order.
std::string upperBelow(const std::string &dir) { return dir + ']'; }

bool isChild(const std::string &key, const std::string &dir) {
    return isBelow(key, dir) && key.find('\\', dir.size() + 1) == std::string::npos;
}

KeyPath parseKey(const std::string &path) {
    KeyPath k;
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = path.find('\\', at);
        if (end == std::string::npos) end = path.size();
        if (end > at) k.parts.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return k;
}

std::string KeyPath::key() const { return joinKey("", parts, parts.size()); }

std::string KeyPath::parentKey() const { return joinKey("", parts, parts.empty() ? 0 : parts.size() - 1); }

std::string KeyPath::leaf() const { return parts.empty() ? std::string() : parts.back(); }

KeyPath KeyPath::parent() const {
    KeyPath k = *this;
    if (!k.parts.empty()) k.parts.pop_back();
    return k;
}

bool isKeyBelow(const std::string &key, const std::string &parent) {
    return parent.empty() ? !key.empty() : isBelow(key, parent);
}

bool isKeyChild(const std::string &key, const std::string &parent) {
    if (!isKeyBelow(key, parent)) return false;
    return key.find('\\', parent.empty() ? 0 : parent.size() + 1) == std::string::npos;
}

std::string valueKey(const std::string *name) { return name == nullptr ? std::string() : upperCase(*name); }

} // namespace platform::names
