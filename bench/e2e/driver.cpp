// End-to-end benchmark: whole TAVUPD.EXE runs against a program that makes
// the same machine changes with bare Win32 calls (BAREUPD.EXE), under the
// same Wine, started the same way from the same patch kit.
//
// For each workload the driver builds a product and a patch kit, then runs
// the two programs alternately (the order flips from pair to pair), each on
// a machine reset to the same state outside the timed region. A run is timed
// from CreateProcessA to the end of the process with QueryPerformanceCounter,
// so both sides pay the same process start. After every run the machine
// state is taken (files with sizes, dates, attributes and content hashes,
// INI bytes, registry values, restart registrations) and must equal the
// first run's; the first run must have changed the machine (the empty run:
// must not). It prints the median of each side, their ratio, and the
// geometric mean of the ratios.
//
// With -calls it instead runs the fault build (tavupd_fault.exe, as
// TAVUPD.EXE) with TAVUPD_CALL_TRACE_FILE on two sizes of each workload and
// prints the platform calls per action by call name, the calls of one FILE
// install, INI set and REG set in order, and the calls of the empty run.
//
//   bench_e2e.exe [-runs N] [-only files,ini,empty,big,find,reg] [-calls]
//                 [-files N] [-file-kib N] [-ini N] [-sections N] [-big N]
//                 [-big-mib N] [-dirs N] [-reg N] [-os nt40|win98|...]
//                 [-interactive] [-dir C:\TVBENCH] [-v]
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "harness.h"
#include "state.h"
#include "trace.h"
#include "workload.h"

#ifndef BENCH_TIMED_DIR
#error "BENCH_TIMED_DIR must name the directory of the timed programs"
#endif

namespace {

using namespace tvbench;

struct Options {
    int runs = 11;
    std::vector<Kind> kinds = allKinds();
    Sizes sizes;
    std::string os = "nt40";
    bool interactive = false;
    bool calls = false;
    bool verbose = false;
    std::string root = "C:\\TVBENCH";
};

[[noreturn]] void fail(const std::string &what) { throw std::runtime_error(what); }

void usage() {
    std::fprintf(stderr,
                 "usage: bench_e2e [-runs N] [-only files,ini,empty,big,find,reg] [-calls]\n"
                 "                 [-files N] [-file-kib N] [-ini N] [-sections N] [-big N] [-big-mib N]\n"
                 "                 [-dirs N] [-reg N] [-os win95|win98|nt351|nt40|win2k] [-interactive]\n"
                 "                 [-dir <work directory>] [-v]\n");
}

// The version code a condition line names for a Windows version of Wine's
// (the codes of the installation profile); 0 for a name not offered here.
int osCode(const std::string &os) {
    static const std::map<std::string, int> codes = {
        {"win95", 1}, {"win98", 7}, {"nt351", 2}, {"nt40", 8}, {"win2k", 9}};
    const auto code = codes.find(os);
    return code == codes.end() ? 0 : code->second;
}

bool parsePositive(const char *text, int &out) {
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > 100000000) return false;
    out = static_cast<int>(value);
    return true;
}

bool parseOptions(int argc, char **argv, Options &o) {
    const std::map<std::string, int *> numbers = {
        {"-runs", &o.runs},          {"-files", &o.sizes.files},   {"-file-kib", &o.sizes.fileKiB},
        {"-ini", &o.sizes.iniSets},  {"-sections", &o.sizes.iniSections}, {"-big", &o.sizes.bigFiles},
        {"-big-mib", &o.sizes.bigMiB}, {"-dirs", &o.sizes.findDirs}, {"-reg", &o.sizes.regSets}};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        auto number = numbers.find(arg);
        if (number != numbers.end()) {
            if (!hasValue || !parsePositive(argv[++i], *number->second)) {
                std::fprintf(stderr, "bench_e2e: %s needs a positive number\n", arg.c_str());
                return false;
            }
        } else if (arg == "-only" && hasValue) {
            o.kinds.clear();
            std::string list = argv[++i];
            size_t pos = 0;
            while (pos <= list.size()) {
                const size_t comma = std::min(list.find(',', pos), list.size());
                Kind kind;
                if (!kindFromName(list.substr(pos, comma - pos), kind)) {
                    std::fprintf(stderr, "bench_e2e: unknown workload '%s'\n", list.substr(pos, comma - pos).c_str());
                    return false;
                }
                o.kinds.push_back(kind);
                pos = comma + 1;
            }
        } else if (arg == "-os" && hasValue) {
            o.os = argv[++i];
        } else if (arg == "-dir" && hasValue) {
            o.root = argv[++i];
        } else if (arg == "-calls") {
            o.calls = true;
        } else if (arg == "-interactive") {
            o.interactive = true;
        } else if (arg == "-v") {
            o.verbose = true;
        } else {
            return false;
        }
    }
    if (osCode(o.os) == 0) {
        std::fprintf(stderr, "bench_e2e: -os must be win95, win98, nt351, nt40 or win2k\n");
        return false;
    }
    return true;
}

