// Start-up of TAVUPD.EXE: file names from its own path, command line, run
// settings, banner, log, critical-error report, system versions, the
// system TAVRO.INI in the registry, follow-on programs and exit statuses.
#include "harness.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using namespace e2e;

namespace {

// ---- a follow-on program made of this test program --------------------------
//
// Copied into a patch directory as FOLLOW.EXE, this program does not run its
// tests: it writes its argument list to FOLLOW.TXT beside itself and ends.
struct FollowOnProbe {
    FollowOnProbe() {
        char self[MAX_PATH] = {};
        DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::string path(self, n);
        const std::string tail = "\\FOLLOW.EXE";
        if (path.size() < tail.size() || _stricmp(path.c_str() + path.size() - tail.size(), tail.c_str()) != 0)
            return;
        std::string text = std::to_string(__argc) + "\n";
        for (int i = 0; i < __argc; ++i) text += std::string(__argv[i]) + "\n";
        std::string out = path.substr(0, path.size() - tail.size()) + "\\FOLLOW.TXT";
        HANDLE h = CreateFileA(out.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        if (h != INVALID_HANDLE_VALUE) {
            WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
            CloseHandle(h);
        }
        ExitProcess(0);
    }
} followOnProbe;

std::string selfPath() {
    char self[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    return std::string(self, n);
}

// ---- messages of the shipped language file ---------------------------------

std::string msg(int n) { return message(n); }

const std::string kVersion = "v2.00 Beta 6N";

std::string banner() { return msg(3) + " " + kVersion + "\r\n"; }
std::string line(int n) { return msg(n) + "\r\n"; }
// Messages 9 and 10: the patch does not apply (interactive mode only).
std::string notApplicable() { return "\r\n\a" + msg(9) + "\r\n" + msg(10) + "\r\n"; }

std::string iniValue(const std::string &file, const std::string &section, const std::string &key) {
    char buf[512] = {};
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "<missing>", buf, sizeof buf, file.c_str());
    return buf;
}

const std::string kSystemIni() { return windowsDir() + "\\TAVRO.INI"; }
const char *const kRegistrySettings = "SOFTWARE\\Korvek\\KorvekDSP\\TAVRO.INI";

// Waits for a file that a program started without waiting writes.
std::optional<std::string> waitForFile(const std::string &path, DWORD ms = 30000) {
    for (DWORD waited = 0; waited < ms; waited += 100) {
        if (exists(path)) {
            if (!waitUntilClosed(path)) return std::nullopt;
            return readFile(path);
        }
        Sleep(100);
    }
    return std::nullopt;
}

// A profile whose only condition set holds on Windows 98 whenever the
// product is installed, and whose branch writes C:\TAVRO\RESULT.INI.
std::string applyingProfile(const std::string &extraPatch = "", const std::string &extraBranch = "",
                            const std::string &which = "DEFAULT") {
    return "[Patch]\n" + extraPatch + "Condition0=Apply,7,0,Tavro,root,x\n\n[Apply]\n"
                                      "INI1=TAVRO,RESULT.INI,Result,Which," +
           which + "\n" + extraBranch;
}

// A profile none of whose condition sets holds.
std::string failingProfile(const std::string &extraPatch = "") {
    return "[Patch]\n" + extraPatch + "Condition0=Apply,99,0,Tavro,root,x\n\n[Apply]\nINI1=TAVRO,RESULT.INI,R,K,V\n";
}

const std::string kResult = "C:\\TAVRO\\RESULT.INI";

} // namespace

// ---- file names and the command line ---------------------------------------

TEST(StartupNames, DefaultNamesComeFromTheProgramPath) {
    resetMachine();
    installProduct();
    // The program under another name, started from another directory: the
    // language file and the profile carry the program's own name.
    const std::string dir = "C:\\E2E\\NAMES";
    makeDirs(dir);
    ASSERT_TRUE(CopyFileA(tavupdExe().c_str(), (dir + "\\SETUP.EXE").c_str(), FALSE));
    std::string messages;
    for (int i = 1; i <= 36; ++i) messages += (i == 3 ? std::string("Setup from its own name") : msg(i)) + "\r\n";
    writeFile(dir + "\\SETUP.MSG", messages);
    writeFile(dir + "\\SETUP.DAT", crlf(applyingProfile("", "", "SETUP")));
    // Decoys under the usual name.
    writeFile(dir + "\\TAVUPD.DAT", crlf(applyingProfile("", "", "DECOY")));
    setWindowsVersion("SETUP.EXE", "win98");
    RunResult r = runProgram(dir + "\\SETUP.EXE", {}, "C:\\");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.out, "Setup from its own name " + kVersion + "\r\n" + line(7));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(iniValue(kResult, "Result", "Which"), "SETUP");
}

