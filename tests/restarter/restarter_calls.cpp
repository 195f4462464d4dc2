// Records every platform call the prompter makes, with its arguments, and
// checks the order and the values for each answer of the message box.
#include "restarter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Recorded {
    std::string name;
    // Arguments as the call received them.
    HWND owner = reinterpret_cast<HWND>(1);
    std::string text, caption;
    UINT style = 0;
    HANDLE handle = nullptr;
    DWORD access = 0;
    bool systemNameNull = false;
    std::string privilegeName;
    BOOL disableAll = TRUE;
    DWORD privilegeCount = 0;
    LUID luid{};
    DWORD attributes = 0;
    DWORD bufferLength = 0;
    bool previousStateNull = false;
    bool returnLengthNull = false;
    UINT exitFlags = 0;
    DWORD reason = 0xFFFFFFFF;
};

// State of the fake platform for one test.
std::vector<Recorded> calls;
int boxAnswer = IDNO;
BOOL tokenResult = TRUE;
BOOL lookupResult = TRUE;
const HANDLE kProcess = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-1));
const HANDLE kToken = reinterpret_cast<HANDLE>(0x1234);
const LUID kLuid{19, 0};

int WINAPI fakeMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    Recorded r;
    r.name = "MessageBoxA";
    r.owner = owner;
    r.text = text ? text : "<null>";
    r.caption = caption ? caption : "<null>";
    r.style = type;
    calls.push_back(r);
    return boxAnswer;
}

HANDLE WINAPI fakeGetCurrentProcess() {
    Recorded r;
    r.name = "GetCurrentProcess";
    calls.push_back(r);
    return kProcess;
}

BOOL WINAPI fakeOpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    Recorded r;
    r.name = "OpenProcessToken";
    r.handle = process;
    r.access = access;
    calls.push_back(r);
    if (!tokenResult) return FALSE; // the handle is left as the caller had it
    *token = kToken;
    return TRUE;
}

BOOL WINAPI fakeLookupPrivilegeValue(LPCSTR system, LPCSTR name, PLUID luid) {
    Recorded r;
    r.name = "LookupPrivilegeValueA";
    r.systemNameNull = system == nullptr;
    r.privilegeName = name ? name : "<null>";
    calls.push_back(r);
    if (!lookupResult) return FALSE;
    *luid = kLuid;
    return TRUE;
}

BOOL WINAPI fakeAdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD length,
                                      PTOKEN_PRIVILEGES previous, PDWORD returnLength) {
    Recorded r;
    r.name = "AdjustTokenPrivileges";
    r.handle = token;
    r.disableAll = disableAll;
    if (newState) {
        r.privilegeCount = newState->PrivilegeCount;
        r.luid = newState->Privileges[0].Luid;
        r.attributes = newState->Privileges[0].Attributes;
    }
    r.bufferLength = length;
    r.previousStateNull = previous == nullptr;
    r.returnLengthNull = returnLength == nullptr;
    calls.push_back(r);
    return tokenResult && lookupResult;
}

BOOL WINAPI fakeExitWindowsEx(UINT flags, DWORD reason) {
    Recorded r;
    r.name = "ExitWindowsEx";
    r.exitFlags = flags;
    r.reason = reason;
    calls.push_back(r);
    return FALSE; // a refused restart must not change the outcome
}

const restarter::PlatformCalls kFake = {fakeMessageBox, fakeGetCurrentProcess, fakeOpenProcessToken,
                                        fakeLookupPrivilegeValue, fakeAdjustTokenPrivileges, fakeExitWindowsEx};

const char kExpectedText[] = "This patch update has been installed.\n\nWindows must be shutdown and restarted for "
                             "the changes to take affect.\n\nSelect Yes to shutdown and restart Windows now.\n\n"
                             "Select No to shutdown and restart Windows yourself at a later time.";
const char kExpectedCaption[] = "Successful ORQ Patch Update Installation!";

class RestarterCalls : public ::testing::Test {
  protected:
    void SetUp() override {
        calls.clear();
        boxAnswer = IDNO;
        tokenResult = TRUE;
        lookupResult = TRUE;
    }

