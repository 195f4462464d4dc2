// The restart prompter: asks the user whether Windows may be restarted now
// and, on Yes, enables the shutdown privilege and asks Windows to restart.
//
// The platform calls go through `PlatformCalls`, a table of function
// pointers, so that a test can record every call and choose the answer of
// the message box. `realPlatformCalls()` forwards to Windows.
#pragma once

#include <windows.h>

namespace restarter {

// Text and caption of the question, exactly as the user sees them.
extern const char kMessageText[];
extern const char kCaption[];

// Values passed to the platform, named as in the Windows headers.
constexpr UINT kBoxStyle = 4;               // MB_YESNO
constexpr int kAnswerYes = 6;               // IDYES
constexpr DWORD kTokenAccess = 32;          // TOKEN_ADJUST_PRIVILEGES
constexpr DWORD kPrivilegeEnabled = 2;      // SE_PRIVILEGE_ENABLED
constexpr DWORD kNewStateLength = 16;       // sizeof(TOKEN_PRIVILEGES) with one entry
constexpr UINT kExitFlags = 2;              // EWX_REBOOT
extern const char kShutdownPrivilege[];     // "SeShutdownPrivilege"

struct PlatformCalls {
    int(WINAPI *messageBoxA)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
    HANDLE(WINAPI *getCurrentProcess)();
    BOOL(WINAPI *openProcessToken)(HANDLE process, DWORD access, PHANDLE token);
    BOOL(WINAPI *lookupPrivilegeValueA)(LPCSTR system, LPCSTR name, PLUID luid);
    BOOL(WINAPI *adjustTokenPrivileges)(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                                        DWORD bufferLength, PTOKEN_PRIVILEGES previousState,
                                        PDWORD returnLength);
    BOOL(WINAPI *exitWindowsEx)(UINT flags, DWORD reason);
};

// The table of the real Windows calls.
const PlatformCalls &realPlatformCalls();

// One pass of the prompter: ask, act on the answer, return the exit code
// (always 0). Only the answer of the message box is looked at.
int run(const PlatformCalls &calls);

} // namespace restarter
