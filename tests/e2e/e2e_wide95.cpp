// The program on a Windows 95 whose wide-character (...W) functions are
// stubs: tavupd_wide95.exe is TAVUPD.EXE with every ...W import failing with
// ERROR_CALL_NOT_IMPLEMENTED from before its start-up code runs (see
// tests/win95/wide_stubs.cpp). Run side by side with TAVUPD.EXE on the same
// machine and patch, it must do exactly what TAVUPD.EXE does: the same
// console output, log, exit status, files, INI files and registry, on a run
// that applies a patch, one that refuses it as installed, and one that ends
// with the critical-error report (a C++ exception through the run).
#include "harness.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace e2e;

namespace {

const std::string kPatchDir = "C:\\E2E\\WIDE95";
const std::string kLog = kPatchDir + "\\RUN.LOG";
const WORD kNewDate = dosDate(2011, 5, 6);
const WORD kNewTime = dosTime(7, 8, 10);

std::string applyingProfile() {
    return "[Patch]\n"
           "Backup=1\n"
           "Patch=WIDE95\n"
           "LogFile=" + kLog + "\n"
           "Condition0=MAIN,7,0,Tavro,root,x\n"
           "\n"
           "[MAIN]\n"
           "INI1=TAVRO,SETTINGS.INI,Display,Font,Arial\n"
           "REG1=HKLM,SOFTWARE\\\\E2ETest\\\\Wide95,Version,2.1\n"
           "FILE1=TAVRO,VIEW.EXE\n"
           "ERASE1=TAVRO,TIPS.TXT,1\n";
}

// An INI line whose file cannot be written ends the run with error 21.
std::string failingProfile() {
    return "[Patch]\n"
           "LogFile=" + kLog + "\n"
           "Condition0=MAIN,7,0,Tavro,root,x\n"
           "\n"
           "[MAIN]\n"
           "INI1=TAVRO,NODIR\\\\X.INI,S,K,V\n";
}

// Everything a run shows or leaves behind.
struct Outcome {
    RunResult run;
    std::string log;
    std::map<std::string, std::string> files; // below C:\TAVRO
    std::string version;                       // the registry value REG1 sets
    std::string patchRecord;                   // [Install] Patch0 of the system TAVRO.INI
};

std::string wideReport() { return kPatchDir + "\\WIDE.TXT"; }

// A journal's lines without what differs from run to run (the time, the
// work file names made of the process number) and the checks that cover
// them; any other file as it is.
std::string withoutJournalTimes(std::string text) {
    if (text.rfind("TAVUPD JOURNAL", 0) != 0) return text;
    for (const std::string tag : {" time=\"", " detail=\"", " check="}) {
        for (size_t at = text.find(tag); at != std::string::npos; at = text.find(tag, at)) {
            const size_t end = text.find_first_of(tag == " check=" ? "\r" : "\"", at + tag.size());
            text.erase(at, end == std::string::npos ? std::string::npos : end - at + (tag == " check=" ? 0 : 1));
        }
    }
    return text;
}

// Runs the program `exe` (copied in as TAVUPD.EXE) on a fresh machine with
// the profile, as Windows 98, `times` times in a row; the outcome of the last.
Outcome apply(const std::string &exe, const std::string &profile, int times) {
    resetMachine();
    installProduct("C:\\TAVRO", 0);
    writeFile("C:\\TAVRO\\VIEW.EXE", "viewer 1.0\r\n");
    setDosTime("C:\\TAVRO\\VIEW.EXE", dosDate(2001, 2, 3), dosTime(4, 5, 6));
    writeFile("C:\\TAVRO\\TIPS.TXT", "tips\r\n");
    PatchDir patch("WIDE95");
    EXPECT_TRUE(CopyFileA(exe.c_str(), patch.path("TAVUPD.EXE").c_str(), FALSE)) << exe;
    patch.writeProfile(profile);
    patch.writeFile("VIEW.EXE", "viewer 2.1\r\n");
    setDosTime(patch.path("VIEW.EXE"), kNewDate, kNewTime);

    Outcome o;
    for (int i = 0; i < times; ++i)
        o.run = runTavupd(patch, {"-d"}, "win98", 60000, {"TAVUPD_WIDE_REPORT=" + wideReport()});
    o.log = readFile(kLog).value_or("<no log>");
    for (const std::string &path : listFilesBelow("C:\\TAVRO"))
        o.files[path] = withoutJournalTimes(readFile(path).value_or("<unreadable>"));
    o.version = regGetString("HKLM", "SOFTWARE\\E2ETest\\Wide95", "Version").value_or("<none>");
    char record[64] = {};
    GetPrivateProfileStringA("Install", "Patch0", "<none>", record, sizeof record,
                             (windowsDir() + "\\TAVRO.INI").c_str());
    o.patchRecord = record;
    return o;
}

// The debug trace names the time each program was compiled; the two builds
// differ there and only there.
std::string withoutBuildTime(std::string text) {
    const std::string tag = "\r\nCompiled: ";
    const size_t at = text.find(tag);
    if (at != std::string::npos) {
        const size_t end = text.find("\r\n", at + tag.size());
        text.erase(at + tag.size(), end == std::string::npos ? std::string::npos : end - at - tag.size());
    }
    return text;
}

void expectSame(const Outcome &stubbed, const Outcome &plain) {
    EXPECT_FALSE(stubbed.run.timedOut);
    EXPECT_EQ(stubbed.run.exitCode, plain.run.exitCode);
    EXPECT_EQ(withoutBuildTime(stubbed.run.out), withoutBuildTime(plain.run.out));
    EXPECT_EQ(stubbed.run.err, plain.run.err);
    EXPECT_EQ(withoutBuildTime(stubbed.log), withoutBuildTime(plain.log));
    EXPECT_EQ(stubbed.files, plain.files);
    EXPECT_EQ(stubbed.version, plain.version);
    EXPECT_EQ(stubbed.patchRecord, plain.patchRecord);
}

// The wide functions the program imports, each stubbed, and those a run
// called, from the stubs' report (lines "stubbed <name>", "failed <name>").
struct WideCalls {
    std::vector<std::string> stubbed;
    std::vector<std::string> failed;
};

WideCalls wideCalls() {
    WideCalls calls;
    const std::string text = readFile(wideReport()).value_or("");
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        if (line.rfind("stubbed ", 0) == 0) calls.stubbed.push_back(line.substr(8));
        if (line.rfind("failed ", 0) == 0) calls.failed.push_back(line.substr(7));
        EXPECT_TRUE(line.rfind("stubbed ", 0) == 0 || line.rfind("failed ", 0) == 0) << line;
        at = end + 2;
    }
    return calls;
}