TEST(StartupNames, ProfileSwitch) {
    resetMachine();
    installProduct("C:\\TAVRO", 0);
    PatchDir patch("PSWITCH");
    patch.writeProfile(applyingProfile("", "", "DEFAULT"));
    patch.writeFile("OTHER.DAT", crlf(applyingProfile("", "", "OTHER")));
    patch.writeFile("THIRD.DAT", crlf(applyingProfile("", "", "THIRD")));
    const std::string other = patch.path("OTHER.DAT");

    struct Case {
        std::vector<std::string> args;
        std::string expected;
    };
    const Case cases[] = {
        {{}, "DEFAULT"},
        {{"-p", other}, "OTHER"},
        {{"-p" + other}, "OTHER"},
        {{"/P" + patch.path("THIRD.DAT")}, "THIRD"},
        {{"xp", "THIRD.DAT"}, "THIRD"}, // relative to the current directory
        {{"-p"}, "DEFAULT"},            // -p last: unchanged
        {{"-p", other, "-p"}, "OTHER"},
        {{"-pTHIRD.DAT", "-p", other}, "OTHER"}, // the last one wins
        // Arguments that match no switch ("unknown" would: its second
        // character asks for the preview).
        {{"other", "-x", ""}, "DEFAULT"},
    };
    for (const auto &c : cases) {
        std::string shown;
        for (const auto &a : c.args) shown += "[" + a + "]";
        SCOPED_TRACE(shown);
        DeleteFileA(kResult.c_str());
        RunResult r = runTavupd(patch, c.args);
        EXPECT_EQ(r.exitCode, 0u) << r.err;
        EXPECT_EQ(iniValue(kResult, "Result", "Which"), c.expected);
    }
}

TEST(StartupNames, ArgumentAfterPIsNotASwitch) {
    resetMachine();
    installProduct("C:\\TAVRO", 0);
    PatchDir patch("PCONSUME");
    patch.writeProfile(applyingProfile());
    // "-d" is taken as the profile's path: no debug, and no profile there.
    RunResult r = runTavupd(patch, {"-p", "-d"});
    EXPECT_EQ(r.exitCode, 1642u);
    EXPECT_EQ(r.out, banner());
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(exists(kResult));
}

TEST(StartupNames, ProfilePathLongerThan259CharactersIsRefused) {
    resetMachine();
    installProduct("C:\\TAVRO", 0);
    PatchDir patch("PLONG");
    // A profile under the first 259 characters of the path given: it must
    // not be taken for the one named.
    std::string dir = patch.dir() + "\\" + std::string(100, 'a');
    dir += "\\" + std::string(261 - std::string("\\TAVUPD.DAT_NEWER").size() - dir.size() - 1, 'b');
    makeDirs(dir);
    const std::string longPath = dir + "\\TAVUPD.DAT_NEWER";
    const std::string cutPath = dir + "\\TAVUPD.DAT_NEW";
    ASSERT_EQ(longPath.size(), 261u);
    ASSERT_EQ(cutPath.size(), 259u);
    ASSERT_EQ(longPath.compare(0, 259, cutPath), 0);
    writeFile(cutPath, crlf(applyingProfile("", "", "CUT")));
    patch.writeProfile(applyingProfile("", "", "DEFAULT"));

    for (const std::vector<std::string> &args : {std::vector<std::string>{"-p", longPath},
                                                 std::vector<std::string>{"/p" + longPath}}) {
        SCOPED_TRACE(args.size());
        RunResult r = runTavupd(patch, args);
        EXPECT_EQ(r.exitCode, 1u);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "\r\n\a" + msg(38) + ": " + longPath + "\r\n");
        EXPECT_FALSE(exists(kResult));
    }
    // 259 characters are a path like any.
    RunResult r = runTavupd(patch, {"-p", cutPath});
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(iniValue(kResult, "Result", "Which"), "CUT");
}

