// Condition sets: which branch sections a run processes, judged by the
// debug trace of the real program and by its exit status and messages.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

std::string msg(int n) { return e2e::message(n); }

std::vector<std::string> processed(const std::string &out) { return e2e::processedSections(out); }


using Names = std::vector<std::string>;

class Conditions : public ::testing::Test {
  protected:
    void SetUp() override { e2e::resetMachine(); }
};

// Textual comparisons in every mode against keys of the system TAVRO.INI.
TEST_F(Conditions, IniConditionModesAndFieldRules) {
    const std::string win = e2e::windowsDir();
    e2e::installProduct("C:\\TAVRO", 0,
                        "\n[Ver]\nBuild=10\nName=Beta\nBlank=   \n"
                        "[Dirs]\nWin=" + win + "\\SYSTEM\nProd=C:\\TAVRO\n");
    e2e::PatchDir patch("COND_MODES");
    patch.writeProfile("[Patch]\n"
                       "Condition0=S0,7,2,Ver,Build,9\n"          // "10" < "9" as text
                       "Condition1=S1,7,1,Ver,Build, 10 \n"       // equal after trimming
                       "Condition2=S2,7,3,Ver,Build,10\n"         // not above
                       "Condition3=S3,7,4,Ver,Build,1,2\n"        // between 1 and 2 as text
                       "Condition4=S4,7,4,Ver,Build,1\n"          // mode 4 needs a range end
                       "Condition5=S5,7,0,Ver,Missing,x\n"        // missing key fails in any mode
                       "Condition6=S6,7,0,Ver,Build,x\n"          // mode 0: the value exists
                       "Condition7=S7,1,0,Ver,Build,x\n"          // OS 1 is not Windows 98
                       "Condition8=S8,7,9,Ver,Build,0\n"          // mode out of range: 2
                       "Condition9=S9,7,,Ver,Name,beta\n"         // empty mode: 2, case folded
                       "Condition10=S10,7,3,Ver,Name,BETB\n"      // BETA not above BETB
                       "Condition11=S11,7,3,Ver,Name,BET\n"       // BETA above BET
                       "Condition12=S12,7,1,Dirs,Win,\\\\WINDOWS\\\\SYSTEM\n"
                       "Condition13=S13,7,1,Dirs,Prod,\\\\tavro\n"
                       "Condition14=S14,x,0,Ver,Build,x\n"        // OS no number: 0
                       "Condition15=S15,7,x,Ver,Build,0\n"        // mode no number: 2
                       "Condition16=S16,7,1,Ver,Build,0\n"        // mode 1 needs equality
                       "Condition17=S17,7,-1,Ver,Build,0\n"       // negative mode: 2
                       "Condition18=S18,7,0,Ver,Blank,x\n"        // blanks are a value
                       "Condition19=S19,7,0,Ver,Build,\n"         // empty range start fails
                       "Condition20=S20,7,0,Ver,Build\n"          // absent range start fails
                       "Condition21=S21,7,0,,Build,x\n"           // empty section fails
                       "Condition22=S22,,0,Ver,Build,x\n"         // empty OS fails
                       "Condition23=S23,7,0,Ver,,x\n"             // empty key fails
                       "Condition24=S24,7,4,Ver,Build,1,\n"       // empty range end fails
                       "Condition25=S25,7,4,Ver,Build,10,10\n"    // both ends inclusive
                       "Condition26=S26,7,2,Ver,Name,alpha\n"
                       "[S0]\n[S1]\n[S2]\n[S3]\n[S4]\n[S5]\n[S6]\n[S7]\n[S8]\n[S9]\n[S10]\n[S11]\n"
                       "[S12]\n[S13]\n[S14]\n[S15]\n[S16]\n[S17]\n[S18]\n[S19]\n[S20]\n[S21]\n[S22]\n"
                       "[S23]\n[S24]\n[S25]\n[S26]\n");
    auto r = e2e::runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_EQ(processed(r.out),
              (Names{"S1", "S2", "S3", "S6", "S8", "S9", "S10", "S12", "S13", "S15", "S17", "S18", "S25", "S26"}))
        << r.out;
    // Every set was evaluated: 27 trace blocks.
    EXPECT_EQ(e2e::countOf(r.out, "Testing Condition\r\n"), 27u);
}

