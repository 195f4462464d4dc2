// The patch loop and section processing of the real program: work
// directories, the installed-patch record, the line dispatch and REBOOT.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

std::string msg(int n) { return e2e::message(n); }

// An error line as the program writes it: empty line, BEL, message.
std::string errorLine(int n) { return "\r\n\x07" + msg(n) + "\r\n"; }

std::vector<std::string> processed(const std::string &out) { return e2e::processedSections(out); }


std::string systemIniPath() { return e2e::windowsDir() + "\\TAVRO.INI"; }

// A key of the Windows directory's TAVRO.INI ("" when missing).
std::string systemIniValue(const std::string &section, const std::string &key) {
    char buffer[512] = {};
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer, sizeof buffer, systemIniPath().c_str());
    return buffer;
}

bool waitFor(const std::string &path) {
    for (int i = 0; i < 100; ++i) {
        if (e2e::exists(path)) return true;
        Sleep(100);
    }
    return false;
}

using Names = std::vector<std::string>;

constexpr DWORD kRestartNeeded = 3010;

// A profile whose only set holds on Windows 98 and processes section [Go].
std::string profile(const std::string &patchLines, const std::string &goSection = "") {
    return "[Patch]\n" + patchLines + "Condition0=Go,7,0,Tavro,root,x\n[Go]\n" + goSection;
}

class PatchLoop : public ::testing::Test {
  protected:
    void SetUp() override { e2e::resetMachine(); }
};

TEST_F(PatchLoop, RecordsPatchAndRefusesItNextTime) {
    e2e::installProduct("C:\\TAVRO", 0);
    e2e::PatchDir patch("LOOP_RECORD");
    patch.writeProfile(profile("Patch=FIX12\n"));
    auto r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(systemIniValue("Install", "Patch0"), "FIX12");

    // Already installed, not interactive: nothing printed, nothing processed.
    r = e2e::runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 1638u);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("Checking patch\r\nPatch already installed\r\n"), std::string::npos) << r.out;
    EXPECT_TRUE(processed(r.out).empty());
    EXPECT_EQ(r.out.find("Checking Conditions"), std::string::npos);
    EXPECT_EQ(systemIniValue("Install", "Patch1"), "");

    // Interactive: message 11.
    r = e2e::runTavupd(patch, {"i"}, "win98");
    EXPECT_EQ(r.exitCode, 1638u);
    EXPECT_EQ(r.err, errorLine(11));

    // Interactive with a failed program: it is started instead, status 0.
    const std::string mark = patch.path("FAILED.TXT");
    patch.writeFile("FAILED.BAT", "@echo ran> " + mark + "\r\n");
    patch.writeProfile(profile("Patch=FIX12\nFailed Program=FAILED.BAT\n"));
    r = e2e::runTavupd(patch, {"i"}, "win98");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(waitFor(mark));

    // ...and one that cannot be started: as without one, message 11 and
    // status 1638.
    patch.writeProfile(profile("Patch=FIX12\nFailed Program=NOSUCH.EXE\n"));
    r = e2e::runTavupd(patch, {"i"}, "win98");
    EXPECT_EQ(r.exitCode, 1638u);
    EXPECT_EQ(r.err, errorLine(11));
}

TEST_F(PatchLoop, UnnamedPatchIsProcessedEveryRunAndNeverRecorded) {
    e2e::installProduct("C:\\TAVRO", 0);
    e2e::PatchDir patch("LOOP_UNNAMED");
    for (const char *lines : {"Patch=\n", ""}) {
        patch.writeProfile(profile(lines));
        for (int run = 0; run < 2; ++run) {
            auto r = e2e::runTavupd(patch, {"-d"}, "win98");
            EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
            EXPECT_EQ(processed(r.out), Names{"Go"});
            EXPECT_NE(r.out.find("Processing installation profile\r\nChecking patch\r\nChecking Conditions\r\n"),
                      std::string::npos)
                << r.out;
            EXPECT_EQ(r.out.find("Next Patch"), std::string::npos);
        }
    }
    auto ini = e2e::readFile(systemIniPath());
    ASSERT_TRUE(ini);
    EXPECT_EQ(ini->find("[Install]"), std::string::npos) << *ini;
}

