// FILE, SUBST and FINDFILE lines run by the real program: installed files
// and their dates, backups, outcome lines, deferred replacement of a file in
// use on both Windows families, substitution in installed files, and the
// walk of a directory tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"

using namespace e2e;

namespace {

const std::string kComplete = "Patch update installation complete.\r\n";
const std::string kRestart =
    "Windows must be restarted for the changes to take effect. Please restart Windows now.\r\n";
const std::string kInvalidLine = "\r\n\aInvalid line or missing section in the installation profile\r\n";
const std::string kNoTarget = "\r\n\aThe target directory does not exist\r\n";

std::string outcome(const std::string &path, const std::string &text) { return path + " (" + text + ")\r\n"; }

const WORD kOldDate = dosDate(2001, 2, 3);
const WORD kOldTime = dosTime(4, 5, 6);
const WORD kNewDate = dosDate(2011, 5, 6);
const WORD kNewTime = dosTime(7, 8, 10);

struct Stamp {
    WORD date = 0, time = 0;
    bool operator==(const Stamp &o) const { return date == o.date && time == o.time; }
};
Stamp stampOf(const std::string &path) {
    Stamp s;
    EXPECT_TRUE(getDosTime(path, s.date, s.time)) << path;
    return s;
}

class FileActions : public ::testing::Test {
  protected:
    void SetUp() override {
        resetMachine();
        patchDir = std::make_unique<PatchDir>("FILE");
    }
    RunResult run(const std::string &body, const std::vector<std::string> &args = {},
                  const std::string &version = "win98", int os = 7) {
        patch().writeProfile(profileWith(body, os));
        return runTavupd(patch(), args, version);
    }
    // A patch file with a fixed date.
    void patchFile(const std::string &name, const std::string &bytes, WORD date = kNewDate, WORD time = kNewTime) {
        patch().writeFile(name, bytes);
        setDosTime(patch().path(name), date, time);
    }
    // Made after the machine is reset, which empties C:\E2E.
    std::unique_ptr<PatchDir> patchDir;
    PatchDir &patch() { return *patchDir; }
};

TEST_F(FileActions, FileInstallsIntoBaseDirectoryAndSubdirectoryUnderEntryName) {
    installProduct("C:\\TAVRO", 1);
    makeDirs(windowsDir() + "\\E2E\\SYSTEM");
    patchFile("NEW.DLL", "new contents\r\n\x01\x02");
    RunResult r = run("FILE1=TAVRO,NEW.DLL\n"
                      "FILE2=WINDOWS,NEW.DLL,E2E\\\\SYSTEM,OLD.DLL\n");
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.err, "");
    const std::string dest2 = windowsDir() + "\\E2E\\SYSTEM\\OLD.DLL";
    EXPECT_EQ(r.out, kBanner + outcome("C:\\TAVRO\\NEW.DLL", "new file installed") +
                         outcome(dest2, "new file installed") + kComplete);
    EXPECT_EQ(readFile("C:\\TAVRO\\NEW.DLL"), std::optional<std::string>("new contents\r\n\x01\x02"));
    EXPECT_EQ(readFile(dest2), std::optional<std::string>("new contents\r\n\x01\x02"));
    EXPECT_EQ(stampOf("C:\\TAVRO\\NEW.DLL"), (Stamp{kNewDate, kNewTime}));
    EXPECT_FALSE(exists(windowsDir() + "\\E2E\\SYSTEM\\NEW.DLL"));
}

TEST_F(FileActions, MissingTargetDirectoryIsReportedAndSectionGoesOn) {
    installProduct("C:\\TAVRO", 1);
    patchFile("NEW.DLL", "n");
    RunResult r = run("FILE1=TAVRO,NEW.DLL,SYSTEM,OLD.DLL\n"
                      "FILE2=TAVRO,NEW.DLL,,\n");
    EXPECT_EQ(r.err, kNoTarget);
    EXPECT_EQ(r.out, kBanner + outcome("C:\\TAVRO\\NEW.DLL", "new file installed") + kComplete);
    EXPECT_FALSE(exists("C:\\TAVRO\\SYSTEM"));
    EXPECT_FALSE(exists("C:\\TAVRO\\OLD.DLL"));
}

