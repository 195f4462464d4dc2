// The preview's report: hand-made change sequences, as the run describes
// them, become one line per thing an action would do.
#include "engine/preview.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using change::Change;
using change::Kind;
using preview::FileResult;
using preview::Outcome;
using preview::Part;
using preview::Report;
using preview::Verdict;

namespace {

Change file(Kind kind, const std::string &path, const std::string &target = std::string()) {
    Change c;
    c.kind = kind;
    c.path = path;
    if (!target.empty()) c.target = target;
    return c;
}

Change ini(Kind kind, const std::string &path, const std::string &section, const std::string &key,
           std::optional<std::string> before, std::optional<std::string> after) {
    Change c;
    c.kind = kind;
    c.path = path;
    c.section = section;
    c.key = key;
    c.before = std::move(before);
    c.after = std::move(after);
    return c;
}

Change reg(Kind kind, const std::string &path, std::optional<std::string> name,
           std::optional<platform::RegValue> before, std::optional<platform::RegValue> after) {
    Change c;
    c.kind = kind;
    c.root = platform::Root::LocalMachine;
    c.path = path;
    c.name = std::move(name);
    c.regBefore = std::move(before);
    c.regAfter = std::move(after);
    return c;
}

// The run describes the change, then makes it.
void made(Report &r, const Change &c) {
    EXPECT_TRUE(r.before(c));
    r.after(c, true);
}

// An install through a work file beside the destination, with the backup
// moved first; the work file's name carries the process number.
void installWithBackup(Report &r, const std::string &work) {
    made(r, file(Kind::FileMoved, "C:\\TAVRO\\BIN\\TVCORE.DLL", "C:\\TAVRO\\BIN\\TVCORE.OLD"));
    Change created = file(Kind::FileCreated, work);
    created.from = "D:\\KIT\\TVCORE.DLL";
    made(r, created);
    made(r, file(Kind::FileMoved, work, "C:\\TAVRO\\BIN\\TVCORE.DLL"));
}

// A copy staged in the TEMP directory and registered for the restart.
void installAtRestart(Report &r, const std::string &staged) {
    made(r, file(Kind::RestartRegistered, "C:\\TAVRO\\TVVIEW.EXE", "C:\\TAVRO\\TVVIEW.OLD"));
    made(r, file(Kind::FileCreated, staged));
    made(r, file(Kind::RestartRegistered, staged, "C:\\TAVRO\\TVVIEW.EXE"));
}

std::vector<std::string> itemsOf(const Report &r, std::size_t index) { return r.outcomes().at(index).items; }

} // namespace

TEST(PreviewReport, FileInstallsSayWhatTheDateRuleDecidedAndNeverNameWorkFiles) {
    Report r("TAVUPD.DAT");
    r.beginAction(22, "FILE1");
    installWithBackup(r, "C:\\TAVRO\\BIN\\~C0k.h40");
    r.fileResult("c:\\tavro\\bin\\tvcore.dll", FileResult::ReplacedOlder);
    r.endAction(Verdict::Done);

    r.beginAction(23, "FILE2");
    installAtRestart(r, "C:\\TEMP\\TV0k.h40");
    r.fileResult("C:\\TAVRO\\TVVIEW.EXE", FileResult::ReplacedOlder);
    r.endAction(Verdict::Deferred);

    r.beginAction(24, "FINDFILE1");
    Change created = file(Kind::FileCreated, "C:\\A\\~Cak.h40");
    made(r, created);
    made(r, file(Kind::FileMoved, "C:\\A\\~Cak.h40", "C:\\A\\TVFILTER.DLL"));
    r.fileResult("C:\\A\\TVFILTER.DLL", FileResult::Created);
    r.fileResult("C:\\B\\TVFILTER.DLL", FileResult::DestinationNewer);
    r.fileResult("C:\\C\\TVFILTER.DLL", FileResult::SameDate);
    r.endAction(Verdict::Done);

    EXPECT_EQ(r.lines(), (std::vector<std::string>{
                             "TAVUPD.DAT(22) FILE1: C:\\TAVRO\\BIN\\TVCORE.DLL: backup kept as C:\\TAVRO\\BIN\\TVCORE.OLD",
                             "TAVUPD.DAT(22) FILE1: C:\\TAVRO\\BIN\\TVCORE.DLL: older file replaced",
                             "TAVUPD.DAT(23) FILE2: C:\\TAVRO\\TVVIEW.EXE: backup kept as C:\\TAVRO\\TVVIEW.OLD: would "
                             "wait for the next start of Windows (in use)",
                             "TAVUPD.DAT(23) FILE2: C:\\TAVRO\\TVVIEW.EXE: older file replaced: would wait for the next "
                             "start of Windows (in use)",
                             "TAVUPD.DAT(24) FINDFILE1: C:\\A\\TVFILTER.DLL: new file installed",
                             "TAVUPD.DAT(24) FINDFILE1: C:\\B\\TVFILTER.DLL: installed file is newer, not replaced",
                             "TAVUPD.DAT(24) FINDFILE1: C:\\C\\TVFILTER.DLL: same date, not replaced",
                         }));
    EXPECT_EQ(r.outcomes()[1].verdict, Verdict::Deferred);
}