TEST_F(Conditions, TraceOfOneIniCondition) {
    e2e::installProduct("C:\\TAVRO", 0, "\n[Ver]\nBuild=  10 \n");
    e2e::PatchDir patch("COND_TRACE");
    patch.writeProfile("[Patch]\nCondition0=Go,7,1,Ver,Build, 10,\\\\WINDOWS\n[Go]\n");
    auto r = e2e::runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    const std::string expected = "Testing Condition\r\n"
                                 "\tbranch : Go\r\n"
                                 "\tOS     : 7\r\n"
                                 "\tforce  : 1\r\n"
                                 "\tsection: Ver\r\n"
                                 "\tkey    : Build\r\n"
                                 "\trange s:  10\r\n"
                                 "\trange e: \\WINDOWS\r\n" // range end is not expanded
                                 "Testing OS\r\n"
                                 "\tDatafile:  7\r\n"
                                 "\tDetection: 7\r\n"
                                 "Testing Condition Value\r\n"
                                 "\tTest Val: 10\r\n"
                                 "Processing section: Go\r\n";
    EXPECT_NE(r.out.find("Checking Conditions\r\n" + expected), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
}

TEST_F(Conditions, TraceShowsAbsentFieldsAndExpandedRangeStart) {
    e2e::installProduct("C:\\TAVRO", 0);
    e2e::PatchDir patch("COND_TRACE2");
    patch.writeProfile("[Patch]\nCondition0=Go,7\nCondition1=Go,7,0,Tavro,root,\\\\TAVRO\\\\X\n[Go]\n");
    auto r = e2e::runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_NE(r.out.find("Testing Condition\r\n\tbranch : Go\r\n\tOS     : 7\r\n\tforce  : (null)\r\n"
                         "\tsection: (null)\r\n\tkey    : (null)\r\n\trange s: (null)\r\n\trange e: (null)\r\n"
                         "Testing Condition\r\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\trange s: C:\\TAVRO\\X\r\n"), std::string::npos) << r.out;
    // The malformed set 0 fails silently; set 1 holds.
    EXPECT_EQ(processed(r.out), Names{"Go"});
    EXPECT_EQ(r.err, "");
}

TEST_F(Conditions, SetsAreNumberedWithoutGaps) {
    e2e::installProduct("C:\\TAVRO", 0, "\n[Ver]\nBuild=10\n");
    e2e::PatchDir patch("COND_GAP");
    patch.writeProfile("[Patch]\n"
                       "Condition0=A,7,0,Ver,Build,x\n"
                       "Condition2=C,7,0,Ver,Build,x\n"
                       "[A]\n[C]\n");
    auto r = e2e::runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_EQ(processed(r.out), Names{"A"});
    EXPECT_EQ(r.out.find("\tbranch : C\r\n"), std::string::npos) << "set 2 must not be evaluated";
}

TEST_F(Conditions, FailingLineEndsItsSetAndLaterSetsAreStillTested) {
    e2e::installProduct("C:\\TAVRO", 0, "\n[Ver]\nBuild=10\n");
    e2e::PatchDir patch("COND_FAILLINE");
    patch.writeProfile("[Patch]\n"
                       "Condition0=A,7,0,Ver,Build,x\n"
                       "Condition0=A,7,1,Ver,Build,11\n"   // fails
                       "Condition0=A,7,0,Ver,Third,x\n"    // never evaluated
                       "Condition1=B,7,1,Ver,Build,10\n"
                       "[A]\n[B]\n");
    auto r = e2e::runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_EQ(processed(r.out), Names{"B"});
    EXPECT_EQ(r.out.find("\tkey    : Third\r\n"), std::string::npos) << r.out;
}

TEST_F(Conditions, EveryHoldingSetIsProcessedInOrderAndLinesMayInterleave) {
    e2e::installProduct("C:\\TAVRO", 0, "\n[Ver]\nBuild=10\n");
    e2e::PatchDir patch("COND_BOTH");
    patch.writeProfile("[Patch]\n"
                       "Condition1=Second,7,0,Ver,Build,x\n"
                       "Condition0=First,7,0,Ver,Build,x\n"
                       "Condition1=Ignored,7,1,Ver,Build,10\n" // only a set's first line names the branch
                       "condition2=Third,7,0,Ver,Build,x\n"    // any letter case
                       " Condition3=Nope,7,0,Ver,Build,x\n"    // nothing may stand before it
                       "[First]\n[Second]\n[Third]\n[Ignored]\n[Nope]\n");
    auto r = e2e::runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_EQ(processed(r.out), (Names{"First", "Second", "Third"}));
    // Each set is processed before the next is tested.
    const size_t firstDone = r.out.find("Processing section: First");
    const size_t set1Tested = r.out.find("\tbranch : Second");
    ASSERT_NE(firstDone, std::string::npos);
    ASSERT_NE(set1Tested, std::string::npos);
    EXPECT_LT(firstDone, set1Tested);
}

TEST_F(Conditions, KeyMustBeFollowedDirectlyByEqualsAndNumbersAreExact) {
    e2e::installProduct("C:\\TAVRO", 0, "\n[Ver]\nBuild=10\n");
    e2e::PatchDir patch("COND_KEYS");
    patch.writeProfile("[Patch]\n"
                       "Condition0 =Blank,7,0,Ver,Build,x\n"
                       "Condition00=Zero,7,0,Ver,Build,x\n"
                       "Condition10=Ten,7,0,Ver,Build,x\n"
                       "[Blank]\n[Zero]\n[Ten]\n");
    auto r = e2e::runTavupd(patch, {"-d"}, "win98");
    // No line belongs to set 0: nothing applies.
    EXPECT_EQ(r.exitCode, 1642u) << r.out << r.err;
    EXPECT_TRUE(processed(r.out).empty()) << r.out;
    EXPECT_EQ(r.out.find("Testing Condition"), std::string::npos) << r.out;
}

TEST_F(Conditions, ConditionLinesOutsideSectionPatchDoNotCount) {
    e2e::installProduct("C:\\TAVRO", 0, "\n[Ver]\nBuild=10\n");
    e2e::PatchDir patch("COND_OTHERSEC");
    patch.writeProfile("[Patch]\nPatch=\n[Other]\nCondition0=A,7,0,Ver,Build,x\n[A]\n");
    auto r = e2e::runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 1642u) << r.out << r.err;
    EXPECT_TRUE(processed(r.out).empty());
}

