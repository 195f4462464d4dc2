#include "harness.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>

#ifndef E2E_TAVUPD_EXE
#error "E2E_TAVUPD_EXE must name the built program"
#endif

namespace e2e {
namespace {

[[noreturn]] void fail(const std::string &what) {
    throw std::runtime_error(what + " (error " + std::to_string(GetLastError()) + ")");
}

std::string parentOf(const std::string &path) {
    size_t p = path.find_last_of('\\');
    return p == std::string::npos ? std::string() : path.substr(0, p);
}

std::string quoteArg(const std::string &a) {
    if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos) return a;
    std::string q = "\"";
    for (char c : a) {
        if (c == '"') q += '\\';
        q += c;
    }
    return q + "\"";
}


const char *kPendingKey = "System\\CurrentControlSet\\Control\\Session Manager";


// FNV-1a of a file's bytes; "-" when it cannot be read.
std::string hashOf(const std::string &path) {
    const std::optional<std::string> bytes = readFile(path);
    if (!bytes) return "-";
    unsigned long long h = 1469598103934665603ull;
    for (unsigned char c : *bytes) h = (h ^ c) * 1099511628211ull;
    char buf[24];
    std::snprintf(buf, sizeof buf, "%016llx", h);
    return buf;
}

bool sameNoCase(const std::string &a, const std::string &b) { return _stricmp(a.c_str(), b.c_str()) == 0; }

// Every file and directory below `dir`: attributes, size, last-write time
// and, for files, the hash of the bytes. `skip` paths (files or directories) are left out.
void snapshotFiles(const std::string &dir, const std::vector<std::string> &skip, bool exactTimes,
                   std::map<std::string, std::string> &out) {
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = d.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = dir + "\\" + name;
        if (std::any_of(skip.begin(), skip.end(), [&](const std::string &s) { return sameNoCase(s, path); })) continue;
        char facts[96];
        std::snprintf(facts, sizeof facts, "attr %lx size %lu:%lu written %lu:%lu", d.dwFileAttributes,
                      d.nFileSizeHigh, d.nFileSizeLow, d.ftLastWriteTime.dwHighDateTime,
                      d.ftLastWriteTime.dwLowDateTime);
        const bool directory = (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // A link leads out of the prefix (Wine's user folders are links to
        // the Linux home directory).
        if (directory && (d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;
        if (!exactTimes) {
            // Files by their date as the date rule reads it, directories
            // without a time.
            FILETIME local{};
            WORD date = 0, time = 0;
            FileTimeToLocalFileTime(&d.ftLastWriteTime, &local);
            FileTimeToDosDateTime(&local, &date, &time);
            if (directory)
                std::snprintf(facts, sizeof facts, "attr %lx directory", d.dwFileAttributes);
            else
                std::snprintf(facts, sizeof facts, "attr %lx size %lu:%lu dos %04x:%04x", d.dwFileAttributes,
                              d.nFileSizeHigh, d.nFileSizeLow, date, time);
        }
        out[path] = std::string(facts) + (directory ? "" : " hash " + hashOf(path));
        if (directory) snapshotFiles(path, skip, exactTimes, out);
    } while (FindNextFileA(h, &d));
    FindClose(h);
}

// Every key below `path` with its values (type and bytes in hex).
void snapshotKeys(HKEY root, const std::string &rootName, const std::string &path,
                  const std::vector<std::string> &skip, std::map<std::string, std::string> &out) {
    const std::string full = rootName + (path.empty() ? "" : "\\" + path);
    if (std::any_of(skip.begin(), skip.end(), [&](const std::string &s) { return sameNoCase(s, full); })) return;
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        out[full] = "cannot be opened";
        return;
    }
    std::string values;
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameSize = sizeof name, type = 0, dataSize = 0;
        LONG rc = RegEnumValueA(key, i, name, &nameSize, nullptr, &type, nullptr, &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) {
            values += "?";
            break;
        }
        std::vector<BYTE> data(dataSize + 1);
        nameSize = sizeof name;
        DWORD got = dataSize;
        RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data.data(), &got);
        values += std::string(name) + "=" + std::to_string(type) + ":";
        static const char hex[] = "0123456789abcdef";
        for (DWORD b = 0; b < got && b < data.size(); ++b) {
            values += hex[data[b] >> 4];
            values += hex[data[b] & 15];
        }
        values += ";";
    }
    out[full] = values;
    std::vector<std::string> subkeys;
    for (DWORD i = 0;; ++i) {
        char name[1024];
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subkeys.push_back(name);
    }
    RegCloseKey(key);
    for (const std::string &sub : subkeys)
        snapshotKeys(root, rootName, path.empty() ? sub : path + "\\" + sub, skip, out);
}

} // namespace