TEST_F(PatchLoop, NewPatchTakesTheFirstFreeIndex) {
    e2e::installProduct("C:\\TAVRO", 0, "\n[Install]\nPatch0=FIXA\nPatch1=FIXB\n");
    e2e::PatchDir patch("LOOP_NEXT");
    patch.writeProfile(profile("Patch=FIXC\n"));
    auto r = e2e::runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_NE(r.out.find("Opening installation profile\r\nInstallation profile open\r\n"
                         "Processing installation profile\r\nChecking patch\r\n"
                         "Patch *NOT* already installed\r\nNext Patch: 2\r\nChecking Conditions\r\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(systemIniValue("Install", "Patch0"), "FIXA");
    EXPECT_EQ(systemIniValue("Install", "Patch1"), "FIXB");
    EXPECT_EQ(systemIniValue("Install", "Patch2"), "FIXC");
}

TEST_F(PatchLoop, RecordEndsAtFirstMissingOrEmptyKey) {
    // Patch0 missing: Patch1 is never consulted, even naming this patch.
    e2e::installProduct("C:\\TAVRO", 0, "\n[Install]\nPatch1=FIX12\n");
    e2e::PatchDir patch("LOOP_GAP");
    patch.writeProfile(profile("Patch=FIX12\n"));
    auto r = e2e::runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_NE(r.out.find("Next Patch: 0\r\n"), std::string::npos) << r.out;
    EXPECT_EQ(systemIniValue("Install", "Patch0"), "FIX12");
    EXPECT_EQ(systemIniValue("Install", "Patch1"), "FIX12");

    // An empty Patch0 ends the record the same way.
    e2e::installProduct("C:\\TAVRO", 0, "\n[Install]\nPatch0=\nPatch1=FIX12\n");
    r = e2e::runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_NE(r.out.find("Next Patch: 0\r\n"), std::string::npos) << r.out;
    EXPECT_EQ(systemIniValue("Install", "Patch0"), "FIX12");
}

TEST_F(PatchLoop, NameComparisonCoversTheNewNameOnlyAndIgnoresCase) {
    e2e::PatchDir patch("LOOP_PREFIX");

    // A recorded FIX12B makes fix12 installed.
    e2e::installProduct("C:\\TAVRO", 0, "\n[Install]\nPatch0=FIX12B\n");
    patch.writeProfile(profile("Patch=fix12\n"));
    auto r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 1638u) << r.out << r.err;
    EXPECT_EQ(systemIniValue("Install", "Patch1"), "");

    // A recorded FIX1 does not make FIX12 installed.
    e2e::installProduct("C:\\TAVRO", 0, "\n[Install]\nPatch0=FIX1\n");
    patch.writeProfile(profile("Patch=FIX12\n"));
    r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_EQ(systemIniValue("Install", "Patch0"), "FIX1");
    EXPECT_EQ(systemIniValue("Install", "Patch1"), "FIX12");

    // Found behind other entries.
    e2e::installProduct("C:\\TAVRO", 0, "\n[Install]\nPatch0=OTHER\nPatch1=Fix12\n");
    r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 1638u) << r.out << r.err;
    EXPECT_EQ(systemIniValue("Install", "Patch2"), "");
}

TEST_F(PatchLoop, RecordOnlyOnTheTwoFamilies) {
    e2e::PatchDir patch("LOOP_FAMILY");
    patch.writeProfile("[Patch]\nPatch=FAM\n"
                       "Condition0=Go,1,0,Tavro,root,x\n"
                       "Condition1=Go,7,0,Tavro,root,x\n"
                       "Condition2=Go,8,0,Tavro,root,x\n"
                       "Condition3=Go,9,0,Tavro,root,x\n"
                       "Condition4=Go,4,0,Tavro,root,x\n"
                       "Condition5=Go,0,0,Tavro,root,x\n"
                       "[Go]\n");
    struct Case {
        const char *version;
        int detection;
        bool recorded;
    } cases[] = {{"win95", 1, true},   {"nt40", 8, true},  {"win2k", 9, true},
                 {"win31", 4, false},  {"win10", 0, true}, {"winme", 0, true}};
    for (const Case &c : cases) {
        e2e::installProduct("C:\\TAVRO", 0);
        for (int run = 0; run < 2; ++run) {
            auto r = e2e::runTavupd(patch, {"-d"}, c.version);
            if (run == 0) {
                EXPECT_NE(r.out.find("\tDetection: " + std::to_string(c.detection) + "\r\n"), std::string::npos)
                    << c.version << r.out;
            }
            if (c.recorded && run == 1) {
                EXPECT_EQ(r.exitCode, 1638u) << c.version << " is recorded and so refused the second time";
            } else {
                EXPECT_EQ(r.exitCode, 0u) << c.version << r.out << r.err;
                EXPECT_EQ(processed(r.out), Names{"Go"}) << c.version;
            }
        }
        EXPECT_EQ(systemIniValue("Install", "Patch0"), c.recorded ? "FAM" : "") << c.version;
    }
}

