// The thin seam over every platform call tavupd makes.
//
// Each function has the signature and meaning of the Win32 (or C run-time)
// call of the same name. Code of tavupd calls sys::X instead of X so that a
// test can make any single call fail on demand, count the calls a run makes,
// or make a write come up short. Without an armed fault every wrapper is a
// plain forwarding call.
#pragma once

#include <windows.h>

#include <cstdio>

namespace sys {

// Every wrapped call, in one list so that faults and counts can name them.
#define TAVUPD_SYS_CALLS(X)                                                    \
    X(CreateFileA)                                                             \
    X(ReadFile)                                                                \
    X(WriteFile)                                                               \
    X(CloseHandle)                                                             \
    X(GetDosFileTime)                                                          \
    X(SetDosFileTime)                                                          \
    X(MoveFileA)                                                               \
    X(MoveFileExA)                                                             \
    X(DeleteFileA)                                                             \
    X(GetFileAttributesA)                                                      \
    X(CreateDirectoryA)                                                        \
    X(FindFirstFileA)                                                          \
    X(FindNextFileA)                                                           \
    X(FindClose)                                                               \
    X(GetFileSizeAndTime)                                                      \
    X(GetWindowsDirectoryA)                                                    \
    X(GetVersionExA)                                                           \
    X(GetCurrentProcessId)                                                     \
    X(GetEnvironmentVariableA)                                                 \
    X(CreateProcessA)                                                          \
    X(GetModuleFileNameA)                                                      \
    X(GetFullPathNameA)                                                        \
    X(GetShortPathNameA)                                                       \
    X(RegOpenKeyExA)                                                           \
    X(RegQueryValueExA)                                                        \
    X(RegCreateKeyExA)                                                         \
    X(RegSetValueExA)                                                          \
    X(RegDeleteValueA)                                                         \
    X(RegDeleteKeyA)                                                           \
    X(RegEnumKeyExA)                                                           \
    X(RegQueryInfoKeyA)                                                        \
    X(RegCloseKey)                                                             \
    X(fopen)                                                                   \
    X(fclose)                                                                  \
    X(fgets)                                                                   \
    X(fputs)                                                                   \
    X(fwrite)                                                                  \
    X(fflush)                                                                  \
    X(feof)

enum class Call {
#define TAVUPD_SYS_ENUM(name) name,
    TAVUPD_SYS_CALLS(TAVUPD_SYS_ENUM)
#undef TAVUPD_SYS_ENUM
        Count
};

const char *callName(Call call);

// ---- fault injection -------------------------------------------------------

// Make the nth call of the given kind, counted from now (1 = the next one),
// fail. A failing call sets the last error to `error` and returns the call's
// failure value. For WriteFile and fwrite, `shortWrite` makes the call write
// only half of the bytes (at least one fewer) and report that count instead
// of failing outright.
void failCall(Call call, unsigned nth = 1, DWORD error = ERROR_ACCESS_DENIED, bool shortWrite = false);

// Make the k-th wrapped call of any kind, counted from the last reset
// (1 = the first), fail with ERROR_ACCESS_DENIED (or its call's failure value).
void failNthCall(unsigned long k);

// Ends the process abruptly (TerminateProcess, exit code 99) at the k-th
// wrapped call of any kind, counted from the last reset, before that call is
// made: what a power cut at that point leaves behind. 0 disarms it.
void killAtNthCall(unsigned long k);

// Called with each wrapped call's kind and number (1 = the first) before
// the call is made; null removes it. For tests that map numbers to calls.
void setCallObserver(void (*observer)(Call call, unsigned long number));

// Forget armed faults and restart the counters.
void resetFaults();

// Number of wrapped calls made since the last reset, and of one kind.
unsigned long callCount();
unsigned long callCount(Call call);

// Whether any armed fault has fired since the last reset.
bool faultFired();

// ---- files and directories -------------------------------------------------

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                   DWORD flags, HANDLE templ);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED ov);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED ov);
BOOL CloseHandle(HANDLE handle);
// Last-write time of an open file as packed DOS date and time (local time).
BOOL GetDosFileTime(HANDLE file, WORD *dosDate, WORD *dosTime);
BOOL SetDosFileTime(HANDLE file, WORD dosDate, WORD dosTime);
BOOL MoveFileA(LPCSTR from, LPCSTR to);
BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
BOOL DeleteFileA(LPCSTR name);
DWORD GetFileAttributesA(LPCSTR name);
BOOL CreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES sa);
HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data);
BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data);
BOOL FindClose(HANDLE find);
// Size in bytes and last-write time (FILETIME as one number) of a file or
// directory, by its directory entry: the file is not opened. FALSE, with the
// last error set, when there is no such entry; a name with a wildcard
// character names no entry.
BOOL GetFileSizeAndTime(LPCSTR name, long long *size, long long *writeTime);