std::string tavupdExe() { return E2E_TAVUPD_EXE; }
std::string tavupdFaultExe() { return E2E_TAVUPD_FAULT_EXE; }
std::string tavupdWide95Exe() { return E2E_TAVUPD_WIDE95_EXE; }
std::string restarterExe() { return E2E_RESTARTER_EXE; }
std::string languageFile() { return E2E_LANGUAGE_FILE; }

std::string windowsDir() {
    char buf[MAX_PATH];
    UINT n = GetWindowsDirectoryA(buf, sizeof buf);
    std::string s(buf, n);
    while (!s.empty() && s.back() == '\\') s.pop_back();
    return s;
}

void resetMachine() {
    removeTree("C:\\TAVRO");
    removeTree("C:\\E2E");
    const std::string win = windowsDir();
    for (const char *f : {"TAVRO.INI", "WININIT.INI", "E2E.INI", "E2E2.INI"}) {
        std::string p = win + "\\" + f;
        SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(p.c_str());
    }
    removeTree(win + "\\E2E");
    deleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvek");
    deleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\E2ETest");
    deleteKeyTree(HKEY_CURRENT_USER, "Software\\E2ETest");
    deleteKeyTree(HKEY_CLASSES_ROOT, "E2ETest");
    deleteKeyTree(HKEY_USERS, ".DEFAULT\\Software\\E2ETest");
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPendingKey, 0, KEY_ALL_ACCESS, &k) == ERROR_SUCCESS) {
        RegDeleteValueA(k, "PendingFileRenameOperations");
        RegDeleteValueA(k, "PendingFileRenameOperations2");
        RegCloseKey(k);
    }
}

void installProduct(const std::string &root, int interactive, const std::string &extraSystemIni) {
    makeDirs(root);
    std::string ini = "[Tavro]\nroot=" + root + "\n";
    if (interactive >= 0) ini += "\n[Patch]\nInteractive=" + std::to_string(interactive) + "\n";
    ini += extraSystemIni;
    writeFile(windowsDir() + "\\TAVRO.INI", crlf(ini));
}

void setWindowsVersion(const std::string &exeName, const std::string &version) {
    std::string path = "Software\\Wine\\AppDefaults\\" + exeName;
    regSetString("HKCU", path, "Version", version);
}

PatchDir::PatchDir(const std::string &name, bool useFaultBuild) : dir_("C:\\E2E\\" + name) {
    removeTree(dir_);
    makeDirs(dir_);
    const std::string exe = useFaultBuild ? tavupdFaultExe() : tavupdExe();
    if (!CopyFileA(exe.c_str(), path("TAVUPD.EXE").c_str(), FALSE)) fail("copy " + exe);
    if (!CopyFileA(languageFile().c_str(), path("TAVUPD.MSG").c_str(), FALSE)) fail("copy " + languageFile());
}

void PatchDir::writeProfile(const std::string &text) const { e2e::writeFile(path("TAVUPD.DAT"), crlf(text)); }

void PatchDir::writeFile(const std::string &name, const std::string &bytes) const {
    e2e::writeFile(path(name), bytes);
}