TEST_F(PatchLoop, RecordGoesToTheRegistryMirror) {
    const std::string key = "SOFTWARE\\Korvek\\KorvekDSP\\TAVRO.INI";
    e2e::makeDirs("C:\\TAVRO");
    e2e::regSetString("HKLM", key + "\\Tavro", "root", "C:\\TAVRO");
    e2e::regSetString("HKLM", key + "\\Patch", "Interactive", "0");
    e2e::regSetString("HKLM", key + "\\Install", "Patch0", "OLDFIX");
    e2e::PatchDir patch("LOOP_REGISTRY");
    patch.writeProfile(profile("Patch=NEWFIX\n"));
    auto r = e2e::runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_NE(r.out.find("Next Patch: 1\r\n"), std::string::npos) << r.out;
    EXPECT_EQ(e2e::regGetString("HKLM", key + "\\Install", "Patch1"), std::optional<std::string>("NEWFIX"));
    EXPECT_FALSE(e2e::exists(systemIniPath()));

    r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 1638u);
}

TEST_F(PatchLoop, WorkDirectoriesAreCreated) {
    e2e::installProduct("C:\\TAVRO\\", 0); // a trailing backslash gets no second one
    e2e::PatchDir patch("LOOP_WORKDIRS");
    patch.writeProfile(profile(""));
    auto r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_TRUE(e2e::isDirectory("C:\\TAVRO\\ARCHIVE"));
    EXPECT_TRUE(e2e::isDirectory("C:\\TAVRO\\ARCHIVE\\TEMP"));
    // They exist now: a second run is no different.
    r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_EQ(r.err, "");
}

TEST_F(PatchLoop, WorkDirectoryFailureEndsTheRun) {
    e2e::PatchDir patch("LOOP_WORKFAIL");
    patch.writeProfile(profile("Patch=WF\n", "REBOOT=1\n"));

    // A file where the archive directory belongs.
    e2e::installProduct("C:\\TAVRO", 1);
    e2e::writeFile("C:\\TAVRO\\ARCHIVE", "not a directory");
    auto r = e2e::runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 1u) << r.out << r.err;
    EXPECT_EQ(r.err, "\r\n\x07" + msg(12) + " C:\\TAVRO\\ARCHIVE\r\n");
    EXPECT_EQ(r.out.find("Checking patch"), std::string::npos) << r.out;
    EXPECT_EQ(systemIniValue("Install", "Patch0"), "");

    // The same, not interactive: nothing printed.
    e2e::installProduct("C:\\TAVRO", 0);
    r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.err, "");

    // The temporary directory cannot be made: its parent is a file.
    e2e::removeTree("C:\\TAVRO");
    e2e::installProduct("C:\\TAVRO", 1);
    e2e::makeDirs("C:\\TAVRO\\ARCHIVE");
    e2e::writeFile("C:\\TAVRO\\ARCHIVE\\TEMP", "x");
    r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.err, "\r\n\x07" + msg(12) + " C:\\TAVRO\\ARCHIVE\\TEMP\r\n");

    // A product directory whose parent is missing: one level only is created.
    e2e::writeFile(systemIniPath(), e2e::crlf("[Tavro]\nroot=C:\\E2E\\NOPE\\TAVRO\n"));
    r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.err, "\r\n\x07" + msg(12) + " C:\\E2E\\NOPE\\TAVRO\\ARCHIVE\r\n");
    EXPECT_FALSE(e2e::exists("C:\\E2E\\NOPE"));
}

