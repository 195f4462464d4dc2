// Fault injection for test programs and the fault build (tavupd_fault.exe):
// a table of the raw Win32 calls whose entries count every call, can fail
// the k-th call or the n-th call of one kind (with an error or a short
// write), end the process at the k-th call (a power cut) and report each
// call to an observer, then forward to the real function. Never linked into
// the programs that ship.
#pragma once

#include <windows.h>

#include "platform/win32.h"

namespace fault {

// Every call of the table, in one list so that faults and counts can name them.
#define TAVUPD_FAULT_CALLS(X)                                                                                          \
    X(CreateFileA)                                                                                                     \
    X(ReadFile)                                                                                                        \
    X(WriteFile)                                                                                                       \
    X(CloseHandle)                                                                                                     \
    X(SetFilePointer)                                                                                                  \
    X(GetDosFileTime)                                                                                                  \
    X(SetDosFileTime)                                                                                                  \
    X(MoveFileA)                                                                                                       \
    X(MoveFileExA)                                                                                                     \
    X(DeleteFileA)                                                                                                     \
    X(GetFileAttributesA)                                                                                              \
    X(CreateDirectoryA)                                                                                                \
    X(RemoveDirectoryA)                                                                                                \
    X(FindFirstFileA)                                                                                                  \
    X(FindNextFileA)                                                                                                   \
    X(FindClose)                                                                                                       \
    X(GetWindowsDirectoryA)                                                                                            \
    X(GetVersionExA)                                                                                                   \
    X(GetCurrentProcessId)                                                                                             \
    X(GetEnvironmentVariableA)                                                                                         \
    X(CreateProcessA)                                                                                                  \
    X(GetModuleFileNameA)                                                                                              \
    X(GetFullPathNameA)                                                                                                \
    X(GetShortPathNameA)                                                                                               \
    X(RegOpenKeyExA)                                                                                                   \
    X(RegQueryValueExA)                                                                                                \
    X(RegCreateKeyExA)                                                                                                 \
    X(RegSetValueExA)                                                                                                  \
    X(RegDeleteValueA)                                                                                                 \
    X(RegDeleteKeyA)                                                                                                   \
    X(RegEnumKeyExA)                                                                                                   \
    X(RegEnumValueA)                                                                                                   \
    X(RegQueryInfoKeyA)                                                                                                \
    X(RegCloseKey)                                                                                                     \
    X(GetFileAttributesExA)

enum class Call {
#define TAVUPD_FAULT_ENUM(name) name,
    TAVUPD_FAULT_CALLS(TAVUPD_FAULT_ENUM)
#undef TAVUPD_FAULT_ENUM
        Count
};

const char *callName(Call call);

// The table: each entry counts its call, applies an armed fault, and
// otherwise calls the real function.
const platform::Win32Calls &faultCalls();

// Make the nth call of the given kind, counted from now (1 = the next one),
// fail. A failing call sets the last error to `error` and returns the call's
// failure value. For WriteFile, `shortWrite` makes the call write only half
// of the bytes and report that count instead of failing outright.
void failCall(Call call, unsigned nth = 1, DWORD error = ERROR_ACCESS_DENIED, bool shortWrite = false);

// Make the k-th call of any kind, counted from the last reset (1 = the
// first), fail with ERROR_ACCESS_DENIED.
void failNthCall(unsigned long k);

// Ends the process abruptly (TerminateProcess, exit code 99) at the k-th
// call of any kind, counted from the last reset, before that call is made:
// what a power cut at that point leaves behind. 0 disarms it.
void killAtNthCall(unsigned long k);

// Called with each call's kind and number (1 = the first) before the call
// is made; null removes it.
void setCallObserver(void (*observer)(Call call, unsigned long number));

// Forget armed faults and restart the counters.
void resetFaults();

// Number of calls made since the last reset, and of one kind.
unsigned long callCount();
unsigned long callCount(Call call);

// Whether any armed fault has fired since the last reset.
bool faultFired();

// The Win32 platform over the fault table, installed as the current
// platform for the lifetime of the object (test programs).
class Installed {
  public:
    Installed();
    ~Installed();
    Installed(const Installed &) = delete;
    Installed &operator=(const Installed &) = delete;

  private:
    platform::Win32Platform platform_;
    platform::Install install_;
};

} // namespace fault