TEST_F(FileActions, DirectoryPartOfNamesIsIgnored) {
    installProduct("C:\\TAVRO", 0);
    makeDirs("C:\\TAVRO\\SUB");
    patchFile("NEW.DLL", "by name");
    RunResult r = run("FILE1=TAVRO,C:\\\\ELSEWHERE\\\\NEW.DLL,,SUB\\\\RENAMED.DLL\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readFile("C:\\TAVRO\\RENAMED.DLL"), std::optional<std::string>("by name"));
    EXPECT_FALSE(exists("C:\\TAVRO\\SUB\\RENAMED.DLL"));
}

TEST_F(FileActions, EveryOutcomeIsReportedWithItsMessage) {
    installProduct("C:\\TAVRO", 1);
    patchFile("SAME.DLL", "patch");
    patchFile("NEWER.DLL", "patch");
    patchFile("OLDER.DLL", "patch");
    patchFile("FORCED.DLL", "patch");
    patchFile("FRESH.DLL", "patch");
    writeFile("C:\\TAVRO\\SAME.DLL", "installed");
    setDosTime("C:\\TAVRO\\SAME.DLL", kNewDate, kNewTime);
    writeFile("C:\\TAVRO\\NEWER.DLL", "installed");
    setDosTime("C:\\TAVRO\\NEWER.DLL", dosDate(2020, 1, 1), kNewTime);
    writeFile("C:\\TAVRO\\OLDER.DLL", "installed");
    setDosTime("C:\\TAVRO\\OLDER.DLL", kOldDate, kOldTime);
    writeFile("C:\\TAVRO\\FORCED.DLL", "installed");
    setDosTime("C:\\TAVRO\\FORCED.DLL", dosDate(2020, 1, 1), kNewTime);
    RunResult r = run("FILE1=TAVRO,SAME.DLL\n"
                      "FILE2=TAVRO,NEWER.DLL\n"
                      "FILE3=TAVRO,OLDER.DLL\n"
                      "FILE4=TAVRO,FORCED.DLL,,,1\n"
                      "FILE5=TAVRO,FRESH.DLL\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kBanner + outcome("C:\\TAVRO\\SAME.DLL", "same date, not replaced") +
                         outcome("C:\\TAVRO\\NEWER.DLL", "installed file is newer, not replaced") +
                         outcome("C:\\TAVRO\\OLDER.DLL", "older file replaced") +
                         outcome("C:\\TAVRO\\FORCED.DLL", "newer file replaced") +
                         outcome("C:\\TAVRO\\FRESH.DLL", "new file installed") + kComplete);
    EXPECT_EQ(readFile("C:\\TAVRO\\SAME.DLL"), std::optional<std::string>("installed"));
    EXPECT_EQ(readFile("C:\\TAVRO\\NEWER.DLL"), std::optional<std::string>("installed"));
    EXPECT_EQ(readFile("C:\\TAVRO\\OLDER.DLL"), std::optional<std::string>("patch"));
    EXPECT_EQ(readFile("C:\\TAVRO\\OLDER.OLD"), std::optional<std::string>("installed"));
    EXPECT_EQ(readFile("C:\\TAVRO\\FORCED.DLL"), std::optional<std::string>("patch"));
    EXPECT_EQ(readFile("C:\\TAVRO\\FORCED.OLD"), std::optional<std::string>("installed"));
    EXPECT_FALSE(exists("C:\\TAVRO\\SAME.OLD"));
    EXPECT_FALSE(exists("C:\\TAVRO\\NEWER.OLD"));
}

TEST_F(FileActions, NotInteractiveCopiesSilently) {
    installProduct("C:\\TAVRO", 0);
    patchFile("A.DLL", "patch");
    writeFile("C:\\TAVRO\\A.DLL", "installed");
    setDosTime("C:\\TAVRO\\A.DLL", kOldDate, kOldTime);
    RunResult r = run("FILE1=TAVRO,A.DLL\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kBanner + kComplete);
    EXPECT_EQ(readFile("C:\\TAVRO\\A.DLL"), std::optional<std::string>("patch"));
    EXPECT_EQ(readFile("C:\\TAVRO\\A.OLD"), std::optional<std::string>("installed"));
}

TEST_F(FileActions, CompressedFileIsSkippedAndTraced) {
    installProduct("C:\\TAVRO", 1);
    patchFile("NEW.DLL", "n");
    RunResult r = run("FILE1=TAVRO,NEW.DLL,,,,,1\n", {"-d"});
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(exists("C:\\TAVRO\\NEW.DLL"));
    EXPECT_EQ(r.out.find("(new file installed)"), std::string::npos) << r.out;
    const std::string trace = "\tFile\r\n"
                              "\t\tcomponent   : TAVRO\r\n"
                              "\t\tfilename    : NEW.DLL\r\n"
                              "\t\tsubdir      : \r\n"
                              "\t\tentry       : \r\n"
                              "\t\tbackup      : \r\n"
                              "\t\tbackup val  : 1\r\n"
                              "\t\tforce       : \r\n"
                              "\t\tforce value : 0\r\n"
                              "\t\tcompress    : 1\r\n"
                              "\t\tcompress val: 1\r\n";
    EXPECT_NE(r.out.find(trace), std::string::npos) << r.out;
}

TEST_F(FileActions, MissingNameUnknownLocationAndFailedCopyAreReported) {
    installProduct("C:\\TAVRO", 1);
    patchFile("OK.DLL", "ok");
    RunResult r = run("FILE1=TAVRO\n"
                      "FILE2=TAVRO,\n"
                      "FILE3=SYSTEM,OK.DLL\n"
                      "SUBST1=ELSEWHERE,OK.DLL\n"
                      "FINDFILE1=,OK.DLL\n"
                      "FILE4=TAVRO,MISSING.DLL\n"
                      "FILE5=TAVRO,OK.DLL\n");
    EXPECT_EQ(r.err, kInvalidLine + kInvalidLine + kInvalidLine + kInvalidLine + kInvalidLine +
                         "\r\n\aCannot install the file: " + patch().path("MISSING.DLL") + "\r\n");
    EXPECT_EQ(r.out, kBanner + outcome("C:\\TAVRO\\OK.DLL", "new file installed") + kComplete);
    EXPECT_FALSE(exists("C:\\TAVRO\\MISSING.DLL"));
}

TEST_F(FileActions, LockedDestinationOnWindows98GoesToWininit) {
    installProduct("C:\\TAVRO", 1);
    patchFile("LOCK.DLL", "replacement");
    writeFile("C:\\TAVRO\\LOCK.DLL", "in use");
    FileLock lock("C:\\TAVRO\\LOCK.DLL");
    ASSERT_TRUE(lock.locked());
    RunResult r = run("FILE1=TAVRO,LOCK.DLL\n");
    lock.release();
    EXPECT_EQ(r.err, "");
    // The destination could not be read, so it counts as a new file.
    EXPECT_EQ(r.out, kBanner + outcome("C:\\TAVRO\\LOCK.DLL", "new file installed") + kComplete + kRestart);
    EXPECT_EQ(readFile("C:\\TAVRO\\LOCK.DLL"), std::optional<std::string>("in use"));

    const auto wininit = readFile(windowsDir() + "\\WININIT.INI");
    ASSERT_TRUE(wininit.has_value());
    const std::string prefix = "[rename]\r\nC:\\TAVRO\\LOCK.DLL=C:\\TAVRO\\ARCHIVE\\TEMP\\TV";
    ASSERT_EQ(wininit->compare(0, prefix.size(), prefix), 0) << *wininit;
    const size_t from = wininit->find('=') + 1;
    const std::string staged = wininit->substr(from, wininit->find("\r\n", from) - from);
    EXPECT_EQ(staged.size(), std::string("C:\\TAVRO\\ARCHIVE\\TEMP\\TVxx.xxx").size()) << staged;
    EXPECT_EQ(staged[staged.size() - 4], '.') << staged;
    EXPECT_EQ(readFile(staged), std::optional<std::string>("replacement"));
    EXPECT_EQ(std::count(wininit->begin(), wininit->end(), '\n'), 2);
}

TEST_F(FileActions, LockedDestinationOnNT4IsADelayedMove) {
    installProduct("C:\\TAVRO", 0);
    patchFile("LOCK.DLL", "replacement");
    writeFile("C:\\TAVRO\\LOCK.DLL", "in use");
    FileLock lock("C:\\TAVRO\\LOCK.DLL");
    ASSERT_TRUE(lock.locked());
    RunResult r = run("FILE1=TAVRO,LOCK.DLL\n", {}, "nt40", 8);
    lock.release();
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kBanner + kComplete + kRestart);
    EXPECT_FALSE(exists(windowsDir() + "\\WININIT.INI"));
    const auto moves = pendingMoves();
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0].second, "C:\\TAVRO\\LOCK.DLL");
    EXPECT_EQ(moves[0].first.rfind("C:\\TAVRO\\ARCHIVE\\TEMP\\TV", 0), 0u) << moves[0].first;
    EXPECT_EQ(readFile(moves[0].first), std::optional<std::string>("replacement"));
}

