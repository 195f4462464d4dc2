// INI lines run by the real program: files checked byte for byte, the run's
// own TAVRO.INI files (file and registry form), substitution in values, the
// refused lines and the end of the run on an unwritable target.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "harness.h"

using namespace e2e;

namespace {

const std::string kComplete = "Patch update installation complete.\r\n";
const std::string kInvalidLine = "\r\n\aInvalid line or missing section in the installation profile\r\n";
const std::string kSettingsKey = "SOFTWARE\\Korvek\\KorvekDSP\\TAVRO.INI";

std::string winIni(const std::string &name) { return windowsDir() + "\\" + name; }

class Ini : public ::testing::Test {
  protected:
    void SetUp() override {
        resetMachine();
        patchDir = std::make_unique<PatchDir>("INI");
    }
    RunResult run(const std::string &profile, const std::vector<std::string> &args = {}) {
        patch().writeProfile(profile);
        return runTavupd(patch(), args);
    }
    // Made after the machine is reset, which empties C:\E2E.
    std::unique_ptr<PatchDir> patchDir;
    PatchDir &patch() { return *patchDir; }
};

TEST_F(Ini, SetsKeyInNewFileOfWindowsDirectory) {
    installProduct("C:\\TAVRO", 0);
    RunResult r = run(profileWith("INI1=WINDOWS,E2E.INI,Windows,load,X.EXE\n"));
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, kBanner + kComplete);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readFile(winIni("E2E.INI")), std::optional<std::string>("[Windows]\r\nload=X.EXE\r\n"));
}

TEST_F(Ini, DeletesKeySetsEmptyValueAndDeletesSection) {
    installProduct("C:\\TAVRO", 0);
    writeFile(winIni("E2E.INI"), "[Windows]\r\nload=A.EXE\r\nrun=B.EXE\r\nkeep=1\r\n\r\n[Other]\r\nx=1\r\n");
    RunResult r = run(profileWith("INI1=WINDOWS,E2E.INI,Windows,load\n"
                                  "INI2=WINDOWS,e2e.ini,Windows,run,\n"
                                  "INI3=WINDOWS,E2E.INI,Other,absent\n"));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readFile(winIni("E2E.INI")),
              std::optional<std::string>("[Windows]\r\nrun=\r\nkeep=1\r\n\r\n[Other]\r\nx=1\r\n"));

    RunResult r2 = run(profileWith("INI1=WINDOWS,E2E.INI,Windows\n"
                                   "INI2=WINDOWS,E2E.INI,Missing\n"));
    EXPECT_EQ(r2.err, "");
    EXPECT_EQ(r2.out, kBanner + kComplete);
    EXPECT_EQ(readFile(winIni("E2E.INI")), std::optional<std::string>("[Other]\r\nx=1\r\n"));
}

TEST_F(Ini, WritesThroughTheRunsTavroIniFiles) {
    installProduct("C:\\TAVRO", 0);
    writeFile("C:\\TAVRO\\TAVRO.INI", "[Tavro]\r\nversion=1\r\n");
    // Set 1 tests a key that set 0 writes into the system TAVRO.INI.
    RunResult r = run("[Patch]\n"
                      "Condition0=Main,7,0,Tavro,root,x\n"
                      "Condition1=Second,7,1,S,K,V\n"
                      "\n[Main]\n"
                      "INI1=WINDOWS,tavro.ini,S,K,V\n"
                      "INI2=TaVrO,Tavro.Ini,Tavro,version,2\n"
                      "\n[Second]\n"
                      "INI1=TAVRO,E2E.INI,Seen,K,yes\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readFile(winIni("TAVRO.INI")),
              std::optional<std::string>("[Tavro]\r\nroot=C:\\TAVRO\r\n\r\n[Patch]\r\nInteractive=0\r\n"
                                         "\r\n[S]\r\nK=V\r\n"));
    EXPECT_EQ(readFile("C:\\TAVRO\\TAVRO.INI"), std::optional<std::string>("[Tavro]\r\nversion=2\r\n"));
    EXPECT_EQ(readFile("C:\\TAVRO\\E2E.INI"), std::optional<std::string>("[Seen]\r\nK=yes\r\n"));
}

