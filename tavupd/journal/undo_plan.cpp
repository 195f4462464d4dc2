// Deciding what undo takes back, and whether it must refuse.
#include "journal/machine_ops.h"
#include "journal/undo.h"
#include "text/textkit.h"
#include "text/ini.h"

namespace journal {

using change::Kind;

namespace {

bool isIniFileKind(const change::Change &c) {
    return (c.kind == Kind::IniKeySet || c.kind == Kind::IniKeyDeleted || c.kind == Kind::IniSectionDeleted ||
            c.kind == Kind::PatchRecorded) &&
           !isRegistryIni(c.path);
}

std::string upper(const std::string &s) {
    std::string out(s);
    for (char &c : out) c = text::upper(c);
    return out;
}

const FileState *stateIn(const Left &left, const std::string &path) {
    const FileState *found = nullptr;
    for (const FileLeft &f : left.files)
        if (text::equalsNoCase(f.path, path)) found = &f.state;
    return found;
}

std::string howChanged(const FileState &expected, const FileState &now) {
    if (now.is == FileState::Is::Absent) return "is gone since the patch";
    if (expected.is == FileState::Is::Absent) return "is there again since the patch removed it";
    return "holds other bytes than the patch left";
}

// The lines of a section, its header included.
std::vector<std::string> sectionLines(const ini::Table &t, const std::string &section) {
    std::vector<std::string> out;
    const long header = t.findSection(section.c_str());
    if (header < 0) return out;
    const std::vector<std::string> &lines = t.lines();
    out.push_back(lines[static_cast<std::size_t>(header)]);
    for (std::size_t i = static_cast<std::size_t>(header) + 1; i < lines.size() && !ini::isSectionLine(lines[i].c_str());
         ++i)
        out.push_back(lines[i]);
    return out;
}

bool sameText(const char *now, const std::optional<std::string> &then) {
    return then ? now != nullptr && *then == now : now == nullptr;
}

// A key or section the patch touched that holds something else now. Only
// the newest record of each key counts.
bool iniEntryChanged(const ini::Table &t, const change::Change &c) {
    if (c.kind == Kind::IniSectionDeleted) {
        const std::vector<std::string> now = sectionLines(t, c.section);
        if (now.empty() || now == c.lines) return false;
        return !(now.size() == c.lines.size() + 1 && std::equal(c.lines.begin(), c.lines.end(), now.begin() + 1));
    }
    const char *now = c.key ? t.lookup(c.section.c_str(), c.key->c_str()) : nullptr;
    const bool asLeft = c.kind == Kind::IniKeySet ? sameText(now, c.after) : now == nullptr;
    return !asLeft && !sameText(now, c.before);
}

class Planner {
  public:
    Planner(platform::Platform &machine, const UndoSetup &setup, UndoPlan &plan)
        : machine_(machine), setup_(setup), plan_(plan), index_(indexJournal(plan.journal)) {}

    void plan();

  private:
    bool undone(std::uint64_t seq) const { return index_.undone.count(seq) != 0; }
    const ChangeRecord &record(std::size_t i) const {
        return std::get<ChangeRecord>(plan_.journal.entries[i].body);
    }
    void findLaterPatches();
    void findConflicts();
    void checkFile(const std::string &path, std::size_t i);
    void checkIniKeys(const std::string &path);

