// COPY, RENAME and ERASE lines run by the real program: files copied, moved
// and erased below one base directory, backups, silently skipped lines,
// reported failures and deferred work on files in use.
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

std::string win(const std::string &rest) { return windowsDir() + "\\" + rest; }

class Local : public ::testing::Test {
  protected:
    void SetUp() override {
        resetMachine();
        patchDir = std::make_unique<PatchDir>("LOCAL");
    }
    RunResult run(const std::string &body, const std::vector<std::string> &args = {},
                  const std::string &version = "win98", int os = 7) {
        patch().writeProfile(profileWith(body, os));
        return runTavupd(patch(), args, version);
    }
    // Made after the machine is reset, which empties C:\E2E.
    std::unique_ptr<PatchDir> patchDir;
    PatchDir &patch() { return *patchDir; }
};

TEST_F(Local, CopyWithinSubdirectoryAndWithLostBackslashes) {
    installProduct("C:\\TAVRO", 1);
    makeDirs(win("E2E\\SYSTEM"));
    writeFile(win("E2E\\SYSTEM\\A.DLL"), "a contents");
    RunResult r = run("COPY1=WINDOWS,E2E\\\\SYSTEM\\\\A.DLL,E2E\\\\SYSTEM\\\\B.DLL\n"
                      "COPY2=WINDOWS,E2E\\SYSTEM\\A.DLL,E2E\\SYSTEM\\C.DLL\n"
                      "COPY3=TAVRO,NOTHERE.DLL,X.DLL\n");
    // COPY prints no outcome line, even when interactive.
    EXPECT_EQ(r.out, kBanner + kComplete);
    EXPECT_EQ(r.err, "\r\n\aCannot install the file: " + win("E2ESYSTEMA.DLL") + "\r\n" +
                         "\r\n\aCannot install the file: C:\\TAVRO\\NOTHERE.DLL\r\n");
    EXPECT_EQ(readFile(win("E2E\\SYSTEM\\B.DLL")), std::optional<std::string>("a contents"));
    EXPECT_EQ(readFile(win("E2E\\SYSTEM\\A.DLL")), std::optional<std::string>("a contents"));
    EXPECT_FALSE(exists(win("E2E\\SYSTEM\\C.DLL")));
    EXPECT_FALSE(exists(win("E2ESYSTEMC.DLL")));
    EXPECT_FALSE(exists("C:\\TAVRO\\X.DLL"));
}