TEST(StartupSwitches, InteractiveAndDebug) {
    resetMachine();
    installProduct("C:\\TAVRO", 0);
    PatchDir patch("SWITCHES");
    patch.writeProfile(failingProfile());
    const std::regex compiled("Compiled: [A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\r\n");

    struct Case {
        std::vector<std::string> args;
        bool interactive;
        bool debug;
    };
    const Case cases[] = {
        {{}, false, false},     {{"-i"}, false, false},  {{"/I"}, false, false}, {{"i"}, true, false},
        {{"I"}, true, false},   {{"ix"}, true, false},   {{"-d"}, false, true},  {{"/D"}, false, true},
        {{"xd"}, false, true},  {{"id"}, true, true},    {{"ID"}, true, true},   {{"-i", "i"}, true, false},
        {{"d"}, false, false},  {{"-x", "-D"}, false, true},
    };
    for (const auto &c : cases) {
        std::string shown;
        for (const auto &a : c.args) shown += "[" + a + "]";
        SCOPED_TRACE(shown);
        RunResult r = runTavupd(patch, c.args);
        EXPECT_EQ(r.exitCode, 1642u);
        if (c.debug) {
            ASSERT_EQ(r.out.compare(0, banner().size(), banner()), 0) << r.out;
            std::string second = r.out.substr(banner().size());
            second = second.substr(0, second.find('\n') + 1);
            EXPECT_TRUE(std::regex_match(second, compiled)) << second;
            EXPECT_NE(r.out.size(), banner().size() + second.size()) << "the engine's trace follows";
        } else {
            EXPECT_EQ(r.out, banner());
        }
        if (c.interactive) {
            // The trace lines of debug mode go to standard output only.
            EXPECT_EQ(r.err, notApplicable());
        } else {
            EXPECT_EQ(r.err, "");
        }
    }
}

TEST(StartupSwitches, InteractiveSettingOfTheSystemIni) {
    struct Case {
        int setting; // -1: key missing
        bool interactive;
    };
    for (const Case c : {Case{-1, true}, Case{1, true}, Case{0, false}, Case{2, false}}) {
        SCOPED_TRACE(c.setting);
        resetMachine();
        installProduct("C:\\TAVRO", c.setting);
        PatchDir patch("INTERACT");
        patch.writeProfile(failingProfile());
        RunResult r = runTavupd(patch);
        EXPECT_EQ(r.exitCode, 1642u);
        EXPECT_EQ(r.out, banner());
        EXPECT_EQ(r.err, c.interactive ? notApplicable() : "");
        // The i switch turns it on in every case.
        r = runTavupd(patch, {"i"});
        EXPECT_EQ(r.err, notApplicable());
    }
}

// ---- banner, language file ----------------------------------------------

TEST(StartupBanner, OneLineThenTheClosingMessage) {
    resetMachine();
    installProduct("C:\\TAVRO", 0);
    PatchDir patch("BANNER");
    patch.writeProfile(applyingProfile());
    RunResult r = runTavupd(patch);
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.out, banner() + line(7));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(iniValue(kResult, "Result", "Which"), "DEFAULT");
}

TEST(StartupLanguageFile, MissingFileEndsTheRun) {
    resetMachine();
    installProduct();
    PatchDir patch("NOMSG");
    patch.writeProfile(applyingProfile("LogFile=" + patch.path("RUN.LOG") + "\n"));
    ASSERT_TRUE(DeleteFileA(patch.path("TAVUPD.MSG").c_str()));
    RunResult r = runTavupd(patch);
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.out, "");
    // Every line ends in exactly one CR LF.
    EXPECT_EQ(r.err, "\a\r\nError reading NLS language file: " + patch.path("TAVUPD.MSG") + "\r\n\r\n");
    EXPECT_FALSE(exists(patch.path("RUN.LOG")));
    EXPECT_FALSE(exists(kResult));
}

TEST(StartupLanguageFile, PathLongerThan80CharactersIsNamedAsTheReason) {
    resetMachine();
    installProduct("C:\\TAVRO", 0);
    // The kit in a directory whose language file path has 81 characters.
    PatchDir patch(std::string(81 - std::string("C:\\E2E\\\\TAVUPD.MSG").size(), 'K'));
    ASSERT_EQ(patch.path("TAVUPD.MSG").size(), 81u);
    patch.writeProfile(applyingProfile());
    RunResult r = runTavupd(patch);
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "\a\r\nError reading NLS language file (the path is longer than 80 characters): " +
                         patch.path("TAVUPD.MSG") + "\r\n\r\n");
    EXPECT_FALSE(exists(kResult));

    // 80 characters are read.
    PatchDir fits(std::string(80 - std::string("C:\\E2E\\\\TAVUPD.MSG").size(), 'K'));
    ASSERT_EQ(fits.path("TAVUPD.MSG").size(), 80u);
    fits.writeProfile(applyingProfile());
    r = runTavupd(fits);
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.out, banner() + line(7));
}

