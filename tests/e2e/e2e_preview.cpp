// TAVUPD.EXE -n: the run on the machine as it is, every change kept in
// memory, and a report of what it would do.
//  - nothing on the machine changes: the whole prefix (every file with its
//    size, date, attributes and a hash of its bytes; every key and value of
//    HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER) is the same before and after
//    a preview of the example kit on both families;
//  - later actions see what earlier ones would have done;
//  - a file another program holds open previews as waiting for the restart;
//  - fidelity: on each scenario the preview's lines equal those the real run
//    gives of what it did (the fault build writes them, TAVUPD_OUTCOME_FILE),
//    and both end with the same status.

#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <sstream>

using namespace e2e;

namespace {

const std::string kSource = E2E_SOURCE_DIR;
const std::string kProductDir = kSource + "\\examples\\product";
const std::string kKitDir = kSource + "\\examples\\patch";
const std::string kHeader = "Preview: what this run would do on this machine (nothing is changed)";

std::string tvsetupExe() {
    std::string exe = tavupdFaultExe();
    return exe.substr(0, exe.find_last_of('\\')) + "\\TVSETUP.exe";
}

std::vector<std::string> linesOf(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

bool contains(const std::vector<std::string> &lines, const std::string &line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string joined(const std::vector<std::string> &lines) {
    std::string out;
    for (const std::string &l : lines) out += l + "\n";
    return out;
}

// ---- the machine as a whole ------------------------------------------------------

// ---- runs ----------------------------------------------------------------------------

struct Preview {
    RunResult run;
    std::vector<std::string> lines; // the report's lines after the header
};

Preview preview(const PatchDir &kit, const std::string &version, std::vector<std::string> args = {}) {
    args.insert(args.begin(), "-n");
    Preview p;
    p.run = runTavupd(kit, args, version);
    std::vector<std::string> lines = linesOf(p.run.out);
    if (lines.empty() || lines.front() != kHeader) {
        ADD_FAILURE() << "no preview report:\n" << p.run.out << p.run.err;
        return p;
    }
    p.lines.assign(lines.begin() + 1, lines.end());
    return p;
}

// The lines the run itself gives of what it did (the fault build writes
// them), and its status.
struct Real {
    RunResult run;
    std::vector<std::string> lines;
};

Real realRun(const PatchDir &kit, const std::string &version, const std::vector<std::string> &args = {}) {
    const std::string file = "C:\\E2E\\OUTCOMES.TXT";
    DeleteFileA(file.c_str());
    Real r;
    r.run = runTavupd(kit, args, version, 60000, {"TAVUPD_OUTCOME_FILE=" + file});
    r.lines = linesOf(readFile(file).value_or(""));
    DeleteFileA(file.c_str());
    return r;
}

// The preview's lines without those of programs it would start (a real
// run starts them and says nothing).
std::vector<std::string> withoutStarts(const std::vector<std::string> &lines) {
    std::vector<std::string> out;
    for (const std::string &l : lines)
        if (l.find(": would start ") == std::string::npos) out.push_back(l);
    return out;
}

// ---- the example kit ----------------------------------------------------------------

// The product installed by TVSETUP and the example kit copied into a patch
// directory (of the fault build when `faultBuild`), dated as in the manual.
std::unique_ptr<PatchDir> exampleMachine(bool faultBuild) {
    resetMachine();
    RunResult setup = runProgram(tvsetupExe(), {"install", kProductDir + "\\PRODUCT.LST"});
    EXPECT_EQ(setup.exitCode, 0u) << setup.err;
    auto kit = std::make_unique<PatchDir>("EXAMPLE", faultBuild);
    EXPECT_TRUE(copyKit(kKitDir, *kit));
    return kit;
}


TEST(PreviewExample, ChangesNothingOnTheMachineOnEitherFamily) {
    for (const char *version : {"win98", "nt40"}) {
        SCOPED_TRACE(version);
        std::unique_ptr<PatchDir> kit = exampleMachine(false);
        setWindowsVersion("TAVUPD.EXE", version);
        const std::map<std::string, std::string> before = snapshotMachine();
        ASSERT_GT(before.size(), 100u);

        Preview p = preview(*kit, version);
        const std::string report = joined(p.lines);
        // It did preview the patch: the files it would install, the INI and
        // registry changes, the record; a restart on the 98 family.
        EXPECT_TRUE(contains(p.lines, "TAVUPD.DAT(96) FILE1: C:\\TAVRO\\TVVIEW.EXE: backup kept as C:\\TAVRO\\TVVIEW.OLD"))
            << report;
        EXPECT_NE(report.find("[Install] Patch0: the patch \"TP2001\" would be recorded"), std::string::npos) << report;
        EXPECT_EQ(p.run.exitCode, std::string(version) == "win98" ? 3010u : 0u) << report;
        EXPECT_EQ(p.run.err, "");

        const std::map<std::string, std::string> after = snapshotMachine();
        EXPECT_EQ(differences(before, after), "");
        EXPECT_FALSE(exists("C:\\TAVRO\\ARCHIVE"));
        EXPECT_FALSE(exists(kit->path("TAVUPD.LOG")));
        EXPECT_TRUE(pendingMoves().empty());

        // The same comparison sees what the real run changes.
        if (std::string(version) == "nt40") {
            RunResult real = runTavupd(*kit, {}, version);
            EXPECT_EQ(real.exitCode, p.run.exitCode);
            const std::string changed = differences(before, snapshotMachine());
            for (const char *name : {"new: C:\\TAVRO\\TVVIEW.OLD", "changed: C:\\TAVRO\\TVVIEW.EXE",
                                     "new: C:\\TAVRO\\ARCHIVE", "changed: HKLM\\Software\\Korvek\\Tavro\n"})
                EXPECT_NE(changed.find(name), std::string::npos) << name << "\n" << changed;
        }
    }
}

TEST(PreviewExample, SaysWhatTheRunWouldDoLineByLine) {
    std::unique_ptr<PatchDir> kit = exampleMachine(false);
    Preview p = preview(*kit, "win98");
    const std::string report = joined(p.lines);
    const std::string win = windowsDir();
    for (const std::string &line : {
             std::string("TAVUPD.DAT(48) Condition0: holds: the actions of [UPDATE] follow"),
             std::string("TAVUPD.DAT(56) Condition1: does not hold: the system does not match (OS field 1, this system 7)"),
             std::string("TAVUPD.DAT(92) COPY1: C:\\TAVRO\\ARCHIVE\\TAVRO.SAV: new file installed"),
             std::string("TAVUPD.DAT(96) FILE1: C:\\TAVRO\\TVVIEW.EXE: older file replaced"),
             std::string("TAVUPD.DAT(111) RENAME1: C:\\TAVRO\\TVNOTES.TXT: renamed to C:\\TAVRO\\DOCS\\TVNOTES.TXT"),
             std::string("TAVUPD.DAT(115) ERASE1: C:\\TAVRO\\TVTIPS.TXT: erased"),
             std::string("TAVUPD.DAT(119) INI1: C:\\TAVRO\\TAVRO.INI [Settings] HelpFile: not set -> "
                         "\"C:\\TAVRO\\DOCS\\TVGUIDE.TXT\""),
             std::string("TAVUPD.DAT(137) REG2: HKLM\\SOFTWARE\\Korvek\\Tavro Build: \"0400\" -> \"0412\""),
             std::string("TAVUPD.DAT(141) REG4: HKLM\\SOFTWARE\\Korvek\\Tavro BetaFlag: \"1\" -> deleted"),
             // Set 4 sees the version INI7 would set, and the build REG2 would.
             std::string("TAVUPD.DAT(70) Condition4: holds: the actions of [WIN9X] follow"),
             std::string("TAVUPD.DAT(150) FILE1: " + win + "\\SYSTEM\\TVPRINT.DRV: older file replaced"),
             std::string("TAVUPD.DAT(153) REBOOT1: restart request set to 1"),
             std::string("TAVUPD.DAT: a restart of Windows would be needed"),
             std::string("TAVUPD.DAT: the run would end with status 3010"),
         })
        EXPECT_TRUE(contains(p.lines, line)) << line << "\n" << report;
    // The tree REG6 would delete, with its size.
    EXPECT_NE(report.find("REG6: HKCU\\Software\\Korvek\\Tavro\\Cache: tree deleted ("), std::string::npos) << report;
    // RESTARTER.EXE is no file of this kit: it would not start.
    EXPECT_NE(report.find("would start"), std::string::npos) << report;
}

TEST(PreviewExample, AFileHeldOpenWouldWaitForTheRestart) {
    for (const char *version : {"win98", "nt40"}) {
        SCOPED_TRACE(version);
        std::unique_ptr<PatchDir> kit = exampleMachine(false);
        FileLock viewer("C:\\TAVRO\\TVVIEW.EXE");
        ASSERT_TRUE(viewer.locked());
        Preview p = preview(*kit, version);
        EXPECT_TRUE(contains(p.lines, "TAVUPD.DAT(96) FILE1: C:\\TAVRO\\TVVIEW.EXE: new file installed: would wait for "
                                      "the next start of Windows (in use)"))
            << joined(p.lines);
        EXPECT_EQ(p.run.exitCode, 3010u);
        EXPECT_TRUE(pendingMoves().empty());
        EXPECT_FALSE(exists(windowsDir() + "\\WININIT.INI"));
    }
}

// ---- later actions see earlier ones -------------------------------------------------

TEST(PreviewSequence, LaterActionsSeeWhatEarlierOnesWouldHaveDone) {
    resetMachine();
    installProduct();
    PatchDir kit("SEQ");
    writeFile("C:\\TAVRO\\NOTES.TXT", "notes");
    writeFile("C:\\TAVRO\\APP.INI", crlf("[Main]\nMode=old\n"));
    kit.writeFile("VIEW.CFG", "root=\\TAVRO\r\n");
    setDosTime(kit.path("VIEW.CFG"), dosDate(1999, 1, 1), dosTime(12, 0, 0));
    kit.writeProfile(profileWith("FILE1=TAVRO,VIEW.CFG\n"
                                 "SUBST1=TAVRO,VIEW.CFG\n"
                                 "INI1=TAVRO,APP.INI,Main,Mode,first\n"
                                 "INI2=TAVRO,APP.INI,Main,Mode,second\n"
                                 "RENAME1=TAVRO,NOTES.TXT,NOTES.BAK,0,0\n"
                                 "ERASE1=TAVRO,NOTES.BAK,0\n",
                                 8));
    Preview p = preview(kit, "nt40");
    const std::string report = joined(p.lines);
    // The SUBST finds the file the FILE line would have installed, of the same date.
    EXPECT_TRUE(contains(p.lines, "TAVUPD.DAT(5) FILE1: C:\\TAVRO\\VIEW.CFG: new file installed")) << report;
    EXPECT_TRUE(contains(p.lines, "TAVUPD.DAT(6) SUBST1: C:\\TAVRO\\VIEW.CFG: same date, not replaced")) << report;
    // The second edit sees the first one's value.
    EXPECT_TRUE(contains(p.lines, "TAVUPD.DAT(7) INI1: C:\\TAVRO\\APP.INI [Main] Mode: \"old\" -> \"first\"")) << report;
    EXPECT_TRUE(contains(p.lines, "TAVUPD.DAT(8) INI2: C:\\TAVRO\\APP.INI [Main] Mode: \"first\" -> \"second\""))
        << report;
    // The ERASE finds the file under the name the RENAME would have given it.
    EXPECT_TRUE(contains(p.lines, "TAVUPD.DAT(9) RENAME1: C:\\TAVRO\\NOTES.TXT: renamed to C:\\TAVRO\\NOTES.BAK"))
        << report;
    EXPECT_TRUE(contains(p.lines, "TAVUPD.DAT(10) ERASE1: C:\\TAVRO\\NOTES.BAK: erased")) << report;
    EXPECT_EQ(p.run.exitCode, 0u);
    // And none of it happened.
    EXPECT_FALSE(exists("C:\\TAVRO\\VIEW.CFG"));
    EXPECT_EQ(readFile("C:\\TAVRO\\APP.INI"), crlf("[Main]\nMode=old\n"));
    EXPECT_TRUE(exists("C:\\TAVRO\\NOTES.TXT"));
}

TEST(PreviewConditions, NoSetHoldsSaysWhichTestFailedAndEndsAsTheRunWould) {
    resetMachine();
    installProduct("C:\\TAVRO", -1, "Version=1.0\n");
    PatchDir kit("NOTAPPLY");
    kit.writeProfile("[Patch]\nPatch=P1\nCondition0=Main,8,4,Tavro,Version,2.0,2.9\n\n[Main]\nREG1=HKLM,SOFTWARE\\\\E2ETest,A,1\n");
    Preview p = preview(kit, "nt40");
    const std::string report = joined(p.lines);
    EXPECT_TRUE(contains(p.lines, "TAVUPD.DAT(3) Condition0: does not hold: [Tavro] Version is \"1.0\", outside \"2.0\" "
                                  "to \"2.9\""))
        << report;
    EXPECT_TRUE(contains(p.lines, "TAVUPD.DAT: no condition set holds: the patch does not apply to this system")) << report;
    EXPECT_TRUE(contains(p.lines, "TAVUPD.DAT: the patch would not be recorded")) << report;
    EXPECT_TRUE(contains(p.lines, "TAVUPD.DAT: the run would end with status 1642")) << report;
    EXPECT_EQ(p.run.exitCode, 1642u);
    EXPECT_FALSE(regKeyExists("HKLM", "SOFTWARE\\E2ETest"));
}

TEST(PreviewSwitches, CombinesWithAnotherProfileAndTheTrace) {
    resetMachine();
    installProduct();
    PatchDir kit("SWITCHES");
    kit.writeProfile(profileWith("REG1=HKLM,SOFTWARE\\\\E2ETest,Which,default\n", 8));
    e2e::writeFile(kit.path("OTHER.DAT"), crlf(profileWith("REG1=HKLM,SOFTWARE\\\\E2ETest,Which,other\n", 8)));

    // /N -p: the other profile, named as such; nothing printed but the report.
    RunResult r = runTavupd(kit, {"/N", "-p", kit.path("OTHER.DAT")}, "nt40");
    std::vector<std::string> lines = linesOf(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), kHeader);
    EXPECT_TRUE(contains(lines, "OTHER.DAT(5) REG1: HKLM\\SOFTWARE\\E2ETest Which: not set -> \"other\"")) << r.out;
    EXPECT_EQ(r.out.find("Processing section"), std::string::npos) << r.out;
    EXPECT_EQ(r.exitCode, 0u);

    // -d adds the run's own lines and trace before the report.
    r = runTavupd(kit, {"-n", "-d"}, "nt40");
    lines = linesOf(r.out);
    EXPECT_TRUE(contains(lines, "Processing section: Main")) << r.out;
    EXPECT_TRUE(contains(lines, kHeader)) << r.out;
    EXPECT_TRUE(contains(lines, "TAVUPD.DAT(5) REG1: HKLM\\SOFTWARE\\E2ETest Which: not set -> \"default\"")) << r.out;
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_FALSE(regKeyExists("HKLM", "SOFTWARE\\E2ETest"));
    EXPECT_FALSE(exists("C:\\TAVRO\\ARCHIVE"));
}

// ---- fidelity -------------------------------------------------------------------------

struct Scenario {
    const char *name;
    const char *version;
    // Prepares the machine and the kit; the same state for both runs.
    std::function<std::unique_ptr<PatchDir>()> prepare;
    // Held open during both runs (empty: none), without sharing or, with
    // `readable`, shared for reading (as a running program is).
    std::string held;
    bool readable = false;
};

// Holds a file open for reading, shared for reading only: it can be read,
// but neither written, renamed nor deleted.
class ReadLock {
  public:
    explicit ReadLock(const std::string &path)
        : h_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~ReadLock() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    ReadLock(const ReadLock &) = delete;
    ReadLock &operator=(const ReadLock &) = delete;
    bool locked() const { return h_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE h_;
};

void PrintTo(const Scenario &s, std::ostream *os) { *os << s.name; }

std::unique_ptr<PatchDir> actionKit(const std::string &body, int os) {
    resetMachine();
    installProduct();
    auto kit = std::make_unique<PatchDir>("FIDELITY", true);
    kit->writeFile("NEW.DLL", blob("new", 3000));
    setDosTime(kit->path("NEW.DLL"), dosDate(1999, 6, 15), dosTime(12, 0, 0));
    kit->writeFile("REPORT.CFG", "out=\\TAVRO\\OUT\r\nwin=\\WINDOWS\r\n");
    setDosTime(kit->path("REPORT.CFG"), dosDate(1999, 6, 15), dosTime(12, 0, 0));
    writeFile("C:\\TAVRO\\OLDER.DLL", blob("older", 2000));
    setDosTime("C:\\TAVRO\\OLDER.DLL", dosDate(1998, 1, 1), dosTime(8, 0, 0));
    writeFile("C:\\TAVRO\\NEWER.DLL", blob("newer", 2000));
    setDosTime("C:\\TAVRO\\NEWER.DLL", dosDate(2001, 1, 1), dosTime(8, 0, 0));
    writeFile("C:\\TAVRO\\HELD.DLL", blob("held", 2000));
    setDosTime("C:\\TAVRO\\HELD.DLL", dosDate(1998, 1, 1), dosTime(8, 0, 0));
    writeFile("C:\\TAVRO\\NOTES.TXT", "notes");
    writeFile("C:\\TAVRO\\APP.INI", crlf("[Main]\nMode=old\nGone=1\n\n[Old]\nA=1\nB=2\n"));
    regSetString("HKLM", "SOFTWARE\\E2ETest", "Build", "0400");
    regSetString("HKLM", "SOFTWARE\\E2ETest\\Tree\\Sub", "X", "1");
    regSetString("HKLM", "SOFTWARE\\E2ETest\\Tree", "Y", "2");
    kit->writeProfile(profileWith(body, os, "Patch=FIDELITY1\n"));
    return kit;
}

const char kFiles[] = "FILE1=TAVRO,NEW.DLL\n"
                      "FILE2=TAVRO,NEW.DLL,,OLDER.DLL\n"
                      "FILE3=TAVRO,NEW.DLL,,NEWER.DLL\n"
                      "FILE4=TAVRO,NEW.DLL,,NEWER.DLL,1,1\n"
                      "FILE5=TAVRO,NEW.DLL,,HELD.DLL\n"
                      "FILE6=TAVRO,MISSING.DLL\n"
                      "SUBST1=TAVRO,REPORT.CFG\n"
                      "SUBST2=TAVRO,REPORT.CFG,,REPORT.CFG,1\n"
                      "FINDFILE1=TAVRO,NEW.DLL\n";
const char kLocal[] = "COPY1=TAVRO,NOTES.TXT,NOTES.SAV,0,0\n"
                      "RENAME1=TAVRO,NOTES.TXT,NOTES.OLD,0,0\n"
                      "RENAME2=TAVRO,NOTES.SAV,NOTES.OLD,1,1\n"
                      "ERASE1=TAVRO,NOTES.OLD,1\n"
                      "ERASE2=TAVRO,NONE.TXT,0\n";
const char kIniReg[] = "INI1=TAVRO,APP.INI,Main,Mode,new\n"
                       "INI2=TAVRO,APP.INI,Main,Mode,newer\n"
                       "INI3=TAVRO,APP.INI,Main,Gone\n"
                       "INI4=TAVRO,APP.INI,Old\n"
                       "INI5=WINDOWS,TAVRO.INI,Tavro,Version,2.1\n"
                       "REG1=HKLM,SOFTWARE\\\\E2ETest,Build,0412\n"
                       "REG2=HKLM,SOFTWARE\\\\E2ETest\\\\New,,default\n"
                       "REG3=HKLM,SOFTWARE\\\\E2ETest,Build\n"
                       "REG4=HKLM,SOFTWARE\\\\E2ETest\\\\Tree\n"
                       "REG5=HKCU,Software\\\\E2ETest,Path,\\\\TAVRO\n"
                       "REBOOT1=1\n";

std::unique_ptr<PatchDir> exampleKit() { return exampleMachine(true); }

// The system TAVRO.INI and the Windows directory's INI files in their
// registry form: the record and the INI lines go to the registry.
std::unique_ptr<PatchDir> registryFormKit() {
    resetMachine();
    makeDirs("C:\\TAVRO");
    const std::string settings = "SOFTWARE\\Korvek\\KorvekDSP\\TAVRO.INI";
    regSetString("HKLM", settings + "\\Tavro", "root", "C:\\TAVRO");
    regSetString("HKLM", settings + "\\Patch", "Interactive", "0");
    regSetString("HKLM", settings + "\\Install", "Patch0", "EARLIER");
    regSetString("HKLM", "SOFTWARE\\Korvek\\KorvekDSP\\E2E.INI\\Gone", "g", "1");
    regSetString("HKLM", "SOFTWARE\\Korvek\\KorvekDSP\\E2E.INI\\boot", "old", "1");
    auto kit = std::make_unique<PatchDir>("FIDELITY", true);
    kit->writeProfile(profileWith("INI1=WINDOWS,E2E.INI,boot,K,V\n"
                                  "INI2=WINDOWS,E2E.INI,boot,old\n"
                                  "INI3=WINDOWS,E2E.INI,Gone\n"
                                  "INI4=WINDOWS,TAVRO.INI,S,K,\\\\TAVRO\\\\BIN\n"
                                  "INI5=TAVRO,E2E.INI,S,K,file\n",
                                  8, "Patch=FIDELITY1\n"));
    return kit;
}

const Scenario kScenarios[] = {
    {"ExampleWindows98", "win98", exampleKit, ""},
    {"ExampleNt4", "nt40", exampleKit, ""},
    {"ExampleViewerInUseWindows98", "win98", exampleKit, "C:\\TAVRO\\TVVIEW.EXE"},
    {"ExampleViewerInUseNt4", "nt40", exampleKit, "C:\\TAVRO\\TVVIEW.EXE"},
    {"FileActionsWindows98", "win98", [] { return actionKit(kFiles, 7); }, "C:\\TAVRO\\HELD.DLL"},
    {"FileActionsNt4", "nt40", [] { return actionKit(kFiles, 8); }, "C:\\TAVRO\\HELD.DLL"},
    {"FileHeldForReadingWindows98", "win98", [] { return actionKit(kFiles, 7); }, "C:\\TAVRO\\HELD.DLL", true},
    {"FileHeldForReadingNt4", "nt40", [] { return actionKit(kFiles, 8); }, "C:\\TAVRO\\HELD.DLL", true},
    {"LocalActionsNt4", "nt40", [] { return actionKit(kLocal, 8); }, ""},
    {"LocalActionsWindows98", "win98", [] { return actionKit(kLocal, 7); }, ""},
    {"IniAndRegistryNt4", "nt40", [] { return actionKit(kIniReg, 8); }, ""},
    {"IniAndRegistryWindows98", "win98", [] { return actionKit(kIniReg, 7); }, ""},
    {"RegistryFormOfTheSettingsNt4", "nt40", registryFormKit, ""},
};

class PreviewFidelity : public ::testing::TestWithParam<Scenario> {};

// The tests leave a machine others can start from: no registry form of the
// settings, no product, no kit.
class CleanMachineAfterwards : public ::testing::Environment {
  public:
    void TearDown() override { resetMachine(); }
};
::testing::Environment *const cleanMachineAfterwards = ::testing::AddGlobalTestEnvironment(new CleanMachineAfterwards);

TEST_P(PreviewFidelity, ThePreviewSaysWhatTheRealRunThenDoes) {
    const Scenario &s = GetParam();
    std::unique_ptr<PatchDir> kit = s.prepare();
    ASSERT_FALSE(HasFailure());
    std::unique_ptr<FileLock> lock;
    std::unique_ptr<ReadLock> readLock;
    if (!s.held.empty() && s.readable) {
        readLock = std::make_unique<ReadLock>(s.held);
        ASSERT_TRUE(readLock->locked());
    } else if (!s.held.empty()) {
        lock = std::make_unique<FileLock>(s.held);
        ASSERT_TRUE(lock->locked());
    }
    const Preview p = preview(*kit, s.version);
    ASSERT_FALSE(p.lines.empty());
    const Real r = realRun(*kit, s.version);
    ASSERT_FALSE(r.lines.empty()) << r.run.out << r.run.err;
    // What the scenario is about shows: a file held open waits for the restart.
    if (!s.held.empty()) {
        EXPECT_NE(joined(p.lines).find(s.held + ": "), std::string::npos) << joined(p.lines);
        EXPECT_NE(joined(p.lines).find("would wait for the next start of Windows (in use)"), std::string::npos)
            << joined(p.lines);
    }
    EXPECT_EQ(joined(withoutStarts(p.lines)), joined(r.lines));
    EXPECT_EQ(p.run.exitCode, r.run.exitCode);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, PreviewFidelity, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario> &info) { return std::string(info.param.name); });

} // namespace
