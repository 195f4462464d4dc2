// The restart prompter on the screen and the whole restart flow: a patch
// whose file is in use is deferred to the next start of Windows, tavupd
// starts RESTARTER.EXE, and the answer in its box decides whether Wine
// restarts (carrying out the deferred replacement) or the user does it later.
#include "harness.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

const char kCaption[] = "Successful ORQ Patch Update Installation!";
const char kText[] = "This patch update has been installed.\n\nWindows must be shutdown and restarted for the changes "
                     "to take affect.\n\nSelect Yes to shutdown and restart Windows now.\n\nSelect No to shutdown "
                     "and restart Windows yourself at a later time.";
// Message 7 of the shipped language file, as printed in text mode.
const char kDoneLine[] = "Patch update installation complete.\r\n";

constexpr int kTextControlId = 0xFFFF; // the static control of a message box that holds the text

std::string testExeDir() {
    char buf[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    std::string p(buf, n);
    return p.substr(0, p.find_last_of('\\'));
}

// Waits for `done` to hold, checking every 100 ms, for at most `ms`.
template <typename Pred> bool waitFor(Pred done, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (GetTickCount() - start >= ms) return false;
        Sleep(100);
    }
}

// A process started without waiting for it; ended (bounded) if still running
// when the owner goes away.
class Process {
  public:
    Process() = default;
    explicit Process(HANDLE h) : h_(h) {}
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;
    Process(Process &&o) noexcept : h_(o.h_) { o.h_ = nullptr; }
    ~Process() {
        if (!h_) return;
        if (WaitForSingleObject(h_, 0) == WAIT_TIMEOUT) {
            TerminateProcess(h_, 255);
            WaitForSingleObject(h_, 5000);
        }
        CloseHandle(h_);
    }
    HANDLE handle() const { return h_; }
    DWORD id() const { return h_ ? GetProcessId(h_) : 0; }
    bool valid() const { return h_ != nullptr; }
    // Exit code once it ended within `ms`, else STILL_ACTIVE.
    DWORD waitExit(DWORD ms) const {
        if (WaitForSingleObject(h_, ms) != WAIT_OBJECT_0) return STILL_ACTIVE;
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(h_, &code);
        return code;
    }

  private:
    HANDLE h_ = nullptr;
};

Process startDetached(const std::string &exe, const std::string &cmdLine) {
    std::vector<char> cmd(cmdLine.begin(), cmdLine.end());
    cmd.push_back('\0');
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    // A loaded host now and then fails to bring up a process: try again.
    BOOL ok = FALSE;
    for (int attempt = 0; attempt < 5 && !ok; ++attempt) {
        if (attempt > 0) Sleep(200 * attempt);
        ok = CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    }
    if (!ok) return Process();
    CloseHandle(pi.hThread);
    return Process(pi.hProcess);
}

// The message box of the prompter, found by its dialog class and caption.
HWND findBox(DWORD ms = 30000) {
    HWND box = nullptr;
    waitFor([&] { return (box = FindWindowA("#32770", kCaption)) != nullptr && IsWindowVisible(box); }, ms);
    return box;
}

Process processOfWindow(HWND w) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    return Process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, pid));
}

std::string windowText(HWND w) {
    int len = GetWindowTextLengthA(w);
    std::string s(static_cast<size_t>(len) + 1, '\0');
    int got = GetWindowTextA(w, &s[0], len + 1);
    s.resize(static_cast<size_t>(std::max(got, 0)));
    return s;
}

struct Child {
    int id;
    std::string cls, text;
    bool visible;
};

BOOL CALLBACK collectChild(HWND w, LPARAM p) {
    char cls[64] = {};
    GetClassNameA(w, cls, sizeof cls);
    reinterpret_cast<std::vector<Child> *>(p)->push_back(
        {GetDlgCtrlID(w), cls, windowText(w), IsWindowVisible(w) != FALSE});
    return TRUE;
}

std::vector<Child> childrenOf(HWND box) {
    std::vector<Child> out;
    EnumChildWindows(box, collectChild, reinterpret_cast<LPARAM>(&out));
    return out;
}