double now() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Escapes a profile field: the field splitter takes a backslash as "the next
// character literally".
std::string field(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == ',') out += '\\';
        out += c;
    }
    return out;
}

void copyFile(const std::string &from, const std::string &to) {
    if (!CopyFileA(from.c_str(), to.c_str(), FALSE))
        fail("copy " + from + " to " + to + " (error " + std::to_string(GetLastError()) + ")");
}

void writeStamped(const std::string &path, const std::string &bytes, DosStamp stamp) {
    e2e::writeFile(path, bytes);
    e2e::setDosTime(path, stamp.date, stamp.time);
}

void makeDir(const std::string &path) {
    if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        fail("create directory " + path + " (error " + std::to_string(GetLastError()) + ")");
}

// TAVUPD.EXE as timed: the build's program without debugging symbols, as
// the release kit ships it.
std::string timedTavupd() { return std::string(BENCH_TIMED_DIR) + "\\TAVUPD.EXE"; }

// Which build is measured: the bits of this program, built with it.
std::string buildName() {
    const std::string exe = e2e::tavupdExe();
    std::string dir = exe.substr(0, exe.find_last_of('\\'));
    dir = dir.substr(dir.find_last_of('\\') + 1);
    return std::to_string(sizeof(void *) * 8) + "-bit build (build\\" + dir + ")";
}

// One run of a program, standard output and error captured through files
// opened before the clock starts.
struct Launch {
    DWORD exitCode = 0;
    double seconds = 0;
    std::string out, err;
};

class Bench {
  public:
    explicit Bench(const Options &o) : o_(o) {}

