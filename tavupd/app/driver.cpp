// The run driver: file names from the program's own path, message catalog,
// run context, command line, run settings, banner, the engine, and what the
// run came to: follow-on programs and the exit status.
//
// Exit status (app/exit_status.h): 1 for every failure that ends the run
// (including any Error that reaches the driver); 0 when a follow-on program
// was started, and 0 for a run that applied the patch. A run that needs a
// restart of Windows but started no reboot program ends with 3010; one in
// which action lines failed with 1603; a patch already installed with 1638;
// a patch for which no condition set holds with 1642 - the values software
// deployment tools already know for these outcomes.
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/check_switch.h"
#include "app/exit_status.h"
#include "app/journal_run.h"
#include "app/nls.h"
#include "app/run.h"
#include "engine/executor.h"
#include "engine/preview.h"
#include "platform/overlay.h"
#include "platform/platform.h"
#include "text/error.h"
#include "text/patchmodel.h"
#include "text/paths.h"
#include "text/textkit.h"

namespace app {
namespace {

const char *const kVersion = "v2.00 Beta 6N";
constexpr size_t kProgramPathMax = 255; // characters of the program path
// Messages appended to the language file after the original list.
constexpr int kMessageLogRefused = 37;
constexpr int kMessageProfilePathTooLong = 38;

// The files a run is made of, named after the running program.
struct Kit {
    std::string program, directory, languageFile, profile;
};

// The messages the driver prints, in the reporter's forms.
engine::Reporter reporter(NLSClass &messages) { return engine::Reporter(messages.catalog(), messages, false); }

// Full path of the running program, at most 255 characters. The argument
// list's first element stands in when the system gives no module path.
std::string programPath(const char *argv0) {
    std::string path = platform::current().moduleFileName().value_or(argv0 ? std::string(argv0) : std::string());
    if (path.size() > kProgramPathMax) path.resize(kProgramPathMax);
    return path;
}

// Switches i, d and p; each argument is tested against all three. A
// profile path longer than a path may be is refused: false (message 38),
// before anything is opened under it.
bool applySwitches(int argc, char **argv, engine::Options &options, std::string &profilePath, NLSClass &messages) {
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (!arg) continue;
        const size_t length = std::strlen(arg);
        if (length >= 1 && text::lower(arg[0]) == 'i') options.interactive = 1;
        if (length >= 2 && text::lower(arg[1]) == 'd') options.debug = 1;
        if (length < 2 || text::lower(arg[1]) != 'p') continue;
        if (length == 2) {
            // The path is the next argument; without one nothing changes.
            if (i + 1 < argc && argv[i + 1]) profilePath = argv[++i];
        } else {
            profilePath = arg + 2;
        }
        if (profilePath.size() > text::kPathMax) {
            reporter(messages).message(kMessageProfilePathTooLong, profilePath);
            return false;
        }
    }
    return true;
}

// The installation profile, read once; a profile that cannot be read is
// an empty one.
patch::Model readProfile(const std::string &path) {
    const platform::Result<std::string> bytes = platform::current().readAll(path);
    return patch::parse(bytes.ok() ? bytes.value : std::string());
}

// The objects of the run. The changes and the journal are declared first:
// the settings files report their changes to them until they are released.
struct Run {
    RunChanges changes;
    std::unique_ptr<journal::JournalSink> journal;
    std::unique_ptr<NLSClass> messages;
    std::unique_ptr<RunConfig> config;
    std::string profilePath;
    std::string profileArgument; // the profile as -p gave it, for the undo hint
    // What the run does is told to `report` when there is one (the preview;
    // a test's record of a real run); `quiet`: nothing printed to the console.
    preview::Report *report = nullptr;
    bool quiet = false;
    bool restartNeeded = false;