// Presses a button of the box the way a click does: the box receives the
// button's command.
void press(HWND box, int id) {
    HWND button = GetDlgItem(box, id);
    ASSERT_NE(button, nullptr) << "button " << id;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

// Writes the whole screen as a 24-bit BMP file.
bool saveScreen(const std::string &path) {
    HDC screen = GetDC(nullptr);
    if (!screen) return false;
    const int w = GetDeviceCaps(screen, HORZRES), h = GetDeviceCaps(screen, VERTRES);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    BOOL copied = BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY);
    SelectObject(mem, old);

    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = w;
    bi.biHeight = h; // bottom-up, as a BMP file stores it
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    bi.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
    std::vector<char> pixels(static_cast<size_t>(stride) * static_cast<size_t>(h));
    int lines = GetDIBits(mem, bmp, 0, static_cast<UINT>(h), pixels.data(), reinterpret_cast<BITMAPINFO *>(&bi),
                          DIB_RGB_COLORS);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    if (!copied || lines != h) return false;

    BITMAPFILEHEADER bf{};
    bf.bfType = 0x4D42; // "BM"
    bf.bfOffBits = sizeof bf + sizeof bi;
    bf.bfSize = bf.bfOffBits + static_cast<DWORD>(pixels.size());
    std::string bytes(reinterpret_cast<const char *>(&bf), sizeof bf);
    bytes.append(reinterpret_cast<const char *>(&bi), sizeof bi);
    bytes.append(pixels.data(), pixels.size());
    e2e::writeFile(path, bytes);
    return e2e::readFile(path).value_or("").size() == bytes.size();
}

// Holds a file open for reading while letting others read it too, as
// Windows holds a loaded module: it can be read (so its date is checked and a
// backup is wanted) but neither renamed, deleted nor overwritten.
class InUse {
  public:
    explicit InUse(const std::string &path)
        : h_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~InUse() { release(); }
    InUse(const InUse &) = delete;
    InUse &operator=(const InUse &) = delete;
    bool held() const { return h_ != INVALID_HANDLE_VALUE; }
    void release() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE h_;
};

// Lines of section [rename] of WININIT.INI, without line ends; empty when
// the file or section is missing.
std::vector<std::string> wininitRenameLines() {
    std::vector<std::string> lines;
    auto text = e2e::readFile(e2e::windowsDir() + "\\WININIT.INI");
    if (!text) return lines;
    bool inRename = false;
    size_t pos = 0;
    while (pos < text->size()) {
        size_t end = text->find('\n', pos);
        if (end == std::string::npos) end = text->size();
        std::string line = text->substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (line[0] == '[') {
            inRename = _stricmp(line.c_str(), "[rename]") == 0;
            continue;
        }
        if (inRename) lines.push_back(line);
    }
    return lines;
}

// Waits (bounded) until no restart of Wine is in progress any more, so that
// the next test does not race with the start-up work of the last one.
bool restartFinished(DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        std::vector<DWORD> running;
        HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snap == INVALID_HANDLE_VALUE) return false;
        PROCESSENTRY32 pe{};
        pe.dwSize = sizeof pe;
        for (BOOL more = Process32First(snap, &pe); more; more = Process32Next(snap, &pe))
            if (_stricmp(pe.szExeFile, "wineboot.exe") == 0) running.push_back(pe.th32ProcessID);
        CloseHandle(snap);
        if (running.empty()) return true;
        for (DWORD pid : running) {
            HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
            if (!h) continue;
            const DWORD used = GetTickCount() - start;
            WaitForSingleObject(h, used >= ms ? 0 : ms - used);
            CloseHandle(h);
        }
        if (GetTickCount() - start >= ms) return false;
    }
}

// What remains registered for the next start of Windows, either way.
bool nothingPending() { return e2e::pendingMoves().empty() && wininitRenameLines().empty(); }

std::string upper(std::string s) {
    for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

const std::string kOld = "old library, version 1\r\n";
const std::string kNew = "new library, version 2 -- longer than the old one\r\n";

// Registers with the system the replacement of `target` by `source` at the
// next start, as the NT family does it.
void registerDelayedMove(const std::string &source, const std::string &target) {
    ASSERT_TRUE(MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT))
        << GetLastError();
}

