#include "restarter.h"

static_assert(sizeof(TOKEN_PRIVILEGES) == restarter::kNewStateLength,
              "a privilege record with one entry is 16 bytes on this platform");
static_assert(restarter::kBoxStyle == MB_YESNO && restarter::kAnswerYes == IDYES &&
                  restarter::kTokenAccess == TOKEN_ADJUST_PRIVILEGES &&
                  restarter::kPrivilegeEnabled == SE_PRIVILEGE_ENABLED && restarter::kExitFlags == EWX_REBOOT,
              "the named values match the Windows headers");

namespace restarter {

const char kMessageText[] =
    "This patch update has been installed.\n\n"
    "Windows must be shutdown and restarted for the changes to take affect.\n\n"
    "Select Yes to shutdown and restart Windows now.\n\n"
    "Select No to shutdown and restart Windows yourself at a later time.";

const char kCaption[] = "Successful ORQ Patch Update Installation!";

const char kShutdownPrivilege[] = "SeShutdownPrivilege";

const PlatformCalls &realPlatformCalls() {
    static const PlatformCalls calls = {
        MessageBoxA, GetCurrentProcess, OpenProcessToken, LookupPrivilegeValueA, AdjustTokenPrivileges,
        ExitWindowsEx,
    };
    return calls;
}

int run(const PlatformCalls &calls) {
    if (calls.messageBoxA(nullptr, kMessageText, kCaption, kBoxStyle) != kAnswerYes) return 0;

    // The results of the token calls are deliberately not checked: on the
    // Windows 95 family they do nothing and the restart is requested all the
    // same. The handle and the identifier start out defined so that a failed
    // call leaves nothing indeterminate to pass on.
    HANDLE token = nullptr;
    calls.openProcessToken(calls.getCurrentProcess(), kTokenAccess, &token);

    LUID luid{};
    calls.lookupPrivilegeValueA(nullptr, kShutdownPrivilege, &luid);

    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = luid;
    privileges.Privileges[0].Attributes = kPrivilegeEnabled;
    calls.adjustTokenPrivileges(token, FALSE, &privileges, kNewStateLength, nullptr, nullptr);

    // The process ends right after this; the system closes the token then.
    calls.exitWindowsEx(kExitFlags, 0);
    return 0;
}

} // namespace restarter