TEST_F(Conditions, NoSetHoldsInteractiveMessagesOrFailedProgram) {
    e2e::installProduct("C:\\TAVRO", 1, "\n[Ver]\nBuild=10\n");
    e2e::PatchDir patch("COND_NONE");
    patch.writeProfile("[Patch]\nCondition0=A,7,1,Ver,Build,11\n[A]\n");
    auto r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 1642u);
    EXPECT_EQ(r.err, "\r\n\x07" + msg(9) + "\r\n" + msg(10) + "\r\n");

    // Not interactive: nothing at all on the error stream.
    e2e::installProduct("C:\\TAVRO", 0, "\n[Ver]\nBuild=10\n");
    r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 1642u);
    EXPECT_EQ(r.err, "");

    // The i switch turns interactive mode on again.
    r = e2e::runTavupd(patch, {"i"}, "win98");
    EXPECT_EQ(r.exitCode, 1642u);
    EXPECT_EQ(r.err, "\r\n\x07" + msg(9) + "\r\n" + msg(10) + "\r\n");

    // A profile without any condition set.
    patch.writeProfile("[Patch]\nPatch=X\n");
    r = e2e::runTavupd(patch, {"i"}, "win98");
    EXPECT_EQ(r.exitCode, 1642u);
    EXPECT_EQ(r.err, "\r\n\x07" + msg(9) + "\r\n" + msg(10) + "\r\n");
}

TEST_F(Conditions, NoSetHoldsStartsFailedProgramWhenInteractive) {
    e2e::installProduct("C:\\TAVRO", 1, "\n[Ver]\nBuild=10\n");
    e2e::PatchDir patch("COND_FAILPROG");
    const std::string mark = patch.path("FAILED.TXT");
    patch.writeFile("FAILED.BAT", "@echo ran> " + mark + "\r\n");
    patch.writeProfile("[Patch]\nFailed Program=FAILED.BAT\nCondition0=A,7,1,Ver,Build,11\n[A]\n");
    auto r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    for (int i = 0; i < 100 && !e2e::exists(mark); ++i) Sleep(100);
    EXPECT_TRUE(e2e::exists(mark));

    // A failed program that cannot be started: the run ends as without
    // one, with messages 9 and 10 and status 1642.
    patch.writeProfile("[Patch]\nFailed Program=NOSUCH.EXE\nCondition0=A,7,1,Ver,Build,11\n[A]\n");
    r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 1642u);
    EXPECT_EQ(r.err, "\r\n\x07" + msg(9) + "\r\n" + msg(10) + "\r\n");

    // Not interactive: the failed program is not started.
    e2e::installProduct("C:\\TAVRO", 0, "\n[Ver]\nBuild=10\n");
    DeleteFileA(mark.c_str());
    patch.writeProfile("[Patch]\nFailed Program=FAILED.BAT\nCondition0=A,7,1,Ver,Build,11\n[A]\n");
    r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 1642u);
    EXPECT_TRUE(e2e::waitForStartedPrograms(r.processId));
    EXPECT_FALSE(e2e::exists(mark));
}