TEST_F(Local, RenameReplacesExistingDestinationWithoutBackup) {
    installProduct("C:\\TAVRO", 0);
    writeFile("C:\\TAVRO\\OLD.EXE", "old exe");
    writeFile("C:\\TAVRO\\NEW.EXE", "previous new");
    makeDirs("C:\\TAVRO\\BIN");
    writeFile("C:\\TAVRO\\MOVE.TXT", "moving");
    RunResult r = run("RENAME1=TAVRO,OLD.EXE,NEW.EXE,1,0\n"
                      "RENAME2=TAVRO,MOVE.TXT,BIN\\\\MOVED.TXT,0,0\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kBanner + kComplete);
    EXPECT_EQ(readFile("C:\\TAVRO\\NEW.EXE"), std::optional<std::string>("old exe"));
    EXPECT_FALSE(exists("C:\\TAVRO\\OLD.EXE"));
    EXPECT_FALSE(exists("C:\\TAVRO\\NEW.OLD"));
    EXPECT_EQ(readFile("C:\\TAVRO\\BIN\\MOVED.TXT"), std::optional<std::string>("moving"));
    EXPECT_FALSE(exists("C:\\TAVRO\\MOVE.TXT"));
}

TEST_F(Local, LinesWithoutNamesAreSkippedSilently) {
    installProduct("C:\\TAVRO", 1);
    writeFile("C:\\TAVRO\\OLD.EXE", "x");
    writeFile("C:\\TAVRO\\GO.TXT", "go");
    RunResult r = run("RENAME1=TAVRO,OLD.EXE\n"
                      "RENAME2=TAVRO,,NEW.EXE\n"
                      "COPY1=TAVRO,OLD.EXE,\n"
                      "COPY2\n"
                      "ERASE1=TAVRO\n"
                      "ERASE2=TAVRO,\n"
                      "ERASE3=TAVRO,GO.TXT,0\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kBanner + kComplete);
    EXPECT_EQ(readFile("C:\\TAVRO\\OLD.EXE"), std::optional<std::string>("x"));
    EXPECT_FALSE(exists("C:\\TAVRO\\NEW.EXE"));
    // The line after the skipped ones still ran.
    EXPECT_FALSE(exists("C:\\TAVRO\\GO.TXT"));
}

TEST_F(Local, EraseWithAndWithoutBackup) {
    // The "Backup" setting is 1 by default; the field overrides it.
    installProduct("C:\\TAVRO", 0);
    makeDirs(win("E2E"));
    writeFile(win("E2E\\OLD.DLL"), "kept");
    writeFile(win("E2E\\GONE.DLL"), "gone");
    writeFile(win("E2E\\ABSENT.OLD"), "untouched");
    RunResult r = run("ERASE1=WINDOWS,E2E\\\\OLD.DLL,1\n"
                      "ERASE2=WINDOWS,E2E\\\\GONE.DLL,0\n"
                      "ERASE3=WINDOWS,E2E\\\\ABSENT.DLL\n");
    EXPECT_EQ(r.err, "");
    // Moved to its backup name at once, the file is erased: no restart.
    EXPECT_EQ(r.out, kBanner + kComplete);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_FALSE(exists(win("WININIT.INI")));
    EXPECT_FALSE(exists(win("E2E\\OLD.DLL")));
    EXPECT_EQ(readFile(win("E2E\\OLD.OLD")), std::optional<std::string>("kept"));
    EXPECT_FALSE(exists(win("E2E\\GONE.DLL")));
    EXPECT_FALSE(exists(win("E2E\\GONE.OLD")));
    // Erasing a file that is not there does nothing.
    EXPECT_EQ(readFile(win("E2E\\ABSENT.OLD")), std::optional<std::string>("untouched"));
}

// ERASE under the default backup setting, then FILE of the same name: the
// erase is done at once, so nothing at the next start of Windows removes the
// new file.
TEST_F(Local, EraseWithBackupThenFileOfTheSameNameKeepsTheNewFile) {
    const std::pair<std::string, int> systems[] = {{"win98", 7}, {"nt40", 8}};
    for (const auto &system : systems) {
        SCOPED_TRACE(system.first);
        SetUp();
        installProduct("C:\\TAVRO", 0);
        writeFile("C:\\TAVRO\\TVX.DLL", "old version");
        patch().writeFile("TVX.DLL", "new version");
        RunResult r = run("ERASE1=TAVRO,TVX.DLL\n"
                          "FILE1=TAVRO,TVX.DLL\n",
                          {}, system.first, system.second);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, kBanner + kComplete);
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_FALSE(exists(win("WININIT.INI")));
        EXPECT_TRUE(pendingMoves().empty());
        EXPECT_EQ(readFile("C:\\TAVRO\\TVX.DLL"), std::optional<std::string>("new version"));
        EXPECT_EQ(readFile("C:\\TAVRO\\TVX.OLD"), std::optional<std::string>("old version"));
        restartWindows();
        EXPECT_EQ(readFile("C:\\TAVRO\\TVX.DLL"), std::optional<std::string>("new version"));
        EXPECT_EQ(readFile("C:\\TAVRO\\TVX.OLD"), std::optional<std::string>("old version"));
    }
}

// RENAME under the default backup setting onto a name not yet taken: there is
// nothing to back up, the file is moved at once and an older backup of that
// name stays.
TEST_F(Local, RenameWithBackupOntoMissingDestinationIsDoneAtOnce) {
    const std::pair<std::string, int> systems[] = {{"win98", 7}, {"nt40", 8}};
    for (const auto &system : systems) {
        SCOPED_TRACE(system.first);
        SetUp();
        installProduct("C:\\TAVRO", 0);
        makeDirs("C:\\TAVRO\\DOCS");
        writeFile("C:\\TAVRO\\NOTES.TXT", "notes");
        writeFile("C:\\TAVRO\\DOCS\\NOTES.OLD", "older notes");
        RunResult r = run("RENAME1=TAVRO,NOTES.TXT,DOCS\\\\NOTES.TXT\n", {}, system.first, system.second);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, kBanner + kComplete);
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_FALSE(exists("C:\\TAVRO\\NOTES.TXT"));
        EXPECT_EQ(readFile("C:\\TAVRO\\DOCS\\NOTES.TXT"), std::optional<std::string>("notes"));
        EXPECT_EQ(readFile("C:\\TAVRO\\DOCS\\NOTES.OLD"), std::optional<std::string>("older notes"));
        EXPECT_FALSE(exists(win("WININIT.INI")));
        EXPECT_TRUE(pendingMoves().empty());
    }
}