    void setUp() {
        e2e::removeTree(o_.root);
        for (const std::string &d : {o_.root, kit(), product(), orig(), outDir()}) makeDir(d);
        e2e::setWindowsVersion("TAVUPD.EXE", o_.os);
        // Times written during a run are later than this; every file the
        // benchmark writes itself carries a date of the last century.
        FILETIME t;
        GetSystemTimeAsFileTime(&t);
        freshAfter_ = ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) -
                      600ull * 10000000ull;
    }

    void tearDown() {
        e2e::removeTree(o_.root);
        const std::string ini = systemIni();
        DeleteFileA(ini.c_str());
        e2e::regDeleteTree("HKLM", kRegRoot);
    }

    // Builds the patch kit and what the resets copy from for one workload.
    void prepare(const Workload &w, bool faultBuild) {
        w_ = w;
        e2e::removeTree(kit());
        e2e::removeTree(orig());
        e2e::removeTree(product());
        for (const std::string &d : {kit(), orig(), product()}) makeDir(d);
        copyFile(faultBuild ? e2e::tavupdFaultExe() : timedTavupd(), kit() + "\\TAVUPD.EXE");
        copyFile(e2e::languageFile(), kit() + "\\TAVUPD.MSG");
        copyFile(std::string(BENCH_TIMED_DIR) + "\\BAREUPD.EXE", kit() + "\\BAREUPD.EXE");
        e2e::writeFile(kit() + "\\TAVUPD.DAT", profileText());

        switch (w.kind) {
        case Kind::Files:
            for (int i = 0; i < w.count; ++i) {
                writeStamped(kit() + "\\" + fileName(i), e2e::blob("new " + fileName(i), w.fileBytes), newStamp());
                writeStamped(orig() + "\\" + fileName(i), e2e::blob("old " + fileName(i), w.fileBytes), oldStamp());
            }
            break;
        case Kind::BigFiles:
            for (int i = 0; i < w.count; ++i)
                writeStamped(kit() + "\\" + bigFileName(i), e2e::blob("big " + bigFileName(i), w.fileBytes),
                             newStamp());
            break;
        case Kind::FindFile: {
            writeStamped(kit() + "\\" + kFindName, e2e::blob("new find", w.fileBytes), newStamp());
            writeStamped(orig() + "\\" + kFindName, e2e::blob("old find", w.fileBytes), oldStamp());
            const FindTree tree = findTree(w.count);
            const std::string top = product() + "\\" + kFindRoot;
            makeDir(top);
            for (int t = 0; t < tree.top; ++t) {
                const std::string td = top + "\\T" + std::to_string(t);
                makeDir(td);
                for (int m = 0; m < tree.mid; ++m) {
                    const std::string md = td + "\\M" + std::to_string(m);
                    makeDir(md);
                    for (int l = 0; l < tree.leaf; ++l) makeDir(md + "\\L" + std::to_string(l));
                }
            }
            break;
        }
        case Kind::Ini:
        case Kind::Empty:
        case Kind::Registry:
            break;
        }
    }

    // The machine as before the run: the product install, the workload's
    // files or registry values, no restart registrations.
    void reset() {
        writeStamped(systemIni(), systemIniText(), oldStamp());
        writeStamped(product() + "\\TAVRO.INI", "[Settings]\r\nDataDir=" + product() + "\\DATA\r\n[Display]\r\nColors=256\r\n",
                     oldStamp());
        e2e::removeTree(product() + "\\ARCHIVE");
        makeDir(product() + "\\ARCHIVE");
        makeDir(product() + "\\ARCHIVE\\TEMP");
        const std::string wininit = e2e::windowsDir() + "\\WININIT.INI";
        DeleteFileA(wininit.c_str());
        e2e::clearPendingMoves();

        switch (w_.kind) {
        case Kind::Files: {
            const std::string dir = product() + "\\" + kFilesDir;
            e2e::removeTree(dir);
            makeDir(dir);
            for (int i = 0; i < w_.count; ++i) copyFile(orig() + "\\" + fileName(i), dir + "\\" + fileName(i));
            break;
        }
        case Kind::Ini: {
            std::string text;
            for (int s = 0; s < w_.sections; ++s) {
                char header[32];
                std::snprintf(header, sizeof header, "[Section%02d]\r\n", s + 1);
                text += header;
                for (int k = 0; k < kIniKeysBefore; ++k) {
                    char line[96];
                    std::snprintf(line, sizeof line, "Key%02d=value %d.%d before the patch\r\n", k + 1, s + 1, k + 1);
                    text += line;
                }
            }
            writeStamped(product() + "\\" + kIniFile, text, oldStamp());
            break;
        }
        case Kind::BigFiles:
            for (int i = 0; i < w_.count; ++i) {
                e2e::removeTree(product() + "\\" + bigDir(i));
                makeDir(product() + "\\" + bigDir(i));
            }
            break;
        case Kind::FindFile:
            for (const std::string &d : findCopyDirs(findTree(w_.count))) {
                const std::string dir = product() + "\\" + d;
                DeleteFileA((dir + "\\" + kFindBackupName).c_str());
                copyFile(orig() + "\\" + kFindName, dir + "\\" + kFindName);
            }
            break;
        case Kind::Registry:
            e2e::regDeleteTree("HKLM", kRegRoot);
            for (int k = 0; k < kRegKeys; ++k) {
                char sub[16];
                std::snprintf(sub, sizeof sub, "\\K%02d", k);
                for (int v = 0; v < kRegValuesBefore; ++v)
                    e2e::regSetString("HKLM", std::string(kRegRoot) + sub, regValueName(v), "value before the patch");
            }
            break;
        case Kind::Empty:
            break;
        }
    }

    Snapshot snapshot() const {
        StateScope scope;
        scope.trees = {product()};
        scope.files = {systemIni(), e2e::windowsDir() + "\\WININIT.INI"};
        scope.registryTrees = {std::string("HKLM\\") + kRegRoot};
        scope.registryValues = {
            {"HKLM\\System\\CurrentControlSet\\Control\\Session Manager", "PendingFileRenameOperations"}};
        scope.freshAfter = freshAfter_;
        return takeSnapshot(scope);
    }

    // A timed run of TAVUPD.EXE (tavupd) or BAREUPD.EXE.
    Launch run(bool tavupd) const {
        const std::string exe = kit() + (tavupd ? "\\TAVUPD.EXE" : "\\BAREUPD.EXE");
        std::string command = tavupd ? "TAVUPD.EXE" : "BAREUPD.EXE " + bareArguments();
        std::vector<char> commandLine(command.begin(), command.end());
        commandLine.push_back('\0');

        const std::string outName = outDir() + "\\stdout.txt";
        const std::string errName = outDir() + "\\stderr.txt";
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
        HANDLE out = CreateFileA(outName.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS, 0, nullptr);
        HANDLE err = CreateFileA(errName.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS, 0, nullptr);
        HANDLE in = CreateFileA("NUL", GENERIC_READ, share, &inherit, OPEN_EXISTING, 0, nullptr);
        if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE || in == INVALID_HANDLE_VALUE)
            fail("capture files in " + outDir());
        STARTUPINFOA si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = in;
        si.hStdOutput = out;
        si.hStdError = err;
        PROCESS_INFORMATION pi{};

        Launch result;
        const double start = now();
        const BOOL started = CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                           kit().c_str(), &si, &pi);
        const DWORD waited = started ? WaitForSingleObject(pi.hProcess, 30 * 60 * 1000) : WAIT_FAILED;
        result.seconds = now() - start;
        CloseHandle(out);
        CloseHandle(err);
        CloseHandle(in);
        if (!started) fail("start " + exe + " (error " + std::to_string(GetLastError()) + ")");
        if (waited != WAIT_OBJECT_0) {
            TerminateProcess(pi.hProcess, 255);
            WaitForSingleObject(pi.hProcess, 5000);
        }
        GetExitCodeProcess(pi.hProcess, &result.exitCode);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        if (waited != WAIT_OBJECT_0) fail(exe + " did not end within 30 minutes");
        result.out = e2e::readFile(outName).value_or("");
        result.err = e2e::readFile(errName).value_or("");
        return result;
    }

    // A run of the fault build with the call trace on (untimed). Where the
    // fault build also writes its count of calls, the trace must hold that
    // many: a trace cut at its end is not taken for a count.
    CallTrace tracedRun() const {
        const std::string traceFile = outDir() + "\\trace.txt";
        const std::string countFile = outDir() + "\\count.txt";
        DeleteFileA(traceFile.c_str());
        DeleteFileA(countFile.c_str());
        const e2e::RunResult r =
            e2e::runProgram(kit() + "\\TAVUPD.EXE", {}, kit(), 30 * 60 * 1000,
                            {"TAVUPD_CALL_TRACE_FILE=" + traceFile, "TAVUPD_CALL_COUNT_FILE=" + countFile});
        Launch launch;
        launch.exitCode = r.exitCode;
        launch.out = r.out;
        launch.err = r.err;
        checkOutput(launch, true);
        CallTrace trace;
        std::string error;
        if (!parseCallTrace(e2e::readFile(traceFile).value_or(""), trace, error))
            fail("call trace of " + describe(w_) + ": " + error);
        if (trace.calls.empty()) fail("call trace of " + describe(w_) + " is empty");
        if (const auto count = e2e::readFile(countFile)) {
            char *end = nullptr;
            const unsigned long counted = std::strtoul(count->c_str(), &end, 10);
            if (end != count->c_str() && counted != trace.calls.size())
                fail("call trace of " + describe(w_) + " holds " + std::to_string(trace.calls.size()) +
                     " calls where the fault build counted " + std::to_string(counted));
        }
        return trace;
    }

    // Exit status and output as a complete run of the workload leaves them.
    void checkOutput(const Launch &l, bool tavupd) const {
        // A run in which no condition set holds: TAVUPD.EXE says the patch
        // does not apply (1642); the bare program ends with 1.
        const DWORD expected = w_.kind == Kind::Empty ? (tavupd ? 1642 : 1) : 0;
        const std::string who = tavupd ? "TAVUPD.EXE" : "BAREUPD.EXE";
        if (l.exitCode != expected || !l.err.empty())
            fail(who + " on " + describe(w_) + ": status " + std::to_string(l.exitCode) + " (expected " +
                 std::to_string(expected) + ")\n" + l.out + l.err);
        if (tavupd && w_.kind != Kind::Empty && l.out.find(e2e::message(7)) == std::string::npos)
            fail("TAVUPD.EXE on " + describe(w_) + " did not complete:\n" + l.out);
        if (!tavupd && !l.out.empty()) fail("BAREUPD.EXE printed: " + l.out);
    }

    const Workload &workload() const { return w_; }

  private:
    std::string kit() const { return o_.root + "\\KIT"; }
    std::string product() const { return o_.root + "\\TAVRO"; }
    std::string orig() const { return o_.root + "\\ORIG"; }
    std::string outDir() const { return o_.root + "\\OUT"; }
    static std::string systemIni() { return e2e::windowsDir() + "\\TAVRO.INI"; }

    std::string systemIniText() const {
        std::string text = "[Tavro]\r\nroot=" + product() + "\r\nVersion=" + kProductVersion + "\r\n";
        if (!o_.interactive) text += "[Patch]\r\nInteractive=0\r\n";
        return text;
    }

    std::string bareArguments() const {
        return std::string(kindName(w_.kind)) + " " + std::to_string(w_.count) + " " + std::to_string(w_.sections) +
               " " + product();
    }

    std::string profileText() const {
        const std::string os = std::to_string(osCode(o_.os));
        std::string text = "[Patch]\r\n";
        if (w_.kind == Kind::Empty)
            text += "Condition0=UPDATE," + os + ",1,Tavro,Version," + kEmptyConditionValue + "\r\n";
        else
            text += "Condition0=UPDATE," + os + ",4,Tavro,Version,2.0,2.9\r\n";
        text += "[UPDATE]\r\n";
        switch (w_.kind) {
        case Kind::Files:
            for (int i = 0; i < w_.count; ++i)
                text += "FILE" + std::to_string(i + 1) + "=TAVRO," + fileName(i) + "," + kFilesDir + "\r\n";
            break;
        case Kind::BigFiles:
            for (int i = 0; i < w_.count; ++i)
                text += "FILE" + std::to_string(i + 1) + "=TAVRO," + bigFileName(i) + "," + bigDir(i) + "\r\n";
            break;
        case Kind::FindFile:
            text += std::string("FINDFILE1=TAVRO,") + kFindName + "," + kFindRoot + "\r\n";
            break;
        case Kind::Ini:
            for (int i = 0; i < w_.count; ++i) {
                const IniSet s = iniSet(i, w_.sections);
                text += "INI" + std::to_string(i + 1) + "=TAVRO," + kIniFile + "," + field(s.section) + "," +
                        field(s.key) + "," + field(s.value) + "\r\n";
            }
            break;
        case Kind::Registry:
            for (int i = 0; i < w_.count; ++i) {
                const RegSet s = regSet(i);
                text += "REG" + std::to_string(i + 1) + "=HKLM," + field(s.subkey) + "," + field(s.name) + "," +
                        field(s.data) + "\r\n";
            }
            break;
        case Kind::Empty:
            text += std::string("FILE1=TAVRO,") + fileName(0) + "," + kFilesDir + "\r\n";
            break;
        }
        return text;
    }

    const Options &o_;
    Workload w_;
    unsigned long long freshAfter_ = 0;
};