TEST_F(PatchLoop, MissingProfileAppliesToNothing) {
    e2e::installProduct("C:\\TAVRO", 1);
    e2e::PatchDir patch("LOOP_NOPROFILE");
    auto r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 1642u);
    EXPECT_EQ(r.err, "\r\n\x07" + msg(9) + "\r\n" + msg(10) + "\r\n");
}

class Sections : public ::testing::Test {
  protected:
    void SetUp() override {
        e2e::resetMachine();
        e2e::installProduct("C:\\TAVRO", 0);
    }
};

TEST_F(Sections, MissingSectionIsReportedAndTheSetStillCounts) {
    e2e::PatchDir patch("SEC_MISSING");
    patch.writeProfile("[Patch]\nPatch=MS\nCondition0=Nowhere,7,0,Tavro,root,x\n");
    auto r = e2e::runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_EQ(processed(r.out), Names{"Nowhere"});
    EXPECT_EQ(r.err, errorLine(18));
    EXPECT_EQ(systemIniValue("Install", "Patch0"), "MS");
}

TEST_F(Sections, EmptySectionDoesNothing) {
    e2e::PatchDir patch("SEC_EMPTY");
    patch.writeProfile(profile("", "\n   \n; FILE1=TAVRO,A.DLL\n//FILE1=TAVRO,A.DLL\n   ;REBOOT=1\n\t// x\n"));
    auto r = e2e::runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    const size_t at = r.out.find("Processing section: Go\r\n");
    ASSERT_NE(at, std::string::npos);
    // Nothing between the section's trace line and the completion message.
    const std::string tail = r.out.substr(at + std::string("Processing section: Go\r\n").size());
    EXPECT_EQ(tail, msg(7) + "\r\n") << r.out;
}

TEST_F(Sections, LinesNamingNoActionAreReportedAndTheNextLineRuns) {
    e2e::PatchDir patch("SEC_BADLINES");
    patch.writeProfile(profile("", "/FILE1=TAVRO,A.DLL\n"
                                    "FILE 1=TAVRO,A.DLL\n"
                                    "FILES=TAVRO,A.DLL\n"
                                    "FILE-2=TAVRO,A.DLL\n"
                                    "FILE1 =TAVRO,A.DLL\n"
                                    "Hello\n"
                                    "REBOOTX=1\n"
                                    "REBOOT=1\n"));
    auto r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 1603u) << r.out << r.err;
    std::string expected;
    for (int i = 0; i < 7; ++i) expected += errorLine(18);
    EXPECT_EQ(r.err, expected);
    EXPECT_NE(r.out.find(msg(8) + "\r\n"), std::string::npos) << r.out;
}

TEST_F(Sections, ProcessingStopsAtTheNextHeader) {
    e2e::PatchDir patch("SEC_HEADER");
    patch.writeProfile(profile("", "REBOOT=0\n[Other]\nREBOOT=1\n"));
    auto r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;

    // An indented header also ends the section.
    patch.writeProfile(profile("", "  [Other] \nREBOOT=1\n"));
    r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_EQ(r.out.find(msg(8)), std::string::npos);

    // The section found is the one named, wherever it stands.
    patch.writeProfile("[Go2]\nREBOOT=1\n" + profile("", "REBOOT=0\n"));
    r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
}

TEST_F(Sections, RebootRequestsAndWithdrawals) {
    e2e::PatchDir patch("SEC_REBOOT");
    struct Case {
        const char *lines;
        DWORD exit;
    } cases[] = {
        {"REBOOT=1\n", kRestartNeeded},
        {"reboot2=1\n", kRestartNeeded},
        {"  REBOOT=1   \n", kRestartNeeded},
        {"REBOOT=1\nREBOOT=0\n", 0},
        {"REBOOT=0\nREBOOT=1\n", kRestartNeeded},
        {"REBOOT=1\nREBOOT=x\n", kRestartNeeded}, // no number: unchanged
        {"REBOOT=1\nREBOOT\n", kRestartNeeded},   // no value: unchanged
        {"REBOOT=x\n", 0},
        {"REBOOT= 1\n", kRestartNeeded},
        {"REBOOT=2\n", 0}, // only 1 asks for the restart
        {"REBOOT=1junk\n", kRestartNeeded},
    };
    for (const Case &c : cases) {
        patch.writeProfile(profile("", c.lines));
        auto r = e2e::runTavupd(patch, {}, "win98");
        EXPECT_EQ(r.exitCode, c.exit) << c.lines << r.out << r.err;
        EXPECT_EQ(r.err, "") << c.lines;
        EXPECT_EQ(r.out.find(msg(8)) != std::string::npos, c.exit == kRestartNeeded) << c.lines << r.out;
    }
}