// ERASE with backup of a file in use: the backup rename waits for the
// restart, and the deletion is registered after it.
TEST_F(Local, EraseWithBackupOfFileInUseWaitsBehindTheBackupRename) {
    installProduct("C:\\TAVRO", 0);
    writeFile("C:\\TAVRO\\BUSY.DLL", "busy");
    FileLock lock("C:\\TAVRO\\BUSY.DLL");
    ASSERT_TRUE(lock.locked());
    RunResult r = run("ERASE1=TAVRO,BUSY.DLL,1\n");
    lock.release();
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kBanner + kComplete + kRestart);
    EXPECT_EQ(r.exitCode, 3010u);
    EXPECT_EQ(readFile("C:\\TAVRO\\BUSY.DLL"), std::optional<std::string>("busy"));
    EXPECT_EQ(readFile(win("WININIT.INI")),
              std::optional<std::string>("[rename]\r\nC:\\TAVRO\\BUSY.OLD=C:\\TAVRO\\BUSY.DLL\r\n"
                                         "NUL=C:\\TAVRO\\BUSY.DLL\r\n"));
    restartWindows();
    EXPECT_FALSE(exists("C:\\TAVRO\\BUSY.DLL"));
    EXPECT_EQ(readFile("C:\\TAVRO\\BUSY.OLD"), std::optional<std::string>("busy"));
}

TEST_F(Local, EraseOfFileInUseIsDeferredOnWindows98) {
    installProduct("C:\\TAVRO", 0);
    writeFile("C:\\TAVRO\\BUSY.DLL", "busy");
    FileLock lock("C:\\TAVRO\\BUSY.DLL");
    ASSERT_TRUE(lock.locked());
    RunResult r = run("ERASE1=TAVRO,BUSY.DLL,0\n");
    lock.release();
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kBanner + kComplete + kRestart);
    EXPECT_EQ(readFile("C:\\TAVRO\\BUSY.DLL"), std::optional<std::string>("busy"));
    EXPECT_EQ(readFile(win("WININIT.INI")), std::optional<std::string>("[rename]\r\nNUL=C:\\TAVRO\\BUSY.DLL\r\n"));
}

TEST_F(Local, RenameOfFileInUseIsDeferredOnNT4) {
    installProduct("C:\\TAVRO", 0);
    writeFile("C:\\TAVRO\\BUSY.DLL", "busy");
    FileLock lock("C:\\TAVRO\\BUSY.DLL");
    ASSERT_TRUE(lock.locked());
    RunResult r = run("RENAME1=TAVRO,BUSY.DLL,FREE.DLL,0,0\n", {}, "nt40", 8);
    lock.release();
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kBanner + kComplete + kRestart);
    EXPECT_FALSE(exists("C:\\TAVRO\\FREE.DLL"));
    const auto moves = pendingMoves();
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0].first, "C:\\TAVRO\\BUSY.DLL");
    EXPECT_EQ(moves[0].second, "C:\\TAVRO\\FREE.DLL");
}

