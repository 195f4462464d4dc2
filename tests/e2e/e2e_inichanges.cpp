// INI files whose content changes under the run, run through the real
// program: a file replaced or erased by another action after an INI line
// edited it, the two TAVRO.INI files being one file, bytes after a Ctrl-Z and
// LF-only line ends, and the system TAVRO.INI in the registry failing as the
// file does.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

using namespace e2e;

namespace {

const std::string kComplete = "Patch update installation complete.\r\n";
const std::string kSettingsKey = "SOFTWARE\\Korvek\\KorvekDSP\\TAVRO.INI";
const std::string kProductIni = "C:\\TAVRO\\TAVRO.INI";

std::string systemIni() { return windowsDir() + "\\TAVRO.INI"; }

// The last four lines of a critical-error report of module tvpprof with
// error 21 for `what`.
std::string error21Tail(const std::string &what) {
    return " of file tvpprof\r\n"
           "     Error Number:  21\r\n"
           "     Error Message: " +
           what +
           "\r\n"
           "     Size:          0\r\n";
}

// `changed`: the run of a named patch changed something before the error,
// so the report ends with how to take that back.
void expectError21(const RunResult &r, const std::string &what, bool changed) {
    EXPECT_EQ(r.exitCode, 1u);
    const std::string head = "\aCritical ERROR Occured on line ";
    ASSERT_EQ(r.err.compare(0, head.size(), head), 0) << r.err;
    const std::string tail =
        error21Tail(what) + (changed ? "To take back what was done, run: TAVUPD.EXE -u\r\n" : std::string());
    ASSERT_GE(r.err.size(), tail.size()) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
    EXPECT_EQ(r.out.find(kComplete), std::string::npos) << r.out;
}

// Numbers of the calls of the given name in a call trace ("<number> <name>"
// per line), in order.
std::vector<unsigned long> callsNamed(const std::string &trace, const std::string &name) {
    std::vector<unsigned long> numbers;
    std::istringstream lines(trace);
    unsigned long number = 0;
    std::string called;
    while (lines >> number >> called)
        if (called == name) numbers.push_back(number);
    return numbers;
}

class IniChanges : public ::testing::Test {
  protected:
    void SetUp() override {
        resetMachine();
        patchDir = std::make_unique<PatchDir>("INICHG");
    }
    RunResult run(const std::string &profile, const std::string &version = "win98") {
        patch().writeProfile(profile);
        return runTavupd(patch(), {}, version);
    }
    std::unique_ptr<PatchDir> patchDir;
    PatchDir &patch() { return *patchDir; }
};

// ---- the file changed on disk since it was read -----------------------------

TEST_F(IniChanges, IniFileReplacedAfterAnEditStaysAsInstalled) {
    installProduct("C:\\TAVRO", 0);
    const std::string old = "[Settings]\r\nHelpFile=OLD\r\nDataDir=C:\\DATA\r\n";
    const std::string installed = "[Settings]\r\nHelpFile=NEW\r\nFresh=1\r\n";
    patch().writeFile("TAVRO.INI", installed);
    setDosTime(patch().path("TAVRO.INI"), dosDate(2011, 1, 1), dosTime(1, 1, 2));

    // Edited, then replaced: the installed file is what stays.
    writeFile(kProductIni, old);
    setDosTime(kProductIni, dosDate(2001, 1, 1), dosTime(1, 1, 2));
    RunResult r = run(profileWith("INI1=TAVRO,TAVRO.INI,Settings,HelpFile,X\n"
                                  "FILE1=TAVRO,TAVRO.INI,,,1\n"));
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readFile(kProductIni), std::optional<std::string>(installed));
    EXPECT_EQ(readFile("C:\\TAVRO\\TAVRO.OLD"),
              std::optional<std::string>("[Settings]\r\nHelpFile=X\r\nDataDir=C:\\DATA\r\n"));

    // Replaced, then edited: the edit is made to the installed file.
    ::DeleteFileA("C:\\TAVRO\\TAVRO.OLD");
    writeFile(kProductIni, old);
    setDosTime(kProductIni, dosDate(2001, 1, 1), dosTime(1, 1, 2));
    r = run(profileWith("FILE1=TAVRO,TAVRO.INI,,,1\n"
                        "INI1=TAVRO,TAVRO.INI,Settings,HelpFile,X\n"));
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(readFile(kProductIni), std::optional<std::string>("[Settings]\r\nHelpFile=X\r\nFresh=1\r\n"));
}