TEST(PreviewReport, OutcomesCompareEqualWhateverTheWorkFilesWereCalled) {
    // The preview and the real run run as different processes: their work
    // and staging names differ, their outcomes must not.
    Report preview("TAVUPD.DAT"), real("TAVUPD.DAT"), inUse("TAVUPD.DAT");
    for (auto *r : {&preview, &real, &inUse}) r->beginAction(22, "FILE1");
    installWithBackup(preview, "C:\\TAVRO\\BIN\\~C0a.b12");
    installWithBackup(real, "C:\\TAVRO\\BIN\\~C0k.h40");
    installAtRestart(inUse, "C:\\TEMP\\TV0a.b12");
    for (auto *r : {&preview, &real, &inUse}) {
        r->fileResult("C:\\TAVRO\\BIN\\TVCORE.DLL", FileResult::ReplacedOlder);
        r->endAction(Verdict::Done);
    }
    EXPECT_EQ(preview.outcomes(), real.outcomes());
    EXPECT_NE(preview.outcomes(), inUse.outcomes());
}

TEST(PreviewReport, AFileCreatedInPlaceIsTheActionsOwnAndLaterActionsRenameIt) {
    Report r("TAVUPD.DAT");
    r.beginAction(26, "COPY1");
    Change copied = file(Kind::FileCreated, "C:\\TAVRO\\TAVRO.SAV");
    copied.from = "C:\\TAVRO\\TAVRO.INI";
    made(r, copied);
    r.fileResult("C:\\TAVRO\\TAVRO.SAV", FileResult::Created);
    r.endAction(Verdict::Done);
    r.beginAction(27, "COPY2");
    made(r, file(Kind::FileCreated, "C:\\TAVRO\\NEW.TXT"));
    r.endAction(Verdict::Done);
    r.beginAction(28, "RENAME1");
    made(r, file(Kind::FileMoved, "C:\\TAVRO\\TAVRO.SAV", "C:\\TAVRO\\TAVRO.KEEP"));
    r.endAction(Verdict::Done);
    EXPECT_EQ(itemsOf(r, 0), (std::vector<std::string>{"C:\\TAVRO\\TAVRO.SAV: new file installed"}));
    EXPECT_EQ(itemsOf(r, 1), (std::vector<std::string>{"C:\\TAVRO\\NEW.TXT: file written"}));
    EXPECT_EQ(itemsOf(r, 2), (std::vector<std::string>{"C:\\TAVRO\\TAVRO.SAV: renamed to C:\\TAVRO\\TAVRO.KEEP"}));
}

TEST(PreviewReport, RenamesErasesAndRegistrationsForTheRestart) {
    Report r("TAVUPD.DAT");
    r.beginAction(30, "RENAME1");
    made(r, file(Kind::FileMoved, "C:\\TAVRO\\NOTES.TXT", "C:\\TAVRO\\DOCS\\NOTES.TXT"));
    r.endAction(Verdict::Done);
    r.beginAction(31, "ERASE1");
    made(r, file(Kind::FileRemoved, "C:\\TAVRO\\DOCS\\NOTES.TXT"));
    r.endAction(Verdict::Done);
    r.beginAction(32, "ERASE2");
    made(r, file(Kind::RestartRegistered, "C:\\TAVRO\\TVVIEW.EXE"));
    // On the 95 family the registration is a line of WININIT.INI: told once.
    Change line = ini(Kind::IniKeySet, "C:\\WINDOWS\\WININIT.INI", "rename", "NUL", std::nullopt,
                      std::string("C:\\TAVRO\\TVVIEW.EXE"));
    made(r, line);
    r.endAction(Verdict::Deferred);
    EXPECT_EQ(itemsOf(r, 0), (std::vector<std::string>{"C:\\TAVRO\\NOTES.TXT: renamed to C:\\TAVRO\\DOCS\\NOTES.TXT"}));
    EXPECT_EQ(itemsOf(r, 1), (std::vector<std::string>{"C:\\TAVRO\\DOCS\\NOTES.TXT: erased"}));
    EXPECT_EQ(itemsOf(r, 2), (std::vector<std::string>{
                                 "C:\\TAVRO\\TVVIEW.EXE: erased: would wait for the next start of Windows (in use)"}));
}