TEST_F(Conditions, OperatingSystemCodes) {
    e2e::installProduct("C:\\TAVRO", 0, "\n[Ver]\nBuild=10\n");
    e2e::PatchDir patch("COND_OS");
    patch.writeProfile("[Patch]\n"
                       "Condition0=W95,1,0,Ver,Build,x\n"
                       "Condition1=W98,7,0,Ver,Build,x\n"
                       "Condition2=NT4,8,0,Ver,Build,x\n"
                       "Condition3=NT5,9,0,Ver,Build,x\n"
                       "Condition4=Other,0,0,Ver,Build,x\n"
                       "Condition5=NT351,2,0,Ver,Build,x\n"
                       "Condition6=Signed,+9,0,Ver,Build,x\n"
                       "[W95]\n[W98]\n[NT4]\n[NT5]\n[Other]\n[NT351]\n[Signed]\n");
    struct Case {
        const char *version;
        Names expected;
    } cases[] = {{"win95", {"W95"}}, {"win98", {"W98"}}, {"nt40", {"NT4"}}, {"win2k", {"NT5", "Signed"}}};
    for (const Case &c : cases) {
        auto r = e2e::runTavupd(patch, {"-d"}, c.version);
        EXPECT_EQ(r.exitCode, 0u) << c.version << r.out << r.err;
        EXPECT_EQ(processed(r.out), c.expected) << c.version;
    }
}

class RegistryConditions : public Conditions {
  protected:
    void SetUp() override {
        Conditions::SetUp();
        e2e::installProduct("C:\\TAVRO", 0);
        e2e::regSetString("HKLM", "SOFTWARE\\E2ETest", "Ver", "4.5");
        e2e::regSetString("HKLM", "SOFTWARE\\E2ETest", "", "default value");
        e2e::regSetString("HKCU", "Software\\E2ETest", "User", "cu");
        e2e::regSetString("HKCR", "E2ETest", "Cls", "cr");
        e2e::regSetString("HKU", ".DEFAULT\\Software\\E2ETest", "Def", "u");
        e2e::regSetString("HKLM", "SOFTWARE\\E2ETest", "Long", std::string(300, 'L'));
        e2e::regSetString("HKLM", "SOFTWARE\\E2ETest", "Max", std::string(255, 'M'));
    }
};