TEST_F(Local, RestartRequestIsCollectedAfterEachLine) {
    installProduct("C:\\TAVRO", 0);
    writeFile("C:\\TAVRO\\BUSY.DLL", "busy");
    FileLock lock("C:\\TAVRO\\BUSY.DLL");
    ASSERT_TRUE(lock.locked());
    // The deferred erase raises the request; REBOOT=0 withdraws it after
    // that line, so a later plain copy leaves no request behind.
    writeFile("C:\\TAVRO\\A.TXT", "a");
    RunResult r = run("ERASE1=TAVRO,BUSY.DLL,0\n"
                      "REBOOT=0\n"
                      "COPY1=TAVRO,A.TXT,B.TXT\n");
    lock.release();
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kBanner + kComplete);
    EXPECT_EQ(readFile("C:\\TAVRO\\B.TXT"), std::optional<std::string>("a"));
}

TEST_F(Local, UnknownLocationAndOverlongPathsAreRefused) {
    // A deep product directory: a name of 60 characters below it would make
    // a path past 259 characters.
    const std::string root = "C:\\TAVRO\\" + std::string(200, 'P');
    installProduct(root, 0);
    writeFile(root + "\\A.TXT", "a");
    const std::string longName(60, 'N');
    RunResult r = run("COPY1=SYSTEM,A.TXT,B.TXT\n"
                      "RENAME1=,A.TXT,B.TXT\n"
                      "ERASE1=ELSEWHERE,A.TXT\n"
                      "COPY2=TAVRO,A.TXT," + longName + "\n"
                      "RENAME2=TAVRO," + longName + ",A.TXT\n"
                      "ERASE2=TAVRO," + longName + "\n"
                      "COPY3=TAVRO,A.TXT,C.TXT\n");
    EXPECT_EQ(r.out, kBanner + kComplete);
    EXPECT_EQ(r.err, kInvalidLine + kInvalidLine + kInvalidLine + kInvalidLine + kInvalidLine + kInvalidLine);
    EXPECT_EQ(readFile(root + "\\A.TXT"), std::optional<std::string>("a"));
    EXPECT_FALSE(exists(root + "\\B.TXT"));
    EXPECT_EQ(readFile(root + "\\C.TXT"), std::optional<std::string>("a"));
    std::vector<std::string> names = listDir(root);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"A.TXT", "ARCHIVE", "C.TXT"}));
}

TEST_F(Local, DebugTraceOfEachAction) {
    installProduct("C:\\TAVRO", 0);
    writeFile("C:\\TAVRO\\A.TXT", "a");
    RunResult r = run("COPY1=TAVRO,A.TXT,B.TXT\n"
                      "RENAME1=TAVRO,B.TXT,C.TXT,x,0\n"
                      "ERASE1=TAVRO,C.TXT\n",
                      {"-d"});
    EXPECT_EQ(r.err, "");
    const std::string copy = "\tCopy (Local)\r\n"
                             "\t\tcomponent   : TAVRO\r\n"
                             "\t\tsource      : C:\\TAVRO\\A.TXT\r\n"
                             "\t\tdestination : C:\\TAVRO\\B.TXT\r\n"
                             "\t\tbackup      : (null)\r\n"
                             "\t\tbackup val  : 1\r\n"
                             "\t\tforce       : (null)\r\n"
                             "\t\tforce value : 0\r\n";
    const std::string rename = "\tRename (local)\r\n"
                               "\t\tcomponent   : TAVRO\r\n"
                               "\t\tsource      : C:\\TAVRO\\B.TXT\r\n"
                               "\t\tdestination : C:\\TAVRO\\C.TXT\r\n"
                               "\t\tbackup      : 0\r\n"
                               "\t\tbackup val  : 0\r\n"
                               "\t\tforce       : x\r\n"
                               "\t\tforce value : 0\r\n";
    const std::string erase = "\tErase (Local)\r\n"
                              "\t\tcomponent   : TAVRO\r\n"
                              "\t\tfilename    : C:\\TAVRO\\C.TXT\r\n"
                              "\t\tbackup      : (null)\r\n"
                              "\t\tbackup val  : 1\r\n";
    const size_t a = r.out.find(copy), b = r.out.find(rename), c = r.out.find(erase);
    ASSERT_NE(a, std::string::npos) << r.out;
    ASSERT_NE(b, std::string::npos) << r.out;
    ASSERT_NE(c, std::string::npos) << r.out;
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_EQ(readFile("C:\\TAVRO\\A.TXT"), std::optional<std::string>("a"));
    EXPECT_FALSE(exists("C:\\TAVRO\\B.TXT"));
    EXPECT_FALSE(exists("C:\\TAVRO\\C.TXT"));
    EXPECT_EQ(readFile("C:\\TAVRO\\C.OLD"), std::optional<std::string>("a"));
    // The erase with backup was done at once: nothing waits for a restart.
    EXPECT_EQ(r.out.find("Lock Src"), std::string::npos) << r.out;
    EXPECT_FALSE(exists(win("WININIT.INI")));
}