    static std::vector<std::string> names() {
        std::vector<std::string> n;
        for (const auto &c : calls) n.push_back(c.name);
        return n;
    }

    static void expectQuestion(const Recorded &box) {
        EXPECT_EQ(box.name, "MessageBoxA");
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(box.text, kExpectedText);
        EXPECT_EQ(box.caption, kExpectedCaption);
        EXPECT_EQ(box.style, 4u);
    }
};

TEST_F(RestarterCalls, NoAsksOnceAndRequestsNothing) {
    boxAnswer = IDNO;
    EXPECT_EQ(restarter::run(kFake), 0);
    ASSERT_EQ(names(), std::vector<std::string>{"MessageBoxA"});
    expectQuestion(calls[0]);
}

TEST_F(RestarterCalls, EveryAnswerButYesActsAsNo) {
    // 0 is what a box that could not be shown returns; the others are the
    // remaining answers a message box can give.
    for (int answer : {0, IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDNO, 8, -1}) {
        SCOPED_TRACE(answer);
        calls.clear();
        boxAnswer = answer;
        EXPECT_EQ(restarter::run(kFake), 0);
        ASSERT_EQ(names(), std::vector<std::string>{"MessageBoxA"});
        expectQuestion(calls[0]);
    }
}

TEST_F(RestarterCalls, YesEnablesShutdownPrivilegeThenRestarts) {
    boxAnswer = IDYES;
    EXPECT_EQ(restarter::run(kFake), 0);
    const std::vector<std::string> expected = {"MessageBoxA",           "GetCurrentProcess",     "OpenProcessToken",
                                               "LookupPrivilegeValueA", "AdjustTokenPrivileges", "ExitWindowsEx"};
    ASSERT_EQ(names(), expected);
    expectQuestion(calls[0]);

    EXPECT_EQ(calls[2].handle, kProcess); // the token of the current process
    EXPECT_EQ(calls[2].access, 32u);

    EXPECT_TRUE(calls[3].systemNameNull);
    EXPECT_EQ(calls[3].privilegeName, "SeShutdownPrivilege");

    const Recorded &adjust = calls[4];
    EXPECT_EQ(adjust.handle, kToken);
    EXPECT_EQ(adjust.disableAll, FALSE);
    EXPECT_EQ(adjust.privilegeCount, 1u);
    EXPECT_EQ(adjust.luid.LowPart, kLuid.LowPart);
    EXPECT_EQ(adjust.luid.HighPart, kLuid.HighPart);
    EXPECT_EQ(adjust.attributes, 2u);
    EXPECT_EQ(adjust.bufferLength, 16u);
    EXPECT_TRUE(adjust.previousStateNull);
    EXPECT_TRUE(adjust.returnLengthNull);

    EXPECT_EQ(calls[5].exitFlags, 2u);
    EXPECT_EQ(calls[5].reason, 0u);
}

TEST_F(RestarterCalls, YesRestartsEvenWhenTheTokenCallsFail) {
    // As on the Windows 95 family: the token calls fail and the restart is
    // requested all the same, with nothing indeterminate passed along.
    boxAnswer = IDYES;
    tokenResult = FALSE;
    lookupResult = FALSE;
    EXPECT_EQ(restarter::run(kFake), 0);
    const std::vector<std::string> expected = {"MessageBoxA",           "GetCurrentProcess",     "OpenProcessToken",
                                               "LookupPrivilegeValueA", "AdjustTokenPrivileges", "ExitWindowsEx"};
    ASSERT_EQ(names(), expected);
    EXPECT_EQ(calls[4].handle, nullptr);
    EXPECT_EQ(calls[4].luid.LowPart, 0u);
    EXPECT_EQ(calls[4].luid.HighPart, 0);
    EXPECT_EQ(calls[4].privilegeCount, 1u);
    EXPECT_EQ(calls[4].attributes, 2u);
    EXPECT_EQ(calls[5].exitFlags, 2u);
}

} // namespace