TEST_F(FileActions, SubstExpandsReferencesInTheInstalledFile) {
    installProduct("C:\\TAVRO", 0);
    const std::string text = "dir=\\TAVRO\r\nwin=\\WINDOWS\\SYSTEM\r\nplain\r\n";
    patchFile("CONF.TXT", text);
    RunResult r = run("SUBST1=TAVRO,CONF.TXT\n"
                      "SUBST2=TAVRO,CONF.TXT,,OTHER.TXT\n");
    EXPECT_EQ(r.err, "");
    const std::string expanded = "dir=C:\\TAVRO\r\nwin=" + windowsDir() + "\\SYSTEM\r\nplain\r\n";
    EXPECT_EQ(readFile("C:\\TAVRO\\CONF.TXT"), std::optional<std::string>(expanded));
    EXPECT_EQ(readFile("C:\\TAVRO\\OTHER.TXT"), std::optional<std::string>(expanded));
    // The patch file itself stays as shipped.
    EXPECT_EQ(readFile(patch().path("CONF.TXT")), std::optional<std::string>(text));
}

// The path of the copy staged for the restart that replaces `target`, from
// WININIT.INI or the delayed moves; empty when there is none.
std::string stagedFor(const std::string &target) {
    for (const auto &line : wininitRenames())
        if (_stricmp(line.first.c_str(), target.c_str()) == 0) return line.second;
    for (const auto &move : pendingMoves())
        if (_stricmp(move.second.c_str(), target.c_str()) == 0) return move.first;
    return std::string();
}

