// TVSETUP: puts the example product on a (test) machine and helps the demo.
//
//   TVSETUP install <list>            clears what an earlier try left behind and
//                                     installs the product described by <list>
//                                     (examples/product/PRODUCT.LST)
//   TVSETUP hold <file> <ready> <stop>
//                                     opens <file> with no sharing, as Windows
//                                     holds a running program, creates <ready>
//                                     and keeps the file open until <stop>
//                                     exists (at most five minutes)
//
// Exit status 0 on success, 2 on a usage error, 3 when something failed.
// This is a tool of the example kit, not part of the installer.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

int failures = 0;

void complain(const std::string &what) {
    std::fprintf(stderr, "TVSETUP: %s (error %lu)\n", what.c_str(), static_cast<unsigned long>(GetLastError()));
    ++failures;
}

std::string parentOf(const std::string &path) {
    size_t p = path.find_last_of("\\/");
    return p == std::string::npos ? std::string() : path.substr(0, p);
}

std::string windowsDirectory() {
    char buf[MAX_PATH + 1];
    UINT n = GetWindowsDirectoryA(buf, sizeof buf);
    if (n == 0 || n > MAX_PATH) return "C:\\WINDOWS";
    std::string s(buf, n);
    while (!s.empty() && s.back() == '\\') s.pop_back();
    return s;
}

// TAVRO\X -> C:\TAVRO\X, WINDOWS\X -> <Windows directory>\X.
bool targetOf(const std::string &rel, std::string &out) {
    auto starts = [&](const char *prefix) {
        size_t n = std::strlen(prefix);
        return rel.size() >= n && _strnicmp(rel.c_str(), prefix, n) == 0 && (rel.size() == n || rel[n] == '\\');
    };
    if (starts("TAVRO")) {
        out = "C:\\TAVRO" + rel.substr(5);
        return true;
    }
    if (starts("WINDOWS")) {
        out = windowsDirectory() + rel.substr(7);
        return true;
    }
    return false;
}

HKEY rootKey(const std::string &root) {
    if (_stricmp(root.c_str(), "HKLM") == 0) return HKEY_LOCAL_MACHINE;
    if (_stricmp(root.c_str(), "HKCU") == 0) return HKEY_CURRENT_USER;
    if (_stricmp(root.c_str(), "HKCR") == 0) return HKEY_CLASSES_ROOT;
    if (_stricmp(root.c_str(), "HKU") == 0) return HKEY_USERS;
    return nullptr;
}

void makeDirs(const std::string &path) {
    if (path.size() <= 3) return;
    DWORD a = GetFileAttributesA(path.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) return;
    makeDirs(parentOf(path));
    if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        complain("cannot create directory " + path);
}

void removeTree(const std::string &path) {
    DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesA(path.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
    if (a & FILE_ATTRIBUTE_DIRECTORY) {
        WIN32_FIND_DATAA fd;
        HANDLE f = FindFirstFileA((path + "\\*").c_str(), &fd);
        if (f != INVALID_HANDLE_VALUE) {
            std::vector<std::string> names;
            do {
                if (std::strcmp(fd.cFileName, ".") != 0 && std::strcmp(fd.cFileName, "..") != 0)
                    names.push_back(fd.cFileName);
            } while (FindNextFileA(f, &fd));
            FindClose(f);
            for (const auto &n : names) removeTree(path + "\\" + n);
        }
        if (!RemoveDirectoryA(path.c_str())) complain("cannot remove " + path);
    } else if (!DeleteFileA(path.c_str())) {
        complain("cannot delete " + path);
    }
}

void deleteKeyTree(HKEY root, const std::string &path) {
    HKEY k;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS) return;
    for (;;) {
        char name[512];
        DWORD len = sizeof name;
        if (RegEnumKeyExA(k, 0, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        size_t before = 0;
        {
            DWORD subkeys = 0;
            RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr);
            before = subkeys;
        }
        deleteKeyTree(k, name);
        DWORD after = 0;
        RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &after, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr);
        if (after >= before) { // could not delete it: stop instead of looping
            complain("cannot delete registry key " + path + "\\" + name);
            break;
        }
    }
    RegCloseKey(k);
    RegDeleteKeyA(root, path.c_str());
}