// ---- the prompter on its own ------------------------------------------------

class RestarterBox : public ::testing::Test {
  protected:
    void SetUp() override {
        e2e::resetMachine();
        e2e::makeDirs(dir_);
        e2e::writeFile(dir_ + "\\TARGET.TXT", kOld);
        e2e::writeFile(dir_ + "\\STAGED.TXT", kNew);
        registerDelayedMove(dir_ + "\\STAGED.TXT", dir_ + "\\TARGET.TXT");
        ASSERT_EQ(e2e::pendingMoves().size(), 1u);
    }
    void TearDown() override { ASSERT_EQ(FindWindowA("#32770", kCaption), nullptr) << "a box was left open"; }

    const std::string dir_ = "C:\\E2E\\RSTBOX";
};

TEST_F(RestarterBox, ShowsTheQuestionAndNoRequestsNothing) {
    // Arguments are ignored; give some to show it.
    Process p = startDetached(e2e::restarterExe(), "RESTARTER.EXE /x -p C:\\nothing");
    ASSERT_TRUE(p.valid());
    HWND box = findBox();
    ASSERT_NE(box, nullptr) << "no message box appeared";

    EXPECT_EQ(windowText(box), kCaption);
    HWND textControl = GetDlgItem(box, kTextControlId);
    ASSERT_NE(textControl, nullptr);
    EXPECT_EQ(windowText(textControl), kText);

    // Yes and No only, Yes the default, no icon shown.
    int buttons = 0;
    for (const Child &c : childrenOf(box)) {
        if (_stricmp(c.cls.c_str(), "Button") == 0 && c.visible) {
            ++buttons;
            EXPECT_TRUE(c.id == IDYES || c.id == IDNO) << c.id << " " << c.text;
        }
        if (_stricmp(c.cls.c_str(), "Static") == 0 && c.id != kTextControlId) {
            // The icon place holds no icon.
            EXPECT_EQ(SendMessageA(GetDlgItem(box, c.id), STM_GETICON, 0, 0), 0) << "static " << c.id;
            EXPECT_EQ(c.text, "");
        }
    }
    EXPECT_EQ(buttons, 2);
    EXPECT_EQ(windowText(GetDlgItem(box, IDYES)), "&Yes");
    EXPECT_EQ(windowText(GetDlgItem(box, IDNO)), "&No");
    // Yes is the default button, No is not.
    EXPECT_EQ(GetWindowLongA(GetDlgItem(box, IDYES), GWL_STYLE) & 0x0F, BS_DEFPUSHBUTTON);
    EXPECT_EQ(GetWindowLongA(GetDlgItem(box, IDNO), GWL_STYLE) & 0x0F, BS_PUSHBUTTON);
    // The box is nobody's child window and the prompter shows nothing else.
    EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);

    // Painted: a redraw done now, and the box's thread through its queue.
    RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(box, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &ignored);
    const std::string shot = testExeDir() + "\\artifacts\\restarter-box.bmp";
    EXPECT_TRUE(saveScreen(shot)) << shot;

    press(box, IDNO);
    EXPECT_EQ(p.waitExit(15000), 0u);
    EXPECT_TRUE(waitFor([] { return FindWindowA("#32770", kCaption) == nullptr; }, 5000));

    // Nothing was requested: no restart the prompter started is under way,
    // the registered move is still waiting and the target is untouched.
    EXPECT_TRUE(e2e::waitForStartedPrograms(p.id()));
    ASSERT_EQ(e2e::pendingMoves().size(), 1u);
    EXPECT_EQ(e2e::readFile(dir_ + "\\TARGET.TXT").value_or(""), kOld);
    EXPECT_TRUE(e2e::exists(dir_ + "\\STAGED.TXT"));
}

