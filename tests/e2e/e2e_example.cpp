// The bundled example: the product of examples/product installed by TVSETUP,
// the patch kit of examples/patch applied by the real TAVUPD.EXE as Windows 98
// and as NT 4. Checks every effect the manual describes for it.

#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>

#ifndef E2E_SOURCE_DIR
#error "E2E_SOURCE_DIR must name the source tree"
#endif

using namespace e2e;

namespace {

const std::string kSource = E2E_SOURCE_DIR;
const std::string kProductDir = kSource + "\\examples\\product";
const std::string kKitDir = kSource + "\\examples\\patch";

// TVSETUP.EXE is built in the test tree, beside the fault build.
std::string tvsetupExe() {
    std::string exe = tavupdFaultExe();
    return exe.substr(0, exe.find_last_of('\\')) + "\\TVSETUP.exe";
}

// Message N of the shipped language file.
std::string msg(int n) {
    std::string text = message(n);
    if (text.empty()) ADD_FAILURE() << "no message " << n;
    return text;
}

std::string source(const std::string &rel) { return readFile(kProductDir + "\\" + rel).value_or("<missing>"); }
std::string payload(const std::string &name) { return readFile(kKitDir + "\\" + name).value_or("<missing>"); }

// "yyyy-mm-dd hh:mm:ss" of a file's last-write time, or "" when missing.
std::string stamp(const std::string &path) {
    WORD d, t;
    if (!getDosTime(path, d, t)) return "";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", 1980 + (d >> 9), (d >> 5) & 15, d & 31, t >> 11,
                  (t >> 5) & 63, (t & 31) * 2);
    return buf;
}