TEST(PreviewReport, IniKeysShowTheirOldAndNewValues) {
    Report r("TAVUPD.DAT");
    r.beginAction(40, "INI1");
    // Saved through a temporary file: the INI lines say what changed.
    made(r, file(Kind::FileCreated, "C:\\TAVRO\\TVI0a.tmp"));
    made(r, ini(Kind::IniKeySet, "C:\\TAVRO\\TAVRO.INI", "Tavro", "Version", std::string("2.0"), std::string("2.1")));
    Change save = file(Kind::FileReplaced, "C:\\TAVRO\\TAVRO.INI");
    save.from = "C:\\TAVRO\\TVI0a.tmp";
    made(r, save);
    made(r, ini(Kind::IniKeySet, "C:\\TAVRO\\TAVRO.INI", "Display", "Font", std::nullopt, std::string("Arial")));
    made(r, ini(Kind::IniKeyDeleted, "C:\\TAVRO\\TAVRO.INI", "Display", "Size", std::string("10"), std::nullopt));
    Change section = ini(Kind::IniSectionDeleted, "C:\\TAVRO\\TAVRO.INI", "Old", "", std::nullopt, std::nullopt);
    section.key.reset();
    section.lines = {"[Old]", "A=1", "B=2"};
    made(r, section);
    r.endAction(Verdict::Done);
    EXPECT_EQ(itemsOf(r, 0), (std::vector<std::string>{
                                 "C:\\TAVRO\\TAVRO.INI [Tavro] Version: \"2.0\" -> \"2.1\"",
                                 "C:\\TAVRO\\TAVRO.INI [Display] Font: not set -> \"Arial\"",
                                 "C:\\TAVRO\\TAVRO.INI [Display] Size: \"10\" -> deleted",
                                 "C:\\TAVRO\\TAVRO.INI [Old]: section deleted (3 lines)",
                             }));
}

TEST(PreviewReport, RegistryValuesShowTheirDataAndTreesTheirSize) {
    Report r("TAVUPD.DAT");
    r.beginAction(50, "REG1");
    made(r, reg(Kind::RegKeyCreated, "SOFTWARE\\Korvek\\Tavro\\Fix", std::nullopt, std::nullopt, std::nullopt));
    made(r, reg(Kind::RegValueSet, "SOFTWARE\\Korvek\\Tavro\\Fix", std::string("Build"), std::nullopt,
                platform::RegValue{platform::kRegSz, std::string("0410\0", 5)}));
    made(r, reg(Kind::RegValueSet, "SOFTWARE\\Korvek\\Tavro", std::nullopt,
                platform::RegValue{platform::kRegDword, std::string("\x0a\0\0\0", 4)},
                platform::RegValue{platform::kRegBinary, std::string("\x01\xff", 2)}));
    made(r, reg(Kind::RegValueDeleted, "SOFTWARE\\Korvek\\Tavro", std::string("Old"),
                platform::RegValue{platform::kRegSz, "x"}, std::nullopt));
    Change tree = reg(Kind::RegTreeDeleted, "SOFTWARE\\Korvek\\Legacy", std::nullopt, std::nullopt, std::nullopt);
    tree.tree = {{"SOFTWARE\\Korvek\\Legacy\\A", {{"v", {}}, {"w", {}}}},
                 {"SOFTWARE\\Korvek\\Legacy", {{"x", {}}}}};
    made(r, tree);
    Change notMade = reg(Kind::RegValueDeleted, "SOFTWARE\\Korvek\\Tavro", std::string("Gone"), std::nullopt,
                         std::nullopt);
    EXPECT_TRUE(r.before(notMade));
    r.after(notMade, false);
    r.endAction(Verdict::Done);
    EXPECT_EQ(itemsOf(r, 0), (std::vector<std::string>{
                                 "HKLM\\SOFTWARE\\Korvek\\Tavro\\Fix: key created",
                                 "HKLM\\SOFTWARE\\Korvek\\Tavro\\Fix Build: not set -> \"0410\"",
                                 "HKLM\\SOFTWARE\\Korvek\\Tavro (default): 0x0000000A (10) -> type 3: 01,FF",
                                 "HKLM\\SOFTWARE\\Korvek\\Tavro Old: \"x\" -> deleted",
                                 "HKLM\\SOFTWARE\\Korvek\\Legacy: tree deleted (2 keys, 3 values)",
                             }));
}