TEST(StartupLanguageFile, EndOfTheMessageList) {
    resetMachine();
    installProduct("C:\\TAVRO", 0);
    PatchDir patch("MSGLIST");
    patch.writeProfile(failingProfile());
    const std::string head = msg(1) + "\r\n" + msg(2) + "\r\n";
    struct Case {
        std::string rest;     // from line 3 on
        std::string expected; // text of the banner before the version
    };
    const Case cases[] = {
        {"Custom banner\r\n; comment\r\nmore\r\n", "Custom banner"},
        {"Custom banner\r\n\r\nmore\r\n", "Custom banner"},
        {"Custom banner\r\nREM trailing remark\r\n", "Custom banner"},
        {"  Indented; with # inside\r\n", "  Indented; with # inside"},
        {"Last line without end", "Last line without end"},
        {"\r\nCustom banner\r\n", msg(2)},
        {" \t \r\nCustom banner\r\n", msg(2)},
        {"rem Custom banner\r\n", msg(2)},
        {"   ReM\r\n", msg(2)},
        {"Remarkable banner\r\n", msg(2)},
        {"\t; Custom banner\r\n", msg(2)},
        {"  #Custom banner\r\n", msg(2)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.rest);
        patch.writeFile("TAVUPD.MSG", head + c.rest);
        RunResult r = runTavupd(patch);
        EXPECT_EQ(r.exitCode, 1642u);
        EXPECT_EQ(r.out, c.expected + " " + kVersion + "\r\n");
        EXPECT_EQ(r.err, "");
    }
}

// ---- log -------------------------------------------------------------------

TEST(StartupLog, TruncatedOrAppended) {
    resetMachine();
    installProduct("C:\\TAVRO", 1);
    PatchDir patch("LOG");
    const std::string log = patch.path("RUN.LOG");
    const std::string old = "OLD RUN\r\n";

    // Key missing: truncated.
    writeFile(log, old);
    patch.writeProfile(failingProfile("LogFile=" + log + "\n"));
    RunResult r = runTavupd(patch);
    EXPECT_EQ(r.exitCode, 1642u);
    EXPECT_EQ(r.err, notApplicable());
    EXPECT_EQ(readFile(log).value_or("<none>"), r.out + r.err);

    // 0: truncated.
    writeFile(log, old);
    patch.writeProfile(failingProfile("LogFile=" + log + "\nAppendLog=0\n"));
    r = runTavupd(patch);
    EXPECT_EQ(readFile(log).value_or("<none>"), banner() + notApplicable());

    // 1: appended, run after run.
    writeFile(log, old);
    patch.writeProfile(failingProfile("LogFile=" + log + "\nAppendLog=1\n"));
    RunResult first = runTavupd(patch);
    RunResult second = runTavupd(patch, {"-d"});
    EXPECT_EQ(readFile(log).value_or("<none>"), old + first.out + first.err + second.out + second.err);
    EXPECT_NE(second.out.find("Compiled: "), std::string::npos);

    // Any other non-zero value appends too.
    writeFile(log, old);
    patch.writeProfile(failingProfile("LogFile=" + log + "\nAppendLog=7\n"));
    r = runTavupd(patch);
    EXPECT_EQ(readFile(log).value_or("<none>"), old + r.out + r.err);
}

TEST(StartupLog, CompleteRunIsLogged) {
    resetMachine();
    installProduct("C:\\TAVRO", 0);
    PatchDir patch("LOGRUN");
    const std::string log = patch.path("RUN.LOG");
    patch.writeProfile(applyingProfile("LogFile=" + log + "\n", "REBOOT=1\n"));
    RunResult r = runTavupd(patch);
    EXPECT_EQ(r.out, banner() + line(7) + line(8));
    EXPECT_EQ(readFile(log).value_or("<none>"), r.out);
}

