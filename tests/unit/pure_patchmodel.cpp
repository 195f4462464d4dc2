// The profile model: lines, settings, sections, condition sets and action
// lines read the way the engine reads them.
#include "text/patchmodel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>

using namespace patch;

namespace {

bool hasCode(const std::vector<Diagnostic> &problems, Code code, Severity severity) {
    return std::any_of(problems.begin(), problems.end(),
                       [&](const Diagnostic &d) { return d.code == code && d.severity == severity; });
}

// The problem texts of a line, joined, for asserting on what they say.
std::string texts(const std::vector<Diagnostic> &problems) {
    std::string out;
    for (const Diagnostic &d : problems) out += d.text + "\n";
    return out;
}

template <class T> const T &decoded(const ActionLine &line) {
    const T *a = std::get_if<T>(&line.action);
    if (!a) throw std::runtime_error("not decoded as expected: " + line.text);
    return *a;
}

} // namespace

TEST(PatchModel, ReadsLinesAsTheProfileDoes) {
    static const char bytes[] = "[A]\r\nx=1\r\r\n\0hidden=1\nlast\x1a" "after\n";
    const Model m = parse(std::string(bytes, sizeof bytes - 1));
    ASSERT_EQ(m.lines.size(), 4u);
    EXPECT_EQ(m.lines[1], "x=1\r"); // only CR LF pairs are line ends
    EXPECT_EQ(m.lines[2], std::string("\0hidden=1", 9));
    EXPECT_EQ(m.lineText(3), ""); // the engine sees the line up to its NUL
    EXPECT_EQ(m.lineText(4), "last");
    EXPECT_EQ(m.lineText(5), "");
    EXPECT_TRUE(hasCode(m.fileProblems, Code::NulByte, Severity::Warning));
    EXPECT_TRUE(hasCode(m.fileProblems, Code::ControlZ, Severity::Warning));
    // A Ctrl-Z that only closes the file says nothing.
    EXPECT_TRUE(parse("[A]\r\n\x1a").fileProblems.empty());
}

TEST(PatchModel, FlagsByteOrderMarkAndEightBitBytes) {
    const Model m = parse("\xEF\xBB\xBF[Patch]\nPatch=P\n[B]\nINI1=TAVRO,\xC4.INI,S\n");
    EXPECT_EQ(m.patchSection(), nullptr); // the mark hides the header
    ASSERT_EQ(m.fileProblems.size(), 2u);
    EXPECT_EQ(m.fileProblems[0].code, Code::ByteOrderMark);
    EXPECT_EQ(m.fileProblems[0].line, 1);
    EXPECT_EQ(m.fileProblems[1].code, Code::NonAscii);
    EXPECT_EQ(m.fileProblems[1].line, 4);
}

TEST(PatchModel, SettingsReadAsGetStringAndGetInt) {
    const Model m = parse("[patch] ; settings\n"
                          "  LogFile = my log.txt  \n"
                          "Force=12abc\n"
                          "Backup=x\n"
                          "AppendLog=4294967297\n"
                          "Reboot Program=R.EXE\n"
                          "Reboot Program=OTHER.EXE\n"
                          "[Next]\n"
                          "Patch=NOT_IN_PATCH\n");
    const Settings &s = m.settings;
    EXPECT_TRUE(s.logFile.present);
    EXPECT_EQ(s.logFile.value, " my log.txt  "); // verbatim after "="
    EXPECT_EQ(s.logFile.line, 2);
    EXPECT_EQ(s.force.value, 12);
    EXPECT_FALSE(s.backup.parsed);
    EXPECT_EQ(s.backup.value, 1); // the default
    EXPECT_EQ(s.appendLog.value, INT_MAX); // clamped, not wrapped to 1
    EXPECT_EQ(s.rebootProgram.value, "R.EXE"); // the first line wins
    EXPECT_EQ(s.rebootProgram.line, 6);
    EXPECT_FALSE(s.patch.present);
    EXPECT_FALSE(s.failedProgram.present);
}