TEST(PreviewReport, TheWholeRunFromConditionsToTheStatus) {
    Report r("TAVUPD.DAT");
    made(r, file(Kind::DirectoryCreated, "C:\\TAVRO\\ARCHIVE"));
    r.conditionFails(14, "Condition0", "HKLM\\SOFTWARE\\Korvek\\Tavro Build is \"0300\",\r\n\tnot \"0400\"");
    r.conditionHolds(17, "Condition1", "Update");
    r.beginAction(22, "ERASE1");
    r.endAction(Verdict::Skipped);
    r.beginAction(23, "FILE9");
    r.message("\n\aCannot install the file: C:\\TAVRO\\X.DLL\r\n");
    r.endAction(Verdict::Failed);
    r.beginAction(24, "REBOOT1");
    r.endAction(Verdict::Deferred);
    made(r, ini(Kind::PatchRecorded, "C:\\TAVRO\\TAVRO.INI", "Install", "Patch2", std::nullopt,
                std::string("TAVRO 2.1")));
    r.finish({true, 3010});
    EXPECT_EQ(r.text(),
              "TAVUPD.DAT: C:\\TAVRO\\ARCHIVE: directory created\n"
              "TAVUPD.DAT(14) Condition0: does not hold: HKLM\\SOFTWARE\\Korvek\\Tavro Build is \"0300\", not "
              "\"0400\"\n"
              "TAVUPD.DAT(17) Condition1: holds: the actions of [Update] follow\n"
              "TAVUPD.DAT(22) ERASE1: nothing to do\n"
              "TAVUPD.DAT(23) FILE9: message: Cannot install the file: C:\\TAVRO\\X.DLL\n"
              "TAVUPD.DAT(23) FILE9: fails\n"
              "TAVUPD.DAT(24) REBOOT1: would wait for the next start of Windows\n"
              "TAVUPD.DAT: C:\\TAVRO\\TAVRO.INI [Install] Patch2: the patch \"TAVRO 2.1\" would be recorded\n"
              "TAVUPD.DAT: a restart of Windows would be needed\n"
              "TAVUPD.DAT: the run would end with status 3010\n");
    ASSERT_EQ(r.outcomes().size(), 8u);
    EXPECT_EQ(r.outcomes()[1].part, Part::Condition);
    EXPECT_EQ(r.outcomes()[1].verdict, Verdict::Skipped);
    EXPECT_EQ(r.outcomes()[4].verdict, Verdict::Failed);
}

TEST(PreviewReport, ARunThatAppliesNowhereIsNotRecorded) {
    Report r("TAVUPD.DAT");
    r.conditionFails(14, "Condition0", "Windows 4.10 is not NT");
    r.beginAction(30, "FILE1");
    r.message("Cannot write the file");
    r.endAction(Verdict::Failed, true);
    r.finish({false, 1});
    EXPECT_EQ(r.lines(), (std::vector<std::string>{
                             "TAVUPD.DAT(14) Condition0: does not hold: Windows 4.10 is not NT",
                             "TAVUPD.DAT(30) FILE1: message: Cannot write the file",
                             "TAVUPD.DAT(30) FILE1: fails: the run would end here",
                             "TAVUPD.DAT: no condition set holds: the patch does not apply to this system",
                             "TAVUPD.DAT: the patch would not be recorded",
                             "TAVUPD.DAT: no restart of Windows would be needed",
                             "TAVUPD.DAT: the run would end with status 1",
                         }));
}

