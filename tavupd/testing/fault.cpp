// The fault table: counting, failing and tracing wrappers of the raw calls.
#include "testing/fault.h"

#include <array>

namespace fault {
namespace {

struct Armed {
    bool active = false;
    unsigned remaining = 0; // calls of this kind still to pass before the fault
    DWORD error = ERROR_ACCESS_DENIED;
    bool shortWrite = false;
};

struct State {
    unsigned long total = 0;
    std::array<unsigned long, static_cast<size_t>(Call::Count)> perCall{};
    std::array<Armed, static_cast<size_t>(Call::Count)> armed{};
    unsigned long failAtTotal = 0; // 0: none
    unsigned long killAtTotal = 0; // 0: none
    void (*observer)(Call, unsigned long) = nullptr;
    bool fired = false;
};

State &state() {
    static State s;
    return s;
}

enum class Outcome { Pass, Fail, Short };

// Counts the call and decides whether it is to fail.
Outcome trip(Call call) {
    State &s = state();
    ++s.total;
    ++s.perCall[static_cast<size_t>(call)];
    if (s.observer) s.observer(call, s.total);
    if (s.killAtTotal != 0 && s.total == s.killAtTotal) ::TerminateProcess(::GetCurrentProcess(), 99);
    if (s.failAtTotal != 0 && s.total == s.failAtTotal) {
        s.fired = true;
        ::SetLastError(ERROR_ACCESS_DENIED);
        return Outcome::Fail;
    }
    Armed &a = s.armed[static_cast<size_t>(call)];
    if (a.active) {
        if (a.remaining > 1) {
            --a.remaining;
        } else {
            a.active = false;
            s.fired = true;
            ::SetLastError(a.error);
            return a.shortWrite ? Outcome::Short : Outcome::Fail;
        }
    }
    return Outcome::Pass;
}

const platform::Win32Calls &real() { return platform::realWin32Calls(); }

bool pass(Call call) { return trip(call) == Outcome::Pass; }

HANDLE WINAPI createFile(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                         DWORD flags, HANDLE templ) {
    if (!pass(Call::CreateFileA)) return INVALID_HANDLE_VALUE;
    return real().CreateFileA(name, access, share, sa, disposition, flags, templ);
}

BOOL WINAPI readFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED ov) {
    if (!pass(Call::ReadFile)) return FALSE;
    return real().ReadFile(file, buffer, toRead, read, ov);
}

BOOL WINAPI writeFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED ov) {
    switch (trip(Call::WriteFile)) {
    case Outcome::Fail:
        return FALSE;
    case Outcome::Short:
        return real().WriteFile(file, buffer, toWrite / 2, written, ov);
    case Outcome::Pass:
        break;
    }
    return real().WriteFile(file, buffer, toWrite, written, ov);
}

BOOL WINAPI closeHandle(HANDLE handle) {
    if (!pass(Call::CloseHandle)) {
        // A failed close still releases the handle, as on the real system.
        real().CloseHandle(handle);
        return FALSE;
    }
    return real().CloseHandle(handle);
}

DWORD WINAPI setFilePointer(HANDLE file, LONG distance, PLONG high, DWORD method) {
    if (!pass(Call::SetFilePointer)) return INVALID_SET_FILE_POINTER;
    return real().SetFilePointer(file, distance, high, method);
}

BOOL WINAPI getDosFileTime(HANDLE file, WORD *date, WORD *time) {
    if (!pass(Call::GetDosFileTime)) return FALSE;
    return real().GetDosFileTime(file, date, time);
}

BOOL WINAPI setDosFileTime(HANDLE file, WORD date, WORD time) {
    if (!pass(Call::SetDosFileTime)) return FALSE;
    return real().SetDosFileTime(file, date, time);
}

BOOL WINAPI moveFile(LPCSTR from, LPCSTR to) {
    if (!pass(Call::MoveFileA)) return FALSE;
    return real().MoveFileA(from, to);
}

BOOL WINAPI moveFileEx(LPCSTR from, LPCSTR to, DWORD flags) {
    if (!pass(Call::MoveFileExA)) return FALSE;
    return real().MoveFileExA(from, to, flags);
}

BOOL WINAPI deleteFile(LPCSTR name) {
    if (!pass(Call::DeleteFileA)) return FALSE;
    return real().DeleteFileA(name);
}

DWORD WINAPI getFileAttributes(LPCSTR name) {
    if (!pass(Call::GetFileAttributesA)) return INVALID_FILE_ATTRIBUTES;
    return real().GetFileAttributesA(name);
}