bool parseDateTime(const std::string &s, SYSTEMTIME &st) {
    int y, mo, d, h, mi, se;
    char tail;
    if (std::sscanf(s.c_str(), "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &se, &tail) != 6) return false;
    if (y < 1980 || y > 2107 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
        se < 0 || se > 59)
        return false;
    st = SYSTEMTIME{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(se);
    return true;
}

// Sets the last-write time, given as local time.
bool setLocalWriteTime(const std::string &path, const SYSTEMTIME &local) {
    FILETIME lft, ft;
    if (!SystemTimeToFileTime(&local, &lft) || !LocalFileTimeToFileTime(&lft, &ft)) return false;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BOOL ok = SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
    return ok != FALSE;
}

// Removes one key of a section of an INI file, leaving everything else as it is.
void clearIniKey(const std::string &path, const std::string &section, const std::string &key) {
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    in.close();
    std::string text = all.str(), out, line, current;
    bool changed = false;
    std::istringstream lines(text);
    while (std::getline(lines, line)) {
        std::string bare = line;
        if (!bare.empty() && bare.back() == '\r') bare.pop_back();
        size_t s = bare.find_first_not_of(" \t");
        if (s != std::string::npos && bare[s] == '[') {
            size_t e = bare.find(']', s);
            current = bare.substr(s + 1, e == std::string::npos ? std::string::npos : e - s - 1);
        } else if (_stricmp(current.c_str(), section.c_str()) == 0 && s != std::string::npos) {
            size_t eq = bare.find('=', s);
            if (eq != std::string::npos) {
                std::string k = bare.substr(s, eq - s);
                while (!k.empty() && (k.back() == ' ' || k.back() == '\t')) k.pop_back();
                if (_stricmp(k.c_str(), key.c_str()) == 0) {
                    changed = true;
                    continue;
                }
            }
        }
        out += line;
        if (!lines.eof()) out += '\n';
    }
    if (!changed) return;
    std::ofstream o(path, std::ios::binary | std::ios::trunc);
    o << out;
    if (!o) complain("cannot rewrite " + path);
}

std::vector<std::string> split(const std::string &line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t bar = line.find('|', start);
        fields.push_back(line.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    return fields;
}

int install(const std::string &listPath) {
    std::ifstream in(listPath);
    if (!in) {
        complain("cannot read " + listPath);
        return 3;
    }
    const std::string base = parentOf(listPath);
    std::vector<std::vector<std::string>> entries;
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == ';') continue;
        auto f = split(line);
        const std::string &kind = f[0];
        size_t want = kind == "clear" ? 2 : kind == "clearini" ? 4 : kind == "clearreg" ? 3 : kind == "file" ? 3
                      : kind == "reg" ? 5 : 0;
        if (want == 0 || f.size() != want) {
            std::fprintf(stderr, "TVSETUP: %s line %d: not understood: %s\n", listPath.c_str(), lineNo, line.c_str());
            return 2;
        }
        entries.push_back(f);
    }

    // First everything that an earlier try left behind...
    for (const auto &f : entries) {
        std::string target;
        if (f[0] == "clear" || f[0] == "clearini") {
            if (!targetOf(f[1], target)) {
                std::fprintf(stderr, "TVSETUP: not below TAVRO or WINDOWS: %s\n", f[1].c_str());
                return 2;
            }
            if (f[0] == "clear")
                removeTree(target);
            else
                clearIniKey(target, f[2], f[3]);
        } else if (f[0] == "clearreg") {
            HKEY root = rootKey(f[1]);
            if (!root) {
                std::fprintf(stderr, "TVSETUP: unknown root %s\n", f[1].c_str());
                return 2;
            }
            deleteKeyTree(root, f[2]);
        }
    }
    // ...then the product.
    for (const auto &f : entries) {
        if (f[0] == "file") {
            std::string target;
            SYSTEMTIME when;
            if (!targetOf(f[1], target) || !parseDateTime(f[2], when)) {
                std::fprintf(stderr, "TVSETUP: bad file entry %s|%s\n", f[1].c_str(), f[2].c_str());
                return 2;
            }
            const std::string source = base + "\\" + f[1];
            makeDirs(parentOf(target));
            if (!CopyFileA(source.c_str(), target.c_str(), FALSE))
                complain("cannot copy " + source + " to " + target);
            else if (!setLocalWriteTime(target, when))
                complain("cannot set the time of " + target);
        } else if (f[0] == "reg") {
            HKEY root = rootKey(f[1]), k;
            if (!root) {
                std::fprintf(stderr, "TVSETUP: unknown root %s\n", f[1].c_str());
                return 2;
            }
            if (RegCreateKeyExA(root, f[2].c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) !=
                ERROR_SUCCESS) {
                complain("cannot create registry key " + f[1] + "\\" + f[2]);
                continue;
            }
            const char *name = f[3] == "@" ? nullptr : f[3].c_str();
            if (RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(f[4].c_str()),
                               static_cast<DWORD>(f[4].size() + 1)) != ERROR_SUCCESS)
                complain("cannot set registry value " + f[3]);
            RegCloseKey(k);
        }
    }
    return failures == 0 ? 0 : 3;
}

int hold(const std::string &file, const std::string &ready, const std::string &stop) {
    HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        complain("cannot open " + file);
        return 3;
    }
    HANDLE r = CreateFileA(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (r == INVALID_HANDLE_VALUE) {
        complain("cannot create " + ready);
        CloseHandle(h);
        return 3;
    }
    CloseHandle(r);
    for (int i = 0; i < 3000 && GetFileAttributesA(stop.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
    CloseHandle(h);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 3 && _stricmp(argv[1], "install") == 0) return install(argv[2]);
    if (argc == 5 && _stricmp(argv[1], "hold") == 0) return hold(argv[2], argv[3], argv[4]);
    std::fprintf(stderr, "usage: TVSETUP install <list>\n       TVSETUP hold <file> <ready> <stop>\n");
    return 2;
}