TEST(PatchModel, SectionsAreFoundAndWalkedAsTheEngineDoes) {
    const Model m = parse("[Patch]\n"
                          "[UPDATE] ; first\n"
                          "FILE1=TAVRO,A.DLL\n"
                          "  [Indented]\n"
                          "FILE2=TAVRO,B.DLL\n"
                          "[update]\n"
                          "FILE3=TAVRO,C.DLL\n"
                          "[Open\n");
    ASSERT_EQ(m.sections.size(), 5u);
    const Section *update = m.findSection("Update");
    ASSERT_NE(update, nullptr);
    EXPECT_EQ(update->headerLine, 2);
    // The walk ends at the indented header.
    ASSERT_EQ(update->lines.size(), 1u);
    EXPECT_EQ(update->lines[0].line, 3);
    EXPECT_TRUE(m.sections[2].indented);
    EXPECT_EQ(m.findSection("Indented"), nullptr);
    EXPECT_TRUE(m.sections[3].duplicate);
    EXPECT_TRUE(m.sections[4].unclosed);
    EXPECT_EQ(m.findSection("Open"), nullptr);
    EXPECT_EQ(m.findSection("Missing"), nullptr);
}

TEST(PatchModel, ConditionSetsAsTheEngineWalksThem) {
    const Model m = parse("[Patch]\n"
                          "Condition1=B,7,1,S,K,V\n"
                          "condition0=A,7,1,S,K,V\n"
                          "Condition0=IGNORED,7,1,S,K2,V\n"
                          "Condition01=A,7,1,S,K,V\n"
                          "Condition2 =A,7,1,S,K,V\n"
                          "  Condition2=A,7,1,S,K,V\n"
                          "Condition3=C,7,1,S,K,V\n"
                          "Condition9\n");
    ASSERT_EQ(m.conditionSets.size(), 2u);
    const ConditionSet &set0 = m.conditionSets[0];
    ASSERT_EQ(set0.lines.size(), 2u);
    EXPECT_EQ(set0.lines[0].line, 3);
    EXPECT_EQ(*set0.branch(), "A");
    EXPECT_EQ(m.conditionSets[1].lines[0].line, 2);

    using R = UnreadCondition::Reason;
    std::vector<std::pair<int, R>> unread;
    for (const UnreadCondition &u : m.unreadConditions) unread.emplace_back(u.line, u.reason);
    std::sort(unread.begin(), unread.end());
    EXPECT_EQ(unread, (std::vector<std::pair<int, R>>{{5, R::BadNumber},
                                                       {6, R::BlankBeforeEquals},
                                                       {7, R::Indented},
                                                       {8, R::BeyondEnd},
                                                       {9, R::NoEquals}}));
}

TEST(PatchModel, ConditionFieldsAndTheirFailures) {
    // Registry form: HKLM as the first four characters, HKU only whole.
    const ConditionLine reg = decodeConditionLine("Condition0=B,8,x,hklmX,SOFT\\\\W,Name,1,2,extra", 4, 0);
    EXPECT_TRUE(reg.fields.registry());
    EXPECT_EQ(*reg.fields.path, "SOFT\\W");
    EXPECT_EQ(*reg.fields.rangeEnd, "2");
    EXPECT_EQ(reg.mode, 2); // no number
    EXPECT_EQ(reg.os, 8);
    EXPECT_FALSE(reg.alwaysFails);
    EXPECT_TRUE(hasCode(reg.problems, Code::NotANumber, Severity::Warning));
    EXPECT_TRUE(hasCode(reg.problems, Code::ExtraFields, Severity::Warning));

    const ConditionLine ini = decodeConditionLine("Condition0=B,7,4,HKU2,K,V", 1, 0);
    EXPECT_FALSE(ini.fields.registry());
    EXPECT_EQ(*ini.fields.key, "K");
    EXPECT_TRUE(ini.alwaysFails); // mode 4 without range end
    EXPECT_NE(texts(ini.problems).find("mode 4 needs a range end"), std::string::npos);

    const ConditionLine longRoot = decodeConditionLine("Condition0=B,7,1,HKEY_LOCAL_MACHINE,P,N,V", 1, 0);
    EXPECT_TRUE(longRoot.alwaysFails);
    EXPECT_NE(texts(longRoot.problems).find("write HKLM"), std::string::npos);

    // Mode 0 still needs a range start; the OS is required.
    EXPECT_TRUE(decodeConditionLine("Condition0=B,7,0,S,K", 1, 0).alwaysFails);
    EXPECT_TRUE(decodeConditionLine("Condition0=B,,1,S,K,V", 1, 0).alwaysFails);

    const ConditionLine overlong = decodeConditionLine("Condition0=B,7,1,S,K," + std::string(240, 'v'), 1, 0);
    EXPECT_TRUE(overlong.overlong);
    EXPECT_TRUE(overlong.alwaysFails);
    EXPECT_FALSE(overlong.fields.branch);
}

