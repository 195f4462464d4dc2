// Taking a patch back (-u) and where the machine stands (-s), on the
// example product and kit as Windows 98 and as NT 4: after undo the whole
// machine - every product file with its bytes and date, the INI files byte
// for byte, the registry keys the patch touches, the pending delayed moves
// and WININIT.INI - equals what it was before the patch, with the viewer in
// use and across restarts of Windows. Undo refuses, changing nothing, when a
// later patch is recorded or a file was changed since, unless given twice.
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <sstream>

using namespace e2e;

namespace {

const std::string kSource = E2E_SOURCE_DIR;
const std::string kProductDir = kSource + "\\examples\\product";
const std::string kKitDir = kSource + "\\examples\\patch";
constexpr DWORD kRestartNeeded = 3010;

std::string tvsetupExe() {
    std::string exe = tavupdFaultExe();
    return exe.substr(0, exe.find_last_of('\\')) + "\\TVSETUP.exe";
}

std::string hex(const std::string &bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// A key with everything below it, one line per key and per value (type and
// data in hexadecimal), subkeys in the order the registry lists them sorted.
void exportKey(const std::string &root, const std::string &path, std::vector<std::string> &out) {
    HKEY key;
    if (RegOpenKeyExA(rootKey(root), path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        out.push_back(root + "\\" + path + " (absent)");
        return;
    }
    out.push_back(root + "\\" + path);
    std::vector<std::string> values;
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD nameSize = sizeof name, type = 0, dataSize = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, nullptr, &dataSize) != ERROR_SUCCESS) break;
        std::string data(dataSize, '\0');
        nameSize = sizeof name;
        RegEnumValueA(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE *>(&data[0]), &dataSize);
        data.resize(dataSize);
        values.push_back("  \"" + std::string(name, nameSize) + "\" " + std::to_string(type) + " " + hex(data));
    }
    RegCloseKey(key);
    std::sort(values.begin(), values.end());
    out.insert(out.end(), values.begin(), values.end());
    std::vector<std::string> subkeys = regSubKeys(root, path);
    std::sort(subkeys.begin(), subkeys.end());
    for (const std::string &sub : subkeys) exportKey(root, path + "\\" + sub, out);
}

std::string stampOf(const std::string &path) {
    WORD d = 0, t = 0;
    if (!getDosTime(path, d, t)) return "?";
    return std::to_string(d) + "/" + std::to_string(t);
}

// Files and directories below `dir`, each file with its date and bytes.
void exportTree(const std::string &dir, std::vector<std::string> &out) {
    std::vector<std::string> names = listDir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        const std::string path = dir + "\\" + name;
        if (isDirectory(path)) {
            out.push_back(path + "\\");
            exportTree(path, out);
        } else {
            out.push_back(path + " " + stampOf(path) + " " + std::to_string(readFile(path).value_or("").size()) +
                          " " + std::to_string(std::hash<std::string>()(readFile(path).value_or(""))));
        }
    }
}

// The machine as far as the example patch can touch it.
std::vector<std::string> snapshot() {
    std::vector<std::string> s;
    exportTree("C:\\TAVRO", s);
    const std::string win = windowsDir();
    for (const char *file : {"TAVRO.INI", "WIN.INI", "WININIT.INI", "SYSTEM\\TVPRINT.DRV", "SYSTEM\\TVPRINT.OLD",
                             "SYSTEM32\\TVPRNT32.DRV", "SYSTEM32\\TVPRNT32.OLD"}) {
        const std::string path = win + "\\" + file;
        const std::optional<std::string> bytes = readFile(path);
        s.push_back(std::string(file) + (bytes ? " " + stampOf(path) + " " + *bytes : std::string(" (absent)")));
    }
    exportKey("HKLM", "SOFTWARE\\Korvek", s);
    exportKey("HKCU", "Software\\Korvek", s);
    exportKey("HKCR", ".tvr", s);
    for (const auto &move : pendingMoves()) s.push_back("pending " + move.first + " -> " + move.second);
    return s;
}

// The first difference of two snapshots, for the failure message.
std::string difference(const std::vector<std::string> &before, const std::vector<std::string> &after) {
    for (size_t i = 0; i < std::max(before.size(), after.size()); ++i) {
        const std::string a = i < before.size() ? before[i] : "(none)";
        const std::string b = i < after.size() ? after[i] : "(none)";
        if (a != b) return "before: " + a + "\n after: " + b;
    }
    return "";
}

