// Fault sweep: a patch that uses every action keyword is run once per
// platform call it makes, with exactly that call made to fail. Whatever
// fails, the program must end with one of its own statuses, report a
// critical error in its exact form, and leave every file it touches whole:
// the old content or the new one, never a cut or lost file, and no registry
// key outside its own changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

using namespace e2e;

namespace {

const std::string kProduct = "C:\\TAVRO";
const std::string kTempDir = "C:\\E2E\\SWEEPTMP"; // TEMP of the runs (substitution scratch)
const std::string kCountFile = "C:\\E2E\\SWEEPCNT.TXT";
const std::string kTraceFile = "C:\\E2E\\SWEEPTRC.TXT";

const WORD kOldDate = dosDate(2001, 2, 3);
const WORD kOldTime = dosTime(4, 5, 6);
const WORD kNewDate = dosDate(2011, 5, 6);
const WORD kNewTime = dosTime(7, 8, 10);

struct Versions {
    std::string oldContent;
    std::string newContent;
};

// The whole patch: its files, the product before it, and what each product
// path may legitimately hold afterwards.
struct Scenario {
    int os = 7;
    std::string version = "win98";

    Versions view{blob("view 2.0", 9000), blob("view 2.1", 10000)};     // FILE over an older one, backup
    Versions core{"", blob("core 2.1", 5000)};                           // FILE, new file in BIN
    Versions filter{blob("filter 2.0", 3000), blob("filter 2.1", 4500)}; // FINDFILE, two copies
    std::string reportOld = "report 2.0\r\n";
    std::string reportPatch = "data=\\TAVRO\\DATA\r\nwin=\\WINDOWS\\SYSTEM\r\nplain line\r\n";
    std::string notes = blob("notes", 700);   // RENAME source
    std::string data = blob("data", 6000);    // COPY source
    std::string tips = blob("tips", 300);     // ERASE with backup

    // An earlier patch is on record: its entry must survive.
    std::string systemIni0 =
        "[Tavro]\r\nroot=C:\\TAVRO\r\nVersion=2.0\r\n\r\n[Patch]\r\nInteractive=1\r\n\r\n[Install]\r\nPatch0=EARLIER\r\n";
    std::string settings0 = "[Display]\r\nFont=Courier\r\nSize=10\r\n\r\n[Other]\r\nA=1\r\n";
    std::string e2eIni0 = "[Sec]\r\nKey=old\r\n";

    std::string profile() const {
        const std::string o = std::to_string(os);
        return "[Patch]\n"
               "Backup=1\n"
               "Patch=SWEEP1\n"
               "Condition0=MAIN," + o + ",0,Tavro,root,x\n"
               "\n"
               "[MAIN]\n"
               "INI1=WINDOWS,TAVRO.INI,Tavro,Version,2.1\n"
               "INI2=TAVRO,SETTINGS.INI,Display,Font,Arial\n"
               "INI3=TAVRO,SETTINGS.INI,Display,Size\n"
               "INI4=WINDOWS,E2E.INI,Sec,Key,new\n"
               "REG1=HKLM,SOFTWARE\\\\E2ETest\\\\Sweep,Version,2.1\n"
               "REG2=HKLM,SOFTWARE\\\\E2ETest\\\\Sweep,Obsolete\n"
               "REG3=HKLM,SOFTWARE\\\\E2ETest\\\\Sweep\\\\Cache\n"
               "REG4=HKCU,Software\\\\E2ETest\\\\Created,Name,Value\n"
               "SUBST1=TAVRO,REPORT.CFG\n"
               "FILE1=TAVRO,VIEW.EXE\n"
               "FILE2=TAVRO,CORE.DLL,BIN\n"
               "FINDFILE1=TAVRO,FILTER.DLL,PLUGINS\n"
               "RENAME1=TAVRO,NOTES.TXT,DOCS\\\\NOTES.TXT,0,0\n"
               "COPY1=TAVRO,DATA.DAT,ARCHIVE\\\\DATA.SAV,1,0\n"
               "ERASE1=TAVRO,TIPS.TXT,1\n"
               "REBOOT1=1\n";
    }

    std::string reportExpanded() const {
        return "data=C:\\TAVRO\\DATA\r\nwin=" + windowsDir() + "\\SYSTEM\r\nplain line\r\n";
    }