// What the run tells as an observer and prints: conditions, where actions
// start and end, the date rule's decisions by their copy results, restart
// requests, the messages of the error stream (not the trace or the outcome
// lines of the standard output), and the record told once.
TEST(PreviewReport, ObserverCallsAndPrintedMessagesBecomeTheLinesOfTheirParts) {
    Report r("TAVUPD.DAT");
    r.conditionTested(14, "Condition0", false, "", "the system does not match (OS field 1, this system 8)");
    r.conditionTested(17, "Condition1", true, "UPDATE", "");
    r.actionStarts(22, "FILE1");
    Change created = file(Kind::FileCreated, "C:\\TAVRO\\TVCORE.DLL");
    created.detail = "C:\\TAVRO\\TVc1q.abc";
    made(r, created);
    r.fileCopied("c:\\tavro\\tvcore.dll", 8); // an older file replaced
    r.write(engine::Stream::Out, "C:\\TAVRO\\TVCORE.DLL (Older file replaced)\n", true);
    r.actionEnds(engine::Outcome::done(8));
    r.actionStarts(23, "FILE2");
    r.write(engine::Stream::Err, "\n\aCannot install the file:\n\tC:\\KIT\\NONE.DLL\n", true);
    r.actionEnds(engine::Outcome::failed());
    r.actionStarts(24, "REBOOT1");
    engine::Outcome reboot = engine::Outcome::done();
    reboot.restartRequest = 1;
    reboot.restartProgram = "RESTART2.EXE";
    r.actionEnds(reboot);
    made(r, ini(Kind::IniKeySet, "C:\\WINDOWS\\TAVRO.INI", "Install", "Patch0", std::nullopt, "TP1"));
    made(r, ini(Kind::PatchRecorded, "C:\\WINDOWS\\TAVRO.INI", "Install", "Patch0", std::nullopt, "TP1"));
    r.note("would start C:\\KIT\\RESTART2.EXE");
    r.finish({true, 0});
    EXPECT_TRUE(r.needsOldState());
    EXPECT_EQ(r.lines(), (std::vector<std::string>{
                             "TAVUPD.DAT(14) Condition0: does not hold: the system does not match (OS field 1, this "
                             "system 8)",
                             "TAVUPD.DAT(17) Condition1: holds: the actions of [UPDATE] follow",
                             "TAVUPD.DAT(22) FILE1: C:\\TAVRO\\TVCORE.DLL: older file replaced",
                             "TAVUPD.DAT(23) FILE2: message: Cannot install the file: C:\\KIT\\NONE.DLL",
                             "TAVUPD.DAT(23) FILE2: fails",
                             "TAVUPD.DAT(24) REBOOT1: restart request set to 1",
                             "TAVUPD.DAT(24) REBOOT1: reboot program set to RESTART2.EXE",
                             "TAVUPD.DAT: C:\\WINDOWS\\TAVRO.INI [Install] Patch0: the patch \"TP1\" would be recorded",
                             "TAVUPD.DAT: would start C:\\KIT\\RESTART2.EXE",
                             "TAVUPD.DAT: a restart of Windows would be needed",
                             "TAVUPD.DAT: the run would end with status 0",
                         }));
    // A run that ends in a critical error inside an action says so.
    Report ending("TAVUPD.DAT");
    ending.actionStarts(5, "INI1");
    ending.actionEnds(engine::Outcome::ends(Error(21, "C:\\WINDOWS\\TAVRO.INI", "tvpdf", 1)));
    EXPECT_EQ(ending.lines(), (std::vector<std::string>{"TAVUPD.DAT(5) INI1: fails: the run would end here"}));
}

// An INI file in its registry form is named by its key below HKLM.
TEST(PreviewReport, AnIniFileInTheRegistryIsNamedByItsKey) {
    Report r("TAVUPD.DAT");
    r.actionStarts(6, "INI1");
    made(r, ini(Kind::IniKeySet, "SOFTWARE\\Korvek\\KorvekDSP\\E2E.INI\\", "boot", "K", std::nullopt, "V"));
    r.actionEnds(engine::Outcome::done());
    r.actionStarts(7, "INI2");
    made(r, ini(Kind::IniKeySet, "C:\\TAVRO\\E2E.INI", "S", "K", std::string("a"), "b"));
    r.actionEnds(engine::Outcome::done());
    EXPECT_EQ(r.lines(), (std::vector<std::string>{
                             "TAVUPD.DAT(6) INI1: HKLM\\SOFTWARE\\Korvek\\KorvekDSP\\E2E.INI [boot] K: not set -> \"V\"",
                             "TAVUPD.DAT(7) INI2: C:\\TAVRO\\E2E.INI [S] K: \"a\" -> \"b\"",
                         }));
}