class Undo : public ::testing::Test {
  protected:
    // The example product installed, the kit in C:\E2E\EXAMPLE without the
    // restart question.
    void install(bool faultBuild = false) {
        resetMachine();
        win = windowsDir();
        reinstallProduct();
        kit = std::make_unique<PatchDir>("EXAMPLE", faultBuild);
        ASSERT_TRUE(copyKit(kKitDir, *kit));
        std::string profile = readFile(kit->path("TAVUPD.DAT")).value_or("");
        const std::string setting = "Reboot Program=RESTARTER.EXE";
        const size_t at = profile.find(setting);
        ASSERT_NE(at, std::string::npos);
        profile.replace(at, setting.size(), "Reboot Program=");
        writeFile(kit->path("TAVUPD.DAT"), profile);
    }

    // The product as TVSETUP leaves it, whatever an earlier try left.
    static void reinstallProduct() {
        clearPendingMoves();
        RunResult setup = runProgram(tvsetupExe(), {"install", kProductDir + "\\PRODUCT.LST"});
        ASSERT_EQ(setup.exitCode, 0u) << setup.err;
    }

    RunResult run(const std::string &version, const std::vector<std::string> &args = {},
                  const std::vector<std::string> &env = {}) {
        return runTavupd(*kit, args, version, 120000, env);
    }
    RunResult runHoldingViewer(const std::string &version, const std::vector<std::string> &args = {},
                               const std::vector<std::string> &env = {}) {
        FileLock viewer("C:\\TAVRO\\TVVIEW.EXE", /*shareRead*/ true);
        EXPECT_TRUE(viewer.locked());
        return run(version, args, env);
    }

    // How many platform calls a run of the fault build makes.
    unsigned long callsOf(const std::string &version, const std::vector<std::string> &args) {
        const std::string countFile = "C:\\E2E\\UNDOCNT.TXT";
        DeleteFileA(countFile.c_str());
        RunResult r = runHoldingViewer(version, args, {"TAVUPD_CALL_COUNT_FILE=" + countFile});
        EXPECT_NE(r.exitCode, 1u) << r.out << r.err;
        return std::strtoul(readFile(countFile).value_or("0").c_str(), nullptr, 10);
    }

    std::string win;
    std::unique_ptr<PatchDir> kit;
};

TEST_F(Undo, ViewerInUseApplyThenUndoLeavesTheMachineAsBefore) {
    for (const char *version : {"win98", "nt40"}) {
        SCOPED_TRACE(version);
        install();
        ASSERT_FALSE(HasFatalFailure());
        const std::vector<std::string> before = snapshot();
        // The whole machine as well, but for the log the runs write and the
        // Windows version the harness gives each run.
        const std::vector<std::string> leaveOut = {kit->path("TAVUPD.LOG"), "HKCU\\Software\\Wine\\AppDefaults"};
        const std::map<std::string, std::string> machineBefore = snapshotMachine(leaveOut, /*exactTimes*/ false);

        RunResult applied = runHoldingViewer(version);
        ASSERT_EQ(applied.exitCode, kRestartNeeded) << applied.out << applied.err;
        // The journal and the copies of what the patch replaced.
        const std::optional<std::string> journal = readFile("C:\\TAVRO\\ARCHIVE\\TP2001.JNL");
        ASSERT_TRUE(journal);
        EXPECT_EQ(journal->rfind("TAVUPD JOURNAL 1\r\n", 0), 0u);
        EXPECT_NE(journal->find("file-removed"), std::string::npos) << "the erased TVTIPS.TXT";
        EXPECT_NE(journal->find("restart-registered"), std::string::npos) << "the viewer in use";
        EXPECT_FALSE(listDir("C:\\TAVRO\\ARCHIVE\\UNDO\\TP2001").empty());

        // Where the machine stands: the patch, its journal, the viewer
        // waiting. Asking changes nothing, not even the log.
        const std::map<std::string, std::string> standing = snapshotMachine({"HKCU\\Software\\Wine\\AppDefaults"});
        RunResult status = run(version, {"-s"});
        EXPECT_EQ(differences(standing, snapshotMachine({"HKCU\\Software\\Wine\\AppDefaults"})), "");
        EXPECT_EQ(status.exitCode, kRestartNeeded) << status.out << status.err;
        EXPECT_NE(status.out.find("Patch0=TP2001 (" + message(49) + ")"), std::string::npos) << status.out;
        EXPECT_NE(status.out.find("C:\\TAVRO\\TVVIEW.EXE <- "), std::string::npos) << status.out;
        EXPECT_NE(status.out.find(", TP2001]"), std::string::npos) << "known as the patch's own: " << status.out;
        EXPECT_NE(status.out.find(message(53)), std::string::npos);

        RunResult undone = runHoldingViewer(version, {"-u"});
        EXPECT_EQ(undone.exitCode, 0u) << undone.out << undone.err;
        EXPECT_NE(undone.out.find(message(41)), std::string::npos) << undone.out;
        const std::vector<std::string> after = snapshot();
        EXPECT_TRUE(after == before) << difference(before, after);
        EXPECT_EQ(differences(machineBefore, snapshotMachine(leaveOut, false)), "");

        // Nothing waits any more, nothing is installed; undo again: nothing to do.
        status = run(version, {"-s"});
        EXPECT_EQ(status.exitCode, 0u) << status.out;
        EXPECT_EQ(status.out.find(message(53)), std::string::npos) << status.out;
        RunResult again = run(version, {"-u"});
        EXPECT_EQ(again.exitCode, 1605u) << again.out << again.err;
        EXPECT_TRUE(snapshot() == before) << difference(before, snapshot());
    }
}