TEST(StartupLog, RefusedWhenItNamesAKitFileOrADirectory) {
    resetMachine();
    installProduct("C:\\TAVRO", 0);
    PatchDir patch("LOGREF");
    makeDirs(patch.path("LOGS"));
    makeDirs(patch.path("TOOLS"));
    patch.writeFile("SETUP.BAT", "@echo kit program\r\n");
    const std::string longLog = patch.path(std::string(260 - patch.dir().size(), 'L') + ".LOG");
    ASSERT_GT(longLog.size(), 259u);
    std::string lowerMsg = patch.path("TAVUPD.MSG");
    for (char &c : lowerMsg) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // Names without a directory are taken in the current directory, the
    // patch directory here.
    const std::string refused[] = {
        "TAVUPD.DAT",            // the installation profile
        "tavupd.dat.",           // the same file, as Windows opens it
        lowerMsg,                // the language file, by another spelling
        "TAVUPD.EXE",            // the program itself
        "RESTART.EXE",           // the reboot program (found with .EXE)
        "TOOLS\\FAILED.CMD",     // the failed program (found with .CMD)
        "SETUP.BAT",             // any program of the kit
        patch.path("LOGS"),      // a directory
        patch.path("LOGS") + "\\", // a directory, written as one
        longLog,                 // cut, it would name another file
    };
    const std::string messages = readFile(patch.path("TAVUPD.MSG")).value_or("");
    const auto program = readFile(patch.path("TAVUPD.EXE"));
    ASSERT_TRUE(program.has_value());
    for (const std::string &log : refused) {
        SCOPED_TRACE(log);
        DeleteFileA(kResult.c_str());
        patch.writeFile("TAVUPD.DAT", crlf(applyingProfile("LogFile=" + log +
                                                           "\nReboot Program=RESTART\nFailed Program=TOOLS\\FAILED\n")));
        const std::string profileBefore = readFile(patch.path("TAVUPD.DAT")).value_or("");
        RunResult r = runTavupd(patch);
        // The run goes on without a log and applies the patch.
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_EQ(r.out, banner() + line(7));
        EXPECT_EQ(r.err, "\r\n\a" + msg(37) + ": " + log + "\r\n");
        EXPECT_EQ(iniValue(kResult, "Result", "Which"), "DEFAULT");
        // Nothing of the kit was written over, and no log was made.
        EXPECT_EQ(readFile(patch.path("TAVUPD.DAT")), std::optional<std::string>(profileBefore));
        EXPECT_EQ(readFile(patch.path("TAVUPD.MSG")), std::optional<std::string>(messages));
        EXPECT_EQ(readFile(patch.path("TAVUPD.EXE")), program);
        EXPECT_EQ(readFile(patch.path("SETUP.BAT")), std::optional<std::string>("@echo kit program\r\n"));
        EXPECT_FALSE(exists(patch.path("RESTART.EXE")));
        EXPECT_TRUE(listDir(patch.path("TOOLS")).empty());
        EXPECT_TRUE(isDirectory(patch.path("LOGS")));
        EXPECT_TRUE(listDir(patch.path("LOGS")).empty());
    }
    // Other names in the kit, and a program elsewhere, are logs like any.
    for (const std::string &log : {std::string("TAVUPD.LOG"), patch.path("LOGS") + "\\TAVUPD.EXE"}) {
        SCOPED_TRACE(log);
        patch.writeFile("TAVUPD.DAT", crlf(applyingProfile("LogFile=" + log + "\n")));
        RunResult r = runTavupd(patch);
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_EQ(r.err, "");
        const std::string path = log.find('\\') == std::string::npos ? patch.path(log) : log;
        EXPECT_EQ(readFile(path).value_or("<none>"), banner() + line(7));
    }
}

// ---- critical errors ---------------------------------------------------------

TEST(StartupCriticalError, ReportAndStatus) {
    resetMachine();
    installProduct("C:\\TAVRO", 1);
    PatchDir patch("CRITICAL");
    const std::string log = patch.path("RUN.LOG");
    // The INI file's directory does not exist: it cannot be written.
    patch.writeProfile(applyingProfile("Patch=CRIT\nLogFile=" + log + "\n",
                                       "INI2=TAVRO,NODIR\\\\X.INI,S,K,V\nINI3=TAVRO,RESULT.INI,Result,After,1\n"));
    RunResult r = runTavupd(patch);
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.out, banner());
    std::smatch m;
    const std::regex report("\aCritical ERROR Occured on line ([0-9]+) of file tvpprof\r\n"
                            "     Error Number:  21\r\n"
                            "     Error Message: C:\\\\TAVRO\\\\NODIR\\\\X\\.INI\r\n"
                            "     Size:          0\r\n"
                            // The run made its work directories: how to take them back.
                            "To take back what was done, run: TAVUPD\\.EXE -u\r\n");
    EXPECT_TRUE(std::regex_match(r.err, m, report)) << r.err;
    if (!m.empty()) {
        EXPECT_GT(std::stol(m[1].str()), 0);
    }
    // The run stopped there: the next line was not done, nothing recorded,
    // and the report is not in the log.
    EXPECT_EQ(iniValue(kResult, "Result", "Which"), "DEFAULT");
    EXPECT_EQ(iniValue(kResult, "Result", "After"), "<missing>");
    EXPECT_EQ(iniValue(kSystemIni(), "Install", "Patch0"), "<missing>");
    EXPECT_EQ(readFile(log).value_or("<none>"), banner());
}

