// Lines longer than the engine's line buffers, run through the real program:
// an over-long action or condition line is refused whole (message 18 with its
// key), never carried out cut nor read as a second line that acts, and an INI
// file holding long lines keeps them byte for byte when an INI line changes
// another key of it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "harness.h"

using namespace e2e;

namespace {

const std::string kComplete = "Patch update installation complete.\r\n";
// Message 18 naming a line that is too long by its key.
std::string overlong(const std::string &key) { return "\r\n\a" + message(18) + ": " + key + "\r\n"; }

std::string winIni(const std::string &name) { return windowsDir() + "\\" + name; }

// `head`, filled with `fill` up to `at` characters, then `tail`, filled
// with `fill` up to `total` characters.
std::string lineOf(const std::string &head, size_t at, const std::string &tail, size_t total, char fill) {
    std::string line = head;
    line.resize(at, fill);
    line += tail;
    line.resize(total, fill);
    return line;
}

class LongLines : public ::testing::Test {
  protected:
    void SetUp() override {
        resetMachine();
        // The Windows directory outlives the reset: no file of an earlier run
        // may stand in for one this run makes or must not make.
        for (const char *name : {"CUT.INI", "SPLIT.INI", "AFTER.INI", "EXACT.INI", "BIG.INI"}) {
            ::DeleteFileA(winIni(name).c_str());
            ASSERT_FALSE(exists(winIni(name))) << name;
        }
        patchDir = std::make_unique<PatchDir>("LONGLINE");
    }
    RunResult run(const std::string &profile) {
        patch().writeProfile(profile);
        return runTavupd(patch());
    }
    std::unique_ptr<PatchDir> patchDir;
    PatchDir &patch() { return *patchDir; }
};

} // namespace

TEST_F(LongLines, ActionLineOf300CharactersIsRefusedNeitherCutNorSplit) {
    installProduct("C:\\TAVRO", 0);
    // From its 255th character on, the line reads as an action of its own.
    const std::string head = "INI1=WINDOWS,CUT.INI,S,k,";
    const std::string line = lineOf(head, 254, "INI2=WINDOWS,SPLIT.INI,S,k,tail", 300, 'v');
    ASSERT_EQ(line.size(), 300u);
    RunResult r = run(profileWith(line + "\nINI3=WINDOWS,AFTER.INI,S,k,1\n"));
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.err, overlong("INI1"));
    EXPECT_EQ(r.out, kBanner + kComplete);
    EXPECT_EQ(r.exitCode, 1603u);

    // The line did nothing at all; the line after it is still the next line.
    EXPECT_FALSE(exists(winIni("CUT.INI")));
    EXPECT_FALSE(exists(winIni("SPLIT.INI")));
    EXPECT_EQ(readFile(winIni("AFTER.INI")), std::optional<std::string>("[S]\r\nk=1\r\n"));
}

TEST_F(LongLines, LimitIs255CharactersOfTheTrimmedLine) {
    installProduct("C:\\TAVRO", 0);
    const std::string head = "INI1=WINDOWS,EXACT.INI,S,k,";
    const std::string fits = lineOf(head, 255, "", 255, 'f');
    const std::string over = lineOf("INI2=WINDOWS,EXACT.INI,S,j,", 256, "", 256, 'o');
    // Blanks around a line are not part of it.
    RunResult r = run(profileWith("   \t" + fits + std::string(40, ' ') + "\n" + over + "\n"));
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.err, overlong("INI2"));
    EXPECT_EQ(readFile(winIni("EXACT.INI")),
              std::optional<std::string>("[S]\r\nk=" + fits.substr(head.size()) + "\r\n"));
}

