// Overlong input: profile lines past 255 characters, paths at and past
// 259 characters (product directory, subdirectory fields, COPY and RENAME
// destinations, a FINDFILE tree deeper than the limit), language-file lines
// past 510 characters, registry values and subkey names past their buffers,
// and a patch name longer than a line. Each is cut or refused with a
// message; nothing crashes and no data is lost.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "harness.h"

using namespace e2e;

namespace {

const std::string kComplete = "Patch update installation complete.\r\n";
const std::string kInvalid = "\r\n\aInvalid line or missing section in the installation profile\r\n";


bool plainStatus(DWORD code) { return code == 0 || code == 1 || code == 1603 || code == 3010; }

class Overlong : public ::testing::Test {
  protected:
    void SetUp() override {
        resetMachine();
        patchDir = std::make_unique<PatchDir>("LONG");
    }
    RunResult run(const std::string &profile) {
        patch().writeProfile(profile);
        return runTavupd(patch(), {}, "win98");
    }
    const PatchDir &patch() const { return *patchDir; }
    std::unique_ptr<PatchDir> patchDir;
};

TEST_F(Overlong, ProfileLinePast255CharactersIsRefusedAndItsRestIsNoLine) {
    installProduct("C:\\TAVRO", 0);
    writeFile("C:\\TAVRO\\LONG.INI", "[Sec]\r\nKey=old\r\n");
    const std::string head = "INI1=TAVRO,LONG.INI,Sec,Key,";
    const std::string value(300 - head.size(), 'v');
    RunResult r = run(profileWith(head + value + "\nINI2=TAVRO,LONG.INI,Sec,After,1\n"));
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1603u);
    // The line is read whole and refused with message 18 naming its key:
    // cut, it would set another value. The rest is not read as a line of
    // its own, and the section goes on.
    EXPECT_EQ(r.err, "\r\n\a" + message(18) + ": INI1\r\n");
    EXPECT_EQ(r.out, kBanner + kComplete);
    EXPECT_EQ(readFile("C:\\TAVRO\\LONG.INI"), std::optional<std::string>("[Sec]\r\nKey=old\r\nAfter=1\r\n"));
}

TEST_F(Overlong, PatchNameLongerThanALineIsRecordedCutAndRecognisedNextTime) {
    installProduct("C:\\TAVRO", 1);
    const std::string name(300, 'P');
    RunResult first = run(profileWith("", 7, "Patch=" + name + "\n"));
    EXPECT_EQ(first.exitCode, 0u) << first.err;
    const auto system = readFile(windowsDir() + "\\TAVRO.INI").value_or("");
    // The profile line keeps 248 of the name's characters; its record line
    // "Patch0=..." keeps as many as read back whole: 247.
    const std::string cut(254 - std::string("Patch0=").size(), 'P');
    EXPECT_NE(system.find("Patch0=" + cut + "\r\n"), std::string::npos) << system;
    EXPECT_EQ(system.find(cut + "P"), std::string::npos);
    // The second run finds the record and stops.
    RunResult second = run(profileWith("", 7, "Patch=" + name + "\n"));
    EXPECT_EQ(second.exitCode, 1638u);
    EXPECT_EQ(second.err, "\r\n\aThis patch update is already installed.\r\n");
}