TEST_F(RestarterBox, CloseAndCancelNeverRestart) {
    Process p = startDetached(e2e::restarterExe(), "RESTARTER.EXE");
    ASSERT_TRUE(p.valid());
    HWND box = findBox();
    ASSERT_NE(box, nullptr);
    // Closing the box and Escape (Cancel) are the other ways a user may try
    // to get rid of it. Whether the box ignores them or ends with an answer
    // other than Yes, no restart may follow.
    PostMessageA(box, WM_CLOSE, 0, 0);
    PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
    const bool closed = waitFor([] { return FindWindowA("#32770", kCaption) == nullptr; }, 2000);
    std::printf("box %s by close and cancel\n", closed ? "ended" : "stayed");
    if (!closed) {
        // On a loaded host the box may still be ending: then it offers no
        // button any more, and it must be gone soon.
        if (HWND no = GetDlgItem(box, IDNO))
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), reinterpret_cast<LPARAM>(no));
        else
            EXPECT_TRUE(waitFor([] { return FindWindowA("#32770", kCaption) == nullptr; }, 10000));
    }
    EXPECT_EQ(p.waitExit(15000), 0u);
    EXPECT_TRUE(e2e::waitForStartedPrograms(p.id()));
    EXPECT_EQ(e2e::pendingMoves().size(), 1u);
    EXPECT_EQ(e2e::readFile(dir_ + "\\TARGET.TXT").value_or(""), kOld);
    EXPECT_TRUE(e2e::exists(dir_ + "\\STAGED.TXT"));
}

TEST_F(RestarterBox, YesRestartsWineWhichCarriesOutDeferredWork) {
    // Also a line for the Windows 95 family's start-up file.
    e2e::writeFile(dir_ + "\\OTHER.TXT", kOld);
    e2e::writeFile(dir_ + "\\OTHER.NEW", kNew);
    e2e::writeFile(e2e::windowsDir() + "\\WININIT.INI",
                   e2e::crlf("[rename]\n" + dir_ + "\\OTHER.TXT=" + dir_ + "\\OTHER.NEW\n"));

    Process p = startDetached(e2e::restarterExe(), "RESTARTER.EXE");
    ASSERT_TRUE(p.valid());
    HWND box = findBox();
    ASSERT_NE(box, nullptr);
    press(box, IDYES);
    EXPECT_EQ(p.waitExit(30000), 0u);

    // The restart runs in the background; wait (bounded) for its work.
    EXPECT_TRUE(waitFor([&] { return e2e::readFile(dir_ + "\\TARGET.TXT").value_or("") == kNew; }, 60000));
    EXPECT_TRUE(waitFor([&] { return e2e::readFile(dir_ + "\\OTHER.TXT").value_or("") == kNew; }, 60000));
    EXPECT_FALSE(e2e::exists(dir_ + "\\STAGED.TXT"));
    EXPECT_FALSE(e2e::exists(dir_ + "\\OTHER.NEW"));
    EXPECT_TRUE(restartFinished(60000));
    EXPECT_TRUE(e2e::pendingMoves().empty());
    EXPECT_TRUE(wininitRenameLines().empty());
}

// ---- the whole flow ---------------------------------------------------------

struct Family {
    const char *version; // Wine's name of the Windows version
    const char *osCode;  // version code in a condition line
    bool win95;          // deferred through WININIT.INI (else delayed moves)
};

class RestartFlow : public ::testing::TestWithParam<Family> {
  protected:
    void SetUp() override {
        e2e::resetMachine();
        e2e::installProduct("C:\\TAVRO", 1);
        e2e::writeFile(kDll, kOld);
        e2e::setDosTime(kDll, e2e::dosDate(1997, 3, 4), e2e::dosTime(10, 20, 30));
    }

    // A patch directory with the newer X.DLL, RESTARTER.EXE and a profile
    // whose one condition set holds on this family and installs X.DLL.
    std::unique_ptr<e2e::PatchDir> makePatch(const std::string &patchLines, const std::string &branchLines) {
        auto patch = std::make_unique<e2e::PatchDir>("RSTFLOW");
        patch->writeFile("X.DLL", kNew);
        e2e::setDosTime(patch->path("X.DLL"), e2e::dosDate(1998, 9, 16), e2e::dosTime(16, 6, 56));
        EXPECT_TRUE(CopyFileA(e2e::restarterExe().c_str(), patch->path("RESTARTER.EXE").c_str(), FALSE));
        patch->writeProfile(std::string("[Patch]\nPatch=RSTFLOW1\nLogFile=") + patch->path("PATCH.LOG") +
                            "\n" + patchLines + "Condition0=Update," + GetParam().osCode +
                            ",0,Tavro,root,C\n\n[Update]\nFILE1=TAVRO,X.DLL\n" + branchLines);
        return patch;
    }

