#include "state.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace tvbench {

namespace {

[[noreturn]] void fail(const std::string &what, DWORD error) {
    throw std::runtime_error("snapshot: " + what + " (error " + std::to_string(error) + ")");
}

struct HandleCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using FileOwner = std::unique_ptr<void, HandleCloser>;

struct FindCloser {
    void operator()(HANDLE h) const { FindClose(h); }
};
using FindOwner = std::unique_ptr<void, FindCloser>;

class KeyOwner {
  public:
    KeyOwner() = default;
    ~KeyOwner() {
        if (key_) RegCloseKey(key_);
    }
    KeyOwner(const KeyOwner &) = delete;
    KeyOwner &operator=(const KeyOwner &) = delete;
    HKEY get() const { return key_; }
    PHKEY put() { return &key_; }

  private:
    HKEY key_ = nullptr;
};

unsigned long long asNumber(const FILETIME &t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

std::string timeText(const FILETIME &t, unsigned long long freshAfter) {
    const unsigned long long n = asNumber(t);
    if (freshAfter != 0 && n > freshAfter) return "fresh";
    SYSTEMTIME s;
    if (!FileTimeToSystemTime(&t, &s)) return "time " + std::to_string(n);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u.%07llu UTC", s.wYear, s.wMonth, s.wDay,
                  s.wHour, s.wMinute, s.wSecond, n % 10000000ull);
    return buffer;
}

std::string attributeText(DWORD a) {
    std::string text;
    if (a & FILE_ATTRIBUTE_READONLY) text += 'R';
    if (a & FILE_ATTRIBUTE_HIDDEN) text += 'H';
    if (a & FILE_ATTRIBUTE_SYSTEM) text += 'S';
    if (a & FILE_ATTRIBUTE_ARCHIVE) text += 'A';
    return text.empty() ? "-" : text;
}

std::string hex64(unsigned long long n) {
    char buffer[20];
    std::snprintf(buffer, sizeof buffer, "%016llx", n);
    return buffer;
}

// Size, time, attributes and hash of one file.
std::string describeFile(const std::string &path, unsigned long long freshAfter) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info)) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return "absent";
        fail("status of " + path, error);
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return "directory " + attributeText(info.dwFileAttributes);

    FileOwner file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        file.release();
        fail("open " + path, GetLastError());
    }
    constexpr DWORD kChunk = 1 << 20;
    std::vector<char> buffer(kChunk);
    unsigned long long hash = 0;
    unsigned long long total = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer.data(), kChunk, &got, nullptr)) fail("read " + path, GetLastError());
        if (got == 0) break;
        hash = contentHash(buffer.data(), got, hash);
        total += got;
    }
    const unsigned long long size =
        (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (total != size) fail("read of " + path + " gave " + std::to_string(total) + " bytes", 0);
    return "file size=" + std::to_string(size) + " written=" + timeText(info.ftLastWriteTime, freshAfter) +
           " attributes=" + attributeText(info.dwFileAttributes) + " hash=" + hex64(hash);
}

void addTree(Snapshot &out, const std::string &dir, unsigned long long freshAfter) {
    const std::string self = describeFile(dir, freshAfter);
    out[dir] = self;
    if (self.rfind("directory", 0) != 0) return;

    WIN32_FIND_DATAA data;
    FindOwner find(FindFirstFileA((dir + "\\*").c_str(), &data));
    if (find.get() == INVALID_HANDLE_VALUE) {
        find.release();
        fail("listing of " + dir, GetLastError());
    }
    std::vector<std::string> names;
    do {
        if (std::strcmp(data.cFileName, ".") != 0 && std::strcmp(data.cFileName, "..") != 0)
            names.push_back(data.cFileName);
    } while (FindNextFileA(find.get(), &data));
    const DWORD end = GetLastError();
    if (end != ERROR_NO_MORE_FILES) fail("listing of " + dir, end);
    find.reset();
    for (const std::string &name : names) addTree(out, dir + "\\" + name, freshAfter);
}

HKEY rootOf(const std::string &path, std::string &rest) {
    static const struct {
        const char *name;
        HKEY key;
    } roots[] = {{"HKLM", HKEY_LOCAL_MACHINE},
                 {"HKCU", HKEY_CURRENT_USER},
                 {"HKCR", HKEY_CLASSES_ROOT},
                 {"HKU", HKEY_USERS}};
    const size_t cut = path.find('\\');
    const std::string root = path.substr(0, cut);
    rest = cut == std::string::npos ? std::string() : path.substr(cut + 1);
    for (const auto &r : roots)
        if (root == r.name) return r.key;
    throw std::runtime_error("snapshot: unknown registry root in " + path);
}

std::string dataText(DWORD type, const std::vector<unsigned char> &data) {
    std::string text = "value type=" + std::to_string(type) + " data=";
    for (unsigned char c : data) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            text += static_cast<char>(c);
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02x", c);
            text += buffer;
        }
    }
    return text;
}

