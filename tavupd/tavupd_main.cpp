// Entry of the patch installer: file names from the program's own path,
// message catalog, run context, command line, run settings, banner, the
// engine, and the restart decision at the end.
//
// Exit status: 1 for every failure that ends the run (including any Error
// that reaches this function); 0 when a follow-on program was started, and
// 0 for a run that ends normally. A run that needs a restart of Windows but
// started no reboot program (none configured, or it could not be started)
// ends with 3010, the "succeeded, restart required" code that software
// deployment tools understand, so that an unattended caller learns that
// the machine still has to be restarted.
#include "app/check_switch.h"
#include "nls.h"
#include "paths.h"
#include "sys.h"
#include "tavupd.h"
#include "tavupd_error.h"
#include "tvpdf.h"
#include "tvpprof.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#ifdef TAVUPD_FAULT_INJECTION
#include <cstdio>
#include <cstdlib>
#endif

namespace {

const char *const kVersion = "v2.00 Beta 6N";
constexpr size_t kProgramPathMax = 255; // characters of the program path
constexpr size_t kPathMax = 259;        // characters of the profile path
constexpr UINT kWindowsDirectorySize = 260;
constexpr int kStatusRestartRequired = 3010;

#ifdef TAVUPD_FAULT_INJECTION
// Test hook of the fault build: TAVUPD_FAULT_CALL=k makes the k-th platform
// call fail; TAVUPD_CALL_COUNT_FILE names a file that receives the number of
// platform calls the run made. The count is written with the plain C
// library on purpose: the hook's own calls must neither be counted nor be
// hit by the armed fault. TAVUPD_KILL_AT_CALL=k ends the run abruptly at
// the k-th platform call (see sys::killAtNthCall).
std::string callCountFile;

void writeCallCount() {
    std::FILE *f = std::fopen(callCountFile.c_str(), "w");
    if (!f) return;
    std::fprintf(f, "%lu\n", sys::callCount());
    std::fclose(f);
}

// TAVUPD_CALL_TRACE_FILE names a file that receives one line per platform
// call: its number and its name.
std::FILE *callTrace = nullptr;

void traceCall(sys::Call call, unsigned long number) {
    std::fprintf(callTrace, "%lu %s\n", number, sys::callName(call));
    std::fflush(callTrace);
}

void installFaultHook() {
    if (const char *file = std::getenv("TAVUPD_CALL_TRACE_FILE")) {
        if (*file && (callTrace = std::fopen(file, "w")) != nullptr) sys::setCallObserver(traceCall);
    }
    if (const char *k = std::getenv("TAVUPD_FAULT_CALL")) {
        char *end = nullptr;
        const unsigned long nth = std::strtoul(k, &end, 10);
        if (end != k && *end == '\0' && nth > 0) sys::failNthCall(nth);
    }
    // TAVUPD_KILL_AT_CALL=k ends the process abruptly at the k-th platform
    // call, as a power cut at that point would.
    if (const char *k = std::getenv("TAVUPD_KILL_AT_CALL")) {
        char *end = nullptr;
        const unsigned long nth = std::strtoul(k, &end, 10);
        if (end != k && *end == '\0' && nth > 0) sys::killAtNthCall(nth);
    }
    if (const char *file = std::getenv("TAVUPD_CALL_COUNT_FILE")) {
        if (*file) {
            callCountFile = file;
            std::atexit(writeCallCount);
        }
    }
}
#endif

// Full path of the running program, at most 255 characters. The argument
// list's first element stands in when the system gives no module path.
std::string programPath(const char *argv0) {
    char buffer[kProgramPathMax + 2] = {};
    const DWORD n = sys::GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(sizeof buffer));
    std::string path;
    if (n > 0 && n < sizeof buffer)
        path.assign(buffer, n);
    else if (n >= sizeof buffer)
        path.assign(buffer, sizeof buffer - 1);
    else if (argv0)
        path = argv0;
    if (path.size() > kProgramPathMax) path.resize(kProgramPathMax);
    return path;
}

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

constexpr char kBell = 7;
// Messages appended to the language file after the original list.
constexpr int kMessageLogRefused = 37;
constexpr int kMessageProfilePathTooLong = 38;

// Applies switches i, d and p; each argument is tested against all three.
// A profile path longer than a path may be is refused: the run ends with
// status 1 before anything is opened under it.
void applySwitches(int argc, char **argv, ConfigData &config, std::string &profilePath, NLSClass &messages) {
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (!arg) continue;
        const size_t length = std::strlen(arg);
        if (length >= 1 && lower(arg[0]) == 'i') config.setInteractive(1);
        if (length >= 2 && lower(arg[1]) == 'd') config.setDebug(1);
        if (length >= 2 && lower(arg[1]) == 'p') {
            if (length == 2) {
                // The path is the next argument; without one nothing changes.
                if (i + 1 < argc && argv[i + 1]) profilePath = argv[++i];
            } else {
                profilePath = arg + 2;
            }
            if (profilePath.size() > kPathMax) {
                messages.printTo(stderr, "\n%c%s: %s\n", kBell, messages.getMessage(kMessageProfilePathTooLong),
                                 profilePath.c_str());
                endRun(1);
            }
        }
    }
}

// Message 28 goes straight to the standard error stream, not to the log.
void reportNoWindowsDirectory(const NLSClass &messages) {
    std::string text(1, '\a');
    text += messages.getMessage(28);
    text += '\n';
    sys::fputs(text.c_str(), stderr);
    sys::fflush(stderr);
}

// The objects of the run. They live outside the protected block so that a
// critical error ends the program without releasing any of them.
struct Run {
    std::unique_ptr<NLSClass> messages;
    std::unique_ptr<ConfigData> config;
    std::unique_ptr<DataFile> dataFile;