void printDifferences(const std::vector<std::string> &differences) {
    const size_t shown = std::min<size_t>(differences.size(), 20);
    for (size_t i = 0; i < shown; ++i) std::fprintf(stderr, "  %s\n", differences[i].c_str());
    if (differences.size() > shown) std::fprintf(stderr, "  ... %zu more\n", differences.size() - shown);
}

// The first run's state against the state before it: changed, unless the
// workload changes nothing.
void checkChanged(const Workload &w, const Snapshot &before, const Snapshot &after) {
    const std::vector<std::string> changes = compareSnapshots(before, after, "before", "after");
    if (w.kind == Kind::Empty && !changes.empty()) {
        printDifferences(changes);
        fail("the empty run changed the machine");
    }
    if (w.kind != Kind::Empty && changes.empty()) fail(describe(w) + " changed nothing");
}

struct Result {
    Workload workload;
    double tavupd = 0, bare = 0;
};

Result timeWorkload(Bench &bench, const Options &o, const Workload &w) {
    bench.prepare(w, false);
    bench.reset();
    const Snapshot before = bench.snapshot();
    Snapshot reference;
    bool haveReference = false;
    std::vector<double> tavupdTimes, bareTimes;
    for (int r = 0; r < o.runs; ++r) {
        for (int k = 0; k < 2; ++k) {
            const bool tavupd = (r % 2 == 0) == (k == 0); // the first of a pair alternates
            bench.reset();
            const Launch l = bench.run(tavupd);
            bench.checkOutput(l, tavupd);
            const Snapshot after = bench.snapshot();
            if (!haveReference) {
                checkChanged(w, before, after);
                reference = after;
                haveReference = true;
            } else {
                const std::vector<std::string> differences =
                    compareSnapshots(reference, after, "first run (TAVUPD.EXE)", tavupd ? "TAVUPD.EXE" : "bare");
                if (!differences.empty()) {
                    std::fprintf(stderr, "%s: run %d of %s leaves another state:\n", describe(w).c_str(), r + 1,
                                 tavupd ? "TAVUPD.EXE" : "the bare program");
                    printDifferences(differences);
                    fail("the machine states differ");
                }
            }
            (tavupd ? tavupdTimes : bareTimes).push_back(l.seconds);
            if (o.verbose)
                std::printf("    run %2d %-11s %8.3f s\n", r + 1, tavupd ? "TAVUPD.EXE" : "bare", l.seconds);
        }
    }
    Result result;
    result.workload = w;
    result.tavupd = median(tavupdTimes);
    result.bare = median(bareTimes);
    return result;
}