// Type and data of one value of an open key; false when it does not exist.
bool readValue(HKEY key, const std::string &name, std::string &out) {
    DWORD type = 0, size = 0;
    LONG rc = RegQueryValueExA(key, name.empty() ? nullptr : name.c_str(), nullptr, &type, nullptr, &size);
    if (rc == ERROR_FILE_NOT_FOUND) return false;
    if (rc != ERROR_SUCCESS) fail("size of value " + name, static_cast<DWORD>(rc));
    std::vector<unsigned char> data(size);
    rc = RegQueryValueExA(key, name.empty() ? nullptr : name.c_str(), nullptr, &type, data.empty() ? nullptr : &data[0],
                          &size);
    if (rc != ERROR_SUCCESS) fail("value " + name, static_cast<DWORD>(rc));
    data.resize(size);
    out = dataText(type, data);
    return true;
}

std::string valueEntry(const std::string &keyPath, const std::string &name) {
    return keyPath + " : " + (name.empty() ? std::string("(default)") : name);
}

void addKeyTree(Snapshot &out, HKEY parent, const std::string &subkey, const std::string &fullPath) {
    KeyOwner key;
    const LONG rc = RegOpenKeyExA(parent, subkey.c_str(), 0, KEY_READ, key.put());
    if (rc == ERROR_FILE_NOT_FOUND) {
        out[fullPath] = "absent";
        return;
    }
    if (rc != ERROR_SUCCESS) fail("open key " + fullPath, static_cast<DWORD>(rc));
    out[fullPath] = "key";

    DWORD subKeys = 0, maxSubKey = 0, values = 0, maxValueName = 0;
    LONG status = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr, &values,
                                   &maxValueName, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) fail("information of key " + fullPath, static_cast<DWORD>(status));

    std::vector<char> name(maxValueName + 2);
    for (DWORD i = 0; i < values; ++i) {
        DWORD length = static_cast<DWORD>(name.size());
        status = RegEnumValueA(key.get(), i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) fail("value list of " + fullPath, static_cast<DWORD>(status));
        const std::string valueName(name.data(), length);
        std::string text;
        if (readValue(key.get(), valueName, text)) out[valueEntry(fullPath, valueName)] = text;
    }

    std::vector<std::string> children;
    std::vector<char> child(maxSubKey + 2);
    for (DWORD i = 0; i < subKeys; ++i) {
        DWORD length = static_cast<DWORD>(child.size());
        status = RegEnumKeyExA(key.get(), i, child.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) fail("subkey list of " + fullPath, static_cast<DWORD>(status));
        children.emplace_back(child.data(), length);
    }
    for (const std::string &c : children) addKeyTree(out, key.get(), c, fullPath + "\\" + c);
}

} // namespace

unsigned long long contentHash(const void *data, size_t size, unsigned long long seed) {
    // Eight bytes at a time; each step is a bijection of the running value
    // for a given word, so any single changed word changes the result.
    const unsigned char *p = static_cast<const unsigned char *>(data);
    unsigned long long h = seed ^ 0x27D4EB2F165667C5ull;
    auto step = [&h](unsigned long long word) {
        h ^= word * 0x9E3779B97F4A7C15ull;
        h = (h << 31) | (h >> 33);
        h *= 0xC2B2AE3D27D4EB4Full;
    };
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        unsigned long long word;
        std::memcpy(&word, p + i, 8);
        step(word);
    }
    unsigned long long tail = 0;
    for (size_t k = 0; i + k < size; ++k) tail |= static_cast<unsigned long long>(p[i + k]) << (8 * k);
    step(tail ^ (static_cast<unsigned long long>(size - i) << 56));
    return h;
}

Snapshot takeSnapshot(const StateScope &scope) {
    Snapshot out;
    for (const std::string &dir : scope.trees) addTree(out, dir, scope.freshAfter);
    for (const std::string &file : scope.files) out[file] = describeFile(file, scope.freshAfter);
    for (const std::string &path : scope.registryTrees) {
        std::string rest;
        const HKEY root = rootOf(path, rest);
        addKeyTree(out, root, rest, path);
    }
    for (const auto &value : scope.registryValues) {
        std::string rest;
        const HKEY root = rootOf(value.first, rest);
        KeyOwner key;
        std::string text = "absent";
        const LONG rc = RegOpenKeyExA(root, rest.c_str(), 0, KEY_READ, key.put());
        if (rc == ERROR_SUCCESS)
            readValue(key.get(), value.second, text);
        else if (rc != ERROR_FILE_NOT_FOUND)
            fail("open key " + value.first, static_cast<DWORD>(rc));
        out[valueEntry(value.first, value.second)] = text;
    }
    return out;
}

std::vector<std::string> compareSnapshots(const Snapshot &a, const Snapshot &b, const std::string &nameA,
                                          const std::string &nameB) {
    std::vector<std::string> differences;
    auto line = [&](const std::string &entry, const std::string &left, const std::string &right) {
        differences.push_back(entry + "\n    " + nameA + ": " + left + "\n    " + nameB + ": " + right);
    };
    auto i = a.begin();
    auto j = b.begin();
    while (i != a.end() || j != b.end()) {
        if (j == b.end() || (i != a.end() && i->first < j->first)) {
            line(i->first, i->second, "absent");
            ++i;
        } else if (i == a.end() || j->first < i->first) {
            line(j->first, "absent", j->second);
            ++j;
        } else {
            if (i->second != j->second) line(i->first, i->second, j->second);
            ++i;
            ++j;
        }
    }
    return differences;
}

} // namespace tvbench