TEST(StartupCriticalError, WindowsDirectoryUnavailable) {
    // The fault build makes the k-th platform call fail. The call that asks
    // for the Windows directory is found by its outcome.
    resetMachine();
    installProduct("C:\\TAVRO", 1);
    PatchDir patch("NOWINDIR", true);
    patch.writeProfile(applyingProfile("LogFile=" + patch.path("RUN.LOG") + "\n"));
    // A short catalog keeps the search short: 28 messages.
    std::string messages;
    for (int i = 1; i <= 28; ++i) messages += msg(i) + "\r\n";
    patch.writeFile("TAVUPD.MSG", messages);

    const std::string countFile = patch.path("COUNT.TXT");
    RunResult clean = runTavupd(patch, {}, "win98", 60000, {"TAVUPD_CALL_COUNT_FILE=" + countFile});
    EXPECT_EQ(clean.exitCode, 0u) << clean.err;
    const unsigned long total = std::stoul(readFile(countFile).value_or("0"));
    ASSERT_GT(total, 5u);
    ASSERT_TRUE(DeleteFileA(kResult.c_str()));
    ASSERT_TRUE(DeleteFileA(patch.path("RUN.LOG").c_str()));

    const std::string expected = "\a" + msg(28) + "\r\n";
    bool found = false;
    for (unsigned long k = 1; k <= total && !found; ++k) {
        // Earlier calls failing may still let the run finish.
        DeleteFileA(kResult.c_str());
        DeleteFileA(patch.path("RUN.LOG").c_str());
        RunResult r = runTavupd(patch, {}, "win98", 60000, {"TAVUPD_FAULT_CALL=" + std::to_string(k)});
        if (r.err != expected) continue;
        found = true;
        SCOPED_TRACE("call " + std::to_string(k) + " of " + std::to_string(total));
        EXPECT_EQ(r.exitCode, 1u);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(exists(patch.path("RUN.LOG")));
        EXPECT_FALSE(exists(kResult));
    }
    EXPECT_TRUE(found);
}

// ---- system versions ---------------------------------------------------------

TEST(StartupSystemVersion, CodeAndFamilyOfEveryVersion) {
    struct Case {
        const char *version;
        int code;
        int family;
    };
    // A version outside the table has code 0, and the family of its platform.
    const Case cases[] = {{"win95", 1, 1}, {"win98", 7, 1}, {"nt351", 2, 2}, {"nt40", 8, 2},  {"win2k", 9, 2},
                          {"win31", 4, 4}, {"win10", 0, 2}, {"win7", 0, 2},  {"winme", 0, 1}};
    // One condition set per version code; each branch writes its code.
    std::string profile = "[Patch]\nPatch=OSPATCH\n";
    const int codes[] = {1, 7, 2, 8, 9, 4, 0};
    for (int i = 0; i < 7; ++i)
        profile += "Condition" + std::to_string(i) + "=V" + std::to_string(codes[i]) + "," + std::to_string(codes[i]) +
                   ",0,Tavro,root,x\n";
    for (int code : codes)
        profile += "\n[V" + std::to_string(code) + "]\nINI1=TAVRO,RESULT.INI,OS,V" + std::to_string(code) + "," +
                   std::to_string(code) + "\n";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.version);
        resetMachine();
        installProduct("C:\\TAVRO", 0);
        PatchDir patch("OSVER");
        patch.writeProfile(profile);
        RunResult r = runTavupd(patch, {}, c.version);
        EXPECT_EQ(r.exitCode, 0u) << r.err;
        EXPECT_EQ(r.out, banner() + line(7));
        // Exactly one branch ran: the one of this version's code.
        for (int code : codes)
            EXPECT_EQ(iniValue(kResult, "OS", "V" + std::to_string(code)),
                      code == c.code ? std::to_string(code) : "<missing>")
                << code;
        // The install record is kept on the two known families only.
        const bool recorded = c.family == 1 || c.family == 2;
        EXPECT_EQ(iniValue(kSystemIni(), "Install", "Patch0"), recorded ? "OSPATCH" : "<missing>");
    }
}

// ---- the system TAVRO.INI in the registry ----------------------------------