RunResult runProgram(const std::string &exe, const std::vector<std::string> &args, const std::string &cwd,
                     DWORD timeoutMs, const std::vector<std::string> &extraEnv) {
    RunResult r;
    char tmpDir[MAX_PATH];
    GetTempPathA(sizeof tmpDir, tmpDir);
    char outName[MAX_PATH], errName[MAX_PATH];
    GetTempFileNameA(tmpDir, "out", 0, outName);
    GetTempFileNameA(tmpDir, "err", 0, errName);

    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileA(outName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE err = CreateFileA(errName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE) fail("capture files");

    std::string cmd = quoteArg(exe);
    for (const auto &a : args) cmd += " " + quoteArg(a);
    std::vector<char> cmdBuf(cmd.begin(), cmd.end());
    cmdBuf.push_back('\0');

    // Environment: ours plus the extra NAME=VALUE entries.
    std::vector<char> envBlock;
    if (!extraEnv.empty()) {
        LPCH env = GetEnvironmentStringsA();
        for (LPCH p = env; *p; p += std::strlen(p) + 1) {
            std::string entry(p);
            bool replaced = false;
            for (const auto &e : extraEnv) {
                auto eq = e.find('=');
                if (_strnicmp(entry.c_str(), e.c_str(), eq + 1) == 0) replaced = true;
            }
            if (!replaced) envBlock.insert(envBlock.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
        }
        FreeEnvironmentStringsA(env);
        for (const auto &e : extraEnv) envBlock.insert(envBlock.end(), e.c_str(), e.c_str() + e.size() + 1);
        envBlock.push_back('\0');
    }

    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    std::string dir = cwd.empty() ? parentOf(exe) : cwd;
    // Under a heavily loaded host Wine now and then fails to bring up a new
    // process (ERROR_INTERNAL_ERROR and the like) although the program is
    // fine; a missing or broken program fails every time and is not retried.
    BOOL ok = FALSE;
    for (int attempt = 0; attempt < 5 && !ok; ++attempt) {
        if (attempt > 0) Sleep(200 * attempt);
        ok = CreateProcessA(exe.c_str(), cmdBuf.data(), nullptr, nullptr, TRUE, 0,
                            envBlock.empty() ? nullptr : envBlock.data(), dir.empty() ? nullptr : dir.c_str(), &si,
                            &pi);
        const DWORD e = ok ? 0 : GetLastError();
        if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_BAD_EXE_FORMAT) break;
    }
    CloseHandle(out);
    CloseHandle(err);
    CloseHandle(in);
    if (!ok) fail("start " + exe);
    if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        r.timedOut = true;
        TerminateProcess(pi.hProcess, 255);
        WaitForSingleObject(pi.hProcess, 5000);
    }
    GetExitCodeProcess(pi.hProcess, &r.exitCode);
    r.processId = pi.dwProcessId;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    r.out = readFile(outName).value_or("");
    r.err = readFile(errName).value_or("");
    DeleteFileA(outName);
    DeleteFileA(errName);
    return r;
}

bool startedProgramRunning(DWORD processId) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) fail("process snapshot");
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32First(snap, &entry); more && !found; more = Process32Next(snap, &entry))
        // Wine starts its desktop (explorer.exe) and console hosts on demand
        // as children of the first program that needs them; they stay.
        found = entry.th32ParentProcessID == processId && entry.th32ProcessID != processId &&
                _stricmp(entry.szExeFile, "explorer.exe") != 0 && _stricmp(entry.szExeFile, "conhost.exe") != 0;
    CloseHandle(snap);
    return found;
}

bool waitForStartedPrograms(DWORD processId, DWORD ms) {
    for (DWORD waited = 0;; waited += 50) {
        if (!startedProgramRunning(processId)) return true;
        if (waited >= ms) return false;
        Sleep(50);
    }
}

bool waitUntilClosed(const std::string &path, DWORD ms) {
    for (DWORD waited = 0;; waited += 50) {
        // Opening without sharing write access succeeds only when nobody
        // holds the file open for writing.
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            return true;
        }
        if (waited >= ms) return false;
        Sleep(50);
    }
}

RunResult runTavupd(const PatchDir &patch, const std::vector<std::string> &args, const std::string &version,
                    DWORD timeoutMs, const std::vector<std::string> &extraEnv) {
    setWindowsVersion("TAVUPD.EXE", version);
    return runProgram(patch.path("TAVUPD.EXE"), args, patch.dir(), timeoutMs, extraEnv);
}

// ---- files -----------------------------------------------------------------

bool exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool isDirectory(const std::string &path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<std::string> readFile(const std::string &path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string s;
    char buf[65536];
    DWORD got;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) s.append(buf, got);
    CloseHandle(h);
    return s;
}

void writeFile(const std::string &path, const std::string &bytes) {
    makeDirs(parentOf(path));
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) fail("write " + path);
    DWORD n = 0;
    if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
    CloseHandle(h);
}

void makeDirs(const std::string &path) {
    if (path.empty() || isDirectory(path)) return;
    std::string parent = parentOf(path);
    if (!parent.empty() && parent.size() > 2) makeDirs(parent);
    CreateDirectoryA(path.c_str(), nullptr);
}