TEST_F(Ini, RegistryFormOfTheWindowsDirectory) {
    makeDirs("C:\\TAVRO");
    regSetString("HKLM", kSettingsKey + "\\Tavro", "root", "C:\\TAVRO");
    regSetString("HKLM", kSettingsKey + "\\Patch", "Interactive", "0");
    regSetString("HKLM", "SOFTWARE\\Korvek\\KorvekDSP\\E2E.INI\\Gone", "g", "1");
    regSetString("HKLM", "SOFTWARE\\Korvek\\KorvekDSP\\E2E.INI\\boot", "old", "1");
    RunResult r = run(profileWith("INI1=WINDOWS,E2E.INI,boot,K,V\n"
                                  "INI2=WINDOWS,E2E.INI,boot,old\n"
                                  "INI3=WINDOWS,E2E.INI,Gone\n"
                                  "INI4=WINDOWS,TAVRO.INI,S,K,\\\\TAVRO\\\\BIN\n"
                                  "INI5=TAVRO,E2E.INI,S,K,file\n"));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kBanner + kComplete);
    EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\Korvek\\KorvekDSP\\E2E.INI\\boot", "K"),
              std::optional<std::string>("V"));
    EXPECT_EQ(regGetType("HKLM", "SOFTWARE\\Korvek\\KorvekDSP\\E2E.INI\\boot", "K"), std::optional<DWORD>(REG_SZ));
    EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\Korvek\\KorvekDSP\\E2E.INI\\boot", "old"), std::nullopt);
    EXPECT_FALSE(regKeyExists("HKLM", "SOFTWARE\\Korvek\\KorvekDSP\\E2E.INI\\Gone"));
    EXPECT_EQ(regGetString("HKLM", kSettingsKey + "\\S", "K"), std::optional<std::string>("C:\\TAVRO\\BIN"));
    EXPECT_EQ(regGetString("HKLM", kSettingsKey + "\\Tavro", "root"), std::optional<std::string>("C:\\TAVRO"));
    // Nothing went to files of the Windows directory; TAVRO stays a file.
    EXPECT_FALSE(exists(winIni("E2E.INI")));
    EXPECT_FALSE(exists(winIni("TAVRO.INI")));
    EXPECT_EQ(readFile("C:\\TAVRO\\E2E.INI"), std::optional<std::string>("[S]\r\nK=file\r\n"));
}

TEST_F(Ini, ValueSubstitutionAndLiteralBackslash) {
    installProduct("C:\\TAVRO", 0);
    RunResult r = run(profileWith("INI1=TAVRO,E2E.INI,S,A,\\\\TAVRO\\\\BIN\n"
                                  "INI2=TAVRO,E2E.INI,S,B,C:\\\\\\\\WINDOWS\n"
                                  "INI3=TAVRO,E2E.INI,S,C,C:\\\\WINDOWS\n"
                                  "INI4=TAVRO,E2E.INI,S,\\\\TAVRO,x\n"));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readFile("C:\\TAVRO\\E2E.INI"),
              std::optional<std::string>("[S]\r\nA=C:\\TAVRO\\BIN\r\nB=C:\\WINDOWS\r\nC=C:" + windowsDir() +
                                         "\r\n\\TAVRO=x\r\n"));
}

TEST_F(Ini, MissingFileNameSectionOrLocationChangesNothing) {
    installProduct("C:\\TAVRO", 0);
    RunResult r = run(profileWith("INI1=WINDOWS,E2E.INI\n"
                                  "INI2=WINDOWS,,S,K,V\n"
                                  "INI3=WINDOWS,E2E.INI,,K,V\n"
                                  "INI4=SYSTEM,E2E.INI,S,K,V\n"
                                  "INI5=,E2E2.INI,S,K,V\n"
                                  "INI6=WINDOWS,E2E2.INI,After,K,V\n"));
    EXPECT_EQ(r.out, kBanner + kComplete);
    EXPECT_EQ(r.err, kInvalidLine + kInvalidLine + kInvalidLine + kInvalidLine + kInvalidLine);
    EXPECT_FALSE(exists(winIni("E2E.INI")));
    EXPECT_FALSE(exists("C:\\TAVRO\\E2E.INI"));
    EXPECT_EQ(readFile(winIni("E2E2.INI")), std::optional<std::string>("[After]\r\nK=V\r\n"));
}

TEST_F(Ini, UnwritableTargetEndsTheRunWithCriticalError) {
    installProduct("C:\\TAVRO", 0);
    RunResult r = run(profileWith("INI1=TAVRO,NODIR\\\\X.INI,S,K,V\n"
                                  "INI2=TAVRO,E2E.INI,S,K,V\n"));
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.out, kBanner);
    const std::string head = "\aCritical ERROR Occured on line ";
    ASSERT_EQ(r.err.compare(0, head.size(), head), 0) << r.err;
    const std::string tail = " of file tvpprof\r\n"
                             "     Error Number:  21\r\n"
                             "     Error Message: C:\\TAVRO\\NODIR\\X.INI\r\n"
                             "     Size:          0\r\n";
    ASSERT_GE(r.err.size(), tail.size());
    EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
    // The run ended at that line.
    EXPECT_FALSE(exists("C:\\TAVRO\\E2E.INI"));
}

TEST_F(Ini, DebugTraceShowsPathAndExpandedValue) {
    installProduct("C:\\TAVRO", 0);
    RunResult r = run(profileWith("INI1=WINDOWS,E2E.INI,Sec,Key,\\\\WINDOWS\n"
                                  "INI2=TAVRO,E2E.INI,Sec\n"),
                      {"-d"});
    EXPECT_EQ(r.err, "");
    const std::string first = "\tINI\r\n"
                              "\t\tfilename : " +
                              winIni("E2E.INI") +
                              "\r\n"
                              "\t\tsection  : Sec\r\n"
                              "\t\tkey      : Key\r\n"
                              "\t\tvalue    : " +
                              windowsDir() + "\r\n";
    const std::string second = "\tINI\r\n"
                               "\t\tfilename : C:\\TAVRO\\E2E.INI\r\n"
                               "\t\tsection  : Sec\r\n"
                               "\t\tkey      : (null)\r\n"
                               "\t\tvalue    : (null)\r\n";
    EXPECT_NE(r.out.find(first), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(second), std::string::npos) << r.out;
}

} // namespace