// SUBST over a file in use: the copy staged for the restart is the one
// expanded, the file in place is left as it is, and after the restart the
// installed file holds the directories of this machine.
TEST_F(FileActions, SubstOverFileInUseExpandsTheCopyStagedForTheRestart) {
    const std::pair<std::string, int> systems[] = {{"win98", 7}, {"nt40", 8}};
    for (const auto &system : systems) {
        SCOPED_TRACE(system.first);
        SetUp();
        installProduct("C:\\TAVRO", 0);
        const std::string text = "dir=\\TAVRO\\BIN\r\nwin=\\WINDOWS\\SYSTEM\r\nplain\r\n";
        patchFile("CONF.TXT", text);
        const std::string inPlace = "in place \\TAVRO\r\n";
        writeFile("C:\\TAVRO\\CONF.TXT", inPlace);
        setDosTime("C:\\TAVRO\\CONF.TXT", kOldDate, kOldTime);
        RunResult r;
        {
            FileLock lock("C:\\TAVRO\\CONF.TXT");
            ASSERT_TRUE(lock.locked());
            r = run("SUBST1=TAVRO,CONF.TXT\n", {}, system.first, system.second);
        }
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, kBanner + kComplete + kRestart);
        const std::string expanded = "dir=C:\\TAVRO\\BIN\r\nwin=" + windowsDir() + "\\SYSTEM\r\nplain\r\n";
        EXPECT_EQ(readFile("C:\\TAVRO\\CONF.TXT"), std::optional<std::string>(inPlace));
        EXPECT_TRUE(stampOf("C:\\TAVRO\\CONF.TXT") == (Stamp{kOldDate, kOldTime}));
        const std::string staged = stagedFor("C:\\TAVRO\\CONF.TXT");
        ASSERT_FALSE(staged.empty());
        EXPECT_EQ(_strnicmp(staged.c_str(), "C:\\TAVRO\\ARCHIVE\\TEMP\\", 22), 0) << staged;
        EXPECT_EQ(readFile(staged), std::optional<std::string>(expanded));
        // Only the staged copy is in the work directory.
        EXPECT_EQ(listDir("C:\\TAVRO\\ARCHIVE\\TEMP").size(), 1u);
        EXPECT_EQ(readFile(patch().path("CONF.TXT")), std::optional<std::string>(text));

        restartWindows();
        EXPECT_EQ(readFile("C:\\TAVRO\\CONF.TXT"), std::optional<std::string>(expanded));
        EXPECT_FALSE(exists(staged));
    }
}