void deleteKeyTree(HKEY root, const std::string &path) {
    HKEY k;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS) return;
    for (;;) {
        char name[512];
        DWORD len = sizeof name;
        if (RegEnumKeyExA(k, 0, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        deleteKeyTree(k, name);
    }
    RegCloseKey(k);
    RegDeleteKeyA(root, path.c_str());
}

void removeTree(const std::string &path) {
    DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return;
    if (a & FILE_ATTRIBUTE_DIRECTORY) {
        for (const auto &n : listDir(path)) removeTree(path + "\\" + n);
        RemoveDirectoryA(path.c_str());
    } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
}

bool getDosTime(const std::string &path, WORD &date, WORD &time) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    FILETIME ft, local;
    bool ok = GetFileTime(h, nullptr, nullptr, &ft) && FileTimeToLocalFileTime(&ft, &local) &&
              FileTimeToDosDateTime(&local, &date, &time);
    CloseHandle(h);
    return ok;
}

void setDosTime(const std::string &path, WORD date, WORD time) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE) fail("open for time " + path);
    FILETIME local, ft;
    DosDateTimeToFileTime(date, time, &local);
    LocalFileTimeToFileTime(&local, &ft);
    SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
}

WORD dosDate(int year, int month, int day) { return static_cast<WORD>(((year - 1980) << 9) | (month << 5) | day); }
WORD dosTime(int hour, int minute, int second) {
    return static_cast<WORD>((hour << 11) | (minute << 5) | (second / 2));
}

std::vector<std::string> listDir(const std::string &dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE f = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (f == INVALID_HANDLE_VALUE) return names;
    do {
        if (std::strcmp(fd.cFileName, ".") != 0 && std::strcmp(fd.cFileName, "..") != 0)
            names.push_back(fd.cFileName);
    } while (FindNextFileA(f, &fd));
    FindClose(f);
    return names;
}

