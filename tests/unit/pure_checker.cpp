// The profile checker: findings, their lines and severities, the report's
// form and status.
#include "check/checker.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Kit : public check::KitView {
  public:
    Kit(std::initializer_list<const char *> names) : names_(names.begin(), names.end()) {}
    std::vector<std::string> fileNames() const override { return names_; }

  private:
    std::vector<std::string> names_;
};

const Kit kKit{"TAVUPD.DAT", "tvview.exe", "TVCORE.DLL", "RESTART.EXE"};

// A profile with one set that reaches [UPDATE], followed by `body` lines.
std::string profile(const std::string &patchExtra, const std::string &sections) {
    return "[Patch]\nPatch=P1\n" + patchExtra + "Condition0=UPDATE,7,1,Tavro,Version,2.0\n\n" + sections;
}

std::string report(const std::string &text, const check::KitView &kit = kKit) {
    const patch::Model model = patch::parse(text);
    return check::formatReport(check::checkProfile(model, kit), model, "T.DAT");
}

// "line: error: text" per finding, for compact assertions.
std::vector<std::string> findings(const std::string &text, const check::KitView &kit = kKit) {
    std::vector<std::string> out;
    for (const check::Finding &f : check::checkProfile(patch::parse(text), kit).findings)
        out.push_back(std::to_string(f.line) + (f.severity == check::Severity::Error ? ": error: " : ": warning: ") +
                      f.text);
    return out;
}

} // namespace

TEST(Checker, ReportsInCompilerForm) {
    const std::string sound = profile("Reboot Program=RESTART\n", "[UPDATE]\n; comment\nFILE1=TAVRO,TVVIEW.EXE\n");
    EXPECT_EQ(report(sound), "0 errors, 0 warnings\n");
    const std::string text = profile("", "[UPDATE]\nFIEL2=TAVRO,TVCORE.DLL\nREBOOT1=\t2\n");
    EXPECT_EQ(report(text), "T.DAT(6): error: unknown action key \"FIEL2\"; did you mean \"FILE2\"?\n"
                            "    FIEL2=TAVRO,TVCORE.DLL\n"
                            "T.DAT(7): warning: restart value \"\\x092\" is neither 0 nor 1: only 1 asks for a "
                            "restart\n"
                            "    REBOOT1=\\x092\n"
                            "1 error, 1 warning\n");
    EXPECT_EQ(check::checkProfile(patch::parse(text), kKit).status(), 1);
    const patch::Model empty = patch::parse("");
    EXPECT_EQ(check::formatReport(check::unreadableProfile(), empty, "X.DAT"),
              "X.DAT: error: the profile cannot be read\n1 error, 0 warnings\n");
}

TEST(Checker, FilesOfTheKit) {
    const auto all = findings(profile("LogFile=TVCORE.DLL\n", "[UPDATE]\n"
                                          "FILE1=TAVRO,TVVIEW.EXE\n"       // in the kit, other case
                                          "SUBST1=TAVRO,NEW.CFG\n"         // missing
                                          "FINDFILE1=TAVRO,X.DLL,PLUGINS\n" // missing
                                          "FILE2=TAVRO,DIR\\\\TVCORE.DLL\n" // found by its name part
                                          "FILE3=TAVRO,GONE.DLL,,,,,1\n"    // compressed: not installed
                                          "REBOOT=1,NOWHERE.EXE\n"));
    EXPECT_EQ(all, (std::vector<std::string>{
                       "3: error: log file \"TVCORE.DLL\" is a file of the kit: a run started in the kit directory "
                       "overwrites it",
                       "8: error: file \"NEW.CFG\" is not in the kit directory",
                       "9: error: file \"X.DLL\" is not in the kit directory",
                       "10: warning: file name \"DIR\\TVCORE.DLL\": only \"TVCORE.DLL\" is used, the directory part "
                       "is dropped",
                       "11: warning: compress \"1\" is not 0: the file is not installed at all",
                       "12: warning: restart program \"NOWHERE.EXE\" is not in the kit directory"}));
}