    // Runs tavupd with the destination in use; checks that it deferred the
    // replacement, finished with message 7 and left the prompter's box up.
    // Returns the box.
    HWND runDeferred(const e2e::PatchDir &patch, bool held, bool withBackup = true) {
        EXPECT_TRUE(held);
        e2e::RunResult r = e2e::runTavupd(patch, {}, GetParam().version);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
        EXPECT_EQ(r.err, "");
        // The run ends with message 7 and nothing after it (no message 8: a
        // program is configured and was started).
        EXPECT_GE(r.out.size(), std::strlen(kDoneLine));
        EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), std::strlen(kDoneLine))), kDoneLine) << r.out;
        EXPECT_EQ(r.out.find("Windows must be restarted"), std::string::npos);

        HWND box = findBox(r.exitCode == 0 ? 30000 : 2000);
        EXPECT_NE(box, nullptr) << "tavupd did not start the prompter\n" << r.out;
        // The outcome line of the deferred copy.
        EXPECT_NE(r.out.find(withBackup ? "C:\\TAVRO\\X.DLL (older file replaced)\r\n"
                                        : "C:\\TAVRO\\X.DLL (new file installed)\r\n"),
                  std::string::npos)
            << r.out;
        if (!box) return nullptr;
        EXPECT_EQ(windowText(GetDlgItem(box, kTextControlId)), kText);

        // The log was closed before the prompter started: it can be opened
        // exclusively and ends with message 7 too.
        std::string log = patch.path("PATCH.LOG");
        HANDLE h = CreateFileA(log.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << "log still open";
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        std::string text = e2e::readFile(log).value_or("");
        EXPECT_NE(text.find("Patch update installation complete."), std::string::npos) << text;

        // Nothing is replaced yet (a file held exclusively cannot be read
        // here either), and the replacement is registered.
        if (withBackup) {
            EXPECT_EQ(e2e::readFile(kDll).value_or(""), kOld);
        } else {
            EXPECT_TRUE(e2e::exists(kDll));
        }
        EXPECT_FALSE(e2e::exists(kOldBackup));
        expectRegistered(withBackup);
        return box;
    }

    // The backup rename first (when a backup is made), then the staged copy
    // onto X.DLL.
    void expectRegistered(bool withBackup = true) {
        std::vector<std::pair<std::string, std::string>> moves; // (source, target)
        if (GetParam().win95) {
            EXPECT_TRUE(e2e::pendingMoves().empty());
            for (const std::string &line : wininitRenameLines()) {
                size_t eq = line.find('=');
                ASSERT_NE(eq, std::string::npos) << line;
                moves.emplace_back(line.substr(eq + 1), line.substr(0, eq));
            }
        } else {
            EXPECT_TRUE(wininitRenameLines().empty());
            moves = e2e::pendingMoves();
        }
        ASSERT_EQ(moves.size(), withBackup ? 2u : 1u);
        if (withBackup) {
            EXPECT_EQ(upper(moves[0].first), upper(kDll));
            EXPECT_EQ(upper(moves[0].second), upper(kOldBackup));
        }
        const auto &staged = moves.back();
        EXPECT_EQ(upper(staged.first).rfind("C:\\TAVRO\\ARCHIVE\\TEMP\\TV", 0), 0u) << staged.first;
        EXPECT_EQ(upper(staged.second), upper(kDll));
        EXPECT_EQ(e2e::readFile(staged.first).value_or(""), kNew) << "staged copy";
    }

    // After the restart: new file in place, old one kept as X.OLD, nothing
    // left registered, and the patch recorded as installed.
    void expectReplaced(bool withBackup = true) {
        EXPECT_TRUE(waitFor([&] { return e2e::readFile(kDll).value_or("") == kNew; }, 60000))
            << e2e::readFile(kDll).value_or("<missing>");
        if (withBackup) {
            EXPECT_TRUE(waitFor([&] { return e2e::readFile(kOldBackup).value_or("") == kOld; }, 10000));
        } else {
            EXPECT_FALSE(e2e::exists(kOldBackup));
        }
        EXPECT_TRUE(waitFor(nothingPending, 10000));
        EXPECT_TRUE(e2e::listDir("C:\\TAVRO\\ARCHIVE\\TEMP").empty());
        WORD d = 0, t = 0;
        EXPECT_TRUE(e2e::getDosTime(kDll, d, t));
        EXPECT_EQ(d, e2e::dosDate(1998, 9, 16));
        EXPECT_EQ(t, e2e::dosTime(16, 6, 56));
        EXPECT_TRUE(restartFinished(60000));
        auto ini = e2e::readFile(e2e::windowsDir() + "\\TAVRO.INI").value_or("");
        EXPECT_NE(ini.find("Patch0=RSTFLOW1"), std::string::npos) << ini;
    }

    const std::string kDll = "C:\\TAVRO\\X.DLL";
    const std::string kOldBackup = "C:\\TAVRO\\X.OLD";
};