FileLock::FileLock(const std::string &path, bool shareRead)
    : h_(CreateFileA(path.c_str(), GENERIC_READ, shareRead ? FILE_SHARE_READ : 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
FileLock::~FileLock() { release(); }
void FileLock::release() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
}

// ---- registry --------------------------------------------------------------

HKEY rootKey(const std::string &root) {
    if (root == "HKLM") return HKEY_LOCAL_MACHINE;
    if (root == "HKCU") return HKEY_CURRENT_USER;
    if (root == "HKCR") return HKEY_CLASSES_ROOT;
    if (root == "HKU") return HKEY_USERS;
    throw std::runtime_error("unknown root " + root);
}

bool regKeyExists(const std::string &root, const std::string &path) {
    HKEY k;
    if (RegOpenKeyExA(rootKey(root), path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

std::optional<std::string> regGetString(const std::string &root, const std::string &path, const std::string &name) {
    HKEY k;
    if (RegOpenKeyExA(rootKey(root), path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return std::nullopt;
    DWORD type = 0, size = 0;
    std::optional<std::string> result;
    const char *n = name.empty() ? nullptr : name.c_str();
    if (RegQueryValueExA(k, n, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::string data(size, '\0');
        if (RegQueryValueExA(k, n, nullptr, &type, reinterpret_cast<BYTE *>(&data[0]), &size) == ERROR_SUCCESS) {
            data.resize(size);
            if ((type == REG_SZ || type == REG_EXPAND_SZ) && !data.empty() && data.back() == '\0') data.pop_back();
            result = data;
        }
    }
    RegCloseKey(k);
    return result;
}

std::optional<DWORD> regGetType(const std::string &root, const std::string &path, const std::string &name) {
    HKEY k;
    if (RegOpenKeyExA(rootKey(root), path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return std::nullopt;
    DWORD type = 0;
    std::optional<DWORD> result;
    if (RegQueryValueExA(k, name.empty() ? nullptr : name.c_str(), nullptr, &type, nullptr, nullptr) ==
        ERROR_SUCCESS)
        result = type;
    RegCloseKey(k);
    return result;
}

void regSetString(const std::string &root, const std::string &path, const std::string &name,
                  const std::string &value) {
    HKEY k;
    if (RegCreateKeyExA(rootKey(root), path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) !=
        ERROR_SUCCESS)
        fail("create key " + path);
    RegSetValueExA(k, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                   reinterpret_cast<const BYTE *>(value.c_str()), static_cast<DWORD>(value.size() + 1));
    RegCloseKey(k);
}

void regSetDword(const std::string &root, const std::string &path, const std::string &name, DWORD value) {
    HKEY k;
    if (RegCreateKeyExA(rootKey(root), path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) !=
        ERROR_SUCCESS)
        fail("create key " + path);
    RegSetValueExA(k, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
    RegCloseKey(k);
}

void regDeleteTree(const std::string &root, const std::string &path) { deleteKeyTree(rootKey(root), path); }

std::vector<std::string> regSubKeys(const std::string &root, const std::string &path) {
    std::vector<std::string> names;
    HKEY k;
    if (RegOpenKeyExA(rootKey(root), path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD len = sizeof name;
        if (RegEnumKeyExA(k, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, len);
    }
    RegCloseKey(k);
    return names;
}

std::vector<std::string> regValueNames(const std::string &root, const std::string &path) {
    std::vector<std::string> names;
    HKEY k;
    if (RegOpenKeyExA(rootKey(root), path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD len = sizeof name;
        if (RegEnumValueA(k, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, len);
    }
    RegCloseKey(k);
    return names;
}

std::vector<std::pair<std::string, std::string>> pendingMoves() {
    std::vector<std::pair<std::string, std::string>> moves;
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPendingKey, 0, KEY_READ, &k) != ERROR_SUCCESS) return moves;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(k, "PendingFileRenameOperations", nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::string data(size, '\0');
        RegQueryValueExA(k, "PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE *>(&data[0]),
                         &size);
        data.resize(size);
        std::vector<std::string> items;
        size_t pos = 0;
        while (pos < data.size()) {
            size_t end = data.find('\0', pos);
            if (end == std::string::npos) end = data.size();
            items.push_back(data.substr(pos, end - pos));
            pos = end + 1;
        }
        // Pairs of (source, target); the list ends with an empty string.
        auto strip = [](std::string s) {
            if (s.rfind("\\??\\", 0) == 0) s = s.substr(4);
            if (!s.empty() && s[0] == '!') s = s.substr(1);
            if (s.rfind("\\??\\", 0) == 0) s = s.substr(4);
            return s;
        };
        for (size_t i = 0; i + 1 < items.size(); i += 2) {
            if (items[i].empty()) break;
            moves.emplace_back(strip(items[i]), strip(items[i + 1]));
        }
    }
    RegCloseKey(k);
    return moves;
}

void restartWindows() {
    RunResult r = runProgram(windowsDir() + "\\system32\\wineboot.exe", {"-r"}, windowsDir(), 120000);
    (void)r;
}

std::vector<std::pair<std::string, std::string>> wininitRenames() {
    std::vector<std::pair<std::string, std::string>> lines;
    const std::optional<std::string> text = readFile(windowsDir() + "\\WININIT.INI");
    if (!text) return lines;
    bool inRename = false;
    size_t pos = 0;
    while (pos < text->size()) {
        size_t end = text->find('\n', pos);
        if (end == std::string::npos) end = text->size();
        std::string line = text->substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[') {
            inRename = _strnicmp(line.c_str(), "[rename]", 8) == 0;
            continue;
        }
        const size_t eq = line.find('=');
        if (inRename && eq != std::string::npos) lines.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    return lines;
}

void clearPendingMoves() {
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPendingKey, 0, KEY_ALL_ACCESS, &k) == ERROR_SUCCESS) {
        RegDeleteValueA(k, "PendingFileRenameOperations");
        RegDeleteValueA(k, "PendingFileRenameOperations2");
        RegCloseKey(k);
    }
}

void carryOutPendingOperations() {
    auto replace = [](const std::string &source, const std::string &target) {
        if (!exists(source)) return;
        SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
    };
    for (const auto &line : wininitRenames()) {
        if (_stricmp(line.first.c_str(), "NUL") == 0) {
            SetFileAttributesA(line.second.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(line.second.c_str());
        } else {
            replace(line.second, line.first);
        }
    }
    const std::string wininit = windowsDir() + "\\WININIT.INI";
    SetFileAttributesA(wininit.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(wininit.c_str());
    for (const auto &move : pendingMoves()) {
        if (move.second.empty()) {
            SetFileAttributesA(move.first.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(move.first.c_str());
        } else {
            replace(move.first, move.second);
        }
    }
    clearPendingMoves();
}

bool isJournalFile(const std::string &path) {
    std::string upper = path;
    for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const bool journal = upper.size() > 4 && upper.compare(upper.size() - 4, 4, ".JNL") == 0 &&
                         upper.find("\\ARCHIVE\\") != std::string::npos;
    return journal || upper.find("\\ARCHIVE\\UNDO\\") != std::string::npos;
}

std::vector<std::string> listFilesBelow(const std::string &dir) {
    std::vector<std::string> files;
    for (const auto &name : listDir(dir)) {
        const std::string path = dir + "\\" + name;
        if (isDirectory(path)) {
            for (auto &f : listFilesBelow(path)) files.push_back(std::move(f));
        } else {
            files.push_back(path);
        }
    }
    return files;
}

std::string message(int n) {
    static const std::vector<std::string> lines = [] {
        std::vector<std::string> all;
        const std::string text = readFile(languageFile()).value_or("");
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(pos, end - pos);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            all.push_back(line);
            pos = end + 1;
        }
        return all;
    }();
    return n >= 1 && static_cast<size_t>(n) <= lines.size() ? lines[n - 1] : std::string();
}

size_t countOf(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + 1)) ++n;
    return n;
}

std::vector<std::string> processedSections(const std::string &out) {
    std::vector<std::string> names;
    const std::string tag = "Processing section: ";
    for (size_t pos = out.find(tag); pos != std::string::npos; pos = out.find(tag, pos + 1)) {
        const size_t start = pos + tag.size();
        const size_t end = out.find("\r\n", start);
        names.push_back(out.substr(start, end - start));
    }
    return names;
}

std::string blob(const std::string &tag, size_t size) {
    std::string s = tag + "\r\n";
    unsigned x = 2166136261u;
    for (char c : tag) x = (x ^ static_cast<unsigned char>(c)) * 16777619u;
    s.reserve(size);
    while (s.size() < size) {
        x = x * 1103515245u + 12345u;
        s += static_cast<char>(x >> 16);
    }
    s.resize(size);
    return s;
}

std::string profileWith(const std::string &body, int os, const std::string &patchLines) {
    return "[Patch]\n" + patchLines + "Condition0=Main," + std::to_string(os) + ",0,Tavro,root,x\n\n[Main]\n" + body;
}

std::string crlf(const std::string &text) {
    std::string s;
    s.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) s += '\r';
        s += text[i];
    }
    return s;
}

std::map<std::string, std::string> snapshotMachine(const std::vector<std::string> &leaveOut, bool exactTimes) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string tempDir = temp;
    if (!tempDir.empty() && tempDir.back() == '\\') tempDir.pop_back();
    std::vector<std::string> skip = leaveOut;
    skip.push_back(tempDir);
    char profile[MAX_PATH] = "";
    if (GetEnvironmentVariableA("USERPROFILE", profile, sizeof profile) > 0) {
        for (const char *folder : {"Desktop", "Documents", "Downloads", "Music", "Pictures", "Videos",
                                   "AppData\\Roaming\\Microsoft\\Windows\\Templates"})
            skip.push_back(std::string(profile) + "\\" + folder);
    }
    std::map<std::string, std::string> out;
    snapshotFiles("C:", skip, exactTimes, out);
    std::vector<std::string> keys = leaveOut;
    keys.push_back("HKLM\\HARDWARE");
    snapshotKeys(HKEY_LOCAL_MACHINE, "HKLM", "", keys, out);
    snapshotKeys(HKEY_CURRENT_USER, "HKCU", "", keys, out);
    return out;
}

// What differs between two snapshots, one line per entry.
std::string differences(const std::map<std::string, std::string> &before,
                        const std::map<std::string, std::string> &after) {
    std::string out;
    for (const auto &[name, facts] : before) {
        const auto it = after.find(name);
        if (it == after.end())
            out += "gone: " + name + "\n";
        else if (it->second != facts)
            out += "changed: " + name + "\n  was " + facts + "\n  now " + it->second + "\n";
    }
    for (const auto &[name, facts] : after)
        if (before.find(name) == before.end()) out += "new: " + name + " " + facts + "\n";
    return out;
}


bool copyKit(const std::string &from, const PatchDir &kit) {
    bool all = true;
    for (const auto &name : listDir(from)) {
        const std::string to = kit.path(name);
        const bool copied = CopyFileA((from + "\\" + name).c_str(), to.c_str(), FALSE) != 0;
        EXPECT_TRUE(copied) << name;
        all = all && copied;
        if (copied) setDosTime(to, dosDate(1999, 6, 15), dosTime(12, 0, 0));
    }
    return all;
}

} // namespace e2e
