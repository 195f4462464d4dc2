// Forwarding wrappers of the platform seam, with call counting and fault
// injection for tests.
#include "sys.h"

#include <array>
#include <cstring>

namespace sys {
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

DWORD shortened(DWORD n) { return n == 0 ? 0 : n / 2; }

} // namespace

const char *callName(Call call) {
    switch (call) {
#define TAVUPD_SYS_NAME(name)                                                                                          \
    case Call::name:                                                                                                   \
        return #name;
        TAVUPD_SYS_CALLS(TAVUPD_SYS_NAME)
#undef TAVUPD_SYS_NAME
    case Call::Count:
        break;
    }
    return "?";
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

// ---- files and directories -------------------------------------------------

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                   DWORD flags, HANDLE templ) {
    if (trip(Call::CreateFileA) != Outcome::Pass) return INVALID_HANDLE_VALUE;
    return ::CreateFileA(name, access, share, sa, disposition, flags, templ);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED ov) {
    if (trip(Call::ReadFile) != Outcome::Pass) return FALSE;
    return ::ReadFile(file, buffer, toRead, read, ov);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED ov) {
    switch (trip(Call::WriteFile)) {
    case Outcome::Fail:
        return FALSE;
    case Outcome::Short:
        return ::WriteFile(file, buffer, shortened(toWrite), written, ov);
    case Outcome::Pass:
        break;
    }
    return ::WriteFile(file, buffer, toWrite, written, ov);
}

BOOL CloseHandle(HANDLE handle) {
    if (trip(Call::CloseHandle) != Outcome::Pass) {
        // A failed close still releases the handle, as on the real system.
        ::CloseHandle(handle);
        return FALSE;
    }
    return ::CloseHandle(handle);
}

BOOL GetDosFileTime(HANDLE file, WORD *dosDate, WORD *dosTime) {
    if (trip(Call::GetDosFileTime) != Outcome::Pass) return FALSE;
    FILETIME utc, local;
    if (!::GetFileTime(file, nullptr, nullptr, &utc)) return FALSE;
    if (!::FileTimeToLocalFileTime(&utc, &local)) return FALSE;
    return ::FileTimeToDosDateTime(&local, dosDate, dosTime);
}

BOOL SetDosFileTime(HANDLE file, WORD dosDate, WORD dosTime) {
    if (trip(Call::SetDosFileTime) != Outcome::Pass) return FALSE;
    FILETIME local, utc;
    if (!::DosDateTimeToFileTime(dosDate, dosTime, &local)) return FALSE;
    if (!::LocalFileTimeToFileTime(&local, &utc)) return FALSE;
    return ::SetFileTime(file, nullptr, nullptr, &utc);
}

BOOL MoveFileA(LPCSTR from, LPCSTR to) {
    if (trip(Call::MoveFileA) != Outcome::Pass) return FALSE;
    return ::MoveFileA(from, to);
}

BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    if (trip(Call::MoveFileExA) != Outcome::Pass) return FALSE;
    return ::MoveFileExA(from, to, flags);
}

BOOL DeleteFileA(LPCSTR name) {
    if (trip(Call::DeleteFileA) != Outcome::Pass) return FALSE;
    return ::DeleteFileA(name);
}

DWORD GetFileAttributesA(LPCSTR name) {
    if (trip(Call::GetFileAttributesA) != Outcome::Pass) return INVALID_FILE_ATTRIBUTES;
    return ::GetFileAttributesA(name);
}

BOOL CreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES sa) {
    if (trip(Call::CreateDirectoryA) != Outcome::Pass) return FALSE;
    return ::CreateDirectoryA(name, sa);
}

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    if (trip(Call::FindFirstFileA) != Outcome::Pass) return INVALID_HANDLE_VALUE;
    return ::FindFirstFileA(pattern, data);
}

BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data) {
    if (trip(Call::FindNextFileA) != Outcome::Pass) return FALSE;
    return ::FindNextFileA(find, data);
}

BOOL FindClose(HANDLE find) {
    if (trip(Call::FindClose) != Outcome::Pass) {
        ::FindClose(find);
        return FALSE;
    }
    return ::FindClose(find);
}

BOOL GetFileSizeAndTime(LPCSTR name, long long *size, long long *writeTime) {
    if (trip(Call::GetFileSizeAndTime) != Outcome::Pass) return FALSE;
    if (std::strpbrk(name, "*?") != nullptr) {
        ::SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    WIN32_FIND_DATAA data;
    const HANDLE find = ::FindFirstFileA(name, &data);
    if (find == INVALID_HANDLE_VALUE) return FALSE;
    ::FindClose(find);
    *size = static_cast<long long>((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    *writeTime = static_cast<long long>(
        (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
        data.ftLastWriteTime.dwLowDateTime);
    return TRUE;
}

// ---- system ----------------------------------------------------------------

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    if (trip(Call::GetWindowsDirectoryA) != Outcome::Pass) return 0;
    return ::GetWindowsDirectoryA(buffer, size);
}

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
    if (trip(Call::GetVersionExA) != Outcome::Pass) return FALSE;
    return ::GetVersionExA(info);
}

DWORD GetCurrentProcessId() {
    // Cannot fail; counted so that sweeps see it.
    trip(Call::GetCurrentProcessId);
    return ::GetCurrentProcessId();
}

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    if (trip(Call::GetEnvironmentVariableA) != Outcome::Pass) return 0;
    return ::GetEnvironmentVariableA(name, buffer, size);
}

BOOL CreateProcessA(LPCSTR app, LPSTR cmdLine, LPSECURITY_ATTRIBUTES pa, LPSECURITY_ATTRIBUTES ta, BOOL inherit,
                    DWORD flags, LPVOID env, LPCSTR dir, LPSTARTUPINFOA si, LPPROCESS_INFORMATION pi) {
    if (trip(Call::CreateProcessA) != Outcome::Pass) return FALSE;
    return ::CreateProcessA(app, cmdLine, pa, ta, inherit, flags, env, dir, si, pi);
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    if (trip(Call::GetModuleFileNameA) != Outcome::Pass) return 0;
    return ::GetModuleFileNameA(module, buffer, size);
}

DWORD GetFullPathNameA(LPCSTR name, DWORD size, LPSTR buffer, LPSTR *filePart) {
    if (trip(Call::GetFullPathNameA) != Outcome::Pass) return 0;
    return ::GetFullPathNameA(name, size, buffer, filePart);
}

DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size) {
    if (trip(Call::GetShortPathNameA) != Outcome::Pass) return 0;
    return ::GetShortPathNameA(longPath, shortPath, size);
}