// As the system answers; ERROR_CALL_NOT_IMPLEMENTED where it has no such
// call.
BOOL WINAPI getFileAttributesEx(LPCSTR name, GET_FILEEX_INFO_LEVELS level, LPVOID data) {
    if (!pass(Call::GetFileAttributesExA)) return FALSE;
    if (real().GetFileAttributesExA == nullptr) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    return real().GetFileAttributesExA(name, level, data);
}

BOOL WINAPI createDirectory(LPCSTR name, LPSECURITY_ATTRIBUTES sa) {
    if (!pass(Call::CreateDirectoryA)) return FALSE;
    return real().CreateDirectoryA(name, sa);
}

BOOL WINAPI removeDirectory(LPCSTR name) {
    if (!pass(Call::RemoveDirectoryA)) return FALSE;
    return real().RemoveDirectoryA(name);
}

HANDLE WINAPI findFirstFile(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    if (!pass(Call::FindFirstFileA)) return INVALID_HANDLE_VALUE;
    return real().FindFirstFileA(pattern, data);
}

BOOL WINAPI findNextFile(HANDLE find, LPWIN32_FIND_DATAA data) {
    if (!pass(Call::FindNextFileA)) return FALSE;
    return real().FindNextFileA(find, data);
}

BOOL WINAPI findClose(HANDLE find) {
    if (!pass(Call::FindClose)) {
        real().FindClose(find);
        return FALSE;
    }
    return real().FindClose(find);
}

UINT WINAPI getWindowsDirectory(LPSTR buffer, UINT size) {
    if (!pass(Call::GetWindowsDirectoryA)) return 0;
    return real().GetWindowsDirectoryA(buffer, size);
}

BOOL WINAPI getVersionEx(LPOSVERSIONINFOA info) {
    if (!pass(Call::GetVersionExA)) return FALSE;
    return real().GetVersionExA(info);
}

DWORD WINAPI getCurrentProcessId() {
    // Cannot fail; counted so that sweeps see it.
    trip(Call::GetCurrentProcessId);
    return real().GetCurrentProcessId();
}

DWORD WINAPI getEnvironmentVariable(LPCSTR name, LPSTR buffer, DWORD size) {
    if (!pass(Call::GetEnvironmentVariableA)) return 0;
    return real().GetEnvironmentVariableA(name, buffer, size);
}

BOOL WINAPI createProcess(LPCSTR app, LPSTR cmdLine, LPSECURITY_ATTRIBUTES pa, LPSECURITY_ATTRIBUTES ta,
                          BOOL inherit, DWORD flags, LPVOID env, LPCSTR dir, LPSTARTUPINFOA si,
                          LPPROCESS_INFORMATION pi) {
    if (!pass(Call::CreateProcessA)) return FALSE;
    return real().CreateProcessA(app, cmdLine, pa, ta, inherit, flags, env, dir, si, pi);
}

DWORD WINAPI getModuleFileName(HMODULE module, LPSTR buffer, DWORD size) {
    if (!pass(Call::GetModuleFileNameA)) return 0;
    return real().GetModuleFileNameA(module, buffer, size);
}

DWORD WINAPI getFullPathName(LPCSTR name, DWORD size, LPSTR buffer, LPSTR *filePart) {
    if (!pass(Call::GetFullPathNameA)) return 0;
    return real().GetFullPathNameA(name, size, buffer, filePart);
}

DWORD WINAPI getShortPathName(LPCSTR longPath, LPSTR shortPath, DWORD size) {
    if (!pass(Call::GetShortPathNameA)) return 0;
    return real().GetShortPathNameA(longPath, shortPath, size);
}

LONG WINAPI regOpenKeyEx(HKEY key, LPCSTR sub, DWORD options, REGSAM sam, PHKEY result) {
    if (!pass(Call::RegOpenKeyExA)) return ERROR_ACCESS_DENIED;
    return real().RegOpenKeyExA(key, sub, options, sam, result);
}

LONG WINAPI regQueryValueEx(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    if (!pass(Call::RegQueryValueExA)) return ERROR_ACCESS_DENIED;
    return real().RegQueryValueExA(key, name, reserved, type, data, size);
}

LONG WINAPI regCreateKeyEx(HKEY key, LPCSTR sub, DWORD reserved, LPSTR cls, DWORD options, REGSAM sam,
                           LPSECURITY_ATTRIBUTES sa, PHKEY result, LPDWORD disposition) {
    if (!pass(Call::RegCreateKeyExA)) return ERROR_ACCESS_DENIED;
    return real().RegCreateKeyExA(key, sub, reserved, cls, options, sam, sa, result, disposition);
}