// Lines of a text file without their line ends.
std::vector<std::string> lines(const std::string &path) {
    std::vector<std::string> out;
    std::istringstream in(readFile(path).value_or(""));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

std::string outcome(const std::string &path, int message) { return path + " (" + msg(message) + ")\r\n"; }

// Standard output of a run of UPDATE followed by `tail`. FINDFILE reports the
// two plug-in directories in the order the directory listing gives them.
bool updateOutputIs(const std::string &out, const std::string &tail) {
    const std::string head = msg(3) + " v2.00 Beta 6N\r\n" + outcome("C:\\TAVRO\\TVVIEW.EXE", 34) +
                             outcome("C:\\TAVRO\\BIN\\TVCORE.DLL", 34) + outcome("C:\\TAVRO\\TVREPORT.CFG", 34);
    const std::string exportLine = outcome("C:\\TAVRO\\PLUGINS\\EXPORT\\TVFILTER.DLL", 33);
    const std::string importLine = outcome("C:\\TAVRO\\PLUGINS\\IMPORT\\TVFILTER.DLL", 34);
    return out == head + exportLine + importLine + tail || out == head + importLine + exportLine + tail;
}

class Example : public ::testing::Test {
  protected:
    void SetUp() override {
        resetMachine();
        win = windowsDir();
        RunResult setup = runProgram(tvsetupExe(), {"install", kProductDir + "\\PRODUCT.LST"});
        ASSERT_EQ(setup.exitCode, 0u) << setup.err;
        // The product is there as PRODUCT.LST describes it.
        ASSERT_EQ(readFile("C:\\TAVRO\\TVVIEW.EXE"), source("TAVRO\\TVVIEW.EXE"));
        ASSERT_EQ(stamp("C:\\TAVRO\\TVVIEW.EXE"), "1998-03-02 10:00:00");
        ASSERT_EQ(stamp("C:\\TAVRO\\PLUGINS\\EXPORT\\TVFILTER.DLL"), "2000-01-10 09:30:00");
        ASSERT_EQ(regGetString("HKLM", "SOFTWARE\\Korvek\\Tavro", "Build"), "0400");
        ASSERT_TRUE(regKeyExists("HKCU", "Software\\Korvek\\Tavro\\Cache\\Thumbs"));

        kit = std::make_unique<PatchDir>("EXAMPLE");
        ASSERT_TRUE(copyKit(kKitDir, *kit));
        // As in the demo: no question box, the run ends with message 8.
        std::string profile = readFile(kit->path("TAVUPD.DAT")).value_or("");
        const std::string setting = "Reboot Program=RESTARTER.EXE";
        size_t at = profile.find(setting);
        ASSERT_NE(at, std::string::npos);
        profile.replace(at, setting.size(), "Reboot Program=");
        writeFile(kit->path("TAVUPD.DAT"), profile);
    }

    RunResult apply(const std::string &version) { return runTavupd(*kit, {}, version); }

    // Effects of the branch UPDATE, shared by both families.
    void expectCommonEffects(bool viewerWasHeld) {
        // FILE with backup: the new file with the patch's date, the old one as .OLD.
        if (!viewerWasHeld) {
            EXPECT_EQ(readFile("C:\\TAVRO\\TVVIEW.EXE"), payload("TVVIEW.EXE"));
            EXPECT_EQ(stamp("C:\\TAVRO\\TVVIEW.EXE"), "1999-06-15 12:00:00");
            EXPECT_EQ(readFile("C:\\TAVRO\\TVVIEW.OLD"), source("TAVRO\\TVVIEW.EXE"));
        }
        EXPECT_EQ(readFile("C:\\TAVRO\\BIN\\TVCORE.DLL"), payload("TVCORE.DLL"));
        EXPECT_EQ(readFile("C:\\TAVRO\\BIN\\TVCORE.OLD"), source("TAVRO\\BIN\\TVCORE.DLL"));
        EXPECT_EQ(stamp("C:\\TAVRO\\BIN\\TVCORE.OLD"), "1998-03-02 10:00:00");

        // SUBST: installed with the references expanded; the doubled marker
        // keeps a literal path.
        std::vector<std::string> cfg = lines("C:\\TAVRO\\TVREPORT.CFG");
        std::vector<std::string> want = {"; Tavro report generator 2.1",
                                          "; The directory references below are filled in with the directories of the",
                                          "; machine when the patch installs this file.",
                                          "[Report]",
                                          "Templates=C:\\TAVRO\\REPORTS",
                                          "Output=C:\\TAVRO\\OUT",
                                          "Fonts=" + win + "\\FONTS",
                                          "Spool=C:\\WINDOWS\\SPOOL"};
        EXPECT_EQ(cfg, want);
        EXPECT_EQ(readFile("C:\\TAVRO\\TVREPORT.OLD"), source("TAVRO\\TVREPORT.CFG"));

        // FINDFILE: the older copy replaced, the newer hotfix kept.
        EXPECT_EQ(readFile("C:\\TAVRO\\PLUGINS\\IMPORT\\TVFILTER.DLL"), payload("TVFILTER.DLL"));
        EXPECT_EQ(readFile("C:\\TAVRO\\PLUGINS\\IMPORT\\TVFILTER.OLD"), source("TAVRO\\PLUGINS\\IMPORT\\TVFILTER.DLL"));
        EXPECT_EQ(readFile("C:\\TAVRO\\PLUGINS\\EXPORT\\TVFILTER.DLL"), source("TAVRO\\PLUGINS\\EXPORT\\TVFILTER.DLL"));
        EXPECT_EQ(stamp("C:\\TAVRO\\PLUGINS\\EXPORT\\TVFILTER.DLL"), "2000-01-10 09:30:00");
        EXPECT_FALSE(exists("C:\\TAVRO\\PLUGINS\\EXPORT\\TVFILTER.OLD"));

        // COPY, RENAME, ERASE.
        EXPECT_EQ(readFile("C:\\TAVRO\\ARCHIVE\\TAVRO.SAV"), source("TAVRO\\TAVRO.INI"));
        EXPECT_FALSE(exists("C:\\TAVRO\\TVNOTES.TXT"));
        EXPECT_EQ(readFile("C:\\TAVRO\\DOCS\\TVNOTES.TXT"), source("TAVRO\\TVNOTES.TXT"));
        EXPECT_FALSE(exists("C:\\TAVRO\\TVTIPS.TXT"));
        EXPECT_FALSE(exists("C:\\TAVRO\\TVTIPS.OLD"));

        // INI: set with substitution, literal path, escaped comma, key and
        // section deleted.
        std::vector<std::string> product = lines("C:\\TAVRO\\TAVRO.INI");
        std::vector<std::string> wantProduct = {"[Settings]",
                                                "DataDir=C:\\TAVRO\\DATA",
                                                "HelpFile=C:\\TAVRO\\DOCS\\TVGUIDE.TXT",
                                                "SpoolDir=C:\\WINDOWS\\SPOOL",
                                                "",
                                                "[Display]",
                                                "Colors=256",
                                                "Font=Arial, 10",
                                                ""};
        EXPECT_EQ(product, wantProduct);
        std::vector<std::string> winIni = lines(win + "\\WIN.INI");
        EXPECT_NE(std::find(winIni.begin(), winIni.end(), "tvr=C:\\TAVRO\\TVVIEW.EXE ^.tvr"), winIni.end());
        std::vector<std::string> system = lines(win + "\\TAVRO.INI");
        std::vector<std::string> wantSystem = {"[Tavro]",  "root=C:\\TAVRO", "Version=2.1", "", "[Patch]",
                                               "Interactive=1", "",          "[Install]",   "Patch0=TP2001"};
        EXPECT_EQ(system, wantSystem);

        // REG: set, substituted, deleted value, default value, deleted tree.
        EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\Korvek\\Tavro", "Version"), "2.1");
        EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\Korvek\\Tavro", "Build"), "0412");
        EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\Korvek\\Tavro", "HelpDir"), "C:\\TAVRO\\DOCS");
        EXPECT_EQ(regGetType("HKLM", "SOFTWARE\\Korvek\\Tavro", "HelpDir"), std::optional<DWORD>(REG_SZ));
        EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\Korvek\\Tavro", "BetaFlag"), std::nullopt);
        EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\Korvek\\Tavro", "Edition"), "Standard");
        EXPECT_EQ(regGetString("HKCR", ".tvr", ""), "Tavro.Document.2");
        EXPECT_FALSE(regKeyExists("HKCU", "Software\\Korvek\\Tavro\\Cache"));
        EXPECT_TRUE(regKeyExists("HKCU", "Software\\Korvek\\Tavro"));
    }

    std::string win;
    std::unique_ptr<PatchDir> kit;
};

TEST_F(Example, Windows98RunsUpdateAndWin9xBranchesAndAsksForRestart) {
    RunResult r = apply("win98");
    const std::string sys = win + "\\SYSTEM\\TVPRINT.DRV";
    EXPECT_TRUE(updateOutputIs(r.out, outcome(sys, 34) + msg(7) + "\r\n" + msg(8) + "\r\n")) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 3010u);
    EXPECT_EQ(readFile(kit->path("TAVUPD.LOG")), r.out);

    expectCommonEffects(false);
    // WIN9X: the driver replaced (REBOOT asked for the restart); nothing of WINNT.
    EXPECT_EQ(readFile(sys), payload("TVPRINT.DRV"));
    EXPECT_EQ(readFile(win + "\\SYSTEM\\TVPRINT.OLD"), source("WINDOWS\\SYSTEM\\TVPRINT.DRV"));
    EXPECT_FALSE(exists(win + "\\SYSTEM32\\TVPRNT32.DRV"));
    EXPECT_FALSE(regKeyExists("HKCU", "Software\\Korvek\\Tavro\\Viewer"));
    // Nothing was in use: nothing waits for the restart.
    EXPECT_FALSE(exists(win + "\\WININIT.INI"));
}