// ---- registry --------------------------------------------------------------

LONG RegOpenKeyExA(HKEY key, LPCSTR sub, DWORD options, REGSAM sam, PHKEY result) {
    if (trip(Call::RegOpenKeyExA) != Outcome::Pass) return ERROR_ACCESS_DENIED;
    return ::RegOpenKeyExA(key, sub, options, sam, result);
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    if (trip(Call::RegQueryValueExA) != Outcome::Pass) return ERROR_ACCESS_DENIED;
    return ::RegQueryValueExA(key, name, reserved, type, data, size);
}

LONG RegCreateKeyExA(HKEY key, LPCSTR sub, DWORD reserved, LPSTR cls, DWORD options, REGSAM sam,
                     LPSECURITY_ATTRIBUTES sa, PHKEY result, LPDWORD disposition) {
    if (trip(Call::RegCreateKeyExA) != Outcome::Pass) return ERROR_ACCESS_DENIED;
    return ::RegCreateKeyExA(key, sub, reserved, cls, options, sam, sa, result, disposition);
}

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size) {
    if (trip(Call::RegSetValueExA) != Outcome::Pass) return ERROR_ACCESS_DENIED;
    return ::RegSetValueExA(key, name, reserved, type, data, size);
}

LONG RegDeleteValueA(HKEY key, LPCSTR name) {
    if (trip(Call::RegDeleteValueA) != Outcome::Pass) return ERROR_ACCESS_DENIED;
    return ::RegDeleteValueA(key, name);
}

LONG RegDeleteKeyA(HKEY key, LPCSTR sub) {
    if (trip(Call::RegDeleteKeyA) != Outcome::Pass) return ERROR_ACCESS_DENIED;
    return ::RegDeleteKeyA(key, sub);
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPSTR cls,
                   LPDWORD clsSize, PFILETIME time) {
    if (trip(Call::RegEnumKeyExA) != Outcome::Pass) return ERROR_ACCESS_DENIED;
    return ::RegEnumKeyExA(key, index, name, nameSize, reserved, cls, clsSize, time);
}

LONG RegQueryInfoKeyA(HKEY key, LPSTR cls, LPDWORD clsSize, LPDWORD reserved, LPDWORD subKeys,
                      LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values, LPDWORD maxValueNameLen,
                      LPDWORD maxValueLen, LPDWORD securityDescriptor, PFILETIME lastWrite) {
    if (trip(Call::RegQueryInfoKeyA) != Outcome::Pass) return ERROR_ACCESS_DENIED;
    return ::RegQueryInfoKeyA(key, cls, clsSize, reserved, subKeys, maxSubKeyLen, maxClassLen, values,
                              maxValueNameLen, maxValueLen, securityDescriptor, lastWrite);
}

LONG RegCloseKey(HKEY key) {
    if (trip(Call::RegCloseKey) != Outcome::Pass) {
        ::RegCloseKey(key);
        return ERROR_ACCESS_DENIED;
    }
    return ::RegCloseKey(key);
}

// ---- C run-time streams ----------------------------------------------------

FILE *fopen(const char *path, const char *mode) {
    if (trip(Call::fopen) != Outcome::Pass) return nullptr;
    return ::fopen(path, mode);
}

int fclose(FILE *stream) {
    if (trip(Call::fclose) != Outcome::Pass) {
        ::fclose(stream);
        return EOF;
    }
    return ::fclose(stream);
}

char *fgets(char *buffer, int size, FILE *stream) {
    if (trip(Call::fgets) != Outcome::Pass) return nullptr;
    return ::fgets(buffer, size, stream);
}

int fputs(const char *text, FILE *stream) {
    if (trip(Call::fputs) != Outcome::Pass) return EOF;
    return ::fputs(text, stream);
}

size_t fwrite(const void *data, size_t size, size_t count, FILE *stream) {
    switch (trip(Call::fwrite)) {
    case Outcome::Fail:
        return 0;
    case Outcome::Short:
        return ::fwrite(data, size, count / 2, stream);
    case Outcome::Pass:
        break;
    }
    return ::fwrite(data, size, count, stream);
}

int fflush(FILE *stream) {
    if (trip(Call::fflush) != Outcome::Pass) return EOF;
    return ::fflush(stream);
}

int feof(FILE *stream) {
    if (trip(Call::feof) != Outcome::Pass) return 0;
    return ::feof(stream);
}

} // namespace sys
