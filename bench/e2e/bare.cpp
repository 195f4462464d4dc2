// The bare side of the end-to-end benchmark: makes the changes of one
// workload with plain Win32 calls, as a program written for just that patch
// would, taking the new files from its own directory (the patch kit).
//
//   BAREUPD.EXE <kind> <count> <sections> <product directory>
//
// FILE installs: the two files' last-write times are compared, the older
// installed file is moved to its .OLD name and the new one copied in
// (MoveFileA, CopyFileA). INI sets: one WritePrivateProfileStringA each. REG
// sets: RegCreateKeyExA and RegSetValueExA each. FINDFILE: a FindFirstFileA
// walk that makes the FILE install in every directory holding a copy. The
// empty run reads the condition's value and ends.
//
// Exit status: 0 when done, 1 when the empty run's condition does not hold
// (as TAVUPD.EXE), 2 when any call fails (the message says which).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "workload.h"

namespace {

using namespace tvbench;

[[noreturn]] void fail(const std::string &what) {
    std::fprintf(stderr, "BAREUPD: %s failed (error %lu)\n", what.c_str(), GetLastError());
    std::exit(2);
}

std::string ownDirectory() {
    char buffer[MAX_PATH + 1];
    const DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) fail("GetModuleFileNameA");
    std::string path(buffer, n);
    return path.substr(0, path.find_last_of('\\'));
}

// The FILE install: copies `source` over `destination` when the destination
// is missing or older, keeping an older one as <name>.OLD.
void install(const std::string &source, const std::string &destination) {
    WIN32_FILE_ATTRIBUTE_DATA from, to;
    if (!GetFileAttributesExA(source.c_str(), GetFileExInfoStandard, &from)) fail("GetFileAttributesExA " + source);
    if (GetFileAttributesExA(destination.c_str(), GetFileExInfoStandard, &to)) {
        if (CompareFileTime(&to.ftLastWriteTime, &from.ftLastWriteTime) >= 0) return;
        std::string backup = destination;
        const size_t dot = backup.find_last_of('.');
        if (dot != std::string::npos && dot > backup.find_last_of('\\')) backup.erase(dot);
        backup += ".OLD";
        if (!MoveFileA(destination.c_str(), backup.c_str())) fail("MoveFileA " + destination);
    }
    if (!CopyFileA(source.c_str(), destination.c_str(), FALSE)) fail("CopyFileA " + destination);
}

void walk(const std::string &dir, const std::string &source) {
    const std::string candidate = dir + "\\" + kFindName;
    if (GetFileAttributesA(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) install(source, candidate);
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((dir + "\\*.*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (data.cFileName[0] == '.' || !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        walk(dir + "\\" + data.cFileName, source);
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

} // namespace

int main(int argc, char **argv) {
    Kind kind;
    if (argc != 5 || !kindFromName(argv[1], kind)) {
        std::fprintf(stderr, "usage: BAREUPD <files|ini|empty|big|find|reg> <count> <sections> <product dir>\n");
        return 2;
    }
    const int count = std::atoi(argv[2]);
    const int sections = std::atoi(argv[3]);
    const std::string product = argv[4];
    const std::string kit = ownDirectory();

    switch (kind) {
    case Kind::Files:
        for (int i = 0; i < count; ++i)
            install(kit + "\\" + fileName(i), product + "\\" + kFilesDir + "\\" + fileName(i));
        break;
    case Kind::BigFiles:
        for (int i = 0; i < count; ++i)
            install(kit + "\\" + bigFileName(i), product + "\\" + bigDir(i) + "\\" + bigFileName(i));
        break;
    case Kind::FindFile:
        walk(product + "\\" + kFindRoot, kit + "\\" + kFindName);
        break;
    case Kind::Ini: {
        const std::string path = product + "\\" + kIniFile;
        for (int i = 0; i < count; ++i) {
            const IniSet set = iniSet(i, sections);
            if (!WritePrivateProfileStringA(set.section.c_str(), set.key.c_str(), set.value.c_str(), path.c_str()))
                fail("WritePrivateProfileStringA " + path);
        }
        break;
    }
    case Kind::Registry:
        for (int i = 0; i < count; ++i) {
            const RegSet set = regSet(i);
            HKEY key;
            LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, set.subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_ALL_ACCESS, nullptr, &key, nullptr);
            if (rc == ERROR_SUCCESS) {
                rc = RegSetValueExA(key, set.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(set.data.c_str()),
                                    static_cast<DWORD>(set.data.size() + 1));
                RegCloseKey(key);
            }
            if (rc != ERROR_SUCCESS) {
                SetLastError(static_cast<DWORD>(rc)); // registry calls return their error
                fail("setting " + set.subkey + "\\" + set.name);
            }
        }
        break;
    case Kind::Empty: {
        char windows[MAX_PATH];
        const UINT n = GetWindowsDirectoryA(windows, sizeof windows);
        if (n == 0 || n >= sizeof windows) fail("GetWindowsDirectoryA");
        const std::string ini = std::string(windows, n) + "\\TAVRO.INI";
        char value[256];
        GetPrivateProfileStringA("Tavro", "Version", "", value, sizeof value, ini.c_str());
        return std::strcmp(value, kEmptyConditionValue) == 0 ? 0 : 1;
    }
    }
    return 0;
}