TEST_F(Example, Nt4RunsUpdateAndWinNtBranchesAndEndsNormally) {
    RunResult r = apply("nt40");
    const std::string drv = win + "\\SYSTEM32\\TVPRNT32.DRV";
    EXPECT_TRUE(updateOutputIs(r.out, outcome(drv, 36) + msg(7) + "\r\n")) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 0u);

    expectCommonEffects(false);
    // WINNT: the driver under its entry name, the user's setting; nothing of WIN9X.
    EXPECT_EQ(readFile(drv), payload("TVPRINT.DRV"));
    EXPECT_EQ(regGetString("HKCU", "Software\\Korvek\\Tavro\\Viewer", "Path"), "C:\\TAVRO\\TVVIEW.EXE");
    EXPECT_EQ(readFile(win + "\\SYSTEM\\TVPRINT.DRV"), source("WINDOWS\\SYSTEM\\TVPRINT.DRV"));
    EXPECT_FALSE(exists(win + "\\SYSTEM\\TVPRINT.OLD"));
    EXPECT_TRUE(pendingMoves().empty());
}

TEST_F(Example, SecondRunIsRefusedAsAlreadyInstalledAndChangesNothing) {
    for (const char *version : {"win98", "nt40"}) {
        SCOPED_TRACE(version);
        SetUp();
        ASSERT_FALSE(HasFatalFailure());
        RunResult first = apply(version);
        ASSERT_NE(first.exitCode, 1u) << first.err;
        const auto productIni = readFile("C:\\TAVRO\\TAVRO.INI");
        const auto systemIni = readFile(win + "\\TAVRO.INI");
        const auto oldViewer = readFile("C:\\TAVRO\\TVVIEW.OLD");

        RunResult again = apply(version);
        EXPECT_EQ(again.exitCode, 1638u);
        EXPECT_EQ(again.out, msg(3) + " v2.00 Beta 6N\r\n");
        EXPECT_EQ(again.err, "\r\n\a" + msg(11) + "\r\n");
        EXPECT_EQ(readFile("C:\\TAVRO\\TAVRO.INI"), productIni);
        EXPECT_EQ(readFile(win + "\\TAVRO.INI"), systemIni);
        EXPECT_EQ(readFile("C:\\TAVRO\\TVVIEW.OLD"), oldViewer);
        std::vector<std::string> record = lines(win + "\\TAVRO.INI");
        EXPECT_EQ(std::count_if(record.begin(), record.end(),
                                [](const std::string &l) { return l.rfind("Patch", 0) == 0 && l.find('=') != std::string::npos; }),
                  1); // recorded once, as Patch0
    }
}