// Without backup an older file in place is replaced at the restart as well:
// again the staged copy is expanded and the file in place left alone.
TEST_F(FileActions, SubstWithoutBackupExpandsTheStagedReplacement) {
    installProduct("C:\\TAVRO", 0);
    patchFile("CONF.TXT", "w=\\WINDOWS\r\n");
    writeFile("C:\\TAVRO\\CONF.TXT", "old \\WINDOWS\r\n");
    setDosTime("C:\\TAVRO\\CONF.TXT", kOldDate, kOldTime);
    RunResult r = run("SUBST1=TAVRO,CONF.TXT,,,0,0\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kBanner + kComplete + kRestart);
    EXPECT_EQ(readFile("C:\\TAVRO\\CONF.TXT"), std::optional<std::string>("old \\WINDOWS\r\n"));
    const std::string staged = stagedFor("C:\\TAVRO\\CONF.TXT");
    ASSERT_FALSE(staged.empty());
    EXPECT_EQ(readFile(staged), std::optional<std::string>("w=" + windowsDir() + "\r\n"));
    carryOutPendingOperations();
    EXPECT_EQ(readFile("C:\\TAVRO\\CONF.TXT"), std::optional<std::string>("w=" + windowsDir() + "\r\n"));
}

// SUBST expands only the copy it installs. A file it does not replace (same
// date, installed file newer, compressed, failed copy) stays exactly as it
// is, so running the patch again never expands a path twice.
TEST_F(FileActions, SubstExpandsOnlyTheCopyItInstalls) {
    installProduct("C:\\TAVRO", 1);
    patchFile("TVREPORT.CFG", "Path=\\TAVRO\\DATA\r\n");
    const std::string expanded = "Path=C:\\TAVRO\\DATA\r\n";
    const std::string installed = "C:\\TAVRO\\TVREPORT.CFG";
    RunResult first = run("SUBST1=TAVRO,TVREPORT.CFG\n");
    EXPECT_EQ(first.err, "");
    EXPECT_EQ(first.out, kBanner + outcome(installed, message(36)) + kComplete);
    EXPECT_EQ(readFile(installed), std::optional<std::string>(expanded));
    // The installed copy keeps the date of the patch's file.
    EXPECT_TRUE(stampOf(installed) == (Stamp{kNewDate, kNewTime}));

    RunResult second = run("SUBST1=TAVRO,TVREPORT.CFG\n");
    EXPECT_EQ(second.out, kBanner + outcome(installed, message(32)) + kComplete);
    EXPECT_EQ(readFile(installed), std::optional<std::string>(expanded));

    setDosTime(installed, dosDate(2020, 1, 1), kNewTime);
    RunResult third = run("SUBST1=TAVRO,TVREPORT.CFG\n");
    EXPECT_EQ(third.out, kBanner + outcome(installed, message(33)) + kComplete);
    EXPECT_EQ(readFile(installed), std::optional<std::string>(expanded));

    // Compressed, and a copy that fails: the file in place is not touched.
    writeFile("C:\\TAVRO\\R.CFG", "r=\\TAVRO\r\n");
    writeFile("C:\\TAVRO\\GONE.CFG", "g=\\WINDOWS\r\n");
    patchFile("R.CFG", "new r=\\TAVRO\r\n");
    RunResult other = run("SUBST1=TAVRO,R.CFG,,,0,1,1\n"
                          "SUBST2=TAVRO,GONE.CFG\n");
    EXPECT_EQ(other.err, "\r\n\a" + message(30) + ": " + patch().path("GONE.CFG") + "\r\n");
    EXPECT_EQ(readFile("C:\\TAVRO\\R.CFG"), std::optional<std::string>("r=\\TAVRO\r\n"));
    EXPECT_EQ(readFile("C:\\TAVRO\\GONE.CFG"), std::optional<std::string>("g=\\WINDOWS\r\n"));
    EXPECT_FALSE(exists("C:\\TAVRO\\R.OLD"));
}

// The expansion works on bytes: NUL, Ctrl-Z, lone CR and LF stay, and a
// line is expanded whole whatever its length.
TEST_F(FileActions, SubstKeepsEveryByteAndExpandsLongLinesWhole) {
    installProduct("C:\\TAVRO", 0);
    const std::string win = windowsDir();
    std::string text, expected;
    auto both = [&](const std::string &raw, const std::string &result) {
        text += raw;
        expected += result;
    };
    both("Dir=\\TAVRO\r\nAB", "Dir=C:\\TAVRO\r\nAB");
    both(std::string(1, '\0') + "CD=1\r\nnext\r\n\x1a\r\nafter=1\r\n",
         std::string(1, '\0') + "CD=1\r\nnext\r\n\x1a\r\nafter=1\r\n");
    both(std::string(506, 'x') + "\\TAVRO\r\n", std::string(506, 'x') + "C:\\TAVRO\r\n");
    both("lf=\\WINDOWS\ncr\r=\\TAVRO\r\n", "lf=" + win + "\ncr\r=C:\\TAVRO\r\n");
    for (int i = 0; i < 300; ++i) both("\\WINDOWS;" + std::string(i % 7, 'y'), win + ";" + std::string(i % 7, 'y'));
    both("\\\\TAVRO \\TAVRO", "\\TAVRO C:\\TAVRO"); // the last line has no line end
    patchFile("BYTES.CFG", text);
    RunResult r = run("SUBST1=TAVRO,BYTES.CFG\n");
    EXPECT_EQ(r.err, "");
    const auto got = readFile("C:\\TAVRO\\BYTES.CFG");
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->size(), expected.size());
    EXPECT_TRUE(*got == expected);
}