// Source and destination that name the same file, the letter case aside:
// the file is renamed in place at most (copied onto itself: nothing), never
// deleted, and nothing waits for a restart, whatever force and backup say.
TEST_F(Local, RenameOntoTheSameNameKeepsTheFile) {
    const std::pair<std::string, int> systems[] = {{"win98", 7}, {"nt40", 8}};
    for (const auto &system : systems) {
        SCOPED_TRACE(system.first);
        SetUp();
        installProduct("C:\\TAVRO", 0);
        writeFile("C:\\TAVRO\\notes.txt", "notes");
        writeFile("C:\\TAVRO\\DOCS\\A.TXT", "a");
        RunResult r = run("RENAME1=TAVRO,notes.txt,NOTES.TXT,1,0\n"
                          "RENAME2=TAVRO,DOCS\\\\A.TXT,docs\\\\a.txt,1,1\n"
                          "RENAME3=TAVRO,NOTES.TXT,NOTES.TXT\n"
                          "COPY1=TAVRO,NOTES.TXT,notes.txt,1,1\n",
                          {}, system.first, system.second);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, kBanner + kComplete);
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_EQ(readFile("C:\\TAVRO\\NOTES.TXT"), std::optional<std::string>("notes"));
        EXPECT_EQ(readFile("C:\\TAVRO\\DOCS\\A.TXT"), std::optional<std::string>("a"));
        EXPECT_FALSE(exists("C:\\TAVRO\\NOTES.OLD"));
        EXPECT_FALSE(exists("C:\\TAVRO\\DOCS\\A.OLD"));
        EXPECT_FALSE(exists(win("WININIT.INI")));
        EXPECT_TRUE(pendingMoves().empty());
    }
}