    // Release order: the log, the system TAVRO.INI, the product's TAVRO.INI.
    // The catalog stays for what is printed after that.
    void release() {
        if (messages) messages->setLogFile(nullptr, 0);
        if (config) {
            config->systemIni.reset();
            config->productIni.reset();
        }
    }
};

// The settings of [Patch] that the driver uses, and the log: refused when
// it would overwrite a file the run needs. True when it was refused.
bool applySettings(Run &run, const Kit &kit, const patch::Settings &settings) {
    RunConfig &config = *run.config;
    config.options.force = settings.force.value;
    config.options.backup = settings.backup.value;
    config.rebootProgram = settings.rebootProgram.value.substr(0, text::kPathMax);
    config.failedProgram = settings.failedProgram.value.substr(0, text::kPathMax);
    const std::string &logFile = settings.logFile.value;
    bool refused = false;
    if (!logFile.empty()) {
        std::vector<std::string> kitFiles{kit.program, kit.languageFile, run.profilePath};
        for (const std::string *name : {&config.rebootProgram, &config.failedProgram})
            for (const std::string &candidate : followOnCandidates(config.machine.programDirectory, *name))
                kitFiles.push_back(candidate);
        refused = isRefusedLogPath(logFile, config.machine.programDirectory, kitFiles);
    }
    run.messages->setLogFile(logFile.empty() || refused ? nullptr : logFile.c_str(), settings.appendLog.value);
    return refused;
}

// A run that did not apply: the failed program when interactive, or the
// messages that say why. Status 0 when the failed program started, else
// the outcome's own status.
int refuse(Run &run, bool alreadyInstalled) {
    RunConfig &config = *run.config;
    NLSClass &messages = *run.messages;
    const int status = alreadyInstalled ? exitstatus::kAlreadyInstalled : exitstatus::kDoesNotApply;
    if (!config.options.isInteractive()) return status;
    if (startFollowOnProgram(config.machine.programDirectory, config.failedProgram)) return exitstatus::kApplied;
    // One that cannot be started leaves the messages to be shown as
    // without one.
    if (alreadyInstalled)
        reporter(messages).message(11);
    else
        reporter(messages).messages(9, 10);
    return status;
}

// The end of a run that applied: the closing line, and the restart. A run
// in which lines failed ends with 1603 unless the reboot program started.
int finishApplied(Run &run, const engine::RunState &state) {
    NLSClass &messages = *run.messages;
    messages.print("%s\n", messages.getMessage(7));
    const bool linesFailed = state.linesFailed > 0;
    if (state.rebootNeeded != 1) {
        run.release();
        return linesFailed ? exitstatus::kLinesFailed : exitstatus::kApplied;
    }
    if (!state.rebootProgram.empty()) {
        const bool logged = messages.logOpen();
        const std::string logFile = messages.logFileName();
        run.release();
        if (startFollowOnProgram(run.config->machine.programDirectory, state.rebootProgram))
            return exitstatus::kApplied;
        // It could not be started: the run ends as without one, and the
        // log receives the rest of it.
        if (logged) messages.setLogFile(logFile.c_str(), 1);
    }
    messages.print("%s\n", messages.getMessage(8));
    run.release();
    return linesFailed ? exitstatus::kLinesFailed : exitstatus::kAppliedRestartNeeded;
}

// The journal of a run that applies a named patch: every change the run
// makes from here on is recorded in it first.
void startJournal(Run &run, const patch::Model &model) {
    const std::string patchName = model.settings.patch.value.substr(0, text::kPathMax);
    if (patchName.empty()) return;
    run.journal = openJournal(*run.config, patchName, run.profilePath);
    run.changes.attach(*run.journal);
}

int runEngine(Run &run, const patch::Model &model, const Kit &kit) {
    RunConfig &config = *run.config;
    engine::Reporter reporter(run.messages->catalog(), *run.messages, config.options.isDebug());
    startJournal(run, model);
    engine::Context context(config.machine, config.options, reporter, run.changes);
    context.observer = run.report;
    context.systemIni = config.systemIni.get();
    context.productIni = config.productIni.get();
    engine::RunState state;
    state.rebootProgram = config.rebootProgram;
    engine::Executor(context, model).run(state);
    run.restartNeeded = state.end == engine::End::Applied && state.rebootNeeded == 1;
    // An archive directory that cannot be made is reported as such (message
    // 12), not as a journal that cannot be written in it.
    if (run.journal && run.journal->broken()) {
        const platform::Attributes archive = platform::current().attributes(context.archiveDirectory);
        if (state.end != engine::End::NoWorkDirectory || (archive.exists() && archive.directory))
            reportJournalBroken(*run.messages, *run.journal);
    }
    switch (state.end) {
    case engine::End::Applied: return finishApplied(run, state);
    case engine::End::AlreadyInstalled: return refuse(run, true);
    case engine::End::DoesNotApply: return refuse(run, false);
    case engine::End::NoWorkDirectory: return 1;
    case engine::End::CriticalError: break;
    }
    reportCriticalError(*state.error);
    if (run.journal) reportHowToUndo(*run.messages, *run.journal, kit.program, run.profileArgument);
    return 1;
}

// From the catalog to the end of the run; an Error not handled on the way
// reaches the caller.
int runProtected(Run &run, int argc, char **argv, const Kit &kit) {
    try {
        run.messages = std::make_unique<NLSClass>(kit.languageFile);
    } catch (const std::bad_alloc &) {
        throw Error(1, static_cast<int>(sizeof(NLSClass)), "tavupd", __LINE__);
    }
    NLSClass &messages = *run.messages;
    if (run.report) {
        messages.tap(run.report, run.quiet);
        run.changes.attach(*run.report);
    }
    if (!messages.load()) return 1;

    const std::optional<std::string> windowsDirectory = platform::current().windowsDirectory();
    if (!windowsDirectory) {
        // Message 28 goes straight to the standard error stream, not to the log.
        std::fprintf(stderr, "%c%s\n", text::kBell, messages.getMessage(28));
        std::fflush(stderr);
        return 1;
    }
    run.config = loadRunConfig(*windowsDirectory, run.changes);
    RunConfig &config = *run.config;
    config.machine.programDirectory = kit.directory.substr(0, text::kPathMax);
    run.profilePath = kit.profile;
    if (!applySwitches(argc, argv, config.options, run.profilePath, messages)) return 1;
    // A preview with -d shows the run's own lines and trace as well.
    if (run.report && config.options.isDebug()) messages.tap(run.report, false);

    if (run.profilePath != kit.profile) run.profileArgument = run.profilePath;
    const patch::Model model = readProfile(run.profilePath);
    // -s changes nothing: not even the log.
    if (statusSwitchGiven(argc, argv)) {
        messages.print("%s %s\n", messages.getMessage(3), kVersion);
        return runStatus(config, messages);
    }
    const bool logRefused = applySettings(run, kit, model.settings);
    messages.print("%s %s\n", messages.getMessage(3), kVersion);
    if (logRefused)
        reporter(messages).message(kMessageLogRefused, model.settings.logFile.value);
    if (config.options.isDebug()) messages.print("Compiled: %s %s\n", __DATE__, __TIME__);
    if (const int undo = undoSwitchCount(argc, argv))
        return runUndo(config, messages, model.settings.patch.value.substr(0, text::kPathMax), undo);
    return runEngine(run, model, kit);
}

// The run with its critical errors reported; the exit status.
int runGuarded(Run &state, int argc, char **argv, const Kit &kit) {
    return withCriticalReport([&] { return runProtected(state, argc, argv, kit); }, __LINE__);
}

// -n: the very run on the machine as it is, through an overlay that keeps
// every change in memory (reads pass through, later reads see earlier
// changes; whether an existing file could be changed now is asked of the
// machine without changing it). Nothing the run prints reaches the console:
// the report of what it would do does, and the status is the run's.
int runPreview(platform::Win32Platform &machine, int argc, char **argv, const Kit &kit) {
    platform::OverlayPlatform overlay(machine, machine, [&machine] { return machine.localNow(); });
    platform::Install install(overlay);
    preview::Report report(text::fileNameOf(kit.profile));
    int status = 1;
    {
        Run state;
        state.report = &report;
        state.quiet = true;
        status = runGuarded(state, argc, argv, kit);
        if (!state.profilePath.empty()) report.setProfileName(text::fileNameOf(state.profilePath));
        for (const platform::StartedProcess &p : overlay.startedProcesses()) {
            const platform::Attributes program = overlay.attributes(p.application);
            const bool there = program.exists() && !program.directory;
            report.note("would start " + p.commandLine + (there ? "" : " (not there: it cannot be started)"));
        }
        report.finish({state.restartNeeded, status});
    }
    std::printf("Preview: what this run would do on this machine (nothing is changed)\n%s", report.text().c_str());
    std::fflush(stdout);
    return status;
}

} // namespace

int run(int argc, char **argv, const platform::Win32Calls &calls, preview::Report *record) {
    platform::Win32Platform win32(calls);
    platform::Install install(win32);

    Kit kit;
    kit.program = programPath(argc > 0 ? argv[0] : nullptr);
    kit.directory = text::folderOf(kit.program);
    kit.languageFile = text::withExtension(kit.program, ".MSG");
    kit.profile = text::withExtension(kit.program, ".DAT");
    // -c only reads the profile and the kit directory: it branches off
    // before the catalog, the run context and the log touch the machine.
    if (checkSwitchGiven(argc, argv)) return runProfileCheck(argc, argv, kit.directory, kit.profile);
    if (previewSwitchGiven(argc, argv)) return runPreview(win32, argc, argv, kit);

    Run state;
    state.report = record;
    const int status = runGuarded(state, argc, argv, kit);
    if (record) {
        if (!state.profilePath.empty()) record->setProfileName(text::fileNameOf(state.profilePath));
        record->finish({state.restartNeeded, status});
    }
    return status;
}

} // namespace app