// The expanded copy is written beside its destination, not in the TEMP
// directory: a TEMP that names a file, or nothing usable, changes nothing.
TEST_F(FileActions, SubstNeedsNoTemporaryDirectory) {
    installProduct("C:\\TAVRO", 0);
    writeFile("C:\\E2E\\TEMPFILE", "not a directory");
    makeDirs("C:\\E2E\\EMPTYTMP");
    patchFile("A.CFG", "a=\\TAVRO\r\n");
    patchFile("B.CFG", "b=\\TAVRO\r\n");
    patch().writeProfile(profileWith("SUBST1=TAVRO,A.CFG\n"));
    RunResult r = runTavupd(patch(), {}, "win98", 60000, {"TEMP=C:\\E2E\\TEMPFILE"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readFile("C:\\TAVRO\\A.CFG"), std::optional<std::string>("a=C:\\TAVRO\r\n"));
    patch().writeProfile(profileWith("SUBST1=TAVRO,B.CFG\n"));
    r = runTavupd(patch(), {}, "win98", 60000, {"TEMP=C:\\E2E\\EMPTYTMP"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readFile("C:\\TAVRO\\B.CFG"), std::optional<std::string>("b=C:\\TAVRO\r\n"));
    EXPECT_TRUE(listDir("C:\\E2E\\EMPTYTMP").empty());
    EXPECT_EQ(readFile("C:\\E2E\\TEMPFILE"), std::optional<std::string>("not a directory"));
}

// FILE of a file whose backup name is its own (DATA.OLD): no backup is
// kept and the file is not moved onto itself; the older one stays until
// the restart puts the new one in its place.
TEST_F(FileActions, FileOfAnOldFileKeepsNoBackupOfItself) {
    installProduct("C:\\TAVRO", 0);
    patchFile("DATA.OLD", "new data");
    writeFile("C:\\TAVRO\\DATA.OLD", "old data");
    setDosTime("C:\\TAVRO\\DATA.OLD", kOldDate, kOldTime);
    RunResult r = run("FILE1=TAVRO,DATA.OLD\n", {"-d"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 3010u);
    EXPECT_NE(r.out.find("\t\tNo Backup : C:\\TAVRO\\DATA.OLD\r\n"), std::string::npos) << r.out;
    EXPECT_EQ(readFile("C:\\TAVRO\\DATA.OLD"), std::optional<std::string>("old data"));
    const auto renames = wininitRenames();
    ASSERT_EQ(renames.size(), 1u);
    EXPECT_EQ(renames[0].first, "C:\\TAVRO\\DATA.OLD");
    EXPECT_EQ(_strnicmp(renames[0].second.c_str(), "C:\\TAVRO\\ARCHIVE\\TEMP\\TV", 24), 0) << renames[0].second;
    carryOutPendingOperations();
    EXPECT_EQ(readFile("C:\\TAVRO\\DATA.OLD"), std::optional<std::string>("new data"));
}

// On a system the version table does not know (code 0), the platform
// decides how a file in use waits: NT platform by a delayed move, Windows 95
// platform by WININIT.INI. The replacement is registered and carried out at
// the restart, and the patch is recorded; conditions still see code 0.
TEST_F(FileActions, UnknownWindowsVersionDefersByItsPlatform) {
    for (const char *version : {"win7", "win10", "winme"}) {
        SCOPED_TRACE(version);
        SetUp();
        installProduct("C:\\TAVRO", 1);
        patchFile("TVVIEW.EXE", "viewer 2.1");
        writeFile("C:\\TAVRO\\TVVIEW.EXE", "viewer 2.0");
        setDosTime("C:\\TAVRO\\TVVIEW.EXE", kOldDate, kOldTime);
        patch().writeProfile("[Patch]\nPatch=UNKNOWNOS\nCondition0=Main,0,0,Tavro,root,x\n\n[Main]\n"
                             "FILE1=TAVRO,TVVIEW.EXE,,,0,0\n");
        RunResult r;
        {
            FileLock lock("C:\\TAVRO\\TVVIEW.EXE");
            ASSERT_TRUE(lock.locked());
            r = runTavupd(patch(), {}, version);
        }
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 3010u) << r.out;
        EXPECT_EQ(r.out, kBanner + outcome("C:\\TAVRO\\TVVIEW.EXE", message(36)) + kComplete + kRestart);
        EXPECT_EQ(readFile("C:\\TAVRO\\TVVIEW.EXE"), std::optional<std::string>("viewer 2.0"));
        const bool nt = std::string(version) != "winme";
        EXPECT_EQ(pendingMoves().size(), nt ? 1u : 0u);
        EXPECT_EQ(wininitRenames().size(), nt ? 0u : 1u);
        const auto record = readFile(windowsDir() + "\\TAVRO.INI").value_or("");
        EXPECT_NE(record.find("[Install]\r\nPatch0=UNKNOWNOS\r\n"), std::string::npos) << record;
        carryOutPendingOperations();
        EXPECT_EQ(readFile("C:\\TAVRO\\TVVIEW.EXE"), std::optional<std::string>("viewer 2.1"));
        EXPECT_TRUE(listDir("C:\\TAVRO\\ARCHIVE\\TEMP").empty());
        // Recorded: a second run is refused as already installed.
        EXPECT_EQ(runTavupd(patch(), {}, version).exitCode, 1638u);
    }
}

TEST_F(FileActions, SubstWithMissingTargetDirectoryTouchesNothing) {
    installProduct("C:\\TAVRO", 0);
    patchFile("CONF.TXT", "x=\\TAVRO\r\n");
    writeFile("C:\\TAVRO\\CONF.TXT", "y=\\TAVRO\r\n");
    RunResult r = run("SUBST1=TAVRO,CONF.TXT,NOSUB\n");
    EXPECT_EQ(r.err, kNoTarget);
    EXPECT_FALSE(exists("C:\\TAVRO\\NOSUB"));
    EXPECT_EQ(readFile("C:\\TAVRO\\CONF.TXT"), std::optional<std::string>("y=\\TAVRO\r\n"));
}

TEST_F(FileActions, FindFileUpdatesEveryCopyDirectoryFirstAndSkipsDotDirectories) {
    installProduct("C:\\TAVRO", 1);
    patchFile("A.DLL", "patch");
    for (const char *dir : {"C:\\TAVRO\\APP", "C:\\TAVRO\\APP\\S1", "C:\\TAVRO\\APP\\S1\\DEEP", "C:\\TAVRO\\APP\\S2",
                            "C:\\TAVRO\\APP\\.HIDDEN", "C:\\TAVRO\\APP\\NONE"}) {
        makeDirs(dir);
        if (std::string(dir).find("NONE") != std::string::npos) continue;
        writeFile(std::string(dir) + "\\A.DLL", "old");
        setDosTime(std::string(dir) + "\\A.DLL", kOldDate, kOldTime);
    }
    RunResult r = run("FINDFILE1=TAVRO,A.DLL,APP\n");
    EXPECT_EQ(r.err, "");
    for (const char *dir : {"C:\\TAVRO\\APP", "C:\\TAVRO\\APP\\S1", "C:\\TAVRO\\APP\\S1\\DEEP", "C:\\TAVRO\\APP\\S2"})
        EXPECT_EQ(readFile(std::string(dir) + "\\A.DLL"), std::optional<std::string>("patch")) << dir;
    EXPECT_EQ(readFile("C:\\TAVRO\\APP\\.HIDDEN\\A.DLL"), std::optional<std::string>("old"));
    EXPECT_FALSE(exists("C:\\TAVRO\\APP\\NONE\\A.DLL"));
    for (const char *dir : {"C:\\TAVRO\\APP", "C:\\TAVRO\\APP\\S1", "C:\\TAVRO\\APP\\S1\\DEEP", "C:\\TAVRO\\APP\\S2"})
        EXPECT_EQ(readFile(std::string(dir) + "\\A.OLD"), std::optional<std::string>("old")) << dir;
    EXPECT_FALSE(exists("C:\\TAVRO\\APP\\.HIDDEN\\A.OLD"));

    const std::string line = " (older file replaced)\r\n";
    const size_t top = r.out.find("C:\\TAVRO\\APP\\A.DLL" + line);
    const size_t s1 = r.out.find("C:\\TAVRO\\APP\\S1\\A.DLL" + line);
    const size_t deep = r.out.find("C:\\TAVRO\\APP\\S1\\DEEP\\A.DLL" + line);
    const size_t s2 = r.out.find("C:\\TAVRO\\APP\\S2\\A.DLL" + line);
    ASSERT_NE(top, std::string::npos) << r.out;
    ASSERT_NE(s1, std::string::npos) << r.out;
    ASSERT_NE(deep, std::string::npos) << r.out;
    ASSERT_NE(s2, std::string::npos) << r.out;
    EXPECT_EQ(top, kBanner.size());
    EXPECT_LT(s1, deep);
    // A subtree is finished before the next entry: S2 is not between S1 and DEEP.
    EXPECT_FALSE(s2 > s1 && s2 < deep);
    // Nothing printed but the four outcome lines.
    const size_t lines = std::count(r.out.begin(), r.out.end(), '\n');
    EXPECT_EQ(lines, 6u) << r.out;
}

TEST_F(FileActions, FindFileWithoutCopiesChangesNothing) {
    installProduct("C:\\TAVRO", 1);
    patchFile("A.DLL", "patch");
    makeDirs("C:\\TAVRO\\APP\\S1");
    writeFile("C:\\TAVRO\\APP\\S1\\B.DLL", "b");
    RunResult r = run("FINDFILE1=TAVRO,A.DLL,APP\n"
                      "FINDFILE2=TAVRO,A.DLL,NOAPP\n");
    EXPECT_EQ(r.err, kNoTarget);
    EXPECT_EQ(r.out, kBanner + kComplete);
    EXPECT_EQ(listDir("C:\\TAVRO\\APP\\S1"), std::vector<std::string>{"B.DLL"});
    EXPECT_EQ(listDir("C:\\TAVRO\\APP"), std::vector<std::string>{"S1"});
}

TEST_F(FileActions, FindFileGoesOnAfterAFailedCopy) {
    installProduct("C:\\TAVRO", 1);
    // No A.DLL in the patch: every copy found fails, each one reported.
    makeDirs("C:\\TAVRO\\APP\\S1");
    makeDirs("C:\\TAVRO\\APP\\S2");
    for (const char *f : {"C:\\TAVRO\\APP\\A.DLL", "C:\\TAVRO\\APP\\S1\\A.DLL", "C:\\TAVRO\\APP\\S2\\A.DLL"})
        writeFile(f, "old");
    patchFile("B.DLL", "b");
    RunResult r = run("FINDFILE1=TAVRO,A.DLL,APP\n"
                      "FILE1=TAVRO,B.DLL\n");
    const std::string failed = "\r\n\aCannot install the file: " + patch().path("A.DLL") + "\r\n";
    EXPECT_EQ(r.err, failed + failed + failed);
    EXPECT_EQ(r.out, kBanner + outcome("C:\\TAVRO\\B.DLL", "new file installed") + kComplete);
}

TEST_F(FileActions, FindFileLeavesTreesBeyondThePathLimitAlone) {
    installProduct("C:\\TAVRO", 0);
    patchFile("A.DLL", "patch");
    // C:\TAVRO\APP\ then directories of 49 characters down to a directory
    // whose copy still fits, and one level below whose copy would not.
    std::string dir = "C:\\TAVRO\\APP";
    const std::string part(49, 'D');
    while (dir.size() + 1 + part.size() + 1 + 5 <= 259) dir += "\\" + part;
    const std::string fits = dir;             // dir\A.DLL fits
    const std::string tooDeep = dir + "\\" + std::string(254 - dir.size() - 1, 'E');
    ASSERT_GT(tooDeep.size() + 1 + 5, 259u);
    ASSERT_LE(tooDeep.size(), 259u);
    makeDirs(tooDeep);
    ASSERT_TRUE(isDirectory(tooDeep));
    writeFile(fits + "\\A.DLL", "old");
    setDosTime(fits + "\\A.DLL", kOldDate, kOldTime);
    writeFile("C:\\TAVRO\\APP\\A.DLL", "old");
    setDosTime("C:\\TAVRO\\APP\\A.DLL", kOldDate, kOldTime);
    RunResult r = run("FINDFILE1=TAVRO,A.DLL,APP\n"
                      "FILE1=TAVRO,A.DLL\n");
    EXPECT_EQ(r.err, kInvalidLine);
    EXPECT_EQ(readFile("C:\\TAVRO\\APP\\A.DLL"), std::optional<std::string>("patch"));
    EXPECT_EQ(readFile(fits + "\\A.DLL"), std::optional<std::string>("patch"));
    EXPECT_EQ(readFile("C:\\TAVRO\\A.DLL"), std::optional<std::string>("patch"));
    EXPECT_EQ(listDir(tooDeep), std::vector<std::string>{});
}

} // namespace