TEST(StartupRegistrySettings, RootAndRecordInTheRegistry) {
    resetMachine();
    makeDirs("C:\\TAVRO");
    // A file in the Windows directory that points elsewhere is not used.
    writeFile(kSystemIni(), crlf("[Tavro]\nroot=C:\\E2E\\WRONG\n[Patch]\nInteractive=0\n"));
    regSetString("HKLM", std::string(kRegistrySettings) + "\\Tavro", "root", "C:\\TAVRO");
    PatchDir patch("REGMODE");
    patch.writeProfile(applyingProfile("Patch=REGPATCH\n"));
    RunResult r = runTavupd(patch);
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.out, banner() + line(7));
    EXPECT_EQ(iniValue(kResult, "Result", "Which"), "DEFAULT");
    EXPECT_TRUE(isDirectory("C:\\TAVRO\\ARCHIVE\\TEMP"));
    EXPECT_FALSE(exists("C:\\E2E\\WRONG"));
    EXPECT_EQ(regGetString("HKLM", std::string(kRegistrySettings) + "\\Install", "Patch0").value_or("<missing>"),
              "REGPATCH");
    EXPECT_EQ(iniValue(kSystemIni(), "Install", "Patch0"), "<missing>");
    // Recorded: a second run finds it installed.
    DeleteFileA(kResult.c_str());
    r = runTavupd(patch);
    EXPECT_EQ(r.exitCode, 1638u);
    EXPECT_FALSE(exists(kResult));
}

// ---- restart and follow-on programs --------------------------------------

TEST(StartupRestart, NoRebootProgramGivesMessage8And3010) {
    resetMachine();
    installProduct("C:\\TAVRO", 0);
    PatchDir patch("MSG8");
    patch.writeProfile(applyingProfile("", "REBOOT=1\n"));
    RunResult r = runTavupd(patch);
    EXPECT_EQ(r.exitCode, 3010u);
    EXPECT_EQ(r.out, banner() + line(7) + line(8));
    EXPECT_EQ(r.err, "");
}

TEST(StartupRestart, OnlyExactlyOneAsksForTheRestart) {
    resetMachine();
    installProduct("C:\\TAVRO", 0);
    PatchDir patch("REBOOT2");
    for (const char *value : {"2", "0", "-1"}) {
        SCOPED_TRACE(value);
        patch.writeProfile(applyingProfile("", std::string("REBOOT=") + value + "\n"));
        RunResult r = runTavupd(patch);
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_EQ(r.out, banner() + line(7));
    }
    // Withdrawn later in the run.
    patch.writeProfile(applyingProfile("", "REBOOT=1\nREBOOT=0\n"));
    RunResult r = runTavupd(patch);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, banner() + line(7));
}

TEST(StartupRestart, RebootProgramThatCannotStart) {
    resetMachine();
    installProduct("C:\\TAVRO", 0);
    PatchDir patch("RBMISS");
    patch.writeProfile(applyingProfile("Reboot Program=MISSING\nLogFile=" + patch.path("RUN.LOG") + "\n",
                                       "REBOOT=1\n"));
    RunResult r = runTavupd(patch);
    // As if none were configured: message 8 and status 3010, logged too.
    EXPECT_EQ(r.exitCode, 3010u);
    EXPECT_EQ(r.out, banner() + line(7) + line(8));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readFile(patch.path("RUN.LOG")).value_or("<none>"), banner() + line(7) + line(8));

    // A program that exists but is no program Windows can start.
    patch.writeFile("NOTEXE.EXE", "plain text, no program");
    patch.writeProfile(applyingProfile("Reboot Program=NOTEXE.EXE\n", "REBOOT=1\n"));
    r = runTavupd(patch);
    EXPECT_EQ(r.exitCode, 3010u);
    EXPECT_EQ(r.out, banner() + line(7) + line(8));
    EXPECT_EQ(r.err, "");
}

TEST(StartupRestart, RebootBatchStartsAfterTheLogIsClosed) {
    resetMachine();
    installProduct("C:\\TAVRO", 0);
    PatchDir patch("RBBAT");
    const std::string log = patch.path("RUN.LOG");
    // Named without extension: found as RB.BAT, run through the command
    // interpreter with its own path as argument.
    patch.writeFile("RB.BAT", crlf("@echo off\ncopy " + log + " " + patch.path("LOGCOPY.TXT") + " >NUL\necho %0>" +
                                   patch.path("ARG.TXT") + "\n"));
    patch.writeProfile(applyingProfile("Reboot Program=RB\nLogFile=" + log + "\n", "REBOOT=1\n"));
    RunResult r = runTavupd(patch);
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.out, banner() + line(7));
    auto arg = waitForFile(patch.path("ARG.TXT"));
    ASSERT_TRUE(arg.has_value());
    EXPECT_NE(arg->find(patch.path("RB.BAT")), std::string::npos) << *arg;
    auto copy = waitForFile(patch.path("LOGCOPY.TXT"));
    ASSERT_TRUE(copy.has_value());
    // The copy made by the reboot program holds the whole log.
    EXPECT_EQ(*copy, banner() + line(7));
    EXPECT_EQ(readFile(log).value_or("<none>"), banner() + line(7));
}