TEST(Checker, SettingsOfPatch) {
    const auto all = findings("[Patch]\n"
                              "LogFile=tavupd.dat \n"
                              "Backup=2\n"
                              "Force=yes\n"
                              "Reboot Programm=RESTART.EXE\n"
                              "Failed Program=FAILED\n"
                              "Conditon0=UPDATE,7,1,Tavro,Version,2.0\n"
                              "Condition0=UPDATE,7,1,Tavro,Version,2.0\n"
                              "Backup=1\n"
                              "[UPDATE]\n");
    EXPECT_EQ(all, (std::vector<std::string>{
                       "1: warning: no patch name (Patch=): the patch is applied on every run and never recorded "
                       "as installed",
                       "2: error: log file \"tavupd.dat\" is a file of the kit: the run refuses it and keeps no log",
                       "3: warning: Backup \"2\" is neither 0 nor 1: only 1 turns it on",
                       "4: warning: Force \"yes\" is not a number: the default is used",
                       "5: warning: unknown [Patch] key \"Reboot Programm\": it is ignored; did you mean \"Reboot "
                       "Program\"?",
                       "6: warning: Failed Program \"FAILED\" is not in the kit directory",
                       "7: warning: unknown [Patch] key \"Conditon0\": it is ignored; did you mean \"Condition0\"?",
                       "9: warning: setting Backup is given again: line 3 is used, this one is never read"}));
}

TEST(Checker, NumberingGapAndBranches) {
    const auto all = findings("[Patch]\nPatch=P\n"
                              "Condition1=A,7,1,S,K,V\n"
                              "Condition1=B,7,1,S,K,V\n"
                              "Condition0=MISSING,7,1,S,K,V\n"
                              "Condition3=A,7,1,S,K,V\n"
                              "[A]\n[B]\n");
    EXPECT_EQ(all, (std::vector<std::string>{
                       "4: warning: branch \"B\" is not used: a set processes the branch of its first line, \"A\"",
                       "5: error: Condition0 names section \"MISSING\", which does not exist",
                       "6: warning: numbering gap: there is no Condition2 line, so the 1 condition line numbered "
                       "above it, this one included, are never read",
                       "8: warning: section [B] is reached by no condition set"}));
    EXPECT_EQ(findings("[Patch]\nPatch=P\nCondition0=,7,1,S,K,V\n").front(),
              "3: error: no branch (field 1): the set names no section to process");
}

TEST(Checker, LinesOfSectionsNoSetReachesAreStillChecked) {
    const auto all = findings(profile("", "[UPDATE]\n  [Oops]\nFILE2=TAVRO,NOT_CHECKED.DLL\n[Spare]\nCOPY1=TAVRO,A\n"));
    EXPECT_EQ(all, (std::vector<std::string>{
                       "6: warning: line begins with \"[\" after blanks: it ends the section above, and the lines "
                       "below it are never read",
                       "8: warning: section [Spare] is reached by no condition set",
                       "9: error: destination (field 3) is missing"}));
}

TEST(Checker, PatchSectionLinesAreActionsOnlyWhenABranchNamesIt) {
    EXPECT_TRUE(findings(profile("", "[UPDATE]\n")).empty());
    const auto all = findings("[Patch]\nPatch=P\nCondition0=Patch,7,1,S,K,V\n");
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front(), "2: error: unknown action key \"Patch\"");
}

TEST(Checker, NoPatchSectionAndStrayLines) {
    EXPECT_EQ(findings("FILE1=TAVRO,A\n; fine\n[UPDATE]\nFILE1=TAVRO,TVVIEW.EXE\n"),
              (std::vector<std::string>{
                  "0: error: no [Patch] section: the patch has no name and no condition set can hold",
                  "1: warning: line before the first section: it is never read"}));
    EXPECT_EQ(findings("[Patch]\nPatch=P\n"), (std::vector<std::string>{
                                                  "1: error: no Condition0 line: no condition set can hold, the "
                                                  "patch never applies"}));
}