    // Puts the patch directory's files in place (once).
    void writePatch(const PatchDir &patch) const {
        patch.writeProfile(profile());
        auto put = [&](const std::string &name, const std::string &bytes) {
            patch.writeFile(name, bytes);
            setDosTime(patch.path(name), kNewDate, kNewTime);
        };
        put("VIEW.EXE", view.newContent);
        put("CORE.DLL", core.newContent);
        put("FILTER.DLL", filter.newContent);
        put("REPORT.CFG", reportPatch);
    }

    // The machine before the patch: product files, INI files, registry.
    void prepareMachine() const {
        removeTree(kProduct);
        removeTree(kTempDir);
        const std::string win = windowsDir();
        for (const char *f : {"TAVRO.INI", "WININIT.INI", "E2E.INI"}) {
            const std::string p = win + "\\" + f;
            SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(p.c_str());
        }
        for (const auto &name : listDir(win))
            if (name.rfind("~TV", 0) == 0) DeleteFileA((win + "\\" + name).c_str());
        regDeleteTree("HKLM", "SOFTWARE\\E2ETest");
        regDeleteTree("HKCU", "Software\\E2ETest");
        regDeleteTree("HKLM", "SOFTWARE\\Korvek");
        clearPendingMoves();
        DeleteFileA(kCountFile.c_str());

        makeDirs(kProduct);
        makeDirs(kTempDir);
        writeFile(win + "\\TAVRO.INI", systemIni0);
        writeFile(win + "\\E2E.INI", e2eIni0);
        auto put = [](const std::string &path, const std::string &bytes) {
            writeFile(path, bytes);
            setDosTime(path, kOldDate, kOldTime);
        };
        put(kProduct + "\\VIEW.EXE", view.oldContent);
        makeDirs(kProduct + "\\BIN");
        put(kProduct + "\\PLUGINS\\FILTER.DLL", filter.oldContent);
        put(kProduct + "\\PLUGINS\\A\\FILTER.DLL", filter.oldContent);
        put(kProduct + "\\REPORT.CFG", reportOld);
        put(kProduct + "\\NOTES.TXT", notes);
        makeDirs(kProduct + "\\DOCS");
        put(kProduct + "\\DATA.DAT", data);
        put(kProduct + "\\TIPS.TXT", tips);
        writeFile(kProduct + "\\SETTINGS.INI", settings0);

        regSetString("HKLM", "SOFTWARE\\E2ETest\\Sweep", "Version", "2.0");
        regSetString("HKLM", "SOFTWARE\\E2ETest\\Sweep", "Obsolete", "yes");
        regSetString("HKLM", "SOFTWARE\\E2ETest\\Sweep", "Other", "stays");
        regSetString("HKLM", "SOFTWARE\\E2ETest\\Sweep\\Cache", "C", "1");
        regSetString("HKLM", "SOFTWARE\\E2ETest\\Sweep\\Cache\\Sub1", "S", "1");
        regSetString("HKLM", "SOFTWARE\\E2ETest\\Sweep\\Cache\\Sub1\\Deep", "D", "1");
        regSetString("HKLM", "SOFTWARE\\E2ETest\\Sweep\\Cache\\Sub2", "S", "2");
        // Neighbours that no action names.
        regSetString("HKLM", "SOFTWARE\\E2ETest\\Sweep\\Keep", "K", "1");
        regSetString("HKLM", "SOFTWARE\\E2ETest\\SweepCache", "N", "neighbour");
        regSetString("HKLM", "SOFTWARE\\E2ETest\\Neighbour", "N", "neighbour");
        regSetString("HKCU", "Software\\E2ETest\\Neighbour", "N", "neighbour");
    }
};

// Registry state outside the profile's own keys.
std::string neighbourSnapshot() {
    std::ostringstream s;
    auto dump = [&](const std::string &root, const std::string &path) {
        s << root << "\\" << path << (regKeyExists(root, path) ? " exists\n" : " missing\n");
        auto names = regValueNames(root, path);
        std::sort(names.begin(), names.end());
        for (const auto &n : names) s << "  " << n << "=" << regGetString(root, path, n).value_or("?") << "\n";
        auto subs = regSubKeys(root, path);
        std::sort(subs.begin(), subs.end());
        for (const auto &k : subs) s << "  [" << k << "]\n";
    };
    dump("HKLM", "SOFTWARE\\E2ETest\\Sweep\\Keep");
    dump("HKLM", "SOFTWARE\\E2ETest\\SweepCache");
    dump("HKLM", "SOFTWARE\\E2ETest\\Neighbour");
    dump("HKCU", "Software\\E2ETest\\Neighbour");
    s << "Other=" << regGetString("HKLM", "SOFTWARE\\E2ETest\\Sweep", "Other").value_or("(missing)") << "\n";
    auto top = regSubKeys("HKLM", "SOFTWARE\\E2ETest");
    std::sort(top.begin(), top.end());
    for (const auto &k : top) s << "top " << k << "\n";
    return s.str();
}

std::string replaceOnce(std::string text, const std::string &from, const std::string &to) {
    const size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// What one run left behind, judged against the scenario. Each violation is
// a line of text; an empty list means the run was sound.
class Judge {
  public:
    Judge(const Scenario &s, const std::string &systemIniFinal) : s_(s) {
        // The system TAVRO.INI: before, after INI1, after the install record.
        systemStates_ = {s.systemIni0, replaceOnce(s.systemIni0, "Version=2.0", "Version=2.1"), systemIniFinal};
        const std::string s1 = replaceOnce(s.settings0, "Font=Courier", "Font=Arial");
        settingsStates_ = {s.settings0, s1, replaceOnce(s1, "Size=10\r\n", "")};
        e2eStates_ = {s.e2eIni0, "[Sec]\r\nKey=new\r\n"};
        whole_ = {s.view.oldContent, s.view.newContent, s.core.newContent, s.filter.oldContent,
                  s.filter.newContent, s.reportOld,         s.reportPatch,      s.reportExpanded(),
                  s.notes,           s.data,                s.tips};
    }

    // Before the restart: no file anywhere is cut or mixed, INI files hold
    // one of their states, registrations name whole files.
    void beforeRestart(std::vector<std::string> &v) const {
        for (const auto &path : listFilesBelow(kProduct)) {
            // The patch's journal and its copies: the undo tests judge them.
            if (isJournalFile(path)) continue;
            const std::string content = readFile(path).value_or("<unreadable>");
            if (iequals(path, kProduct + "\\SETTINGS.INI")) {
                if (!settingsStates_.count(content)) v.push_back("SETTINGS.INI holds " + quote(content));
            } else if (!whole_.count(content)) {
                v.push_back(path + " is not a whole version of any file (" + std::to_string(content.size()) +
                            " bytes)");
            }
        }
        const std::string win = windowsDir();
        const auto sys = readFile(win + "\\TAVRO.INI");
        if (!sys || !systemStates_.count(*sys)) v.push_back("system TAVRO.INI holds " + quote(sys.value_or("(missing)")));
        const auto e2e = readFile(win + "\\E2E.INI");
        if (!e2e || !e2eStates_.count(*e2e)) v.push_back("E2E.INI holds " + quote(e2e.value_or("(missing)")));
        for (const auto &name : listDir(win))
            if (name.rfind("~TV", 0) == 0) v.push_back("temporary file left in the Windows directory: " + name);
        for (const auto &line : wininitRenames()) {
            if (line.first.empty() || line.second.empty()) v.push_back("WININIT.INI line cut: " + line.first);
        }
        // Registry: the profile's own keys hold old or new values.
        const auto version = regGetString("HKLM", "SOFTWARE\\E2ETest\\Sweep", "Version");
        if (version != std::optional<std::string>("2.0") && version != std::optional<std::string>("2.1"))
            v.push_back("Sweep\\Version is " + version.value_or("(missing)"));
        const auto created = regGetString("HKCU", "Software\\E2ETest\\Created", "Name");
        if (created && *created != "Value") v.push_back("Created\\Name is " + *created);
        for (const auto &k : regSubKeys("HKLM", "SOFTWARE\\E2ETest\\Sweep\\Cache"))
            if (k != "Sub1" && k != "Sub2") v.push_back("unexpected key Cache\\" + k);
    }

    // After the registrations are carried out: every product path holds its
    // old or its new content, or is gone only where an action moves or
    // removes it, with the content then at its destination or backup.
    // `out` is the run's standard output: a destination that could not be
    // examined counts as absent (reported "new file installed"), and its
    // replacement keeps no backup.
    void afterRestart(std::vector<std::string> &v, const std::string &out) const {
        const std::string p = kProduct + "\\";
        oneOf(v, p + "VIEW.EXE", {s_.view.oldContent, s_.view.newContent}, false);
        oneOf(v, p + "VIEW.OLD", {s_.view.oldContent}, true);
        oneOf(v, p + "BIN\\CORE.DLL", {s_.core.newContent}, true);
        oneOf(v, p + "REPORT.CFG", {s_.reportOld, s_.reportPatch, s_.reportExpanded()}, false);
        oneOf(v, p + "REPORT.OLD", {s_.reportOld}, true);
        for (const std::string dir : {"PLUGINS\\", "PLUGINS\\A\\"}) {
            oneOf(v, p + dir + "FILTER.DLL", {s_.filter.oldContent, s_.filter.newContent}, false);
            oneOf(v, p + dir + "FILTER.OLD", {s_.filter.oldContent}, true);
        }
        // RENAME: the notes are at the source or at the destination.
        oneOf(v, p + "NOTES.TXT", {s_.notes}, true);
        oneOf(v, p + "DOCS\\NOTES.TXT", {s_.notes}, true);
        if (!exists(p + "NOTES.TXT") && !exists(p + "DOCS\\NOTES.TXT")) v.push_back("NOTES.TXT lost");
        // COPY leaves its source alone.
        oneOf(v, p + "DATA.DAT", {s_.data}, false);
        oneOf(v, p + "ARCHIVE\\DATA.SAV", {s_.data}, true);
        // ERASE with backup: the tips are in the file or in its backup.
        oneOf(v, p + "TIPS.TXT", {s_.tips}, true);
        oneOf(v, p + "TIPS.OLD", {s_.tips}, true);
        if (!exists(p + "TIPS.TXT") && !exists(p + "TIPS.OLD")) v.push_back("TIPS.TXT lost without backup");
        // A backup is made only of a file that is replaced: the old viewer is
        // in VIEW.EXE or in VIEW.OLD.
        for (const auto &kept : {std::make_pair(std::string("VIEW"), s_.view.oldContent),
                                 std::make_pair(std::string("REPORT"), s_.reportOld)}) {
            const std::string file = p + kept.first + (kept.first == "VIEW" ? ".EXE" : ".CFG");
            const bool treatedAsNew = out.find(file + " (new file installed)") != std::string::npos;
            if (!treatedAsNew && readFile(file) != std::optional<std::string>(kept.second) &&
                readFile(p + kept.first + ".OLD") != std::optional<std::string>(kept.second))
                v.push_back("old " + file + " lost");
        }
        // No file is cut after the moves either.
        for (const auto &path : listFilesBelow(kProduct)) {
            if (iequals(path, p + "SETTINGS.INI") || isJournalFile(path)) continue;
            const std::string content = readFile(path).value_or("<unreadable>");
            if (!whole_.count(content)) v.push_back("after restart " + path + " is not whole");
        }
    }

    // A run that reports nothing and ends as a success must have done
    // everything the profile asks (after the restart).
    void completeRun(std::vector<std::string> &v) const {
        const std::string p = kProduct + "\\";
        if (readFile(p + "VIEW.EXE") != std::optional<std::string>(s_.view.newContent)) v.push_back("VIEW.EXE not new");
        if (readFile(p + "BIN\\CORE.DLL") != std::optional<std::string>(s_.core.newContent))
            v.push_back("CORE.DLL not installed");
        if (!exists(p + "DOCS\\NOTES.TXT")) v.push_back("NOTES.TXT not moved");
        if (!exists(p + "ARCHIVE\\DATA.SAV")) v.push_back("DATA.DAT not copied");
        if (exists(p + "TIPS.TXT")) v.push_back("TIPS.TXT not erased");
        if (readFile(windowsDir() + "\\TAVRO.INI") != std::optional<std::string>(*systemStates_.rbegin()) &&
            readFile(windowsDir() + "\\TAVRO.INI") != std::optional<std::string>(finalSystem()))
            v.push_back("system TAVRO.INI not final");
        if (regGetString("HKLM", "SOFTWARE\\E2ETest\\Sweep", "Version") != std::optional<std::string>("2.1"))
            v.push_back("Version not set");
        if (regGetString("HKLM", "SOFTWARE\\E2ETest\\Sweep", "Obsolete")) v.push_back("Obsolete not deleted");
        if (regKeyExists("HKLM", "SOFTWARE\\E2ETest\\Sweep\\Cache")) v.push_back("Cache not deleted");
        if (regGetString("HKCU", "Software\\E2ETest\\Created", "Name") != std::optional<std::string>("Value"))
            v.push_back("Created\\Name not set");
    }

    std::string finalSystem() const { return systemFinal_; }
    void setFinalSystem(const std::string &s) { systemFinal_ = s; }

  private:
    static bool iequals(const std::string &a, const std::string &b) { return _stricmp(a.c_str(), b.c_str()) == 0; }
    static std::string quote(const std::string &s) {
        std::string q;
        for (char c : s) q += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
        return "\"" + q.substr(0, 200) + "\"";
    }
    static void oneOf(std::vector<std::string> &v, const std::string &path, const std::vector<std::string> &allowed,
                      bool mayBeAbsent) {
        const auto content = readFile(path);
        if (!content) {
            if (!mayBeAbsent) v.push_back(path + " missing");
            return;
        }
        if (std::find(allowed.begin(), allowed.end(), *content) == allowed.end())
            v.push_back(path + " holds neither old nor new content (" + std::to_string(content->size()) + " bytes)");
    }

    const Scenario &s_;
    std::set<std::string> systemStates_, settingsStates_, e2eStates_, whole_;
    std::string systemFinal_;
};

// The critical-error report at the end of the standard error stream: four
// lines, the first beginning with the bell.
bool endsWithCriticalReport(const std::string &err) {
    static const std::regex report("\\x07Critical ERROR Occured on line -?[0-9]+ of file (tavupd|tvpdf|tvpprof|tvpfile)\r\n"
                                   "     Error Number:  -?[0-9]+\r\n"
                                   "     Error Message: [^\r\n]*\r\n"
                                   "     Size:          -?[0-9]+\r\n"
                                   // After changes of the patch: how to take them back.
                                   "(To take back what was done, run: TAVUPD\\.EXE -u\r\n)?$");
    return std::regex_search(err, report);
}

unsigned long readCount() {
    const auto text = readFile(kCountFile);
    return text ? std::strtoul(text->c_str(), nullptr, 10) : 0;
}

// Which k of 1..n to sweep within the time budget: all of them when they
// fit, else every k up to a bound and a fixed stride beyond.
std::vector<unsigned long> sweepPoints(unsigned long n, unsigned long budgetRuns) {
    std::vector<unsigned long> ks;
    if (n <= budgetRuns) {
        for (unsigned long k = 1; k <= n; ++k) ks.push_back(k);
        return ks;
    }
    const unsigned long dense = budgetRuns / 2;
    for (unsigned long k = 1; k <= dense; ++k) ks.push_back(k);
    const unsigned long stride = (n - dense) / (budgetRuns - dense) + 1;
    for (unsigned long k = dense + 1; k <= n; k += stride) ks.push_back(k);
    if (ks.back() != n) ks.push_back(n);
    return ks;
}

void sweep(const std::string &version, int os) {
    resetMachine();
    Scenario s;
    s.version = version;
    s.os = os;
    PatchDir patch("SWEEP", /*useFaultBuild*/ true);
    s.writePatch(patch);
    const std::vector<std::string> env = {"TEMP=" + kTempDir, "TAVUPD_CALL_COUNT_FILE=" + kCountFile};

    // Clean run: counts the calls and gives the final system TAVRO.INI.
    s.prepareMachine();
    const std::string neighbours = neighbourSnapshot();
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<std::string> traceEnv = env;
    traceEnv.push_back("TAVUPD_CALL_TRACE_FILE=" + kTraceFile);
    RunResult clean = runTavupd(patch, {}, version, 60000, traceEnv);
    // Names of the calls by number, for the failure messages.
    std::vector<std::string> callNames(1, "");
    {
        std::istringstream trace(readFile(kTraceFile).value_or(""));
        unsigned long number = 0;
        std::string name;
        while (trace >> number >> name) callNames.push_back(name);
    }
    const double runSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ASSERT_FALSE(clean.timedOut);
    ASSERT_EQ(clean.exitCode, 3010u) << clean.out << clean.err;
    ASSERT_EQ(clean.err, "");
    const unsigned long n = readCount();
    ASSERT_GT(n, 50u) << "call count file not written";
    ASSERT_EQ(callNames.size(), n + 1) << "the call trace names every call";
    Judge judge(s, readFile(windowsDir() + "\\TAVRO.INI").value_or(""));
    judge.setFinalSystem(readFile(windowsDir() + "\\TAVRO.INI").value_or(""));
    {
        std::vector<std::string> v;
        judge.beforeRestart(v);
        carryOutPendingOperations();
        judge.afterRestart(v, clean.out);
        judge.completeRun(v);
        ASSERT_TRUE(v.empty()) << "clean run: " << v.front();
        ASSERT_EQ(neighbourSnapshot(), neighbours);
    }

    // Budget: about four minutes of runs for this family.
    const unsigned long budgetRuns = std::max(60ul, static_cast<unsigned long>(240.0 / std::max(runSeconds, 0.05)));
    const std::vector<unsigned long> ks = sweepPoints(n, budgetRuns);

    std::map<std::string, int> statusCount;
    int failures = 0;
    const auto start = std::chrono::steady_clock::now();
    for (unsigned long k : ks) {
        s.prepareMachine();
        std::vector<std::string> envK = env;
        envK.push_back("TAVUPD_FAULT_CALL=" + std::to_string(k));
        RunResult r = runTavupd(patch, {}, version, 60000, envK);

        std::vector<std::string> v;
        if (r.timedOut) v.push_back("timed out");
        const std::set<DWORD> statuses{0, 1, 1603, 1638, 1642, 3010};
        if (!statuses.count(r.exitCode)) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(r.exitCode));
            v.push_back(std::string("exit code ") + code);
        }
        const bool critical = r.err.find("Critical ERROR") != std::string::npos;
        if (critical && (r.exitCode != 1 || !endsWithCriticalReport(r.err)))
            v.push_back("critical-error report malformed or with status " + std::to_string(r.exitCode));
        judge.beforeRestart(v);
        carryOutPendingOperations();
        judge.afterRestart(v, r.out);
        if ((r.exitCode == 0 || r.exitCode == 3010) && r.err.empty()) judge.completeRun(v);
        const std::string now = neighbourSnapshot();
        if (now != neighbours) v.push_back("neighbour registry changed:\n" + now);

        ++statusCount[std::to_string(r.exitCode) + (critical ? " (critical)" : r.err.empty() ? "" : " (messages)")];
        if (!v.empty()) {
            ++failures;
            std::string all;
            for (const auto &line : v) all += "\n    " + line;
            ADD_FAILURE() << version << " fault at call " << k << " of " << n << " ("
                          << (k < callNames.size() ? callNames[k] : "?") << "): exit " << r.exitCode << all
                          << "\n  stderr: " << r.err.substr(0, 400);
            if (failures > 40) break;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("[sweep %s] N=%lu calls in a clean run, %zu faults swept%s in %.0f s\n", version.c_str(), n,
                ks.size(), ks.size() == n ? " (every call)" : " (dense prefix + stride)", seconds);
    for (const auto &entry : statusCount) std::printf("[sweep %s]   status %s: %d\n", version.c_str(), entry.first.c_str(), entry.second);
    // The sweep must actually have reached failures of each outcome.
    EXPECT_GT(statusCount.size(), 1u);
}

TEST(FaultSweep, EveryPlatformCallFailingOnceLeavesFilesWholeOnWindows98) { sweep("win98", 7); }

TEST(FaultSweep, EveryPlatformCallFailingOnceLeavesFilesWholeOnNT4) { sweep("nt40", 8); }

TEST(FaultSweep, SweepPointsCoverEveryCallWhenTheyFitAndStrideOtherwise) {
    const auto all = sweepPoints(10, 100);
    ASSERT_EQ(all.size(), 10u);
    EXPECT_EQ(all.front(), 1u);
    EXPECT_EQ(all.back(), 10u);
    const auto some = sweepPoints(1000, 100);
    EXPECT_LE(some.size(), 102u);
    EXPECT_EQ(some[49], 50u);
    EXPECT_EQ(some.back(), 1000u);
    EXPECT_TRUE(std::is_sorted(some.begin(), some.end()));
}

} // namespace