// An INI file that several lines edit stays open for the run; a line that
// replaces it in between (here with a file of the very same size) makes the
// next edit start from the file as it is then.
TEST_F(IniChanges, IniFileReplacedBetweenEditsIsReadAgain) {
    installProduct("C:\\TAVRO", 0);
    const std::string app = "C:\\TAVRO\\APP.INI";
    writeFile(app, "[A]\r\nk=1\r\n");
    const std::string installed = "[A]\r\nk=9\r\nz=7\r\n"; // the size of the file after INI2
    patch().writeFile("APP.INI", installed);
    setDosTime(patch().path("APP.INI"), dosDate(2011, 1, 1), dosTime(1, 1, 2));
    RunResult r = run(profileWith("INI1=TAVRO,APP.INI,A,k,2\n"
                                  "INI2=TAVRO,APP.INI,A,m,3\n"
                                  "FILE1=TAVRO,APP.INI,,,1\n"
                                  "INI3=TAVRO,APP.INI,A,n,4\n"
                                  "INI4=TAVRO,APP.INI,B,o,5\n"));
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readFile("C:\\TAVRO\\APP.OLD"), std::optional<std::string>("[A]\r\nk=2\r\nm=3\r\n"));
    EXPECT_EQ(readFile(app), std::optional<std::string>("[A]\r\nk=9\r\nz=7\r\nn=4\r\n\r\n[B]\r\no=5\r\n"));
}

TEST_F(IniChanges, ErasedIniFileIsNotRecreated) {
    installProduct("C:\\TAVRO", 0);
    writeFile(kProductIni, "[Settings]\r\nHelpFile=OLD\r\n");
    writeFile("C:\\TAVRO\\APP.INI", "[A]\r\nk=1\r\n");
    RunResult r = run(profileWith("INI1=TAVRO,TAVRO.INI,Settings,HelpFile,X\n"
                                  "ERASE1=TAVRO,TAVRO.INI,0\n"
                                  "INI2=TAVRO,APP.INI,A,k,2\n"
                                  "ERASE2=TAVRO,APP.INI,0\n"
                                  "INI3=TAVRO,APP.INI,A,n,3\n"));
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(exists(kProductIni));
    EXPECT_FALSE(exists("C:\\TAVRO\\TAVRO.OLD"));
    // An edit after the erase makes a file of that edit alone.
    EXPECT_EQ(readFile("C:\\TAVRO\\APP.INI"), std::optional<std::string>("[A]\r\nn=3\r\n"));
}

TEST_F(IniChanges, ProductDirectoryThatIsTheWindowsDirectoryKeepsTheRecord) {
    const std::string win = windowsDir();
    const bool hadArchive = isDirectory(win + "\\ARCHIVE");
    installProduct(win, 0);
    const std::string body = "INI1=TAVRO,TAVRO.INI,Settings,HelpFile,X\n";
    RunResult r = run(profileWith(body, 7, "Patch=ROOTWIN\n"));
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readFile(systemIni()),
              std::optional<std::string>("[Tavro]\r\nroot=" + win + "\r\n\r\n[Patch]\r\nInteractive=0\r\n"
                                         "\r\n[Settings]\r\nHelpFile=X\r\n\r\n[Install]\r\nPatch0=ROOTWIN\r\n"));
    // Recorded: the next run finds it installed and changes nothing.
    r = run(profileWith("INI1=TAVRO,TAVRO.INI,Settings,HelpFile,Y\n", 7, "Patch=ROOTWIN\n"));
    EXPECT_EQ(r.exitCode, 1638u);
    EXPECT_NE(readFile(systemIni()).value_or("").find("HelpFile=X\r\n"), std::string::npos);

    // The same with the system TAVRO.INI in the registry: the record is in
    // the registry, the product's TAVRO.INI is the file.
    ::DeleteFileA(systemIni().c_str());
    regSetString("HKLM", kSettingsKey + "\\Tavro", "root", win);
    r = run(profileWith(body + "INI2=WINDOWS,TAVRO.INI,Settings,HelpFile,Y\n", 7, "Patch=ROOTREG\n"));
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(readFile(systemIni()), std::optional<std::string>("[Settings]\r\nHelpFile=X\r\n"));
    EXPECT_EQ(regGetString("HKLM", kSettingsKey + "\\Settings", "HelpFile"), std::optional<std::string>("Y"));
    EXPECT_EQ(regGetString("HKLM", kSettingsKey + "\\Install", "Patch0"), std::optional<std::string>("ROOTREG"));
    r = run(profileWith(body, 7, "Patch=ROOTREG\n"));
    EXPECT_EQ(r.exitCode, 1638u);

    ::DeleteFileA(systemIni().c_str());
    if (!hadArchive) removeTree(win + "\\ARCHIVE");
}

// ---- bytes and line ends ------------------------------------------------------

TEST_F(IniChanges, BytesAfterCtrlZAndLfLineEndsAreKept) {
    installProduct("C:\\TAVRO", 0);
    writeFile("C:\\TAVRO\\APP.INI", "[A]\r\nX=1\r\n\x1a\r\n[B]\r\nY=2\r\n");
    writeFile("C:\\TAVRO\\UNIX.INI", "[A]\nX=1\n\n[B]\nY=2");
    // The installation profile itself ends with a Ctrl-Z, as DOS editors
    // leave it: that is no line.
    RunResult r = run(profileWith("INI1=TAVRO,APP.INI,A,Z,3\n"
                                  "INI2=TAVRO,UNIX.INI,A,Z,3\n"
                                  "INI3=TAVRO,UNIX.INI,B,Y,4\n") +
                      "\x1a");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kBanner + kComplete);
    EXPECT_EQ(readFile("C:\\TAVRO\\APP.INI"), std::optional<std::string>("[A]\r\nX=1\r\nZ=3\r\n\x1a\r\n[B]\r\nY=2\r\n"));
    EXPECT_EQ(readFile("C:\\TAVRO\\UNIX.INI"), std::optional<std::string>("[A]\nX=1\nZ=3\n\n[B]\nY=4"));
}