TEST_F(LongLines, CutLinesWouldEraseOrDeleteSomethingElse) {
    installProduct("C:\\TAVRO", 0);
    // Cut at 255 characters, the first line names A...A.TXT, the second the
    // key one level up with fewer "z".
    const std::string name(238, 'A');
    writeFile("C:\\TAVRO\\" + name + ".TXT", "keep");
    writeFile("C:\\TAVRO\\" + name + ".TXT.BAK", "backup");
    const std::string erase = "ERASE1=TAVRO," + name + ".TXT.BAK,0";
    const std::string shorter = "Software\\E2ETest\\" + std::string(226, 'z');
    regSetString("HKCU", shorter, "V", "stays");
    const std::string reg = "REG8=HKCU,Software\\\\E2ETest\\\\" + std::string(231, 'z') + ",V,1";
    ASSERT_EQ(erase.size(), 261u);
    ASSERT_EQ(reg.size(), 264u);
    RunResult r = run(profileWith(erase + "\n" + reg + "\nINI3=WINDOWS,AFTER.INI,S,k,1\n"));
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1603u);
    EXPECT_EQ(r.err, overlong("ERASE1") + overlong("REG8"));
    EXPECT_EQ(readFile("C:\\TAVRO\\" + name + ".TXT"), std::optional<std::string>("keep"));
    EXPECT_EQ(readFile("C:\\TAVRO\\" + name + ".TXT.BAK"), std::optional<std::string>("backup"));
    EXPECT_EQ(regGetString("HKCU", shorter, "V"), std::optional<std::string>("stays"));
    EXPECT_FALSE(regKeyExists("HKCU", "Software\\E2ETest\\" + std::string(231, 'z')));
    EXPECT_EQ(readFile(winIni("AFTER.INI")), std::optional<std::string>("[S]\r\nk=1\r\n"));
}

TEST_F(LongLines, OverlongConditionLineFailsItsSet) {
    installProduct("C:\\TAVRO", 1);
    // Cut at 255 characters, the line would test for the value "x" and hold.
    regSetString("HKCU", "Software\\E2ETest\\Cond", "V", "x");
    const std::string condition =
        lineOf("Condition0=LONG,7,1,HKCU,Software\\\\E2ETest\\\\Cond,V,x", 255, "y", 256, ' ') + "tail";
    patch().writeProfile("[Patch]\n" + condition +
                         "\nCondition1=SHORT,7,1,HKCU,Software\\\\E2ETest\\\\Cond,V,x\n"
                         "\n[LONG]\nINI1=WINDOWS,CUT.INI,S,k,long\n"
                         "\n[SHORT]\nINI1=WINDOWS,AFTER.INI,S,k,short\n");
    RunResult r = runTavupd(patch());
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.err, overlong("Condition0"));
    EXPECT_FALSE(exists(winIni("CUT.INI")));
    EXPECT_EQ(readFile(winIni("AFTER.INI")), std::optional<std::string>("[S]\r\nk=short\r\n"));

    // Alone, the set that fails leaves nothing that applies.
    patch().writeProfile("[Patch]\n" + condition + "\n\n[LONG]\nINI1=WINDOWS,CUT.INI,S,k,long\n");
    r = runTavupd(patch());
    EXPECT_EQ(r.exitCode, 1642u);
    EXPECT_EQ(r.err, overlong("Condition0") + "\r\n\a" + message(9) + "\r\n" + message(10) + "\r\n");
    EXPECT_FALSE(exists(winIni("CUT.INI")));
}

TEST_F(LongLines, ActionLineOf254CharactersIsFollowedByNoEmptyLine) {
    installProduct("C:\\TAVRO", 0);
    // An empty line is no action; a line of 254 characters must not bring
    // one, nor lose its last character.
    const std::string head = "INI1=WINDOWS,EXACT.INI,S,k,";
    const std::string line = lineOf(head, 253, "z", 254, 'v');
    RunResult r = run(profileWith(line + "\nINI2=WINDOWS,EXACT.INI,S,n,2\n"));
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kBanner + kComplete);
    EXPECT_EQ(readFile(winIni("EXACT.INI")),
              std::optional<std::string>("[S]\r\nk=" + line.substr(head.size()) + "\r\nn=2\r\n"));
}

TEST_F(LongLines, LongLinesOfAnIniFileSurviveASaveByteForByte) {
    installProduct("C:\\TAVRO", 0);
    std::string load = "load=";
    for (int i = 0; i < 60; ++i) load += "C:\\P" + std::to_string(i % 10) + ".EXE ";
    load.resize(300);
    const std::string exact(254, 'e');
    std::string device = lineOf("device=", 1000, "", 1000, 'd');
    const std::string before = "[windows]\r\n" + load + "\r\nrun=\r\n" + exact + "\r\n\r\n[386Enh]\r\n" + device +
                               "\r\nkeep=1\r\n";
    writeFile(winIni("BIG.INI"), before);

    RunResult r = run(profileWith("INI1=WINDOWS,BIG.INI,windows,run,NEW.EXE\n"
                                  "INI2=WINDOWS,BIG.INI,386Enh,keep,2\n"));
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kBanner + kComplete);
    std::string expected = before;
    expected.replace(expected.find("run="), 4, "run=NEW.EXE");
    expected.replace(expected.find("keep=1"), 6, "keep=2");
    EXPECT_EQ(readFile(winIni("BIG.INI")), std::optional<std::string>(expected));
}