LONG WINAPI regSetValueEx(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size) {
    if (!pass(Call::RegSetValueExA)) return ERROR_ACCESS_DENIED;
    return real().RegSetValueExA(key, name, reserved, type, data, size);
}

LONG WINAPI regDeleteValue(HKEY key, LPCSTR name) {
    if (!pass(Call::RegDeleteValueA)) return ERROR_ACCESS_DENIED;
    return real().RegDeleteValueA(key, name);
}

LONG WINAPI regDeleteKey(HKEY key, LPCSTR sub) {
    if (!pass(Call::RegDeleteKeyA)) return ERROR_ACCESS_DENIED;
    return real().RegDeleteKeyA(key, sub);
}

LONG WINAPI regEnumKeyEx(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPSTR cls,
                         LPDWORD clsSize, PFILETIME time) {
    if (!pass(Call::RegEnumKeyExA)) return ERROR_ACCESS_DENIED;
    return real().RegEnumKeyExA(key, index, name, nameSize, reserved, cls, clsSize, time);
}

LONG WINAPI regEnumValue(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPDWORD type,
                         LPBYTE data, LPDWORD dataSize) {
    if (!pass(Call::RegEnumValueA)) return ERROR_ACCESS_DENIED;
    return real().RegEnumValueA(key, index, name, nameSize, reserved, type, data, dataSize);
}

LONG WINAPI regQueryInfoKey(HKEY key, LPSTR cls, LPDWORD clsSize, LPDWORD reserved, LPDWORD subKeys,
                            LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values, LPDWORD maxValueNameLen,
                            LPDWORD maxValueLen, LPDWORD securityDescriptor, PFILETIME lastWrite) {
    if (!pass(Call::RegQueryInfoKeyA)) return ERROR_ACCESS_DENIED;
    return real().RegQueryInfoKeyA(key, cls, clsSize, reserved, subKeys, maxSubKeyLen, maxClassLen, values,
                                   maxValueNameLen, maxValueLen, securityDescriptor, lastWrite);
}

LONG WINAPI regCloseKey(HKEY key) {
    if (!pass(Call::RegCloseKey)) {
        real().RegCloseKey(key);
        return ERROR_ACCESS_DENIED;
    }
    return real().RegCloseKey(key);
}

} // namespace

const char *callName(Call call) {
    switch (call) {
#define TAVUPD_FAULT_NAME(name)                                                                                        \
    case Call::name:                                                                                                   \
        return #name;
        TAVUPD_FAULT_CALLS(TAVUPD_FAULT_NAME)
#undef TAVUPD_FAULT_NAME
    case Call::Count:
        break;
    }
    return "?";
}

const platform::Win32Calls &faultCalls() {
    static const platform::Win32Calls calls = {
        createFile,       readFile,         writeFile,          closeHandle,       setFilePointer,
        getDosFileTime,   setDosFileTime,   moveFile,           moveFileEx,        deleteFile,
        getFileAttributes, createDirectory, removeDirectory, findFirstFile,      findNextFile,      findClose,
        getWindowsDirectory, getVersionEx,  getCurrentProcessId, getEnvironmentVariable, createProcess,
        getModuleFileName, getFullPathName, getShortPathName,   regOpenKeyEx,      regQueryValueEx,
        regCreateKeyEx,   regSetValueEx,    regDeleteValue,     regDeleteKey,      regEnumKeyEx,
        regEnumValue,     regQueryInfoKey,  regCloseKey,       getFileAttributesEx,
    };
    return calls;
}

void failCall(Call call, unsigned nth, DWORD error, bool shortWrite) {
    Armed &a = state().armed[static_cast<size_t>(call)];
    a.active = true;
    a.remaining = nth == 0 ? 1 : nth;
    a.error = error;
    a.shortWrite = shortWrite;
}

void failNthCall(unsigned long k) { state().failAtTotal = k; }

void killAtNthCall(unsigned long k) { state().killAtTotal = k; }

void setCallObserver(void (*observer)(Call, unsigned long)) { state().observer = observer; }

void resetFaults() { state() = State{}; }

unsigned long callCount() { return state().total; }
unsigned long callCount(Call call) { return state().perCall[static_cast<size_t>(call)]; }
bool faultFired() { return state().fired; }

Installed::Installed() : platform_(faultCalls()), install_(platform_) {}
Installed::~Installed() = default;

} // namespace fault