TEST_F(Undo, ApplyRestartUndoRestartLeavesTheMachineAsBefore) {
    for (const char *version : {"win98", "nt40"}) {
        SCOPED_TRACE(version);
        install();
        ASSERT_FALSE(HasFatalFailure());
        const std::vector<std::string> before = snapshot();

        RunResult applied = runHoldingViewer(version);
        ASSERT_EQ(applied.exitCode, kRestartNeeded) << applied.out << applied.err;
        restartWindows();
        ASSERT_EQ(readFile("C:\\TAVRO\\TVVIEW.EXE"), readFile(kKitDir + "\\TVVIEW.EXE"));

        // The viewer in use again: its old bytes go back at the next start.
        RunResult undone = runHoldingViewer(version, {"-u"});
        EXPECT_EQ(undone.exitCode, kRestartNeeded) << undone.out << undone.err;
        RunResult status = run(version, {"-s"});
        EXPECT_EQ(status.exitCode, kRestartNeeded) << status.out;
        restartWindows();
        const std::vector<std::string> after = snapshot();
        EXPECT_TRUE(after == before) << difference(before, after);
    }
}

TEST_F(Undo, RefusesWhenALaterPatchIsRecordedAndChangesNothing) {
    install();
    ASSERT_FALSE(HasFatalFailure());
    RunResult applied = run("nt40");
    ASSERT_EQ(applied.exitCode, 0u) << applied.out << applied.err;
    // A later patch on record after this one.
    std::string system = readFile(win + "\\TAVRO.INI").value_or("");
    system += "\r\nPatch1=TP2002\r\n";
    writeFile(win + "\\TAVRO.INI", system);
    const std::vector<std::string> before = snapshot();

    RunResult refused = run("nt40", {"-u"});
    EXPECT_EQ(refused.exitCode, 2u) << refused.out << refused.err;
    EXPECT_NE(refused.err.find(message(43) + ": TP2002"), std::string::npos) << refused.err;
    EXPECT_TRUE(snapshot() == before) << difference(before, snapshot());
}

TEST_F(Undo, RefusesAFileChangedSinceUnlessGivenTwice) {
    for (const char *version : {"win98", "nt40"}) {
        SCOPED_TRACE(version);
        install();
        ASSERT_FALSE(HasFatalFailure());
        const std::vector<std::string> pristine = snapshot();
        RunResult applied = run(version);
        ASSERT_NE(applied.exitCode, 1u) << applied.out << applied.err;
        // Something else changes a file the patch installed.
        writeFile("C:\\TAVRO\\BIN\\TVCORE.DLL", "changed by someone else");
        const std::vector<std::string> before = snapshot();

        RunResult refused = run(version, {"-u"});
        EXPECT_EQ(refused.exitCode, 3u) << refused.out << refused.err;
        EXPECT_NE(refused.err.find(message(44)), std::string::npos) << refused.err;
        EXPECT_NE(refused.out.find("C:\\TAVRO\\BIN\\TVCORE.DLL"), std::string::npos) << "names the file: " << refused.out;
        EXPECT_TRUE(snapshot() == before) << difference(before, snapshot());

        // Given twice: undo goes on, and the machine is as before the patch.
        RunResult forced = run(version, {"-u", "-u"});
        EXPECT_EQ(forced.exitCode, 0u) << forced.out << forced.err;
        const std::vector<std::string> after = snapshot();
        EXPECT_TRUE(after == pristine) << difference(pristine, after);
    }
}