// A product directory close to the limit: work directories still fit, and
// actions whose paths would pass 259 characters are refused by message
// without touching anything.
TEST_F(Overlong, PathsPastTheLimitAreRefusedAndNothingIsTouched) {
    std::string root = "C:\\TAVRO";
    while (root.size() < 230) root += "\\" + std::string(std::min<size_t>(40, 229 - root.size()), 'd');
    ASSERT_EQ(root.size(), 230u);
    installProduct(root, 0);
    makeDirs(root + "\\SUB");
    ASSERT_TRUE(isDirectory(root + "\\SUB"));
    writeFile(root + "\\A.TXT", "keep a");
    patch().writeFile("NEW.DLL", "new");
    const std::string longName(40, 'n');
    RunResult r = run(profileWith(
        // Fits: installed into the subdirectory.
        "FILE1=TAVRO,NEW.DLL,SUB\n"
        // Subdirectory field makes the path too long.
        "FILE2=TAVRO,NEW.DLL,SUB\\\\" + longName + "\n"
        "FINDFILE1=TAVRO,NEW.DLL,SUB\\\\" + longName + "\n"
        "COPY1=TAVRO,A.TXT,SUB\\\\" + longName + ".TXT,1,0\n"
        "RENAME1=TAVRO,A.TXT,SUB\\\\" + longName + ".TXT,1,0\n"
        "INI1=TAVRO,SUB\\\\" + longName + ".INI,S,K,V\n"
        "ERASE1=TAVRO,SUB\\\\" + longName + ".TXT,0\n"));
    ASSERT_FALSE(r.timedOut);
    EXPECT_TRUE(plainStatus(r.exitCode)) << std::hex << r.exitCode;
    EXPECT_EQ(readFile(root + "\\SUB\\NEW.DLL"), std::optional<std::string>("new"));
    EXPECT_EQ(readFile(root + "\\A.TXT"), std::optional<std::string>("keep a"));
    EXPECT_EQ(listDir(root + "\\SUB"), std::vector<std::string>{"NEW.DLL"});
    // Each refused line says so: FILE2 (17: its directory cannot exist),
    // FINDFILE1, COPY1, RENAME1, INI1.
    EXPECT_GE(e2e::countOf(r.err, "\a"), 4u) << r.err;
    EXPECT_EQ(r.err.find("Critical"), std::string::npos) << r.err;
}

TEST_F(Overlong, FindFileInATreeDeeperThanTheLimitUpdatesWhatFitsAndStops) {
    installProduct("C:\\TAVRO", 0);
    patch().writeFile("F.DLL", "new");
    setDosTime(patch().path("F.DLL"), dosDate(2011, 1, 1), dosTime(1, 1, 2));
    // Directories of 20 characters, nested until the next level would no
    // longer be creatable.
    std::string dir = "C:\\TAVRO\\TREE";
    std::vector<std::string> levels;
    while (dir.size() + 21 <= 240) {
        dir += "\\" + std::string(20, static_cast<char>('a' + levels.size()));
        levels.push_back(dir);
    }
    makeDirs(dir);
    ASSERT_TRUE(isDirectory(dir));
    for (const auto &level : levels) {
        writeFile(level + "\\F.DLL", "old");
        setDosTime(level + "\\F.DLL", dosDate(2001, 1, 1), dosTime(1, 1, 2));
    }
    RunResult r = run(profileWith("FINDFILE1=TAVRO,F.DLL,TREE\nFILE1=TAVRO,F.DLL\n"));
    ASSERT_FALSE(r.timedOut);
    EXPECT_TRUE(plainStatus(r.exitCode)) << std::hex << r.exitCode;
    // Every copy whose path fits is updated, its old one kept as backup.
    for (const auto &level : levels) {
        const std::string file = level + "\\F.DLL";
        if (file.size() <= 259 && (level + "\\F.OLD").size() <= 259) {
            EXPECT_EQ(readFile(file), std::optional<std::string>("new")) << file;
            EXPECT_EQ(readFile(level + "\\F.OLD"), std::optional<std::string>("old")) << file;
        }
    }
    // The section goes on after the walk.
    EXPECT_EQ(readFile("C:\\TAVRO\\F.DLL"), std::optional<std::string>("new"));
}