TEST(PatchModel, ActionKeysDispatchAsTheEngineDoes) {
    EXPECT_EQ(decodeActionLine("file3=TAVRO,A", 1).kind, ActionKind::File);
    EXPECT_EQ(decodeActionLine("FINDFILE2=TAVRO,A", 1).kind, ActionKind::FindFile);
    EXPECT_EQ(decodeActionLine("REBOOT=1", 1).kind, ActionKind::Reboot);
    EXPECT_EQ(decodeActionLine("FILE", 1).kind, ActionKind::File); // no "=": every field absent
    EXPECT_EQ(decodeActionLine("  \t ", 1).kind, ActionKind::Blank);
    EXPECT_EQ(decodeActionLine(" ; FILE1=TAVRO,A", 1).kind, ActionKind::Comment);
    EXPECT_EQ(decodeActionLine("//FILE1=TAVRO,A", 1).kind, ActionKind::Comment);
    for (const char *bad : {"/FILE1=TAVRO,A", "FILES=TAVRO,A", "FILE 1=TAVRO,A", "FILE-2=TAVRO,A", "FILE1 =TAVRO,A"}) {
        const ActionLine a = decodeActionLine(bad, 1);
        EXPECT_EQ(a.kind, ActionKind::Unknown) << bad;
        EXPECT_FALSE(a.runnable()) << bad;
        EXPECT_TRUE(hasCode(a.problems, Code::UnknownKey, Severity::Error)) << bad;
    }
    EXPECT_NE(texts(decodeActionLine("FILE 2=TAVRO,A", 1).problems).find("write \"FILE2=\""), std::string::npos);
    EXPECT_NE(texts(decodeActionLine("FILE2 =TAVRO,A", 1).problems).find("blank before \"=\""), std::string::npos);
}

TEST(PatchModel, DecodesEveryActionsFields) {
    const ActionLine file = decodeActionLine("  FILE1=windows,NEW.DLL,SYSTEM,OLD.DLL,,x,0 \t", 7);
    EXPECT_EQ(file.key, "FILE1");
    EXPECT_EQ(file.text, "FILE1=windows,NEW.DLL,SYSTEM,OLD.DLL,,x,0");
    const InstallAction &f = decoded<InstallAction>(file);
    EXPECT_EQ(f.where, Location::Windows);
    EXPECT_EQ(*f.entry, "OLD.DLL");
    EXPECT_EQ(f.force.valueOr(5), 5);  // empty: the run's default
    EXPECT_EQ(f.backup.valueOr(5), 5); // not a number: the default too
    EXPECT_EQ(f.compress.valueOr(9), 0);

    // FINDFILE has no entry field: the numbers move up.
    const ActionLine findLine = decodeActionLine("FINDFILE1=TAVRO,A.DLL,PLUGINS,1,0,0", 1);
    const InstallAction &ff = decoded<InstallAction>(findLine);
    EXPECT_FALSE(ff.entry);
    EXPECT_EQ(ff.force.value, 1);
    EXPECT_EQ(ff.backup.value, 0);

    const ActionLine iniLine = decodeActionLine("INI1=TAVRO,TAVRO.INI,S,K,", 1);
    const IniAction &ini = decoded<IniAction>(iniLine);
    EXPECT_EQ(*ini.value, ""); // empty is a value
    EXPECT_FALSE(decoded<IniAction>(decodeActionLine("INI1=TAVRO,TAVRO.INI,S,K", 1)).value);

    EXPECT_EQ(decoded<RegAction>(decodeActionLine("REG1=hkcu,S\\\\X,N,V", 1)).operation(), RegOperation::SetValue);
    EXPECT_EQ(decoded<RegAction>(decodeActionLine("REG1=HKLM,S,N", 1)).operation(), RegOperation::DeleteValue);
    const ActionLine treeLine = decodeActionLine("REG1=HKU,S,", 1);
    const RegAction &tree = decoded<RegAction>(treeLine);
    EXPECT_EQ(tree.root, Root::Users);
    EXPECT_FALSE(tree.name); // empty counts as absent
    EXPECT_EQ(tree.operation(), RegOperation::DeleteKey);
    // An empty value is a value: the key's default value is set to "".
    EXPECT_EQ(decoded<RegAction>(decodeActionLine("REG1=HKU,S,,", 1)).operation(), RegOperation::SetValue);

    const ActionLine copyLine = decodeActionLine("COPY1=TAVRO,A\\\\B.DLL,C.DLL,1", 1);
    const LocalAction &copy = decoded<LocalAction>(copyLine);
    EXPECT_EQ(*copy.source, "A\\B.DLL");

    const ActionLine rebootLine = decodeActionLine("REBOOT=1,RESTART.EXE", 1);
    const RebootAction &reboot = decoded<RebootAction>(rebootLine);
    EXPECT_EQ(reboot.value.value, 1);
    EXPECT_EQ(*reboot.program, "RESTART.EXE");
}

