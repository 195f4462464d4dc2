// Interrupted runs: the fault build ends itself abruptly at the k-th platform
// call (TAVUPD_KILL_AT_CALL), as a power cut at that point would, during a
// patch that rewrites INI files, copies files of several megabytes, installs
// a file with SUBST and registers a replacement in WININIT.INI. After every
// such cut each INI file still reads whole (old or new content) and each
// product path holds the old file, its backup or the new file, never a part
// of one nor an unexpanded SUBST copy; after the restart the registrations
// leave the same. A run after a cut finishes the SUBST and leaves no work
// file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

using namespace e2e;

namespace {

const std::string kProduct = "C:\\TAVRO";
const std::string kTraceFile = "C:\\E2E\\CUTTRC.TXT";
const std::string kCountFile = "C:\\E2E\\CUTCNT.TXT";
const std::string kTempDir = "C:\\E2E\\CUTTMP"; // TEMP of the runs: never used

const WORD kOldDate = dosDate(2001, 2, 3);
const WORD kOldTime = dosTime(4, 5, 6);
const WORD kNewDate = dosDate(2011, 5, 6);
const WORD kNewTime = dosTime(7, 8, 10);

std::string replaceOnce(std::string text, const std::string &from, const std::string &to) {
    const size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

struct Cut {
    // Product files: (path below the product, allowed contents).
    const std::string big1Old = blob("big1 old", 2 * 1024 * 1024 + 77);
    const std::string big1New = blob("big1 new", 2 * 1024 * 1024 + 1234);
    const std::string big2New = blob("big2 new", 3 * 1024 * 1024 + 5);
    const std::string lockedOld = blob("locked old", 40000);
    const std::string lockedNew = blob("locked new", 50000);
    const std::string reportOld = "report 2.0\r\n";
    const std::string reportPatch = "data=\\TAVRO\\DATA\r\nwin=\\WINDOWS\r\n" + std::string(3000, 'r') + "\r\n";
    std::string reportExpanded() const {
        return "data=C:\\TAVRO\\DATA\r\nwin=" + windowsDir() + "\r\n" + std::string(3000, 'r') + "\r\n";
    }

    const std::string systemIni0 =
        "[Tavro]\r\nroot=C:\\TAVRO\r\nVersion=2.0\r\n\r\n[Patch]\r\nInteractive=1\r\n\r\n[Install]\r\nPatch0=EARLIER\r\n";
    const std::string settings0 = "[Display]\r\nFont=Courier\r\nSize=10\r\n\r\n[Other]\r\nA=1\r\n";
    const std::string e2e0 = "[Sec]\r\nKey=old\r\n\r\n[Keep]\r\nK=1\r\n";

    std::string profile() const {
        return "[Patch]\n"
               "Backup=1\n"
               "Patch=CUT1\n"
               "Condition0=MAIN,7,0,Tavro,root,x\n"
               "\n"
               "[MAIN]\n"
               "INI1=WINDOWS,TAVRO.INI,Tavro,Version,2.1\n"
               "INI2=TAVRO,SETTINGS.INI,Display,Font,Arial\n"
               "FILE1=TAVRO,BIG1.DAT\n"
               "FILE2=TAVRO,BIG2.DAT,BIN\n"
               "SUBST1=TAVRO,REPORT.CFG\n"
               "FILE3=TAVRO,LOCKED.DLL\n"
               "INI3=WINDOWS,E2E.INI,Sec,Key,new\n"
               "COPY1=TAVRO,BIG1.DAT,ARCHIVE\\\\BIG1.SAV,1,0\n";
    }

    void writePatch(const PatchDir &patch) const {
        patch.writeProfile(profile());
        auto put = [&](const std::string &name, const std::string &bytes) {
            patch.writeFile(name, bytes);
            setDosTime(patch.path(name), kNewDate, kNewTime);
        };
        put("BIG1.DAT", big1New);
        put("BIG2.DAT", big2New);
        put("LOCKED.DLL", lockedNew);
        put("REPORT.CFG", reportPatch);
    }

    void prepareMachine() const {
        removeTree(kProduct);
        removeTree(kTempDir);
        makeDirs(kTempDir);
        const std::string win = windowsDir();
        for (const char *f : {"TAVRO.INI", "WININIT.INI", "E2E.INI"}) {
            const std::string p = win + "\\" + f;
            SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(p.c_str());
        }
        for (const auto &name : listDir(win))
            if (name.rfind("~TV", 0) == 0) DeleteFileA((win + "\\" + name).c_str());
        clearPendingMoves();
        writeFile(win + "\\TAVRO.INI", systemIni0);
        writeFile(win + "\\E2E.INI", e2e0);
        auto put = [](const std::string &path, const std::string &bytes) {
            writeFile(path, bytes);
            setDosTime(path, kOldDate, kOldTime);
        };
        put(kProduct + "\\BIG1.DAT", big1Old);
        makeDirs(kProduct + "\\BIN");
        put(kProduct + "\\LOCKED.DLL", lockedOld);
        put(kProduct + "\\REPORT.CFG", reportOld);
        writeFile(kProduct + "\\SETTINGS.INI", settings0);
    }
};

class Verdict {
  public:
    Verdict(const Cut &c, const std::string &systemFinal) : c_(c) {
        systemStates_ = {c.systemIni0, replaceOnce(c.systemIni0, "Version=2.0", "Version=2.1"), systemFinal};
        settingsStates_ = {c.settings0, replaceOnce(c.settings0, "Font=Courier", "Font=Arial")};
        e2eStates_ = {c.e2e0, replaceOnce(c.e2e0, "Key=old", "Key=new")};
    }

    // `restarted`: the registrations have been carried out.
    void check(std::vector<std::string> &v, bool restarted) const {
        const std::string win = windowsDir();
        const std::string p = kProduct + "\\";
        ini(v, win + "\\TAVRO.INI", systemStates_);
        ini(v, p + "SETTINGS.INI", settingsStates_);
        ini(v, win + "\\E2E.INI", e2eStates_);
        if (!restarted) {
            // WININIT.INI is whole: every line of [rename] names a target and
            // a source, and the file has nothing else.
            if (const auto text = readFile(win + "\\WININIT.INI")) {
                std::istringstream lines(*text);
                std::string line;
                bool header = false;
                while (std::getline(lines, line)) {
                    if (!line.empty() && line.back() == '\r') line.pop_back();
                    if (line == "[rename]") {
                        header = true;
                        continue;
                    }
                    if (line.empty()) continue;
                    const size_t eq = line.find('=');
                    if (!header || eq == std::string::npos || eq == 0 || eq + 1 == line.size() ||
                        line.find(":\\", eq) != eq + 2)
                        v.push_back("WININIT.INI line not whole: " + line);
                }
            }
        }

        // BIG1: old or new at its path; while a replacement is under way the
        // old one may sit at the backup path alone.
        const auto big1 = readFile(p + "BIG1.DAT");
        const auto big1Backup = readFile(p + "BIG1.OLD");
        if (big1Backup && *big1Backup != c_.big1Old) v.push_back("BIG1.OLD is not the old file");
        if (big1) {
            if (*big1 != c_.big1Old && *big1 != c_.big1New)
                v.push_back("BIG1.DAT cut: " + std::to_string(big1->size()) + " bytes");
        } else if (!big1Backup) {
            v.push_back("BIG1.DAT lost with no backup");
        }
        whole(v, p + "BIN\\BIG2.DAT", {c_.big2New});
        whole(v, p + "ARCHIVE\\BIG1.SAV", {c_.big1Old, c_.big1New});
        const auto locked = readFile(p + "LOCKED.DLL");
        const auto lockedBackup = readFile(p + "LOCKED.OLD");
        if (lockedBackup && *lockedBackup != c_.lockedOld) v.push_back("LOCKED.OLD is not the old file");
        if (locked) {
            if (*locked != c_.lockedOld && *locked != c_.lockedNew) v.push_back("LOCKED.DLL cut");
        } else if (!lockedBackup) {
            v.push_back("LOCKED.DLL lost with no backup");
        }
        // SUBST: the old file or the expanded one, never the patch's own
        // text; while the copy is under way the old one may sit at the
        // backup path alone. The TEMP directory is never used.
        const auto report = readFile(p + "REPORT.CFG");
        const auto reportBackup = readFile(p + "REPORT.OLD");
        if (reportBackup && *reportBackup != c_.reportOld) v.push_back("REPORT.OLD is not the old file");
        if (report) {
            if (*report != c_.reportOld && *report != c_.reportExpanded())
                v.push_back("REPORT.CFG is neither old nor expanded (" + std::to_string(report->size()) + " bytes)");
        } else if (!reportBackup) {
            v.push_back("REPORT.CFG lost with no backup");
        }
        if (!listDir(kTempDir).empty()) v.push_back("a file was left in the TEMP directory");
        // A staged replacement registered for the restart is whole.
        for (const auto &line : wininitRenames()) {
            if (_stricmp(line.first.c_str(), "NUL") == 0) continue;
            const auto staged = readFile(line.second);
            if (staged && *staged != c_.lockedNew && *staged != c_.lockedOld && *staged != c_.big1Old &&
                *staged != c_.big1New && *staged != c_.big2New)
                v.push_back("registered replacement " + line.second + " is not whole");
        }
    }

  private:
    static void ini(std::vector<std::string> &v, const std::string &path, const std::set<std::string> &states) {
        const auto text = readFile(path);
        if (!text || !states.count(*text)) v.push_back(path + " is neither old nor new: " + text.value_or("(missing)"));
    }
    static void whole(std::vector<std::string> &v, const std::string &path, const std::vector<std::string> &allowed) {
        const auto text = readFile(path);
        if (text && std::find(allowed.begin(), allowed.end(), *text) == allowed.end())
            v.push_back(path + " cut: " + std::to_string(text->size()) + " bytes");
    }
    const Cut &c_;
    std::set<std::string> systemStates_, settingsStates_, e2eStates_;
};

// Every call that is not a read or write of the bulk copies, and every
// `stride`-th of those.
std::vector<unsigned long> cutPoints(const std::vector<std::string> &names, unsigned long stride) {
    std::vector<unsigned long> ks;
    unsigned long bulk = 0;
    for (unsigned long k = 1; k < names.size(); ++k) {
        const bool io = names[k] == "ReadFile" || names[k] == "WriteFile";
        if (!io || bulk++ % stride == 0) ks.push_back(k);
    }
    return ks;
}

TEST(Interrupt, PowerCutAtAnyCallLeavesIniFilesAndProductFilesWhole) {
    resetMachine();
    Cut cut;
    PatchDir patch("CUT", /*useFaultBuild*/ true);
    cut.writePatch(patch);

    // Clean run with the file in use: the replacement goes to WININIT.INI.
    cut.prepareMachine();
    RunResult clean;
    {
        FileLock lock(kProduct + "\\LOCKED.DLL");
        ASSERT_TRUE(lock.locked());
        clean = runTavupd(patch, {}, "win98", 120000,
                          {"TEMP=" + kTempDir, "TAVUPD_CALL_TRACE_FILE=" + kTraceFile,
                           "TAVUPD_CALL_COUNT_FILE=" + kCountFile});
    }
    ASSERT_FALSE(clean.timedOut);
    ASSERT_EQ(clean.err, "");
    ASSERT_EQ(clean.exitCode, 3010u) << clean.out;
    ASSERT_FALSE(wininitRenames().empty()) << "the locked file was not deferred";
    std::vector<std::string> names(1, "");
    {
        std::istringstream trace(readFile(kTraceFile).value_or(""));
        unsigned long number = 0;
        std::string name;
        while (trace >> number >> name) names.push_back(name);
    }
    const unsigned long n = std::strtoul(readFile(kCountFile).value_or("0").c_str(), nullptr, 10);
    ASSERT_EQ(names.size(), n + 1);
    Verdict verdict(cut, readFile(windowsDir() + "\\TAVRO.INI").value_or(""));
    {
        std::vector<std::string> v;
        verdict.check(v, false);
        carryOutPendingOperations();
        verdict.check(v, true);
        ASSERT_TRUE(v.empty()) << v.front();
        EXPECT_EQ(readFile(kProduct + "\\LOCKED.DLL"), std::optional<std::string>(cut.lockedNew));
        EXPECT_EQ(readFile(kProduct + "\\BIG1.DAT"), std::optional<std::string>(cut.big1New));
        EXPECT_EQ(readFile(kProduct + "\\REPORT.CFG"), std::optional<std::string>(cut.reportExpanded()));
    }

    // Cut at every bulk read and write when there are few of them (a large
    // transfer buffer makes few), else at an even spread of about 60.
    unsigned long bulkCalls = 0, copyWrites = 0;
    for (const auto &name : names) {
        if (name == "ReadFile" || name == "WriteFile") ++bulkCalls;
        if (name == "WriteFile") ++copyWrites;
    }
    const unsigned long stride = std::max(1ul, bulkCalls / 60);
    const std::vector<unsigned long> ks = cutPoints(names, stride);
    int failures = 0;
    unsigned long cutsMidCopy = 0;
    const auto start = std::chrono::steady_clock::now();
    for (unsigned long k : ks) {
        cut.prepareMachine();
        RunResult r;
        {
            FileLock lock(kProduct + "\\LOCKED.DLL");
            r = runTavupd(patch, {}, "win98", 120000, {"TEMP=" + kTempDir, "TAVUPD_KILL_AT_CALL=" + std::to_string(k)});
        }
        std::vector<std::string> v;
        if (r.timedOut) v.push_back("timed out");
        if (r.exitCode != 99) v.push_back("the run was not cut (status " + std::to_string(r.exitCode) + ")");
        if (names[k] == "WriteFile") ++cutsMidCopy;
        verdict.check(v, false);
        carryOutPendingOperations();
        verdict.check(v, true);
        if (!v.empty()) {
            ++failures;
            std::string all;
            for (const auto &line : v) all += "\n    " + line;
            ADD_FAILURE() << "cut at call " << k << " of " << n << " (" << names[k] << ")" << all;
            if (failures > 30) break;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("[interrupt] N=%lu calls, %zu cut points (%lu inside copies) in %.0f s\n", n, ks.size(), cutsMidCopy,
                seconds);
    // Every write of the copies is a cut point when the stride is 1; else
    // an even share of them.
    ASSERT_GT(copyWrites, 0u);
    if (stride == 1)
        EXPECT_EQ(cutsMidCopy, copyWrites);
    else
        EXPECT_GE(cutsMidCopy, copyWrites / stride / 2);
}

// A SUBST cut short at any of its calls is finished by the next run of the
// patch: the file expanded, the old one kept as its backup, and no work file
// of the cut run left in the product directory or anywhere in TEMP.
TEST(Interrupt, NextRunFinishesAnInterruptedSubstAndRemovesItsWorkFiles) {
    resetMachine();
    const Cut cut;
    PatchDir patch("CUTSUBST", /*useFaultBuild*/ true);
    patch.writeProfile("[Patch]\nBackup=1\nPatch=CUTSUBST\nCondition0=MAIN,7,0,Tavro,root,x\n\n[MAIN]\n"
                       "SUBST1=TAVRO,REPORT.CFG\n");
    patch.writeFile("REPORT.CFG", cut.reportPatch);
    setDosTime(patch.path("REPORT.CFG"), kNewDate, kNewTime);
    const std::string report = kProduct + "\\REPORT.CFG";
    const std::string backup = kProduct + "\\REPORT.OLD";
    auto prepare = [&]() {
        cut.prepareMachine();
        removeTree(kProduct);
        writeFile(report, cut.reportOld);
        setDosTime(report, kOldDate, kOldTime);
    };

    prepare();
    RunResult clean = runTavupd(patch, {}, "win98", 60000, {"TEMP=" + kTempDir, "TAVUPD_CALL_COUNT_FILE=" + kCountFile});
    ASSERT_EQ(clean.err, "");
    ASSERT_EQ(clean.exitCode, 0u) << clean.out;
    ASSERT_EQ(readFile(report), std::optional<std::string>(cut.reportExpanded()));
    const unsigned long n = std::strtoul(readFile(kCountFile).value_or("0").c_str(), nullptr, 10);
    ASSERT_GT(n, 10u);

    int failures = 0;
    unsigned long strays = 0;
    for (unsigned long k = 1; k < n && failures <= 10; ++k) {
        prepare();
        RunResult r = runTavupd(patch, {}, "win98", 60000, {"TEMP=" + kTempDir, "TAVUPD_KILL_AT_CALL=" + std::to_string(k)});
        std::vector<std::string> v;
        if (r.exitCode != 99) v.push_back("the run was not cut (status " + std::to_string(r.exitCode) + ")");
        // Cut: the old file in place, or at its backup name while the copy
        // is under way, or the expanded one; never the patch's own text.
        const auto now = readFile(report);
        if (now && *now != cut.reportOld && *now != cut.reportExpanded()) v.push_back("REPORT.CFG neither old nor expanded");
        if (!now && readFile(backup) != std::optional<std::string>(cut.reportOld)) v.push_back("REPORT.CFG lost");
        for (const auto &f : listFilesBelow(kProduct)) {
            if (isJournalFile(f)) continue;
            if (_stricmp(f.c_str(), report.c_str()) != 0 && _stricmp(f.c_str(), backup.c_str()) != 0) {
                ++strays;
                break;
            }
        }

        RunResult next = runTavupd(patch, {}, "win98", 60000, {"TEMP=" + kTempDir});
        if (next.exitCode != 0 && next.exitCode != 1 && next.exitCode != 1638) v.push_back("next run ended with " + std::to_string(next.exitCode));
        if (readFile(report) != std::optional<std::string>(cut.reportExpanded())) v.push_back("REPORT.CFG not expanded");
        if (readFile(backup) != std::optional<std::string>(cut.reportOld)) v.push_back("REPORT.OLD is not the old file");
        std::vector<std::string> files = listFilesBelow(kProduct);
        files.erase(std::remove_if(files.begin(), files.end(), isJournalFile), files.end());
        std::sort(files.begin(), files.end());
        if (files != std::vector<std::string>{backup, report}) {
            for (const auto &f : files)
                if (f != report && f != backup) v.push_back("left behind: " + f);
        }
        if (!listDir(kTempDir).empty()) v.push_back("a file was left in the TEMP directory");
        if (!v.empty()) {
            ++failures;
            std::string all;
            for (const auto &line : v) all += "\n    " + line;
            ADD_FAILURE() << "cut at call " << k << " of " << n << all;
        }
    }
    std::printf("[interrupt] SUBST: N=%lu calls, %lu cuts left work files that the next run removed\n", n, strays);
    // Some cuts fall while the work file is being written.
    EXPECT_GT(strays, 0u);
}

TEST(Interrupt, CutPointsTakeEveryCallButThinOutBulkReadsAndWrites) {
    const std::vector<std::string> names = {"", "fopen", "ReadFile", "WriteFile", "ReadFile", "WriteFile",
                                            "CloseHandle"};
    const auto ks = cutPoints(names, 2);
    EXPECT_EQ(ks, (std::vector<unsigned long>{1, 2, 4, 6}));
}

} // namespace