TEST_F(Undo, AJournalThatCannotBeWrittenStopsTheChangesItWouldRecord) {
    install();
    ASSERT_FALSE(HasFatalFailure());
    // A directory where the journal file would go: it cannot be opened.
    makeDirs("C:\\TAVRO\\ARCHIVE\\TEMP");
    makeDirs("C:\\TAVRO\\ARCHIVE\\TP2001.JNL");
    const std::string viewer = readFile("C:\\TAVRO\\TVVIEW.EXE").value_or("");
    RunResult r = run("nt40");
    EXPECT_NE(r.exitCode, 0u);
    EXPECT_NE(r.err.find(message(39) + ": C:\\TAVRO\\ARCHIVE\\TP2001.JNL"), std::string::npos) << r.err;
    // No file of the product was changed, and the patch is not recorded.
    EXPECT_EQ(readFile("C:\\TAVRO\\TVVIEW.EXE"), viewer);
    EXPECT_TRUE(exists("C:\\TAVRO\\TVTIPS.TXT"));
    EXPECT_EQ(readFile(win + "\\TAVRO.INI").value_or("").find("TP2001"), std::string::npos);
}

// A critical error after files were replaced: the report's four lines as
// ever, then one line that says how to take back what was done; undo then
// puts the replaced file back and leaves nothing of the patch.
TEST(UndoAfterCriticalError, ReportEndsWithHowToTakeBackAndUndoDoesSo) {
    resetMachine();
    installProduct("C:\\TAVRO", 0);
    writeFile("C:\\TAVRO\\A.DAT", "old a");
    setDosTime("C:\\TAVRO\\A.DAT", dosDate(1998, 1, 2), dosTime(3, 4, 6));
    PatchDir patch("CRIT");
    patch.writeFile("A.DAT", "new a");
    setDosTime(patch.path("A.DAT"), dosDate(2001, 1, 2), dosTime(3, 4, 6));
    patch.writeProfile(profileWith("FILE1=TAVRO,A.DAT\nINI1=TAVRO,NODIR\\\\X.INI,S,K,V\n", 7, "Patch=CRIT1\n"));
    const std::vector<std::string> before = snapshot();

    RunResult r = runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(readFile("C:\\TAVRO\\A.DAT"), std::optional<std::string>("new a"));
    const std::string tail = " of file tvpprof\r\n"
                             "     Error Number:  21\r\n"
                             "     Error Message: C:\\TAVRO\\NODIR\\X.INI\r\n"
                             "     Size:          0\r\n"
                             "To take back what was done, run: TAVUPD.EXE -u\r\n";
    ASSERT_GE(r.err.size(), tail.size()) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
    EXPECT_EQ(r.err.find("\aCritical ERROR Occured on line "), 0u) << r.err;

    // With another profile, the line names it.
    patch.writeFile("OTHER.DAT", readFile(patch.path("TAVUPD.DAT")).value_or(""));
    RunResult other = runTavupd(patch, {"-p", patch.path("OTHER.DAT")}, "win98");
    EXPECT_NE(other.err.find("TAVUPD.EXE -u -p " + patch.path("OTHER.DAT") + "\r\n"), std::string::npos) << other.err;

    RunResult undone = runTavupd(patch, {"-u"}, "win98");
    EXPECT_EQ(undone.exitCode, 0u) << undone.out << undone.err;
    const std::vector<std::string> after = snapshot();
    EXPECT_TRUE(after == before) << difference(before, after);
}