TEST_F(Overlong, LanguageFileLineOf600CharactersIsOneMessage) {
    installProduct("C:\\TAVRO", 1);
    writeFile("C:\\TAVRO\\OLD.DLL", "old");
    setDosTime("C:\\TAVRO\\OLD.DLL", dosDate(2001, 1, 1), dosTime(1, 1, 2));
    patch().writeFile("OLD.DLL", "new");
    setDosTime(patch().path("OLD.DLL"), dosDate(2011, 1, 1), dosTime(1, 1, 2));
    std::string catalog = readFile(languageFile()).value_or("");
    ASSERT_FALSE(catalog.empty());
    // Message 3 (the banner) 600 characters long.
    const size_t third = catalog.find("Tavro Patch Update Installer");
    ASSERT_NE(third, std::string::npos);
    const std::string longText(600, 'M');
    catalog.replace(third, std::string("Tavro Patch Update Installer").size(), longText);
    patch().writeFile("TAVUPD.MSG", catalog);
    RunResult r = run(profileWith("FILE1=TAVRO,OLD.DLL,,,0,1\n"));
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    // The banner is its first 510 characters; every later message keeps
    // its number.
    EXPECT_EQ(r.out, std::string(510, 'M') + " v2.00 Beta 6N\r\n" + "C:\\TAVRO\\OLD.DLL (" + message(34) + ")\r\n" +
                         message(7) + "\r\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(Overlong, RegistryValueLongerThanTheBufferFailsTheConditionQuietly) {
    installProduct("C:\\TAVRO", 1);
    regSetString("HKLM", "SOFTWARE\\E2ETest\\Long", "Value", std::string(300, 'x'));
    regSetString("HKLM", "SOFTWARE\\E2ETest\\Long", "Short", "x");
    patch().writeProfile("[Patch]\n"
                       "Condition0=LONG,7,0,HKLM,SOFTWARE\\\\E2ETest\\\\Long,Value,x\n"
                       "Condition1=SHORT,7,0,HKLM,SOFTWARE\\\\E2ETest\\\\Long,Short,x\n"
                       "\n[LONG]\nREG1=HKLM,SOFTWARE\\\\E2ETest\\\\Long,Hit,long\n"
                       "\n[SHORT]\nREG1=HKLM,SOFTWARE\\\\E2ETest\\\\Long,Hit,short\n");
    RunResult r = runTavupd(patch(), {}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\E2ETest\\Long", "Hit"), std::optional<std::string>("short"));
    EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\E2ETest\\Long", "Value"), std::optional<std::string>(std::string(300, 'x')));
    // With debug on the failed read is named.
    regDeleteTree("HKLM", "SOFTWARE\\Korvek");
    RunResult d = runTavupd(patch(), {"-d"}, "win98");
    EXPECT_NE(d.err.find("Cannot read the registry value:\r\n\tHKLM\\SOFTWARE\\E2ETest\\Long\\Value\r\n"),
              std::string::npos)
        << d.err;
}

TEST_F(Overlong, SubkeyNameOf50CharactersStopsTheTreeDeletionWithAMessage) {
    installProduct("C:\\TAVRO", 0);
    const std::string longKey(60, 'k');
    regSetString("HKCU", "Software\\E2ETest\\Tree\\" + longKey, "V", "1");
    regSetString("HKCU", "Software\\E2ETest\\Tree\\" + std::string(49, 'j'), "V", "1");
    regSetString("HKCU", "Software\\E2ETest\\Other", "V", "stays");
    RunResult r = run(profileWith("REG1=HKCU,Software\\\\E2ETest\\\\Tree\nREG2=HKCU,Software\\\\E2ETest\\\\After,V,1\n"));
    EXPECT_EQ(r.exitCode, 1603u);
    EXPECT_NE(r.err.find("Cannot list the subkeys of the registry key:\r\n\tSoftware\\E2ETest\\Tree\r\n"),
              std::string::npos)
        << r.err;
    // The key with the long name and its parent stay; nothing else is hit.
    EXPECT_TRUE(regKeyExists("HKCU", "Software\\E2ETest\\Tree\\" + longKey));
    EXPECT_EQ(regGetString("HKCU", "Software\\E2ETest\\Other", "V"), std::optional<std::string>("stays"));
    EXPECT_EQ(regGetString("HKCU", "Software\\E2ETest\\After", "V"), std::optional<std::string>("1"));
}

} // namespace