TEST(PatchModel, OverlongLinesAreRefusedNotCut) {
    const std::string fits = "FILE1=TAVRO," + std::string(243, 'A');
    ASSERT_EQ(fits.size(), 255u);
    EXPECT_TRUE(decodeActionLine("  " + fits + "  ", 1).runnable());
    const ActionLine over = decodeActionLine(fits + "B", 3);
    EXPECT_TRUE(over.overlong);
    EXPECT_EQ(over.kind, ActionKind::File);
    EXPECT_EQ(over.key, "FILE1");
    EXPECT_FALSE(over.runnable());
    ASSERT_EQ(over.problems.size(), 1u);
    EXPECT_EQ(over.problems[0].code, Code::Overlong);
    EXPECT_EQ(over.problems[0].line, 3);
}

TEST(PatchModel, LineProblemsOfTheActions) {
    auto problemsOf = [](const char *line) { return decodeActionLine(line, 1).problems; };
    // Errors are what the engine refuses; warnings leave the action runnable.
    EXPECT_FALSE(decodeActionLine("REG1=HKLM", 1).runnable());
    EXPECT_TRUE(decodeActionLine("REG1=HKLM", 1).refused());
    EXPECT_FALSE(decodeActionLine("COPY1=TAVRO,A", 1).runnable());
    EXPECT_TRUE(decodeActionLine("COPY1=TAVRO,A,B,2", 1).runnable());
    EXPECT_TRUE(hasCode(problemsOf("FILE1=TAVRO"), Code::MissingField, Severity::Error));
    EXPECT_TRUE(hasCode(problemsOf("FILE1=C:\\\\TAVRO,A.DLL"), Code::UnknownLocation, Severity::Error));
    EXPECT_TRUE(hasCode(problemsOf("COPY1=TAVRO,A,B,2"), Code::NotAFlag, Severity::Warning));
    // Sound lines say nothing.
    for (const char *good : {"FILE1=TAVRO,TVVIEW.EXE", "INI2=TAVRO,TAVRO.INI,S,K,C:\\\\\\\\WINDOWS\\\\SPOOL",
                             "INI3=TAVRO,TAVRO.INI,Display,Font,Arial\\, 10", "REG5=HKCR,.tvr,,Tavro.Document.2",
                             "RENAME1=TAVRO,TVNOTES.TXT,DOCS\\\\TVNOTES.TXT,0,0", "REBOOT1=1"})
        EXPECT_EQ(texts(problemsOf(good)), "") << good;

    // A backslash that ends the line is dropped too.
    EXPECT_EQ(texts(decodeActionLine("FILE1=TAVRO,A.DLL,D\\IR\\", 1).problems),
              "single backslash dropped: \"D\\IR\\\" arrives as \"DIR\"; write \"D\\\\IR\\\\\"\n");
}