// The settings and the Windows directory's INI files in their registry form
// (no TAVRO.INI file): undo puts back every value the run set, deleted or
// recorded there, and removes every key it made (a section, and a value
// set three keys below any that was there), on both families.
TEST(UndoRegistryForm, TakesBackTheSettingsTheRecordAndEveryKeyTheRunMade) {
    const std::string settings = "SOFTWARE\\Korvek\\KorvekDSP\\TAVRO.INI";
    const std::string e2eIni = "SOFTWARE\\Korvek\\KorvekDSP\\E2E.INI";
    for (const char *version : {"win98", "nt40"}) {
        SCOPED_TRACE(version);
        resetMachine();
        makeDirs("C:\\TAVRO");
        regSetString("HKLM", settings + "\\Tavro", "root", "C:\\TAVRO");
        regSetString("HKLM", settings + "\\Patch", "Interactive", "0");
        regSetString("HKLM", settings + "\\Install", "Patch0", "EARLIER");
        regSetString("HKLM", e2eIni + "\\Gone", "g", "1");
        regSetString("HKLM", e2eIni + "\\boot", "old", "1");
        PatchDir kit("REGFORM", true);
        kit.writeProfile(profileWith("INI1=WINDOWS,E2E.INI,boot,K,V\n"
                                     "INI2=WINDOWS,E2E.INI,boot,old\n"
                                     "INI3=WINDOWS,E2E.INI,Gone\n"
                                     "INI4=WINDOWS,TAVRO.INI,S,K,\\\\TAVRO\\\\BIN\n"
                                     "REG1=HKLM,SOFTWARE\\\\E2ETest\\\\New\\\\Deep,Name,Value\n",
                                     std::string(version) == "nt40" ? 8 : 7, "Patch=REGFORM1\n"));
        const std::vector<std::string> leaveOut = {kit.path("TAVUPD.LOG"), "HKCU\\Software\\Wine\\AppDefaults"};
        const std::vector<std::string> before = snapshot();
        const std::map<std::string, std::string> machineBefore = snapshotMachine(leaveOut, /*exactTimes*/ false);

        RunResult r = runTavupd(kit, {}, version);
        EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
        EXPECT_EQ(regGetString("HKLM", settings + "\\Install", "Patch1"), std::optional<std::string>("REGFORM1"));
        EXPECT_EQ(regGetString("HKLM", e2eIni + "\\boot", "K"), std::optional<std::string>("V"));
        EXPECT_FALSE(regGetString("HKLM", e2eIni + "\\Gone", "g").has_value());
        EXPECT_FALSE(exists(windowsDir() + "\\TAVRO.INI"));
        EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\E2ETest\\New\\Deep", "Name"), std::optional<std::string>("Value"));

        RunResult undone = runTavupd(kit, {"-u"}, version);
        EXPECT_EQ(undone.exitCode, 0u) << undone.out << undone.err;
        const std::vector<std::string> after = snapshot();
        EXPECT_TRUE(after == before) << difference(before, after);
        EXPECT_EQ(differences(machineBefore, snapshotMachine(leaveOut, false)), "");
    }
    resetMachine();
}

// The cuts of a sweep: about `cuts` calls spread evenly over the run, the
// first and the last included; or the calls TAVUPD_UNDO_CUT_AT lists
// ("38,40,-3": a negative one counts back from the last call), to look at
// one cut again.
std::vector<unsigned long> sweep(unsigned long calls, unsigned long cuts) {
    std::vector<unsigned long> ks;
    if (const char *at = std::getenv("TAVUPD_UNDO_CUT_AT"); at && *at) {
        std::istringstream list(at);
        for (std::string item; std::getline(list, item, ',');) {
            const long k = std::strtol(item.c_str(), nullptr, 10);
            const long resolved = k < 0 ? static_cast<long>(calls) + k : k;
            if (resolved > 0 && resolved < static_cast<long>(calls)) ks.push_back(static_cast<unsigned long>(resolved));
        }
        return ks;
    }
    const unsigned long stride = std::max(1ul, calls / cuts);
    for (unsigned long k = 1; k < calls; k += stride) ks.push_back(k);
    if (calls > 1 && ks.back() != calls - 1) ks.push_back(calls - 1);
    return ks;
}

// How many cuts a sweep makes: 40 spread evenly over the calls, or as many
// as TAVUPD_UNDO_CUTS says; "all" cuts at every call (many minutes under
// Wine: run by hand, not in every test run).
unsigned long cutsPerSweep(unsigned long calls) {
    const char *asked = std::getenv("TAVUPD_UNDO_CUTS");
    if (!asked || !*asked) return 40;
    if (std::string(asked) == "all") return calls;
    const unsigned long n = std::strtoul(asked, nullptr, 10);
    return n == 0 ? 40 : n;
}