// ---- system ----------------------------------------------------------------

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size);
BOOL GetVersionExA(LPOSVERSIONINFOA info);
DWORD GetCurrentProcessId();
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
BOOL CreateProcessA(LPCSTR app, LPSTR cmdLine, LPSECURITY_ATTRIBUTES pa, LPSECURITY_ATTRIBUTES ta, BOOL inherit,
                    DWORD flags, LPVOID env, LPCSTR dir, LPSTARTUPINFOA si, LPPROCESS_INFORMATION pi);
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
DWORD GetFullPathNameA(LPCSTR name, DWORD size, LPSTR buffer, LPSTR *filePart);
DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size);

// ---- registry --------------------------------------------------------------

LONG RegOpenKeyExA(HKEY key, LPCSTR sub, DWORD options, REGSAM sam, PHKEY result);
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
LONG RegCreateKeyExA(HKEY key, LPCSTR sub, DWORD reserved, LPSTR cls, DWORD options, REGSAM sam,
                     LPSECURITY_ATTRIBUTES sa, PHKEY result, LPDWORD disposition);
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size);
LONG RegDeleteValueA(HKEY key, LPCSTR name);
LONG RegDeleteKeyA(HKEY key, LPCSTR sub);
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPSTR cls,
                   LPDWORD clsSize, PFILETIME time);
LONG RegQueryInfoKeyA(HKEY key, LPSTR cls, LPDWORD clsSize, LPDWORD reserved, LPDWORD subKeys,
                      LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values, LPDWORD maxValueNameLen,
                      LPDWORD maxValueLen, LPDWORD securityDescriptor, PFILETIME lastWrite);
LONG RegCloseKey(HKEY key);

// ---- C run-time streams ----------------------------------------------------

FILE *fopen(const char *path, const char *mode);
int fclose(FILE *stream);
char *fgets(char *buffer, int size, FILE *stream);
int fputs(const char *text, FILE *stream);
size_t fwrite(const void *data, size_t size, size_t count, FILE *stream);
int fflush(FILE *stream);
// A failing call answers "not at the end", so a reader treats it as a read error.
int feof(FILE *stream);

// ---- RAII owners -----------------------------------------------------------

// Owns a file HANDLE; closes it through the seam.
class FileHandle {
  public:
    FileHandle() = default;
    explicit FileHandle(HANDLE h) : h_(h) {}
    ~FileHandle() { reset(); }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    FileHandle(FileHandle &&o) noexcept : h_(o.release()) {}
    FileHandle &operator=(FileHandle &&o) noexcept {
        if (this != &o) {
            reset();
            h_ = o.release();
        }
        return *this;
    }
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    explicit operator bool() const { return valid(); }
    HANDLE release() {
        HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h;
    }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (valid()) sys::CloseHandle(h_);
        h_ = h;
    }

  private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// Owns a FindFirstFile handle.
class FindHandle {
  public:
    explicit FindHandle(HANDLE h) : h_(h) {}
    ~FindHandle() {
        if (valid()) sys::FindClose(h_);
    }
    FindHandle(const FindHandle &) = delete;
    FindHandle &operator=(const FindHandle &) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }

  private:
    HANDLE h_;
};

// Owns an open registry key (never one of the predefined roots).
class RegKey {
  public:
    RegKey() = default;
    explicit RegKey(HKEY k) : k_(k) {}
    ~RegKey() { reset(); }
    RegKey(const RegKey &) = delete;
    RegKey &operator=(const RegKey &) = delete;
    RegKey(RegKey &&o) noexcept : k_(o.k_) { o.k_ = nullptr; }
    RegKey &operator=(RegKey &&o) noexcept {
        if (this != &o) {
            reset();
            k_ = o.k_;
            o.k_ = nullptr;
        }
        return *this;
    }
    HKEY get() const { return k_; }
    // For the out-parameter of RegOpenKeyExA/RegCreateKeyExA.
    PHKEY put() {
        reset();
        return &k_;
    }
    explicit operator bool() const { return k_ != nullptr; }
    void reset() {
        if (k_) sys::RegCloseKey(k_);
        k_ = nullptr;
    }

  private:
    HKEY k_ = nullptr;
};

// Owns a C stream; closes it through the seam.
class Stream {
  public:
    Stream() = default;
    explicit Stream(FILE *f) : f_(f) {}
    ~Stream() { close(); }
    Stream(const Stream &) = delete;
    Stream &operator=(const Stream &) = delete;
    FILE *get() const { return f_; }
    explicit operator bool() const { return f_ != nullptr; }
    // Closes the stream; returns the result of fclose (0 when nothing was open).
    int close() {
        int rc = 0;
        if (f_) rc = sys::fclose(f_);
        f_ = nullptr;
        return rc;
    }

  private:
    FILE *f_ = nullptr;
};

} // namespace sys