    platform::Platform &machine_;
    const UndoSetup &setup_;
    UndoPlan &plan_;
    JournalIndex index_;
    // Change records still to take back, oldest first.
    std::vector<std::size_t> open_;
    // What a carried-out restart registration leaves in a file.
    std::map<std::string, FileState> afterRestart_;
};

void Planner::plan() {
    for (const auto &[seq, i] : index_.changes)
        if (!undone(seq)) open_.push_back(i);
    for (auto it = open_.rbegin(); it != open_.rend(); ++it)
        if (record(*it).change.kind != Kind::DirectoryCreated) plan_.steps.push_back(*it);
    for (const auto &[seq, step] : index_.started)
        if (!undone(seq)) plan_.started.emplace(seq, step);
    findLaterPatches();
    if (!plan_.laterPatches.empty() && !setup_.forced) {
        plan_.status = PlanStatus::LaterPatch;
        return;
    }
    findConflicts();
    if (!plan_.conflicts.empty() && !setup_.forced) plan_.status = PlanStatus::Changed;
}

void Planner::findLaterPatches() {
    const std::vector<std::string> names = installedPatches(machine_, setup_.systemIni);
    std::optional<std::size_t> after;
    for (std::size_t i : open_) {
        const change::Change &c = record(i).change;
        if (c.kind != Kind::PatchRecorded || !c.after) continue;
        for (std::size_t n = 0; n < names.size(); ++n)
            if (text::equalsNoCase(names[n], *c.after)) after = n + 1;
    }
    if (!after && index_.firstBegin && index_.firstBegin->nextPatch) after = *index_.firstBegin->nextPatch;
    for (std::size_t n = after.value_or(names.size()); n < names.size(); ++n) plan_.laterPatches.push_back(names[n]);
}

void Planner::findConflicts() {
    // Each file is compared with what the newest record still to be taken
    // back left in it. A replacement carried out by a restart leaves in its
    // target what its source held, and its source gone.
    // A file that a record already taken back touched last is left to
    // that step (undo does not rebuild every state in between, e.g. a work
    // file a replacement used up).
    std::map<std::string, std::pair<std::string, std::size_t>> newest;
    std::map<std::string, FileState> known;
    for (const auto &[seq, i] : index_.changes) {
        const ChangeRecord &r = record(i);
        const change::Change &c = r.change;
        if (c.kind == Kind::RestartRegistered) {
            const auto source = known.find(upper(c.path));
            if (c.target) {
                afterRestart_[upper(*c.target)] = source != known.end() ? source->second : FileState::unknown();
                newest[upper(*c.target)] = {*c.target, i};
            }
            afterRestart_[upper(c.path)] = FileState::absent();
            newest[upper(c.path)] = {c.path, i};
        }
        for (const std::string &f : filesWritten(r)) newest[upper(f)] = {f, i};
        // A replacement may use up its source (a work file moved into place).
        if (c.kind == Kind::FileReplaced && c.from) newest[upper(*c.from)] = {*c.from, i};
        const auto left = index_.left.find(plan_.journal.entries[i].seq);
        if (left == index_.left.end() || !left->second->made) continue;
        for (const FileLeft &f : left->second->files) {
            known[upper(f.path)] = f.state;
            newest[upper(f.path)] = {f.path, i};
        }
    }
    for (const auto &[key, found] : newest) checkFile(found.first, found.second);
}

void Planner::checkFile(const std::string &path, std::size_t i) {
    const std::uint64_t seq = plan_.journal.entries[i].seq;
    // A step that a cut undo left half done may have left either state.
    if (index_.started.count(seq) || undone(seq)) return;
    const auto left = index_.left.find(seq);
    if (left == index_.left.end() || !left->second->made) return;
    const ChangeRecord &r = record(i);
    FileState expected;
    if (r.change.kind == Kind::RestartRegistered) {
        const std::vector<std::string> own = filesWritten(r);
        // WININIT.INI: its own line is all undo takes out of it. A
        // registration still waiting has changed no file yet.
        if (!own.empty() && text::equalsNoCase(own.front(), path)) return;
        if (stillWaiting(machine_, setup_.windowsDirectory, r)) return;
        expected = afterRestart_[upper(path)];
    } else {
        const FileState *s = stateIn(*left->second, path);
        if (s == nullptr) return;
        expected = *s;
    }
    if (!expected.known()) return;
    const FileState now = currentState(machine_, path);
    // A file that cannot be read now (held open) is taken as it is.
    if (!now.known() || now.sameAs(expected)) return;
    if (isIniFileKind(r.change)) {
        checkIniKeys(path);
        return;
    }
    plan_.conflicts.push_back({path, howChanged(expected, now)});
}

void Planner::checkIniKeys(const std::string &path) {
    const platform::Result<std::string> bytes = machine_.readAll(path);
    ini::Table t;
    if (bytes.ok()) t.read(bytes.value.data(), bytes.value.size());
    std::map<std::string, const change::Change *> newest;
    for (std::size_t i : open_) {
        const change::Change &c = record(i).change;
        if (!isIniFileKind(c) || c.kind == Kind::PatchRecorded || !text::equalsNoCase(c.path, path)) continue;
        const std::string key = upper(c.section) + (c.kind == Kind::IniSectionDeleted ? "]" : "]" + upper(c.key.value_or("")));
        newest[key] = &c;
    }
    for (const auto &[key, c] : newest) {
        if (!iniEntryChanged(t, *c)) continue;
        const std::string subject = path + " [" + c->section + "]" + (c->key ? " " + *c->key : std::string());
        plan_.conflicts.push_back({subject, "was changed since the patch"});
    }
}

} // namespace

std::vector<std::string> filesWritten(const ChangeRecord &r) {
    const change::Change &c = r.change;
    switch (c.kind) {
    case Kind::FileCreated:
    case Kind::FileReplaced:
    case Kind::FileRemoved:
        return {c.path};
    case Kind::FileMoved:
        return c.target ? std::vector<std::string>{c.path, *c.target} : std::vector<std::string>{c.path};
    case Kind::RestartRegistered:
        // WININIT.INI, whose copy is the first one saved.
        if (r.entry && !r.saved.empty()) return {r.saved.front().original};
        return {};
    default:
        if (isIniFileKind(c)) return {c.path};
        return {};
    }
}

JournalIndex indexJournal(const Journal &journal) {
    JournalIndex idx;
    for (std::size_t i = 0; i < journal.entries.size(); ++i) {
        const Entry &e = journal.entries[i];
        if (const auto *b = std::get_if<Begin>(&e.body)) {
            if (!idx.firstBegin) idx.firstBegin = b;
        } else if (std::holds_alternative<ChangeRecord>(e.body)) {
            idx.changes[e.seq] = i;
        } else if (const auto *l = std::get_if<Left>(&e.body)) {
            idx.left[l->of] = l;
        } else if (const auto *u = std::get_if<Undone>(&e.body)) {
            idx.undone[u->of] = u;
        } else if (const auto *s = std::get_if<UndoStep>(&e.body)) {
            idx.started[s->of] = *s;
        } else if (const auto *d = std::get_if<UndoDeferral>(&e.body)) {
            idx.deferrals.push_back(d);
        }
    }
    return idx;
}

UndoPlan planUndo(platform::Platform &machine, const UndoSetup &setup) {
    UndoPlan plan;
    plan.journalPath = journalOf(machine, setup.archive, setup.patch);
    const platform::Result<std::string> bytes = machine.readAll(plan.journalPath);
    if (!bytes.ok()) {
        plan.status = PlanStatus::Unreadable;
        if (!platform::isNotFound(bytes.code)) return plan;
        plan.status = PlanStatus::NothingToUndo;
        for (const std::string &name : installedPatches(machine, setup.systemIni))
            if (text::equalsNoCase(name, setup.patch)) plan.status = PlanStatus::NoJournal;
        return plan;
    }
    plan.journal = readJournal(bytes.value);
    if (!plan.journal.isJournal || plan.journal.version != kVersion) {
        plan.status = PlanStatus::Unreadable;
        return plan;
    }
    if (plan.journal.damaged() && !setup.forced) {
        plan.status = PlanStatus::Damaged;
        return plan;
    }
    Planner(machine, setup, plan).plan();
    return plan;
}

} // namespace journal