TEST(StartupRestart, RebootProgramFromTheRebootAction) {
    resetMachine();
    installProduct("C:\\TAVRO", 0);
    PatchDir patch("RBEXE");
    ASSERT_TRUE(CopyFileA(selfPath().c_str(), patch.path("FOLLOW.EXE").c_str(), FALSE));
    patch.writeProfile(applyingProfile("Reboot Program=NOTTHIS.EXE\n", "REBOOT=1,FOLLOW\n"));
    RunResult r = runTavupd(patch);
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.out, banner() + line(7));
    auto text = waitForFile(patch.path("FOLLOW.TXT"));
    ASSERT_TRUE(text.has_value());
    // One argument: the program's own path.
    EXPECT_EQ(*text, "1\n" + patch.path("FOLLOW.EXE") + "\n");
}

TEST(StartupFailedProgram, StartedWhenNoConditionHolds) {
    resetMachine();
    installProduct("C:\\TAVRO", 1);
    PatchDir patch("FAILPRG");
    patch.writeFile("FAIL.CMD", crlf("@echo off\necho %0>" + patch.path("FAILED.TXT") + "\n"));
    patch.writeProfile(failingProfile("Failed Program=FAIL\n"));
    RunResult r = runTavupd(patch);
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.out, banner());
    EXPECT_EQ(r.err, "");
    auto text = waitForFile(patch.path("FAILED.TXT"));
    ASSERT_TRUE(text.has_value());
    EXPECT_NE(text->find(patch.path("FAIL.CMD")), std::string::npos) << *text;
}

TEST(StartupFailedProgram, ThatCannotBeStartedLeavesTheMessagesOfARunWithoutOne) {
    resetMachine();
    installProduct("C:\\TAVRO", 1);
    PatchDir patch("FAILMISS");
    // No set holds: messages 9 and 10.
    patch.writeProfile(failingProfile("Failed Program=NOSUCH\nLogFile=RUN.LOG\n"));
    RunResult r = runTavupd(patch);
    EXPECT_EQ(r.exitCode, 1642u);
    EXPECT_EQ(r.out, banner());
    EXPECT_EQ(r.err, notApplicable());
    EXPECT_EQ(readFile(patch.path("RUN.LOG")).value_or("<none>"), banner() + notApplicable());
    // Already installed: message 11.
    patch.writeProfile(applyingProfile("Patch=FAILMISS\n"));
    r = runTavupd(patch);
    ASSERT_EQ(r.exitCode, 0u) << r.err;
    patch.writeProfile(applyingProfile("Patch=FAILMISS\nFailed Program=NOSUCH.EXE\n"));
    r = runTavupd(patch);
    EXPECT_EQ(r.exitCode, 1638u);
    EXPECT_EQ(r.out, banner());
    EXPECT_EQ(r.err, "\r\n\a" + msg(11) + "\r\n");
}

TEST(StartupFailedProgram, NotStartedWhenNotInteractive) {
    resetMachine();
    installProduct("C:\\TAVRO", 0);
    PatchDir patch("FAILOFF");
    ASSERT_TRUE(CopyFileA(selfPath().c_str(), patch.path("FOLLOW.EXE").c_str(), FALSE));
    patch.writeProfile(failingProfile("Failed Program=FOLLOW.EXE\n"));
    RunResult r = runTavupd(patch);
    EXPECT_EQ(r.exitCode, 1642u);
    EXPECT_EQ(r.out, banner());
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(waitForStartedPrograms(r.processId));
    EXPECT_FALSE(exists(patch.path("FOLLOW.TXT")));
    // With the i switch it starts, with its own path as its one argument.
    r = runTavupd(patch, {"i"});
    EXPECT_EQ(r.exitCode, 0u);
    auto text = waitForFile(patch.path("FOLLOW.TXT"));
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, "1\n" + patch.path("FOLLOW.EXE") + "\n");
}