bool contains(const std::vector<std::string> &names, const std::string &name) {
    for (const std::string &n : names) {
        if (n == name) return true;
    }
    return false;
}

// The last run of the stubbed build met the stubs. Every build imports some
// wide function (so the test is not empty). The locks of the run-time of the
// win32 thread model, which the shipped build has, create their semaphores
// with CreateSemaphoreW at start-up: where it is imported, every run calls it.
// (The 64-bit test build imports GetModuleHandleW and LoadLibraryW only for an
// unused random-number source and calls neither.)
void expectStubsMet() {
    const WideCalls calls = wideCalls();
    EXPECT_FALSE(calls.stubbed.empty());
    for (const std::string &name : calls.failed) {
        EXPECT_TRUE(contains(calls.stubbed, name)) << name;
    }
    if (contains(calls.stubbed, "CreateSemaphoreW")) {
        EXPECT_TRUE(contains(calls.failed, "CreateSemaphoreW"));
    }
}

class Wide95 : public ::testing::Test {
  protected:
    void TearDown() override { resetMachine(); }
};

} // namespace

TEST_F(Wide95, AppliesThePatchAsTheProgramDoes) {
    const Outcome plain = apply(tavupdExe(), applyingProfile(), 1);
    ASSERT_EQ(plain.run.exitCode, 0u) << plain.run.out << plain.run.err;
    EXPECT_EQ(plain.files.at("C:\\TAVRO\\VIEW.EXE"), "viewer 2.1\r\n");
    EXPECT_EQ(plain.files.at("C:\\TAVRO\\VIEW.OLD"), "viewer 1.0\r\n");
    EXPECT_EQ(plain.files.count("C:\\TAVRO\\TIPS.TXT"), 0u);
    EXPECT_EQ(plain.version, "2.1");
    EXPECT_EQ(plain.patchRecord, "WIDE95");
    EXPECT_NE(plain.log.find("Processing section: MAIN"), std::string::npos) << plain.log;

    const Outcome stubbed = apply(tavupdWide95Exe(), applyingProfile(), 1);
    expectSame(stubbed, plain);

    expectStubsMet();
}

TEST_F(Wide95, RefusesAnInstalledPatchAsTheProgramDoes) {
    const Outcome plain = apply(tavupdExe(), applyingProfile(), 2);
    ASSERT_EQ(plain.run.exitCode, 1638u) << plain.run.out << plain.run.err;
    EXPECT_NE(plain.run.out.find("Patch already installed"), std::string::npos) << plain.run.out;

    const Outcome stubbed = apply(tavupdWide95Exe(), applyingProfile(), 2);
    expectSame(stubbed, plain);
}

TEST_F(Wide95, EndsWithTheCriticalErrorReportAsTheProgramDoes) {
    const Outcome plain = apply(tavupdExe(), failingProfile(), 1);
    ASSERT_EQ(plain.run.exitCode, 1u);
    EXPECT_NE(plain.run.err.find("Critical ERROR Occured on line "), std::string::npos) << plain.run.err;
    EXPECT_NE(plain.run.err.find("     Error Number:  21\r\n"), std::string::npos) << plain.run.err;

    const Outcome stubbed = apply(tavupdWide95Exe(), failingProfile(), 1);
    expectSame(stubbed, plain);
    expectStubsMet();
}