TEST_F(RegistryConditions, RootsPathsAndValues) {
    e2e::PatchDir patch("COND_REG");
    patch.writeProfile("[Patch]\n"
                       "Condition0=R0,7,1,HKLM,SOFTWARE\\\\E2ETest,Ver,4.5\n"
                       "Condition1=R1,7,1,HKLM,SOFTWARE\\E2ETest,Ver,4.5\n"   // single backslash lost
                       "Condition2=R2,7,1,hklm\\\\software,SOFTWARE\\\\E2ETest,Ver,4.5\n"
                       "Condition3=R3,7,1,HKCU,Software\\\\E2ETest,User,CU\n"
                       "Condition4=R4,7,1,hkcr,E2ETest,Cls,cr\n"
                       "Condition5=R5,7,1,hku,.DEFAULT\\\\Software\\\\E2ETest,Def,u\n"
                       "Condition6=R6,7,1,HKUX,.DEFAULT\\\\Software\\\\E2ETest,Def,u\n" // an INI condition
                       "Condition7=R7,7,1,HKLM,SOFTWARE\\\\E2ETest,,Default Value\n"
                       "Condition8=R8,7,0,HKLM,SOFTWARE\\\\E2ETest,Missing,x\n"
                       "Condition9=R9,7,0,HKLM,SOFTWARE\\\\E2ETest,Long,x\n"          // longer than the buffer
                       "Condition10=R10,7,2,HKLM,SOFTWARE\\\\E2ETest,Max,m\n"
                       "Condition11=R11,7,4,HKLM,SOFTWARE\\\\E2ETest,Ver,4.0,4.9\n"
                       "Condition12=R12,7,1,HKLM,SOFTWARE\\\\E2ETest,Ver,4.5,\n"
                       "Condition13=R13,8,0,HKLM,SOFTWARE\\\\E2ETest,Ver,x\n"
                       "Condition14=R14,7,0,HKLM,SOFTWARE\\\\E2ETest\n"               // no range start
                       "[R0]\n[R1]\n[R2]\n[R3]\n[R4]\n[R5]\n[R6]\n[R7]\n[R8]\n[R9]\n[R10]\n[R11]\n[R12]\n[R13]\n"
                       "[R14]\n");
    auto r = e2e::runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_EQ(r.err, "") << "registry read failures are silent without debug";

    r = e2e::runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_EQ(processed(r.out), (Names{"R0", "R2", "R3", "R4", "R5", "R7", "R10", "R11", "R12"})) << r.out;
    EXPECT_EQ(e2e::countOf(r.out, "Testing Registry Condition\r\n"), 14u) << r.out;
    EXPECT_EQ(e2e::countOf(r.out, "Testing Condition\r\n"), 1u) << r.out;
    EXPECT_NE(r.out.find("\tsection: HKLM\r\n\tpath   : SOFTWARE\\E2ETest\r\n\tkey    : Ver\r\n"), std::string::npos)
        << r.out;
    // Debug shows why the registry reads failed.
    EXPECT_NE(r.err.find("\r\n\x07" + msg(19) + ":\r\n\tHKLM\\SOFTWAREE2ETest\r\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\r\n\x07" + msg(27) + ":\r\n\tHKLM\\SOFTWARE\\E2ETest\\Missing\r\n"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("\r\n\x07" + msg(27) + ":\r\n\tHKLM\\SOFTWARE\\E2ETest\\Long\r\n"), std::string::npos)
        << r.err;
    EXPECT_EQ(e2e::countOf(r.err, "\x07"), 3u) << r.err;
    EXPECT_NE(r.out.find("\tTest Val: " + std::string(255, 'M') + "\r\n"), std::string::npos);
}

TEST_F(RegistryConditions, ValueWithoutTerminatorIsReadNoFurtherThanItsBytes) {
    // 256 bytes of text without a terminating NUL (stored as raw bytes,
    // which are read as text whatever the type) fill the read buffer
    // exactly; the test value is the first 255 of them.
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\E2ETest", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    const std::string raw(256, 'Z');
    ASSERT_EQ(RegSetValueExA(key, "Raw", 0, REG_BINARY, reinterpret_cast<const BYTE *>(raw.data()), 256), ERROR_SUCCESS);
    const std::string shortRaw = "abc";
    ASSERT_EQ(RegSetValueExA(key, "Short", 0, REG_BINARY, reinterpret_cast<const BYTE *>(shortRaw.data()), 3),
              ERROR_SUCCESS);
    RegCloseKey(key);

    e2e::PatchDir patch("COND_RAW");
    patch.writeProfile("[Patch]\n"
                       "Condition0=Full,7,0,HKLM,SOFTWARE\\\\E2ETest,Raw,x\n"
                       "Condition1=Short,7,1,HKLM,SOFTWARE\\\\E2ETest,Short,ABC\n"
                       "[Full]\n[Short]\n");
    auto r = e2e::runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    const Names got = processed(r.out);
    EXPECT_EQ(got, (Names{"Full", "Short"})) << r.out << r.err;
    EXPECT_NE(r.out.find("\tTest Val: " + std::string(255, 'Z') + "\r\n"), std::string::npos);
    EXPECT_NE(r.out.find("\tTest Val: abc\r\n"), std::string::npos);
}

TEST_F(Conditions, SectionChangesWhatLaterSetsSee) {
    e2e::installProduct("C:\\TAVRO", 0, "\n[Ver]\nBuild=10\n");
    e2e::PatchDir patch("COND_CHAIN");
    patch.writeProfile("[Patch]\n"
                       "Condition0=First,7,0,Ver,Build,x\n"
                       "Condition1=Second,7,1,Ver,Flag,on\n"
                       "[First]\n"
                       "INI1=WINDOWS,TAVRO.INI,Ver,Flag,on\n"
                       "[Second]\n");
    auto r = e2e::runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_EQ(processed(r.out), (Names{"First", "Second"})) << r.out << r.err;
}

} // namespace
