#include "app/journal_run.h"

#include <cstdio>
#include <cstring>

#include "app/exit_status.h"
#include "files/files.h"
#include "journal/machine_ops.h"
#include "journal/status.h"
#include "journal/undo.h"
#include "platform/platform.h"
#include "text/paths.h"
#include "text/textkit.h"

namespace app {
namespace {

// Messages appended to the language file for the journal, undo and status.
enum Message {
    kJournalBroken = 39,
    kHowToUndo = 40,
    kUndone = 41,
    kNothingToUndo = 42,
    kLaterPatch = 43,
    kChangedSince = 44,
    kNoJournal = 45,
    kUndoIncomplete = 46,
    kProductDirectory = 47,
    kInstalledPatches = 48,
    kJournalPresent = 49,
    kNoJournalPresent = 50,
    kUnrecordedJournal = 51,
    kWaiting = 52,
    kMustRestart = 53,
    kNone = 54,
    kTakingBack = 55,
    kNotRestored = 56,
};

// The letter of a switch argument (its second character), or 0.
char switchLetter(const char *arg) { return arg && arg[0] != '\0' ? text::lower(arg[1]) : '\0'; }

// Calls `each` with the letter of every switch argument; the path after a
// lone -p is skipped.
template <typename Each> void eachSwitch(int argc, char **argv, Each each) {
    for (int i = 1; i < argc; ++i) {
        const char letter = switchLetter(argv[i]);
        if (letter == 'p' && std::strlen(argv[i]) == 2) {
            ++i;
            continue;
        }
        each(letter);
    }
}

journal::Family familyOf(int osFamily) {
    if (osFamily == engine::FamilyWin95) return journal::Family::Win95;
    if (osFamily == engine::FamilyNT) return journal::Family::NT;
    return journal::Family::None;
}

std::string archiveOf(const RunConfig &config) { return text::joinPath(config.machine.productDirectory, "ARCHIVE"); }

// [Install]'s place: the system TAVRO.INI, or its registry form.
std::string installLocation(const RunConfig &config) {
    return config.systemIni ? config.systemIni->path() : std::string();
}

engine::Reporter reporter(NLSClass &messages) { return engine::Reporter(messages.catalog(), messages, false); }

void printLine(NLSClass &messages, const std::string &line) { messages.print("%s\n", line.c_str()); }

} // namespace

int undoSwitchCount(int argc, char **argv) {
    int count = 0;
    eachSwitch(argc, argv, [&](char letter) { count += letter == 'u' ? 1 : 0; });
    return count;
}

bool statusSwitchGiven(int argc, char **argv) {
    bool given = false;
    eachSwitch(argc, argv, [&](char letter) { given = given || letter == 's'; });
    return given;
}

std::unique_ptr<journal::JournalSink> openJournal(const RunConfig &config, const std::string &patch,
                                                  const std::string &profilePath) {
    journal::RunInfo run;
    run.archive = archiveOf(config);
    run.begin.patch = patch;
    run.begin.profile = profilePath;
    run.begin.family = familyOf(config.machine.osFamily);
    run.begin.product = config.machine.productDirectory;
    run.begin.windows = config.machine.windowsDirectory;
    return std::make_unique<journal::JournalSink>(platform::current(), std::move(run));
}

void reportJournalBroken(NLSClass &messages, const journal::JournalSink &sink) {
    if (sink.broken()) reporter(messages).message(kJournalBroken, sink.path());
}

void reportHowToUndo(NLSClass &messages, const journal::JournalSink &sink, const std::string &program,
                     const std::string &profileArgument) {
    if (!sink.recorded()) return;
    std::string command = text::fileNameOf(program) + " -u";
    if (!profileArgument.empty()) command += " -p " + profileArgument;
    std::fprintf(stderr, "%s: %s\n", messages.getMessage(kHowToUndo), command.c_str());
    std::fflush(stderr);
}

int runUndo(RunConfig &config, NLSClass &messages, const std::string &patch, int count) {
    platform::Platform &machine = platform::current();
    journal::UndoSetup setup;
    setup.archive = archiveOf(config);
    setup.systemIni = installLocation(config);
    setup.windowsDirectory = config.machine.windowsDirectory;
    setup.family = familyOf(config.machine.osFamily);
    setup.forced = count >= 2;
    setup.patch = patch;
    setup.isWorkFileName = [](const std::string &name) {
        return files::isWorkFileName(name) || isIniWorkFileName(name);
    };
    if (setup.patch.empty() && !setup.systemIni.empty()) {
        const std::vector<std::string> installed = journal::installedPatches(machine, setup.systemIni);
        if (!installed.empty()) setup.patch = installed.back();
    }
    if (setup.patch.empty()) {
        reporter(messages).message(kNothingToUndo);
        return exitstatus::kNothingToUndo;
    }
    messages.print("%s: %s\n", messages.getMessage(kTakingBack), setup.patch.c_str());

    const journal::UndoPlan plan = journal::planUndo(machine, setup);
    switch (plan.status) {
    case journal::PlanStatus::Ready:
        break;
    case journal::PlanStatus::NothingToUndo:
        reporter(messages).message(kNothingToUndo);
        return exitstatus::kNothingToUndo;
    case journal::PlanStatus::LaterPatch: {
        std::string later;
        for (const std::string &name : plan.laterPatches) later += (later.empty() ? "" : ", ") + name;
        reporter(messages).message(kLaterPatch, later);
        reporter(messages).messages(10, 10);
        return exitstatus::kUndoRefusedLaterPatch;
    }
    case journal::PlanStatus::Changed:
        reporter(messages).message(kChangedSince);
        for (const journal::Conflict &c : plan.conflicts) printLine(messages, "\t" + c.subject + ": " + c.what);
        printLine(messages, messages.getMessage(10));
        return exitstatus::kUndoRefusedChanged;
    case journal::PlanStatus::NoJournal:
    case journal::PlanStatus::Unreadable:
    case journal::PlanStatus::Damaged:
        reporter(messages).message(kNoJournal, plan.journalPath);
        return exitstatus::kUndoRefusedNoJournal;
    }

    const journal::UndoResult result = journal::applyUndo(machine, setup, plan);
    for (const journal::Conflict &c : result.passedOver) printLine(messages, "\t" + c.subject + ": " + c.what);
    // Files the journal could not copy (held unreadable by a program when
    // the patch changed them) stay as they are: not taken back wholly.
    if (!result.notRestored.empty() && result.outcome != journal::UndoOutcome::Incomplete) {
        for (const std::string &file : result.notRestored) reporter(messages).message(kNotRestored, file);
        return exitstatus::kUndoIncomplete;
    }
    switch (result.outcome) {
    case journal::UndoOutcome::Undone:
        printLine(messages, messages.getMessage(kUndone));
        return exitstatus::kUndone;
    case journal::UndoOutcome::UndoneRestartNeeded:
        for (const std::string &file : result.atRestart) printLine(messages, "\t" + file);
        printLine(messages, messages.getMessage(kUndone));
        printLine(messages, messages.getMessage(8));
        return exitstatus::kUndoneRestartNeeded;
    case journal::UndoOutcome::NothingToUndo:
        reporter(messages).message(kNothingToUndo);
        return exitstatus::kNothingToUndo;
    case journal::UndoOutcome::Refused:
        reporter(messages).message(kNoJournal, plan.journalPath);
        return exitstatus::kUndoRefusedNoJournal;
    case journal::UndoOutcome::Incomplete:
        break;
    }
    reporter(messages).message(kUndoIncomplete, result.failure);
    return exitstatus::kUndoIncomplete;
}

int runStatus(RunConfig &config, NLSClass &messages) {
    journal::StatusSetup setup;
    setup.productDirectory = config.machine.productDirectory;
    setup.archive = archiveOf(config);
    setup.systemIni = installLocation(config);
    setup.windowsDirectory = config.machine.windowsDirectory;
    setup.family = familyOf(config.machine.osFamily);
    const journal::StatusReport report = journal::gatherStatus(platform::current(), setup);

    messages.print("%s: %s\n", messages.getMessage(kProductDirectory), report.productDirectory.c_str());
    messages.print("%s:\n", messages.getMessage(kInstalledPatches));
    if (report.installed.empty()) messages.print("  %s\n", messages.getMessage(kNone));
    for (std::size_t i = 0; i < report.installed.size(); ++i) {
        const journal::InstalledPatch &p = report.installed[i];
        messages.print("  Patch%u=%s (%s)\n", static_cast<unsigned>(i), p.name.c_str(),
                       messages.getMessage(p.journal ? kJournalPresent : kNoJournalPresent));
    }
    for (const std::string &patch : report.unrecorded)
        messages.print("%s: %s\n", messages.getMessage(kUnrecordedJournal), patch.c_str());
    if (!report.restartNeeded()) return exitstatus::kStatusClean;
    messages.print("%s:\n", messages.getMessage(kWaiting));
    for (const journal::WaitingReplacement &r : report.waiting) {
        const journal::Waiting &w = r.waiting;
        const std::string what = w.target ? *w.target + " <- " + w.source : w.source + " (-)";
        const std::string whose = r.patch.empty() ? w.mechanism : w.mechanism + ", " + r.patch;
        messages.print("  %s [%s]\n", what.c_str(), whose.c_str());
    }
    messages.print("%s\n", messages.getMessage(kMustRestart));
    return exitstatus::kStatusRestartPending;
}

} // namespace app