std::string countText(double n) {
    char buffer[32];
    if (std::fabs(n - std::round(n)) < 0.005)
        std::snprintf(buffer, sizeof buffer, "%.0f", n);
    else
        std::snprintf(buffer, sizeof buffer, "%.2f", n);
    return buffer;
}

void printHeader(const Options &o) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    DWORD_PTR processMask = 0, systemMask = 0;
    GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask);
    int usable = 0;
    for (DWORD_PTR m = processMask; m; m &= m - 1) ++usable;
    std::printf("measured: %s: %s, stripped as %s\n", buildName().c_str(), e2e::tavupdExe().c_str(),
                timedTavupd().c_str());
    std::printf("Windows version TAVUPD.EXE sees: %s; processors available: %d of %lu\n", o.os.c_str(), usable,
                static_cast<unsigned long>(info.dwNumberOfProcessors));
}

int timing(const Options &o, Bench &bench) {
    std::printf("End-to-end benchmark: TAVUPD.EXE against the same changes made with bare Win32 calls\n");
    printHeader(o);
    std::printf("%d runs of each side per workload, pairs alternated, each on a freshly reset machine;\n"
                "medians of whole runs (process start to end), timed inside Wine; every run's state verified\n\n",
                o.runs);
    std::printf("%-62s %10s %10s %6s\n", "workload", "TAVUPD.EXE", "bare", "ratio");
    std::vector<Result> results;
    for (Kind kind : o.kinds) {
        const Workload w = workloadFor(kind, o.sizes);
        if (o.verbose) std::printf("  %s\n", describe(w).c_str());
        const Result r = timeWorkload(bench, o, w);
        results.push_back(r);
        std::printf("%-62s %8.3f s %8.3f s %6.2f\n", describe(w).c_str(), r.tavupd, r.bare, r.tavupd / r.bare);
        std::fflush(stdout);
    }
    double logSum = 0;
    for (const Result &r : results) logSum += std::log(r.tavupd / r.bare);
    std::printf("%-62s %10s %10s %6.2f\n", "geometric mean of the ratios", "", "",
                std::exp(logSum / static_cast<double>(results.size())));
    return 0;
}