TEST_F(Sections, RebootAcrossSections) {
    e2e::PatchDir patch("SEC_REBOOT2");
    patch.writeProfile("[Patch]\nCondition0=A,7,0,Tavro,root,x\nCondition1=B,7,0,Tavro,root,x\n"
                       "[A]\nREBOOT=1\n[B]\nREBOOT=0\n");
    auto r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    patch.writeProfile("[Patch]\nCondition0=A,7,0,Tavro,root,x\nCondition1=B,7,0,Tavro,root,x\n"
                       "[A]\nREBOOT=1\n[B]\n");
    r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, kRestartNeeded) << r.out << r.err;
}

TEST_F(Sections, RebootProgramField) {
    e2e::PatchDir patch("SEC_REBOOTPROG");
    const std::string mark = patch.path("MARK.TXT");
    const std::string other = patch.path("OTHER.TXT");
    patch.writeFile("MARK.BAT", "@echo ran> " + mark + "\r\n");
    patch.writeFile("OTHER.BAT", "@echo ran> " + other + "\r\n");

    // The program field replaces the "Reboot Program" setting.
    patch.writeProfile(profile("Reboot Program=OTHER.BAT\n", "REBOOT=1,MARK.BAT\n"));
    auto r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_TRUE(waitFor(mark));
    EXPECT_TRUE(e2e::waitForStartedPrograms(r.processId));
    EXPECT_FALSE(e2e::exists(other));
    DeleteFileA(mark.c_str());

    // An empty program field keeps the setting.
    patch.writeProfile(profile("Reboot Program=OTHER.BAT\n", "REBOOT=1,\n"));
    r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_TRUE(waitFor(other));
    DeleteFileA(other.c_str());

    // A program is named but no restart is asked for: nothing is started.
    patch.writeProfile(profile("", "REBOOT=0,MARK.BAT\n"));
    r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_TRUE(e2e::waitForStartedPrograms(r.processId));
    EXPECT_FALSE(e2e::exists(mark));

    // A program named without a value: the request stays as it was.
    patch.writeProfile(profile("", "REBOOT=1\nREBOOT=,MARK.BAT\n"));
    r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_TRUE(waitFor(mark));
}

TEST_F(Sections, KeywordsReachTheirActions) {
    e2e::PatchDir patch("SEC_DISPATCH");
    patch.writeProfile(profile("", "FINDFILE2=TAVRO,NOSUCH.DLL\n"
                                    "file1=TAVRO,\n"
                                    "REBOOT=0\n"
                                    "REG1=HKLM,SOFTWARE\\\\E2ETest,Name,Value\n"
                                    "INI1=TAVRO,E2E.INI,Sec,Key,Val\n"));
    auto r = e2e::runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 1603u) << r.out << r.err;
    EXPECT_EQ(e2e::countOf(r.out, "\tFindFile\r\n"), 1u) << r.out;
    EXPECT_EQ(e2e::countOf(r.out, "\tFile\r\n"), 1u) << r.out;
    // REBOOT is not taken for REG: one registry trace line, for the REG line.
    EXPECT_EQ(e2e::countOf(r.out, "\tRegistry\r\n"), 1u) << r.out;
    EXPECT_EQ(e2e::regGetString("HKLM", "SOFTWARE\\E2ETest", "Name"), std::optional<std::string>("Value"));
    auto ini = e2e::readFile("C:\\TAVRO\\E2E.INI");
    ASSERT_TRUE(ini);
    EXPECT_NE(ini->find("Key=Val"), std::string::npos);
    // Only the FILE line with its empty file name is reported.
    EXPECT_EQ(e2e::countOf(r.err, msg(18)), 1u) << r.err;
}

} // namespace
