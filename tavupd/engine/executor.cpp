// The executor: patch loop, section walk, and what each line came to.
#include "engine/executor.h"

#include <limits>

#include "engine/actions.h"
#include "engine/conditions.h"
#include "platform/platform.h"
#include "profile/profile.h"
#include "text/textkit.h"

namespace engine {
namespace {

constexpr std::size_t kRecordLineMax = 254; // longest record line "key=name" kept

// The part of a patch name that its record under `key` keeps. The record
// must read back whole from the file and from the registry mirror (whose
// reads hold 255 characters), or it would never match again and the patch
// would be applied a second time.
std::string recordedPart(const std::string &name, const std::string &key) {
    const std::size_t room = kRecordLineMax - key.size() - 1;
    return name.size() > room ? name.substr(0, room) : name;
}

std::string recordKey(int index) { return "Patch" + std::to_string(index); }

bool isDirectory(const std::string &path) {
    const platform::Attributes a = platform::current().attributes(path);
    return a.exists() && a.directory;
}

std::string cut(const std::string &text, std::size_t max) { return text.size() > max ? text.substr(0, max) : text; }

} // namespace

bool Executor::createWorkDirectories() {
    for (const std::string *dir : {&cx_.archiveDirectory, &cx_.tempDirectory}) {
        bool ok = false;
        if (dir->size() <= text::kPathMax) {
            ok = isDirectory(*dir);
            // A plain file of that name is no work directory: creating the
            // directory fails and is reported. A directory that appeared
            // meanwhile is as good as one made here.
            if (!ok) {
                change::Change c;
                c.kind = change::Kind::DirectoryCreated;
                c.path = *dir;
                ok = change::apply(cx_.changes, c, [&] { return platform::current().makeDirectory(*dir); }) ==
                         platform::kOk ||
                     isDirectory(*dir);
            }
        }
        if (!ok) {
            if (cx_.options.isInteractive()) cx_.report.messageWith(12, *dir);
            return false;
        }
    }
    return true;
}

bool Executor::isInstalled(const std::string &patchName, int &next) {
    for (int index = 0;; ++index) {
        const std::string key = recordKey(index);
        const std::string recorded = cx_.systemIni ? cx_.systemIni->getString("Install", key, "") : std::string();
        if (recorded.empty()) {
            if (cx_.debug()) cx_.report.trace("Patch *NOT* already installed\n");
            next = index;
            return false;
        }
        if (text::startsWithNoCase(recorded, recordedPart(patchName, key))) {
            if (cx_.debug()) cx_.report.trace("Patch already installed\n");
            next = index;
            return true;
        }
        if (index == std::numeric_limits<int>::max()) {
            next = index;
            return false;
        }
    }
}

void Executor::recordInstalled(int index, const std::string &patchName) {
    Profile *systemIni = cx_.systemIni;
    if (!systemIni) return;
    const std::string key = recordKey(index);
    change::Change c;
    c.kind = change::Kind::PatchRecorded;
    c.path = systemIni->path();
    c.section = "Install";
    c.key = key;
    c.after = recordedPart(patchName, key);
    if (!cx_.changes.before(c)) throw Error(21, systemIni->path().c_str(), "tvpdf", __LINE__);
    try {
        systemIni->set("Install", key, *c.after);
    } catch (const Error &) {
        cx_.changes.after(c, false);
        throw;
    }
    cx_.changes.after(c, true);
}

Outcome Executor::runLine(const patch::ActionLine &line) {
    using Kind = patch::ActionKind;
    switch (line.kind) {
    case Kind::Ini: return runIni(cx_, std::get<patch::IniAction>(line.action));
    case Kind::Reg: return runReg(cx_, std::get<patch::RegAction>(line.action));
    case Kind::Subst:
    case Kind::File:
    case Kind::FindFile: return runInstall(cx_, line.kind, std::get<patch::InstallAction>(line.action));
    case Kind::Rename:
    case Kind::Copy: return runLocal(cx_, line.kind, std::get<patch::LocalAction>(line.action));
    case Kind::Erase: return runErase(cx_, std::get<patch::EraseAction>(line.action));
    case Kind::Reboot: return runReboot(std::get<patch::RebootAction>(line.action));
    default:
        cx_.report.message(18);
        return Outcome::failed();
    }
}

bool Executor::apply(const Outcome &outcome, RunState &state) {
    if (outcome.waitsForRestart) state.rebootNeeded = 1;
    if (outcome.restartRequest) state.rebootNeeded = *outcome.restartRequest;
    if (outcome.restartProgram) state.rebootProgram = cut(*outcome.restartProgram, text::kPathMax);
    if (outcome.status == Outcome::Status::Failed) ++state.linesFailed;
    if (!outcome.endsRun()) return true;
    state.end = End::CriticalError;
    state.error = outcome.ending;
    return false;
}

bool Executor::processSection(const std::string &name, RunState &state) {
    if (cx_.debug()) cx_.report.trace("Processing section: %s\n", name.c_str());
    const patch::Section *section = model_.findSection(name);
    if (!section) {
        cx_.report.message(18);
        return true;
    }
    for (const patch::ActionLine &line : section->lines) {
        if (line.kind == patch::ActionKind::Blank || line.kind == patch::ActionKind::Comment) continue;
        // A line the engine cannot take whole is not carried out at all:
        // cut, it could mean something else.
        if (cx_.observer) cx_.observer->actionStarts(line.line, line.key);
        if (line.overlong) {
            cx_.report.message(18, line.key);
            ++state.linesFailed;
            if (cx_.observer) cx_.observer->actionEnds(Outcome::failed());
            continue;
        }
        const Outcome outcome = runLine(line);
        if (cx_.observer) cx_.observer->actionEnds(outcome);
        if (!apply(outcome, state)) return false;
    }
    return true;
}

std::optional<int> Executor::checkConditions(RunState &state) {
    int matched = 0;
    for (const patch::ConditionSet &set : model_.conditionSets) {
        std::string branch;
        if (!setHolds(cx_, set, branch)) continue;
        ++matched;
        if (!processSection(branch, state)) return std::nullopt;
    }
    return matched;
}

void Executor::run(RunState &state) {
    const bool debug = cx_.debug();
    if (debug) {
        cx_.report.trace("Opening installation profile\n");
        cx_.report.trace("Installation profile open\n");
        cx_.report.trace("Processing installation profile\n");
    }
    if (!createWorkDirectories()) {
        state.end = End::NoWorkDirectory;
        return;
    }
    const std::string patchName = cut(model_.settings.patch.value, text::kPathMax);
    if (debug) cx_.report.trace("Checking patch\n");
    int nextPatch = 0;
    if (!patchName.empty()) {
        if (isInstalled(patchName, nextPatch)) {
            state.end = End::AlreadyInstalled;
            return;
        }
        if (debug) cx_.report.trace("Next Patch: %d\n", nextPatch);
    }
    if (debug) cx_.report.trace("Checking Conditions\n");
    const std::optional<int> matched = checkConditions(state);
    if (!matched) return;
    if (*matched == 0) {
        state.end = End::DoesNotApply;
        return;
    }
    const int family = cx_.machine.osFamily;
    if (!patchName.empty() && (family == FamilyWin95 || family == FamilyNT)) {
        try {
            recordInstalled(nextPatch, patchName);
        } catch (const Error &e) {
            state.end = End::CriticalError;
            state.error = e;
        }
    }
}

} // namespace engine