std::string listed(const std::vector<unsigned long> &ks) {
    std::string out;
    for (unsigned long k : ks) out += (out.empty() ? "" : ",") + std::to_string(k);
    return out;
}

// A power cut anywhere in the run, then undo: the machine as before the
// patch. The run is cut at an even spread of its calls (every k-th), or at
// every call with TAVUPD_UNDO_CUTS=all.
TEST_F(Undo, PowerCutAnywhereInTheRunThenUndoLeavesTheMachineAsBefore) {
    for (const char *version : {"win98", "nt40"}) {
        SCOPED_TRACE(version);
        install(/*faultBuild*/ true);
        ASSERT_FALSE(HasFatalFailure());
        const unsigned long calls = callsOf(version, {});
        ASSERT_GT(calls, 50u);
        std::vector<unsigned long> failed;
        for (unsigned long k : sweep(calls, cutsPerSweep(calls))) {
            // TVSETUP rewrites WIN.INI: its date is taken anew.
            reinstallProduct();
            const std::vector<std::string> before = snapshot();
            RunResult cut = runHoldingViewer(version, {}, {"TAVUPD_KILL_AT_CALL=" + std::to_string(k)});
            RunResult undone = runHoldingViewer(version, {"-u"});
            const std::vector<std::string> after = snapshot();
            const bool ok = cut.exitCode == 99 && (undone.exitCode == 0 || undone.exitCode == 1605) && after == before;
            if (!ok) failed.push_back(k);
            if (!ok && failed.size() <= 5)
                ADD_FAILURE() << "cut at call " << k << " of " << calls << ": run " << cut.exitCode << ", undo "
                              << undone.exitCode << "\n" << undone.out << undone.err << difference(before, after);
        }
        std::printf("[undo] %s: run of %lu calls cut at %zu points, undone\n", version, calls,
                    sweep(calls, cutsPerSweep(calls)).size());
        EXPECT_TRUE(failed.empty()) << failed.size() << " cuts failed (the first five are shown above): "
                                    << listed(failed);
    }
}

// Undo cut anywhere, then undo again: the machine as before the patch.
TEST_F(Undo, PowerCutAnywhereInUndoThenUndoAgainLeavesTheMachineAsBefore) {
    for (const char *version : {"win98", "nt40"}) {
        SCOPED_TRACE(version);
        install(/*faultBuild*/ true);
        ASSERT_FALSE(HasFatalFailure());
        const std::vector<std::string> pristine = snapshot();
        ASSERT_EQ(runHoldingViewer(version).exitCode, kRestartNeeded);
        const unsigned long calls = callsOf(version, {"-u"});
        ASSERT_GT(calls, 50u);
        ASSERT_TRUE(snapshot() == pristine) << difference(pristine, snapshot());
        std::vector<unsigned long> failed;
        for (unsigned long k : sweep(calls, cutsPerSweep(calls))) {
            reinstallProduct();
            const std::vector<std::string> before = snapshot();
            RunResult applied = runHoldingViewer(version);
            RunResult cut = runHoldingViewer(version, {"-u"}, {"TAVUPD_KILL_AT_CALL=" + std::to_string(k)});
            RunResult again = runHoldingViewer(version, {"-u"});
            const std::vector<std::string> after = snapshot();
            const bool ok = applied.exitCode == kRestartNeeded && cut.exitCode == 99 &&
                            (again.exitCode == 0 || again.exitCode == 1605) && after == before;
            if (!ok) failed.push_back(k);
            if (!ok && failed.size() <= 5)
                ADD_FAILURE() << "undo cut at call " << k << " of " << calls << ": cut " << cut.exitCode
                              << ", undo again " << again.exitCode << "\n" << again.out << again.err
                              << difference(before, after);
        }
        std::printf("[undo] %s: undo of %lu calls cut at %zu points, run again\n", version, calls,
                    sweep(calls, cutsPerSweep(calls)).size());
        EXPECT_TRUE(failed.empty()) << failed.size() << " cuts failed (the first five are shown above): "
                                    << listed(failed);
    }
}

} // namespace