TEST_F(Example, ProductOutsideTheConditionsIsLeftAlone) {
    // Version 3.0 is outside 2.0-2.9; a build below 0400 fails the registry test.
    for (int variant = 0; variant < 2; ++variant) {
        SCOPED_TRACE(variant);
        SetUp();
        ASSERT_FALSE(HasFatalFailure());
        if (variant == 0)
            writeFile(win + "\\TAVRO.INI", crlf("[Tavro]\nroot=C:\\TAVRO\nVersion=3.0\n\n[Patch]\nInteractive=1\n"));
        else
            regSetString("HKLM", "SOFTWARE\\Korvek\\Tavro", "Build", "0399");
        const auto systemBefore = readFile(win + "\\TAVRO.INI");
        RunResult r = apply("nt40");
        EXPECT_EQ(r.exitCode, 1642u);
        EXPECT_EQ(r.err, "\r\n\a" + msg(9) + "\r\n" + msg(10) + "\r\n");
        EXPECT_EQ(readFile("C:\\TAVRO\\TVVIEW.EXE"), source("TAVRO\\TVVIEW.EXE"));
        EXPECT_FALSE(exists("C:\\TAVRO\\TVVIEW.OLD"));
        EXPECT_EQ(readFile("C:\\TAVRO\\TAVRO.INI"), source("TAVRO\\TAVRO.INI"));
        EXPECT_EQ(readFile(win + "\\TAVRO.INI"), systemBefore);
        EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\Korvek\\Tavro", "BetaFlag"), "1");
    }
}

TEST_F(Example, ViewerInUseIsReplacedAtTheNextStartOfWindows) {
    for (const char *version : {"win98", "nt40"}) {
        SCOPED_TRACE(version);
        SetUp();
        ASSERT_FALSE(HasFatalFailure());
        const bool nt = std::string(version) == "nt40";
        RunResult r;
        {
            FileLock viewer("C:\\TAVRO\\TVVIEW.EXE");
            ASSERT_TRUE(viewer.locked());
            r = apply(version);
        }
        EXPECT_EQ(r.exitCode, 3010u) << r.err;
        EXPECT_EQ(r.err, "");
        // Held exclusively, the viewer could not even be read: it counts as
        // missing, so the outcome is "new file" and no backup is made.
        EXPECT_NE(r.out.find(outcome("C:\\TAVRO\\TVVIEW.EXE", 36)), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(msg(8)), std::string::npos);
        EXPECT_EQ(readFile("C:\\TAVRO\\TVVIEW.EXE"), source("TAVRO\\TVVIEW.EXE"));
        EXPECT_FALSE(exists("C:\\TAVRO\\TVVIEW.OLD"));
        expectCommonEffects(true);

        // The patch's viewer waits, staged in ARCHIVE\TEMP.
        std::vector<std::string> staged = listDir("C:\\TAVRO\\ARCHIVE\\TEMP");
        ASSERT_EQ(staged.size(), 1u);
        const std::string stagedPath = "C:\\TAVRO\\ARCHIVE\\TEMP\\" + staged[0];
        EXPECT_EQ(staged[0].substr(0, 2), "TV");
        EXPECT_EQ(readFile(stagedPath), payload("TVVIEW.EXE"));
        if (nt) {
            auto moves = pendingMoves();
            ASSERT_EQ(moves.size(), 1u);
            EXPECT_EQ(_stricmp(moves[0].first.c_str(), stagedPath.c_str()), 0) << moves[0].first;
            EXPECT_EQ(_stricmp(moves[0].second.c_str(), "C:\\TAVRO\\TVVIEW.EXE"), 0) << moves[0].second;
            EXPECT_FALSE(exists(win + "\\WININIT.INI"));
        } else {
            std::vector<std::string> wininit = lines(win + "\\WININIT.INI");
            std::vector<std::string> want = {"[rename]", "C:\\TAVRO\\TVVIEW.EXE=" + stagedPath};
            EXPECT_EQ(wininit, want);
            EXPECT_TRUE(pendingMoves().empty());
        }

        restartWindows();
        EXPECT_EQ(readFile("C:\\TAVRO\\TVVIEW.EXE"), payload("TVVIEW.EXE"));
        EXPECT_EQ(stamp("C:\\TAVRO\\TVVIEW.EXE"), "1999-06-15 12:00:00");
        EXPECT_FALSE(exists(stagedPath));
        EXPECT_TRUE(pendingMoves().empty());
    }
}

} // namespace