    // Release order: the engine (with the installation profile), the log,
    // the system TAVRO.INI, the product's TAVRO.INI, the run context. The
    // catalog stays for what is printed after that.
    void release() {
        dataFile.reset();
        if (messages) messages->setLogFile(nullptr, 0);
        if (config) {
            config->releaseSystemIni();
            config->releaseProductIni();
        }
        config.reset();
    }
};

// Steps from the catalog to the end of the engine; any Error raised here and
// not handled below reaches main.
void runProtected(Run &run, int argc, char **argv, const std::string &programPath,
                  const std::string &programDirectory, const std::string &languageFile, std::string profilePath) {
    try {
        run.messages = std::make_unique<NLSClass>(languageFile);
    } catch (const std::bad_alloc &) {
        throw Error(1, static_cast<int>(sizeof(NLSClass)), "tavupd", __LINE__);
    }
    NLSClass &messages = *run.messages;
    if (!messages.load()) endRun(1);

    char windowsDirectory[kWindowsDirectorySize] = {};
    const UINT n = sys::GetWindowsDirectoryA(windowsDirectory, kWindowsDirectorySize);
    // Nothing, or an answer that does not fit the buffer, is no directory.
    if (n == 0 || n >= kWindowsDirectorySize) {
        reportNoWindowsDirectory(messages);
        endRun(1);
    }

    run.config = createConfigData(std::string(windowsDirectory, n));
    ConfigData &config = *run.config;
    config.setProgramDirectory(programDirectory);

    applySwitches(argc, argv, config, profilePath, messages);

    std::string logFile;
    bool logRefused = false;
    {
        std::unique_ptr<Profile> settings;
        try {
            settings = std::make_unique<Profile>(profilePath, Profile::FileMode);
        } catch (const std::bad_alloc &) {
            throw Error(1, static_cast<int>(sizeof(Profile)), "tavupd", __LINE__);
        }
        logFile = settings->getString("Patch", "LogFile", "");
        const int appendLog = settings->getInt("Patch", "AppendLog", 0);
        config.setForce(settings->getInt("Patch", "Force", 0));
        config.setBackup(settings->getInt("Patch", "Backup", 1));
        config.setRebootProgram(settings->getString("Patch", "Reboot Program", ""));
        config.setFailedProgram(settings->getString("Patch", "Failed Program", ""));

        // The log must not overwrite a file the run needs, nor be a directory.
        if (!logFile.empty()) {
            std::vector<std::string> kitFiles{programPath, languageFile, profilePath};
            for (const std::string *name : {&config.rebootProgram(), &config.failedProgram()})
                for (const std::string &candidate : followOnCandidates(programDirectory, *name))
                    kitFiles.push_back(candidate);
            logRefused = isRefusedLogPath(logFile, programDirectory, kitFiles);
        }
        messages.setLogFile(logFile.empty() || logRefused ? nullptr : logFile.c_str(), appendLog);
    }

    messages.print("%s %s\n", messages.getMessage(3), kVersion);
    if (logRefused)
        messages.printTo(stderr, "\n%c%s: %s\n", kBell, messages.getMessage(kMessageLogRefused), logFile.c_str());
    if (config.isDebug()) messages.print("Compiled: %s %s\n", __DATE__, __TIME__);

    try {
        run.dataFile = std::make_unique<DataFile>(profilePath, run.config.get(), run.messages.get());
    } catch (const std::bad_alloc &) {
        throw Error(1, static_cast<int>(sizeof(DataFile)), "tavupd", __LINE__);
    }
    run.dataFile->run();
}

} // namespace

int main(int argc, char **argv) {
#ifdef TAVUPD_FAULT_INJECTION
    installFaultHook();
#endif
    const std::string path = programPath(argc > 0 ? argv[0] : nullptr);
    std::string programDirectory = path;
    pathFolder(programDirectory);
    std::string languageFile = path;
    setExtension(languageFile, ".MSG");
    std::string profilePath = path;
    setExtension(profilePath, ".DAT");
    // -c only reads the profile and the kit directory: it branches off
    // before the catalog, the run context and the log touch the machine.
    if (checkSwitchGiven(argc, argv)) return runProfileCheck(argc, argv, programDirectory, profilePath);

    // Declared outside the protected block: unwinding to the handler leaves
    // it alone, and ending the run from there releases nothing.
    Run run;
    try {
        runProtected(run, argc, argv, path, programDirectory, languageFile, profilePath);
    } catch (const Error &error) {
        reportCriticalError(error);
        endRun(1);
    } catch (const std::bad_alloc &) {
        // Memory ran out outside the places that name the object they
        // create: reported as allocation failure of unknown size.
        reportCriticalError(Error(1, 0, "tavupd", __LINE__));
        endRun(1);
    }

    NLSClass &messages = *run.messages;
    ConfigData &config = *run.config;
    messages.print("%s\n", messages.getMessage(7));

    int status = 0;
    if (config.isRebootNeeded()) {
        status = kStatusRestartRequired;
        if (!config.rebootProgram().empty()) {
            const std::string directory = config.programDirectory();
            const std::string rebootProgram = config.rebootProgram();
            const bool logged = messages.logOpen();
            const std::string logFile = messages.logFileName();
            run.release();
            // Ends the program with status 0 when it starts.
            startFollowOnProgramIn(directory, rebootProgram);
            // It could not be started: the run ends as without one, and the
            // log receives the rest of it.
            if (logged) messages.setLogFile(logFile.c_str(), 1);
        }
        messages.print("%s\n", messages.getMessage(8));
    }
    run.release();
    return status;
}