TEST_P(RestartFlow, YesRestartsAndReplacesTheFile) {
    auto patch = makePatch("Reboot Program=RESTARTER.EXE\n", "");
    InUse lock(kDll);
    HWND box = runDeferred(*patch, lock.held());
    ASSERT_NE(box, nullptr);
    Process prompter = processOfWindow(box);
    ASSERT_TRUE(prompter.valid());

    lock.release(); // the module is unloaded as Windows goes down
    press(box, IDYES);
    EXPECT_EQ(prompter.waitExit(30000), 0u);
    expectReplaced();
}

TEST_P(RestartFlow, NoLeavesTheRegistrationForALaterRestart) {
    auto patch = makePatch("Reboot Program=RESTARTER.EXE\n", "");
    InUse lock(kDll);
    HWND box = runDeferred(*patch, lock.held());
    ASSERT_NE(box, nullptr);
    Process prompter = processOfWindow(box);
    ASSERT_TRUE(prompter.valid());

    press(box, IDNO);
    EXPECT_EQ(prompter.waitExit(15000), 0u);
    EXPECT_TRUE(e2e::waitForStartedPrograms(prompter.id()));
    // Still registered, still the old file.
    expectRegistered(true);
    EXPECT_EQ(e2e::readFile(kDll).value_or(""), kOld);

    // The user restarts later.
    lock.release();
    e2e::restartWindows();
    expectReplaced();
}

TEST_P(RestartFlow, RebootActionNamesTheProgram) {
    // No "Reboot Program" setting: the REBOOT line asks for the restart and
    // names the prompter.
    auto patch = makePatch("", "REBOOT=1,RESTARTER.EXE\n");
    InUse lock(kDll);
    HWND box = runDeferred(*patch, lock.held());
    ASSERT_NE(box, nullptr);
    Process prompter = processOfWindow(box);
    ASSERT_TRUE(prompter.valid());

    lock.release();
    press(box, IDYES);
    EXPECT_EQ(prompter.waitExit(30000), 0u);
    expectReplaced();
}

TEST_P(RestartFlow, ExclusivelyHeldFileIsReplacedWithoutBackup) {
    // A file nobody may even read counts as absent: no date check and no
    // backup, only the staged copy is registered; the restart installs it.
    auto patch = makePatch("Reboot Program=RESTARTER.EXE\n", "");
    e2e::FileLock lock(kDll);
    HWND box = runDeferred(*patch, lock.locked(), false);
    ASSERT_NE(box, nullptr);
    Process prompter = processOfWindow(box);
    ASSERT_TRUE(prompter.valid());

    lock.release();
    press(box, IDYES);
    EXPECT_EQ(prompter.waitExit(30000), 0u);
    expectReplaced(false);
}

INSTANTIATE_TEST_SUITE_P(Families, RestartFlow,
                         ::testing::Values(Family{"win98", "7", true}, Family{"nt40", "8", false}),
                         [](const ::testing::TestParamInfo<Family> &i) {
                             return std::string(i.param.win95 ? "Win98" : "NT4");
                         });

} // namespace