// A target whose backup name is its own (K.OLD) is handled without a
// backup, as the debug trace says; nothing is moved onto itself.
TEST_F(Local, TargetThatIsItsOwnBackupKeepsNoBackup) {
    installProduct("C:\\TAVRO", 0);
    writeFile("C:\\TAVRO\\K.OLD", "k");
    writeFile("C:\\TAVRO\\A.TXT", "a");
    writeFile("C:\\TAVRO\\B.OLD", "b");
    writeFile("C:\\TAVRO\\C.TXT", "c");
    RunResult r = run("ERASE1=TAVRO,K.OLD,1\n"
                      "RENAME1=TAVRO,A.TXT,B.OLD,1,1\n"
                      "COPY1=TAVRO,C.TXT,D.OLD,1,1\n",
                      {"-d"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_FALSE(exists("C:\\TAVRO\\K.OLD"));
    EXPECT_EQ(readFile("C:\\TAVRO\\B.OLD"), std::optional<std::string>("a"));
    EXPECT_FALSE(exists("C:\\TAVRO\\A.TXT"));
    EXPECT_EQ(readFile("C:\\TAVRO\\D.OLD"), std::optional<std::string>("c"));
    EXPECT_FALSE(exists(win("WININIT.INI")));
    EXPECT_NE(r.out.find("\t\tNo Backup : C:\\TAVRO\\K.OLD\r\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\t\tNo Backup : C:\\TAVRO\\B.OLD\r\n"), std::string::npos) << r.out;
    // COPY onto a missing D.OLD has nothing to back up.
    EXPECT_EQ(r.out.find("No Backup : C:\\TAVRO\\D.OLD"), std::string::npos) << r.out;
}

// RENAME of A.OLD onto an existing A.TXT with backup would make the backup
// of A.TXT over A.OLD itself: refused, both files kept.
TEST_F(Local, RenameWhoseBackupWouldReplaceTheSourceIsRefused) {
    installProduct("C:\\TAVRO", 0);
    writeFile("C:\\TAVRO\\VIEW.OLD", "previous");
    writeFile("C:\\TAVRO\\VIEW.EXE", "current");
    RunResult r = run("RENAME1=TAVRO,VIEW.OLD,VIEW.EXE,0,1\n");
    EXPECT_EQ(r.err, "\r\n\a" + message(29) + ": C:\\TAVRO\\VIEW.OLD\r\n");
    EXPECT_EQ(r.out, kBanner + kComplete);
    EXPECT_EQ(r.exitCode, 1603u);
    EXPECT_EQ(readFile("C:\\TAVRO\\VIEW.OLD"), std::optional<std::string>("previous"));
    EXPECT_EQ(readFile("C:\\TAVRO\\VIEW.EXE"), std::optional<std::string>("current"));
    EXPECT_FALSE(exists(win("WININIT.INI")));
}

// Only a file that exists and is in use waits for the restart. A missing
// source, a missing destination directory and a wildcard name are reported
// and register nothing, so no restart is asked for.
TEST_F(Local, FailuresThatARestartCannotMendAreReportedNotRegistered) {
    const std::pair<std::string, int> systems[] = {{"win98", 7}, {"nt40", 8}};
    for (const auto &system : systems) {
        SCOPED_TRACE(system.first);
        SetUp();
        installProduct("C:\\TAVRO", 0);
        makeDirs("C:\\TAVRO\\DOCS");
        writeFile("C:\\TAVRO\\A.TXT", "a");
        writeFile("C:\\TAVRO\\B.TXT", "b");
        RunResult r = run("RENAME1=TAVRO,NOSUCH.TXT,DOCS\\\\NOSUCH.TXT,0,0\n"
                          "RENAME2=TAVRO,A.TXT,NODIR\\\\A.TXT,0,0\n"
                          "ERASE1=TAVRO,*.TXT,0\n"
                          "RENAME3=TAVRO,B.TXT,B?.TXT,0,0\n"
                          "COPY1=TAVRO,A.TXT,NODIR\\\\C.TXT,0,0\n"
                          "ERASE2=TAVRO,NODIR\\\\A.TXT,0\n",
                          {}, system.first, system.second);
        EXPECT_EQ(r.err, "\r\n\a" + message(29) + ": C:\\TAVRO\\NOSUCH.TXT\r\n" +
                             "\r\n\a" + message(29) + ": C:\\TAVRO\\NODIR\\A.TXT\r\n" + kInvalidLine + kInvalidLine +
                             "\r\n\a" + message(30) + ": C:\\TAVRO\\NODIR\\C.TXT\r\n");
        EXPECT_EQ(r.out, kBanner + kComplete);
        EXPECT_EQ(r.exitCode, 1603u);
        EXPECT_EQ(readFile("C:\\TAVRO\\A.TXT"), std::optional<std::string>("a"));
        EXPECT_EQ(readFile("C:\\TAVRO\\B.TXT"), std::optional<std::string>("b"));
        EXPECT_FALSE(exists("C:\\TAVRO\\NODIR"));
        EXPECT_FALSE(exists(win("WININIT.INI")));
        EXPECT_TRUE(pendingMoves().empty());
    }
}

// The file calls of COPY, RENAME and ERASE are made to fail once, in turn,
// in the fault build on NT 4. The files to rename and erase are in use, so
// their work is deferred, and a refused deferral is an Error of the
// primitive: it is reported with the action's own message and the run goes
// on to its end.
TEST(LocalFaults, FailingPrimitivesAreReportedByTheirAction) {
    const std::string body = "RENAME1=TAVRO,A.TXT,B.TXT,0,0\n"
                             "ERASE1=TAVRO,C.TXT,0\n"
                             "COPY1=TAVRO,D.TXT,E.TXT,0,0\n";
    auto prepare = [&]() {
        resetMachine();
        installProduct("C:\\TAVRO", 0);
        for (const char *f : {"A.TXT", "C.TXT", "D.TXT"}) writeFile(std::string("C:\\TAVRO\\") + f, f);
        auto dir = std::make_unique<PatchDir>("LOCALFAULT", true);
        dir->writeProfile(profileWith(body, 8));
        return dir;
    };
    auto dir = prepare();
    const std::string traceFile = dir->path("CALLS.TXT");
    std::vector<std::unique_ptr<FileLock>> locks;
    auto lockFiles = [&]() {
        locks.clear();
        locks.push_back(std::make_unique<FileLock>("C:\\TAVRO\\A.TXT"));
        locks.push_back(std::make_unique<FileLock>("C:\\TAVRO\\C.TXT"));
    };
    lockFiles();
    RunResult clean = runTavupd(*dir, {}, "nt40", 60000, {"TAVUPD_CALL_TRACE_FILE=" + traceFile});
    locks.clear();
    ASSERT_EQ(clean.err, "");
    ASSERT_EQ(clean.out, kBanner + kComplete + kRestart);
    ASSERT_EQ(pendingMoves().size(), 2u);
    ASSERT_EQ(readFile("C:\\TAVRO\\E.TXT"), std::optional<std::string>("D.TXT"));
    const auto trace = readFile(traceFile);
    ASSERT_TRUE(trace.has_value());

    std::vector<unsigned long> fileCalls;
    size_t pos = 0;
    while (pos < trace->size()) {
        size_t end = trace->find('\n', pos);
        if (end == std::string::npos) end = trace->size();
        std::string line = trace->substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        const std::string name = line.substr(space + 1);
        if (name == "MoveFileA" || name == "MoveFileExA" || name == "DeleteFileA" || name == "CreateFileA" ||
            name == "ReadFile" || name == "WriteFile" || name == "SetDosFileTime")
            fileCalls.push_back(std::stoul(line.substr(0, space)));
    }
    ASSERT_GE(fileCalls.size(), 4u);

    const std::string renameFailed = "\r\n\aCannot rename the file: C:\\TAVRO\\A.TXT\r\n";
    const std::string eraseFailed = "\r\n\aCannot erase the file: C:\\TAVRO\\C.TXT\r\n";
    const std::string copyFailed = "\r\n\aCannot install the file: C:\\TAVRO\\";
    bool sawRename = false, sawErase = false, sawCopy = false;
    for (unsigned long k : fileCalls) {
        dir = prepare();
        lockFiles();
        RunResult r = runTavupd(*dir, {}, "nt40", 60000, {"TAVUPD_FAULT_CALL=" + std::to_string(k)});
        locks.clear();
        ASSERT_FALSE(r.timedOut) << k;
        EXPECT_LT(r.exitCode, 0x80000000u) << "call " << k;
        const bool rename = r.err.find(renameFailed) != std::string::npos;
        const bool erase = r.err.find(eraseFailed) != std::string::npos;
        const bool copy = r.err.find(copyFailed) != std::string::npos;
        sawRename |= rename;
        sawErase |= erase;
        sawCopy |= copy;
        if (rename || erase || copy) {
            EXPECT_NE(r.out.find(kComplete), std::string::npos) << "call " << k << r.err;
            // The lines after the failing one still ran.
            if (rename || erase) {
                EXPECT_EQ(readFile("C:\\TAVRO\\E.TXT"), std::optional<std::string>("D.TXT")) << k;
            }
        }
    }
    EXPECT_TRUE(sawRename);
    EXPECT_TRUE(sawErase);
    EXPECT_TRUE(sawCopy);
}

} // namespace