// Units of the two traced runs of a workload: the smaller and the larger size.
std::pair<Workload, Workload> traceSizes(Kind kind, const Sizes &configured) {
    Sizes small = configured, large = configured;
    small.files = 25, large.files = 50;
    small.iniSets = 50, large.iniSets = 100;
    small.bigFiles = 2, large.bigFiles = 4;
    small.findDirs = 1000, large.findDirs = 2000;
    small.regSets = 50, large.regSets = 100;
    return {workloadFor(kind, small), workloadFor(kind, large)};
}

// One traced run, checked against the bare program's run of the same size.
CallTrace traceWorkload(Bench &bench, const Workload &w) {
    bench.prepare(w, true);
    bench.reset();
    const Snapshot before = bench.snapshot();
    const CallTrace trace = bench.tracedRun();
    const Snapshot traced = bench.snapshot();
    checkChanged(w, before, traced);
    bench.reset();
    const Launch bare = bench.run(false);
    bench.checkOutput(bare, false);
    const std::vector<std::string> differences = compareSnapshots(traced, bench.snapshot(), "fault build", "bare");
    if (!differences.empty()) {
        printDifferences(differences);
        fail("the fault build and the bare program leave different states on " + describe(w));
    }
    return trace;
}

int calls(const Options &o, Bench &bench) {
    std::printf("Platform calls through the seam, counted from the call trace of the fault build\n"
                "(tavupd_fault.exe as TAVUPD.EXE, TAVUPD_CALL_TRACE_FILE); per action = the difference\n"
                "between runs of two sizes, divided by the difference in actions\n");
    printHeader(o);
    std::vector<std::string> columns;
    std::map<std::string, std::map<std::string, double>> table; // call -> column -> count
    for (Kind kind : o.kinds) {
        std::map<std::string, double> perUnit;
        std::string column = unitName(kind);
        if (kind == Kind::Empty) {
            const CallTrace trace = traceWorkload(bench, workloadFor(kind, o.sizes));
            for (const auto &e : trace.perName) perUnit[e.first] = static_cast<double>(e.second);
            std::printf("\nempty run: %zu calls, in order:\n  %s\n", trace.calls.size(),
                        callSequence(trace).c_str());
        } else {
            const auto sizes = traceSizes(kind, o.sizes);
            const CallTrace small = traceWorkload(bench, sizes.first);
            const CallTrace large = traceWorkload(bench, sizes.second);
            const int units = sizes.second.count - sizes.first.count;
            perUnit = callsPerUnit(small, large, units);
            double total = 0;
            for (const auto &e : perUnit) total += e.second;
            std::printf("\nper %s: %s calls (runs of %d and %d; %s: %zu calls in all)\n", column.c_str(),
                        countText(total).c_str(), sizes.first.count, sizes.second.count,
                        describe(sizes.second).c_str(), large.calls.size());
            if (kind == Kind::Files || kind == Kind::Ini || kind == Kind::Registry) {
                // One action more than the smaller run: its calls in order.
                Workload oneMore = sizes.first;
                ++oneMore.count;
                const CallTrace extra = extraCalls(small, traceWorkload(bench, oneMore));
                std::printf("  the last of %d, in order (%zu calls): %s\n", oneMore.count, extra.calls.size(),
                            callSequence(extra).c_str());
            }
            column = "per " + column;
        }
        columns.push_back(column);
        for (const auto &e : perUnit)
            if (std::fabs(e.second) >= 0.005) table[e.first][column] = e.second;
    }

    std::printf("\n%-20s", "call");
    for (size_t c = 0; c < columns.size(); ++c) std::printf(" %10s", ("(" + std::to_string(c + 1) + ")").c_str());
    std::printf("\n");
    std::map<std::string, double> totals;
    for (const auto &row : table) {
        std::printf("%-20s", row.first.c_str());
        for (const std::string &column : columns) {
            const auto cell = row.second.find(column);
            const double n = cell == row.second.end() ? 0 : cell->second;
            totals[column] += n;
            std::printf(" %10s", n == 0 ? "-" : countText(n).c_str());
        }
        std::printf("\n");
    }
    std::printf("%-20s", "total");
    for (const std::string &column : columns) std::printf(" %10s", countText(totals[column]).c_str());
    std::printf("\n");
    for (size_t c = 0; c < columns.size(); ++c) std::printf("  (%zu) %s\n", c + 1, columns[c].c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parseOptions(argc, argv, o)) {
        usage();
        return 2;
    }
    Bench bench(o);
    try {
        bench.setUp();
        const int status = o.calls ? calls(o, bench) : timing(o, bench);
        bench.tearDown();
        return status;
    } catch (const std::exception &e) {
        std::fflush(stdout);
        std::fprintf(stderr, "bench_e2e: %s\n", e.what());
        try {
            bench.tearDown();
        } catch (const std::exception &) {
            // The work area stays; the next run removes it first.
        }
        return 1;
    }
}