// ---- the system TAVRO.INI in the registry fails as the file does -------------

TEST_F(IniChanges, RegistrySectionWithALongSubkeyIsDeletedWhole) {
    makeDirs("C:\\TAVRO");
    regSetString("HKLM", kSettingsKey + "\\Tavro", "root", "C:\\TAVRO");
    regSetString("HKLM", kSettingsKey + "\\Obsolete\\" + std::string(60, 'k'), "V", "1");
    regSetString("HKLM", kSettingsKey + "\\Obsolete", "Trial", "1");
    regSetString("HKLM", kSettingsKey + "\\Kept", "K", "1");
    RunResult r = run(profileWith("INI1=WINDOWS,TAVRO.INI,Obsolete\n"));
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(regKeyExists("HKLM", kSettingsKey + "\\Obsolete"));
    EXPECT_EQ(regGetString("HKLM", kSettingsKey + "\\Kept", "K"), std::optional<std::string>("1"));
}

TEST_F(IniChanges, RegistrySectionTooLongForItsKeyEndsTheRunAsAnUnwritableFile) {
    const std::string section(225, 's');
    const std::string body = "INI1=WINDOWS,TAVRO.INI," + section + ",K,V\nINI2=TAVRO,AFTER.INI,S,K,V\n";
    // In the file the section is written.
    installProduct("C:\\TAVRO", 0);
    RunResult r = run(profileWith(body));
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_NE(readFile(systemIni()).value_or("").find("[" + section + "]\r\nK=V\r\n"), std::string::npos);
    EXPECT_TRUE(exists("C:\\TAVRO\\AFTER.INI"));

    // Its registry key path would be longer than a key path may be: the
    // line fails as a file that cannot be written does.
    resetMachine();
    patchDir = std::make_unique<PatchDir>("INICHG");
    makeDirs("C:\\TAVRO");
    regSetString("HKLM", kSettingsKey + "\\Tavro", "root", "C:\\TAVRO");
    r = run(profileWith(body));
    expectError21(r, kSettingsKey + "\\" + section, /*changed*/ false);
    EXPECT_FALSE(exists("C:\\TAVRO\\AFTER.INI"));
}

TEST_F(IniChanges, FailingRecordWriteIsACriticalErrorInEitherForm) {
    struct Form {
        const char *name;
        bool registry;
        const char *failing; // the call that writes the record
        std::string what;    // the file or key named by the report
    };
    const Form forms[] = {
        {"file", false, "MoveFileExA", systemIni()},
        {"registry", true, "RegSetValueExA", kSettingsKey + "\\Install"},
    };
    for (const Form &form : forms) {
        SCOPED_TRACE(form.name);
        auto prepare = [&] {
            resetMachine();
            if (form.registry) {
                makeDirs("C:\\TAVRO");
                regSetString("HKLM", kSettingsKey + "\\Tavro", "root", "C:\\TAVRO");
            } else {
                installProduct("C:\\TAVRO", 0);
            }
            patchDir = std::make_unique<PatchDir>("INIREC", /*useFaultBuild*/ true);
            patch().writeProfile(profileWith("INI1=TAVRO,APP.INI,S,K,V\n", 7, "Patch=RECFAIL\n"));
        };
        auto recorded = [&] {
            if (form.registry) return regGetString("HKLM", kSettingsKey + "\\Install", "Patch0").has_value();
            return readFile(systemIni()).value_or("").find("Patch0=RECFAIL") != std::string::npos;
        };

        // A clean run, with its calls traced: the record is the last write.
        prepare();
        const std::string trace = patch().path("CALLS.TXT");
        RunResult clean = runTavupd(patch(), {}, "win98", 60000, {"TAVUPD_CALL_TRACE_FILE=" + trace});
        ASSERT_EQ(clean.exitCode, 0u) << clean.err;
        ASSERT_TRUE(recorded());
        const std::vector<unsigned long> writes = callsNamed(readFile(trace).value_or(""), form.failing);
        ASSERT_FALSE(writes.empty());

        prepare();
        RunResult r = runTavupd(patch(), {}, "win98", 60000,
                                {"TAVUPD_FAULT_CALL=" + std::to_string(writes.back())});
        expectError21(r, form.what, /*changed*/ true);
        EXPECT_FALSE(recorded());
        EXPECT_TRUE(exists("C:\\TAVRO\\APP.INI"));
    }
}

} // namespace
