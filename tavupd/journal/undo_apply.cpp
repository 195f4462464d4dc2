// Taking the records back, each step journaled so that undo can be cut and
// run again.
#include "journal/machine_ops.h"
#include "journal/undo.h"
#include "text/textkit.h"
#include "text/ini.h"

#include <set>

namespace journal {

using change::Kind;
using platform::Code;
using platform::kOk;

namespace {

// Longest "target=source" line a WININIT.INI registration may take (as the
// install registers them).
constexpr std::size_t kWininitLineMax = 254;

enum class Step { Done, Deferred, Skipped, Failed };
struct StepResult {
    Step step = Step::Done;
    std::string why;
};

// Two steps of one record: the worse one counts.
StepResult worse(const StepResult &a, const StepResult &b) { return static_cast<int>(b.step) > static_cast<int>(a.step) ? b : a; }

std::string upper(const std::string &s) {
    std::string out(s);
    for (char &c : out) c = text::upper(c);
    return out;
}

std::string codeText(Code c) { return " (error " + std::to_string(c) + ")"; }

const Saved *savedFor(const ChangeRecord &r, const std::string &path) {
    for (const Saved &s : r.saved)
        if (text::equalsNoCase(s.original, path)) return &s;
    return nullptr;
}

bool isBelow(const std::string &path, const std::string &directory) {
    std::string prefix = directory;
    text::appendBackslash(prefix);
    return text::startsWithNoCase(path, prefix);
}

// The table holds no line but blank ones and the header of `section`.
bool onlyEmptySection(const ini::Table &t, std::string_view section) {
    bool header = false;
    for (const std::string &line : t.lines()) {
        const std::string_view s = text::trimmed(line);
        if (s.empty()) continue;
        if (header || s.size() != section.size() + 2 || s.front() != '[' || s.back() != ']' ||
            !text::equalsNoCase(s.substr(1, section.size()), section))
            return false;
        header = true;
    }
    return true;
}

// The inverse of an INI change, key by key, on the file's line table.
void undoInTable(ini::Table &t, const change::Change &c) {
    if (c.kind == Kind::IniSectionDeleted) {
        if (t.findSection(c.section.c_str()) >= 0 || c.lines.empty()) return;
        std::vector<std::string> lines;
        if (!t.lines().empty() && !t.lines().back().empty()) lines.emplace_back();
        if (!ini::isSectionLine(c.lines.front().c_str())) lines.push_back("[" + c.section + "]");
        lines.insert(lines.end(), c.lines.begin(), c.lines.end());
        t.replaceLines(t.count(), t.count(), lines);
        return;
    }
    if (!c.key) return;
    if (c.before) t.setValue(c.section.c_str(), c.key->c_str(), c.before->c_str());
    else if (c.kind == Kind::IniKeySet) t.setValue(c.section.c_str(), c.key->c_str(), nullptr);
}

class Applier {
  public:
    Applier(platform::Platform &machine, const UndoSetup &setup, const UndoPlan &plan)
        : m_(machine), setup_(setup), plan_(plan), index_(indexJournal(plan.journal)) {}
    UndoResult run();

  private:
    bool write(Body body);
    const ChangeRecord &record(std::size_t i) const { return std::get<ChangeRecord>(plan_.journal.entries[i].body); }
    std::optional<std::vector<std::string>> decideWant(std::uint64_t seq, const ChangeRecord &r);
    StepResult takeBack(std::uint64_t seq, const ChangeRecord &r, const std::optional<std::vector<std::string>> &want);
    StepResult takeBackRestart(std::uint64_t seq, const ChangeRecord &r);
    StepResult takeBackIni(std::uint64_t seq, const ChangeRecord &r, const std::optional<std::vector<std::string>> &want);
    StepResult takeBackRegistry(const ChangeRecord &r);
    StepResult renumber(std::uint64_t seq, const std::string &location,
                        const std::optional<std::vector<std::string>> &want);
    StepResult restore(std::uint64_t seq, const std::string &path, const Saved &saved);
    bool copyBack(const Saved &saved, const std::string &work);
    StepResult cannotCopy(const Saved &saved, const std::string &path) const;
    // Work files a cut run of the step left beside `path` (named by `work`
    // and `aside` letters): the file back from aside, the rest removed.
    void clearStep(std::uint64_t seq, const std::string &path, char work, char aside);
    StepResult removeCreated(std::uint64_t seq, const std::string &path);
    StepResult moveBack(std::uint64_t seq, const std::string &from, const std::string &to);
    StepResult conflict(const std::string &subject, const std::string &what);
    // A file the journal has no copy of (unreadable then): left as it is.
    StepResult unreadable(const std::string &path);
    StepResult defer(std::uint64_t seq, const std::string &source, const std::optional<std::string> &target);
    Code registerAtRestart(std::uint64_t seq, const ChangeRecord &registration);
    bool cancel(std::uint64_t seq, const ChangeRecord &r);
    bool cancelPair(const ChangeRecord &r);
    void seedWaiting();
    bool alreadyWaiting(const std::string &source, const std::optional<std::string> &target) const;
    bool present(const std::string &path);
    bool pending(const std::string &path) const { return eventually_.count(upper(path)) != 0; }
    std::optional<FileState> leftState(std::uint64_t seq, const std::string &path) const;
    UndoResult finish();
    void removeStrayWorkFiles();

    platform::Platform &m_;
    const UndoSetup &setup_;
    const UndoPlan &plan_;
    JournalIndex index_;
    std::unique_ptr<platform::Appender> out_;
    std::string prefix_;
    std::uint64_t nextSeq_ = 1;
    // Files whose state waits for the restart: present then or not.
    std::map<std::string, bool> eventually_;
    std::vector<std::pair<std::string, std::optional<std::string>>> waiting_;
    UndoResult result_;
};

bool Applier::write(Body body) {
    const std::string line = prefix_ + formatEntry(Entry{nextSeq_, std::move(body)}) + "\r\n";
    if (!out_ || !out_->write(line)) return false;
    prefix_.clear();
    ++nextSeq_;
    return true;
}

UndoResult Applier::run() {
    switch (plan_.status) {
    case PlanStatus::Ready:
        break;
    case PlanStatus::NothingToUndo:
        result_.outcome = UndoOutcome::NothingToUndo;
        return result_;
    default:
        result_.outcome = UndoOutcome::Refused;
        return result_;
    }
    result_.outcome = UndoOutcome::Incomplete;
    out_ = m_.openAppender(plan_.journalPath, false);
    if (plan_.journal.endsCut) prefix_ = "\r\n";
    nextSeq_ = plan_.journal.lastSeq + 1;
    if (!write(UndoBegin{setup_.time, setup_.forced})) {
        result_.failure = "the journal " + plan_.journalPath + " cannot be written";
        return result_;
    }
    seedWaiting();
    for (std::size_t i : plan_.steps) {
        const std::uint64_t seq = plan_.journal.entries[i].seq;
        const std::optional<std::vector<std::string>> want = decideWant(seq, record(i));
        if (!write(UndoStep{seq, want})) {
            result_.failure = "the journal " + plan_.journalPath + " cannot be written";
            return result_;
        }
        const StepResult r = takeBack(seq, record(i), want);
        if (r.step == Step::Failed) {
            result_.failure = r.why;
            return result_;
        }
        std::optional<std::string> skipped;
        if (r.step == Step::Skipped) skipped = r.why;
        if (!write(Undone{seq, r.step == Step::Deferred, skipped})) {
            result_.failure = "the journal " + plan_.journalPath + " cannot be written";
            return result_;
        }
    }
    return finish();
}

std::optional<std::vector<std::string>> Applier::decideWant(std::uint64_t seq, const ChangeRecord &r) {
    if (r.change.kind != Kind::PatchRecorded || !r.change.after) return std::nullopt;
    // A step cut in the middle writes the list it had decided on.
    const auto started = plan_.started.find(seq);
    if (started != plan_.started.end() && started->second.want) return started->second.want;
    std::vector<std::string> names = installedPatches(m_, r.change.path);
    for (auto it = names.begin(); it != names.end(); ++it)
        if (text::equalsNoCase(*it, *r.change.after)) {
            names.erase(it);
            return names;
        }
    return std::nullopt;
}

StepResult Applier::takeBack(std::uint64_t seq, const ChangeRecord &r,
                             const std::optional<std::vector<std::string>> &want) {
    const change::Change &c = r.change;
    // A change its primitive reports not made left nothing to move back or
    // remove; restoring what was saved is harmless and stays.
    const auto left = index_.left.find(seq);
    const bool notMade = left != index_.left.end() && !left->second->made;
    if (notMade && (c.kind == Kind::FileCreated || c.kind == Kind::FileMoved || c.kind == Kind::RestartRegistered))
        return {};
    switch (c.kind) {
    case Kind::DirectoryCreated:
        return {};
    case Kind::FileCreated:
    case Kind::FileReplaced:
    case Kind::FileRemoved: {
        const Saved *s = savedFor(r, c.path);
        if (s) return restore(seq, c.path, *s);
        if (c.kind == Kind::FileCreated) return removeCreated(seq, c.path);
        return conflict(c.path, "has no saved copy in the journal");
    }
    case Kind::FileMoved: {
        StepResult back = moveBack(seq, *c.target, c.path);
        const Saved *s = savedFor(r, *c.target);
        if (back.step == Step::Failed || !s || !s->copy) return back;
        return worse(back, restore(seq, *c.target, *s));
    }
    case Kind::RestartRegistered:
        return takeBackRestart(seq, r);
    case Kind::IniKeySet:
    case Kind::IniKeyDeleted:
    case Kind::IniSectionDeleted:
    case Kind::PatchRecorded:
        return takeBackIni(seq, r, want);
    default:
        return takeBackRegistry(r);
    }
}

StepResult Applier::takeBackRestart(std::uint64_t seq, const ChangeRecord &r) {
    const change::Change &c = r.change;
    if (r.entry && !r.saved.empty()) {
        // WININIT.INI may stand aside from a cut run of this step.
        clearStep(seq, r.saved.front().original, 'U', 'V');
        clearStep(seq, r.saved.front().original, 'W', 'X');
    }
    if (stillWaiting(m_, setup_.windowsDirectory, r)) {
        // Not carried out yet: its own line or pair goes, nothing else (a
        // line that was there before the patch is not its own).
        if (r.entry && !r.entryAdded) return {};
        if (!cancel(seq, r)) return {Step::Failed, "the replacement of " + c.target.value_or(c.path) +
                                                       " registered for the restart cannot be taken back"};
        return {};
    }
    // A registration cut while WININIT.INI was being written may have left
    // the file missing: the copy from before it comes back.
    const auto left = index_.left.find(seq);
    const bool unfinished = left == index_.left.end() || !left->second->made;
    if (r.entry && unfinished && !r.saved.empty() && r.saved.front().copy &&
        currentState(m_, r.saved.front().original).is == FileState::Is::Absent) {
        const StepResult back = restore(seq, r.saved.front().original, r.saved.front());
        if (back.step != Step::Done) return back;
    }
    // Carried out by a restart (or never registered): taken back as a move
    // or a deletion.
    if (c.target) {
        if (present(c.path) || !present(*c.target)) return {};
        // The file it replaced could not be read: nothing to put back, and
        // the replacement stays where it is.
        if (const Saved *s = savedFor(r, *c.target); s && s->unreadable()) return unreadable(*c.target);
        StepResult back = moveBack(seq, *c.target, c.path);
        const Saved *s = savedFor(r, *c.target);
        if (back.step == Step::Failed || !s || !s->copy) return back;
        return worse(back, restore(seq, *c.target, *s));
    }
    const Saved *s = savedFor(r, c.path);
    if (present(c.path) || !s || !s->copy) return {};
    return restore(seq, c.path, *s);
}

StepResult Applier::takeBackIni(std::uint64_t seq, const ChangeRecord &r,
                                const std::optional<std::vector<std::string>> &want) {
    const change::Change &c = r.change;
    if (isRegistryIni(c.path)) {
        if (c.kind == Kind::PatchRecorded) return renumber(seq, c.path, want);
        const std::string key = c.path + c.section;
        if (c.kind == Kind::IniSectionDeleted) {
            if (writeTree(m_, platform::Root::LocalMachine, c.tree)) return {};
            return {Step::Failed, "the registry key " + key + " cannot be restored"};
        }
        if (!c.key) return {};
        const platform::RegOutcome o =
            c.regBefore ? m_.regSet(platform::Root::LocalMachine, key, &*c.key, *c.regBefore)
                        : m_.regDeleteValue(platform::Root::LocalMachine, key, *c.key);
        if (o.ok() || (!c.regBefore && platform::isNotFound(o.code))) return {};
        return {Step::Failed, "the value " + *c.key + " of " + key + " cannot be restored" + codeText(o.code)};
    }
    const Saved *saved = savedFor(r, c.path);
    if (!saved) return conflict(c.path, "has no saved copy in the journal");
    clearStep(seq, c.path, 'U', 'V');
    // The whole file as it was, when it holds what the patch left (or
    // what was there before): byte for byte. Changed since: key by key.
    const FileState now = currentState(m_, c.path);
    const std::optional<FileState> left = leftState(seq, c.path);
    if (!now.known() || !left || !left->known() || now.sameAs(*left) || now.sameAs(saved->state))
        return restore(seq, c.path, *saved);
    if (c.kind == Kind::PatchRecorded) return renumber(seq, c.path, want);
    const platform::Result<std::string> bytes = m_.readAll(c.path);
    if (!bytes.ok() && !platform::isNotFound(bytes.code))
        return {Step::Failed, c.path + " cannot be read" + codeText(bytes.code)};
    ini::Table t;
    if (bytes.ok()) t.read(bytes.value.data(), bytes.value.size());
    undoInTable(t, c);
    if (FileState::of(t.bytes()).sameAs(saved->state)) return restore(seq, c.path, *saved);
    const Code w = writeInPlace(m_, c.path, t.bytes(), workName(c.path, 'U', seq), workName(c.path, 'V', seq));
    if (w == kOk) return {};
    return {Step::Failed, c.path + " cannot be written" + codeText(w)};
}

StepResult Applier::renumber(std::uint64_t seq, const std::string &location,
                             const std::optional<std::vector<std::string>> &want) {
    if (!want) return {}; // the record is gone already
    const Code c = writeInstalled(m_, location, *want, workName(location, 'U', seq), workName(location, 'V', seq));
    if (c == kOk) return {};
    return {Step::Failed, "the installed-patch record in " + location + " cannot be written" + codeText(c)};
}

StepResult Applier::takeBackRegistry(const ChangeRecord &r) {
    const change::Change &c = r.change;
    const std::string where = c.path + (c.name ? "\\" + *c.name : std::string());
    if (c.kind == Kind::RegTreeDeleted) {
        if (writeTree(m_, c.root, c.tree)) return {};
        return {Step::Failed, "the registry key " + c.path + " cannot be restored"};
    }
    if (c.kind == Kind::RegKeyCreated) {
        const Code open = m_.regOpenable(c.root, c.path, false);
        if (platform::isNotFound(open)) return {};
        const auto subkeys = m_.regSubkeys(c.root, c.path);
        const auto values = m_.regValues(c.root, c.path);
        if (!subkeys.ok() || !values.ok() || !subkeys.value.empty() || !values.value.empty()) {
            result_.passedOver.push_back({c.path, "holds keys or values the patch did not make: left as it is"});
            return {};
        }
        const platform::RegOutcome o = m_.regDeleteKey(c.root, c.path);
        if (o.ok() || platform::isNotFound(o.code)) return {};
        return {Step::Failed, "the registry key " + c.path + " cannot be deleted" + codeText(o.code)};
    }
    const platform::RegOutcome o = c.regBefore ? m_.regSet(c.root, c.path, c.name ? &*c.name : nullptr, *c.regBefore)
                                               : m_.regDeleteValue(c.root, c.path, c.name.value_or(""));
    if (o.ok() || (!c.regBefore && platform::isNotFound(o.code))) return {};
    return {Step::Failed, "the registry value " + where + " cannot be restored" + codeText(o.code)};
}

StepResult Applier::restore(std::uint64_t seq, const std::string &path, const Saved &saved) {
    if (saved.unreadable()) return unreadable(path);
    if (!saved.copy) return removeCreated(seq, path);
    const std::string work = workName(path, 'U', seq), aside = workName(path, 'V', seq);
    if (pending(path)) {
        // Its state waits for the restart: the copy follows it there.
        if (alreadyWaiting(work, path)) return {Step::Deferred, {}};
        if (!copyBack(saved, work)) return cannotCopy(saved, path);
        return defer(seq, work, path);
    }
    clearStep(seq, path, 'U', 'V');
    if (currentState(m_, path).sameAs(saved.state)) return {};
    if (!copyBack(saved, work)) return cannotCopy(saved, path);
    const Code c = putInPlace(m_, work, path, aside);
    if (c == kOk) return {};
    if (waitsForRestart(c)) return defer(seq, work, path);
    m_.remove(work);
    return {Step::Failed, path + " cannot be restored" + codeText(c)};
}

bool Applier::copyBack(const Saved &saved, const std::string &work) {
    // A work file of that name is this step's own, left by a cut run.
    m_.remove(work);
    return m_.copyNew(*saved.copy, work).ok();
}

StepResult Applier::cannotCopy(const Saved &saved, const std::string &path) const {
    return {Step::Failed, "the journal's copy " + *saved.copy + " of " + path + " cannot be copied back"};
}

void Applier::clearStep(std::uint64_t seq, const std::string &path, char work, char aside) {
    // Not while the file waits for the restart: its work file is registered.
    if (pending(path)) return;
    // A step cut while the file stood aside (no replacing rename): back first.
    const std::string stoodAside = workName(path, aside, seq);
    if (!exists(m_, path) && exists(m_, stoodAside)) m_.move(stoodAside, path);
    m_.remove(stoodAside);
    m_.remove(workName(path, work, seq));
}

StepResult Applier::removeCreated(std::uint64_t seq, const std::string &path) {
    if (pending(path)) {
        if (!present(path)) return {};
        return defer(seq, path, std::nullopt);
    }
    if (!present(path)) return {};
    const Code c = m_.remove(path);
    if (c == kOk || platform::isNotFound(c)) return {};
    if (waitsForRestart(c)) return defer(seq, path, std::nullopt);
    return {Step::Failed, path + " cannot be removed" + codeText(c)};
}

StepResult Applier::moveBack(std::uint64_t seq, const std::string &from, const std::string &to) {
    const bool there = present(from), back = present(to);
    if (!there && back) return {}; // never moved, or moved back already
    if (there && back) return conflict(to, "is there again, so " + from + " cannot be moved back to it");
    if (!there) return conflict(from, "is gone, so it cannot be moved back to " + to);
    if (pending(from) || pending(to)) return defer(seq, from, to);
    const Code c = m_.move(from, to);
    if (c == kOk) return {};
    if (waitsForRestart(c)) return defer(seq, from, to);
    return {Step::Failed, from + " cannot be moved back to " + to + codeText(c)};
}

StepResult Applier::unreadable(const std::string &path) {
    result_.notRestored.push_back(path);
    return {Step::Skipped, path + " was in use and could not be read when the patch changed it"};
}

StepResult Applier::conflict(const std::string &subject, const std::string &what) {
    if (!setup_.forced) return {Step::Failed, subject + " " + what};
    result_.passedOver.push_back({subject, what});
    return {Step::Skipped, subject + " " + what};
}

StepResult Applier::defer(std::uint64_t seq, const std::string &source, const std::optional<std::string> &target) {
    if (alreadyWaiting(source, target)) return {Step::Deferred, {}};
    const std::string shown = target.value_or(source);
    if (setup_.family == Family::None)
        return {Step::Failed, shown + " is in use, and this system cannot change it at its next start"};
    ChangeRecord reg;
    reg.change.kind = Kind::RestartRegistered;
    reg.change.path = source;
    reg.change.target = target;
    reg.change.detail = setup_.family == Family::Win95 ? kWininit : kPendingName;
    if (setup_.family == Family::Win95) {
        reg.entry = wininitEntry(source, target);
        reg.entryAdded = true;
        if (reg.entry->size() > kWininitLineMax) return {Step::Failed, shown + " is in use, and its name is too long to change it at the next start of Windows"};
    } else {
        const PendingValue pending = readPendingValue(m_);
        reg.pairsBefore = static_cast<std::uint32_t>(pending.pairs.size());
        reg.pendingValueExisted = pending.exists;
    }
    if (!write(UndoDeferral{seq, reg})) return {Step::Failed, "the journal " + plan_.journalPath + " cannot be written"};
    const Code c = registerAtRestart(seq, reg);
    if (c != kOk) return {Step::Failed, shown + " cannot be registered for the next start of Windows" + codeText(c)};
    eventually_[upper(source)] = false;
    if (target) eventually_[upper(*target)] = true;
    waiting_.emplace_back(source, target);
    result_.atRestart.push_back(shown);
    return {Step::Deferred, {}};
}

Code Applier::registerAtRestart(std::uint64_t seq, const ChangeRecord &reg) {
    const change::Change &c = reg.change;
    if (setup_.family != Family::Win95) return m_.delayMove(c.path, c.target);
    const std::string wininit = text::joinPath(setup_.windowsDirectory, kWininit);
    const platform::Result<std::string> bytes = m_.readAll(wininit);
    if (!bytes.ok() && !platform::isNotFound(bytes.code)) return bytes.code;
    ini::Table t;
    if (bytes.ok()) t.read(bytes.value.data(), bytes.value.size());
    // Refused only when the very line is there already.
    if (!t.addValue("rename", c.target.value_or("NUL").c_str(), c.path.c_str())) return kOk;
    return writeInPlace(m_, wininit, t.bytes(), workName(wininit, 'W', seq), workName(wininit, 'X', seq));
}

bool Applier::cancel(std::uint64_t seq, const ChangeRecord &r) {
    if (!r.entry) return cancelPair(r);
    if (r.saved.empty()) return false;
    const Saved &copy = r.saved.front();
    const std::string &wininit = copy.original;
    clearStep(seq, wininit, 'W', 'X');
    // WININIT.INI as the registration left it: the copy from before.
    const std::optional<FileState> left = leftState(seq, wininit);
    if (left && left->known() && currentState(m_, wininit).sameAs(*left))
        return restore(seq, wininit, copy).step == Step::Done;
    const platform::Result<std::string> bytes = m_.readAll(wininit);
    if (!bytes.ok()) return platform::isNotFound(bytes.code);
    ini::Table t;
    t.read(bytes.value.data(), bytes.value.size());
    for (const WininitLine &l : wininitRenames(t))
        if (text::equalsNoCase(t.lines()[l.index], *r.entry)) {
            t.replaceLines(l.index, l.index + 1, {});
            break;
        }
    // The very bytes from before: the copy, with its date. A file the
    // registration made, when nothing but its empty [rename] is left, goes.
    if (FileState::of(t.bytes()).sameAs(copy.state) ||
        (copy.state.is == FileState::Is::Absent && onlyEmptySection(t, "rename")))
        return restore(seq, wininit, copy).step == Step::Done;
    return writeInPlace(m_, wininit, t.bytes(), workName(wininit, 'W', seq), workName(wininit, 'X', seq)) == kOk;
}

bool Applier::cancelPair(const ChangeRecord &r) {
    const PendingValue pv = readPendingValue(m_);
    if (pv.code != kOk) return false;
    // The pair the registration appended: the first match from where the
    // list ended then, else the last match before it.
    std::optional<std::size_t> chosen;
    for (std::size_t i = 0; i < pv.pairs.size(); ++i) {
        if (!pairIs(pv.pairs[i], r.change.path, r.change.target)) continue;
        if (chosen && *chosen >= r.pairsBefore.value_or(0)) break;
        chosen = i;
    }
    if (!chosen) return true;
    std::string data = pv.value.data;
    data.erase(pv.pairs[*chosen].begin, pv.pairs[*chosen].end - pv.pairs[*chosen].begin);
    const std::string name = kPendingName;
    if (pendingPairs(data).empty() && !r.pendingValueExisted) {
        const platform::RegOutcome o = m_.regDeleteValue(platform::Root::LocalMachine, kSessionManager, name);
        return o.ok() || platform::isNotFound(o.code);
    }
    return m_.regSet(platform::Root::LocalMachine, kSessionManager, &name, {pv.value.type, data}).ok();
}

void Applier::seedWaiting() {
    for (const UndoDeferral *d : index_.deferrals) {
        if (!stillWaiting(m_, setup_.windowsDirectory, d->registration)) continue;
        const change::Change &c = d->registration.change;
        eventually_[upper(c.path)] = false;
        if (c.target) eventually_[upper(*c.target)] = true;
        waiting_.emplace_back(c.path, c.target);
        result_.atRestart.push_back(c.target.value_or(c.path));
    }
}

bool Applier::alreadyWaiting(const std::string &source, const std::optional<std::string> &target) const {
    for (const auto &[s, t] : waiting_)
        if (text::equalsNoCase(s, source) && t.has_value() == target.has_value() &&
            (!t || text::equalsNoCase(*t, *target)))
            return true;
    return false;
}

bool Applier::present(const std::string &path) {
    const auto it = eventually_.find(upper(path));
    return it != eventually_.end() ? it->second : exists(m_, path);
}

std::optional<FileState> Applier::leftState(std::uint64_t seq, const std::string &path) const {
    const auto it = index_.left.find(seq);
    if (it == index_.left.end() || !it->second->made) return std::nullopt;
    for (const FileLeft &f : it->second->files)
        if (text::equalsNoCase(f.path, path)) return f.state;
    return std::nullopt;
}

// A change a cut run was in the middle of (one that writes files and has no
// record of what it left) may have left a work file beside what it wrote.
void Applier::removeStrayWorkFiles() {
    if (!setup_.isWorkFileName) return;
    std::set<std::string> swept;
    for (const auto &[seq, i] : index_.changes) {
        const ChangeRecord &r = record(i);
        const Kind kind = r.change.kind;
        // A registration in WININIT.INI writes that file anew.
        const bool wininit = kind == Kind::RestartRegistered && r.entry;
        const bool writes = kind == Kind::FileCreated || kind == Kind::FileReplaced || kind == Kind::IniKeySet ||
                            kind == Kind::IniKeyDeleted || kind == Kind::IniSectionDeleted ||
                            kind == Kind::PatchRecorded || wininit;
        if (!writes || isRegistryIni(r.change.path) || index_.left.count(seq) != 0) continue;
        std::vector<std::string> directories{wininit ? setup_.windowsDirectory : directoryOf(r.change.path)};
        if (kind == Kind::FileCreated && !r.change.detail.empty()) directories.push_back(directoryOf(r.change.detail));
        for (const std::string &dir : directories) {
            if (dir.empty() || !swept.insert(upper(dir)).second) continue;
            const auto listed = m_.list(dir);
            if (!listed.ok()) continue;
            for (const platform::DirEntry &e : listed.value)
                if (!e.directory && setup_.isWorkFileName(e.name)) m_.remove(text::joinPath(dir, e.name));
        }
    }
}

UndoResult Applier::finish() {
    removeStrayWorkFiles();
    if (!write(UndoFinished{})) {
        result_.failure = "the journal " + plan_.journalPath + " cannot be written";
        return result_;
    }
    out_->close();
    out_.reset();
    const std::string copies = copyDirectory(setup_.archive, setup_.patch);
    const auto listed = m_.list(copies);
    if (listed.ok())
        for (const platform::DirEntry &e : listed.value)
            if (!e.directory) m_.remove(text::joinPath(copies, e.name));
    // What waits for the restart is staged beside the files it restores,
    // never in the directories the patch made: they go now, the journal
    // with them, so that after the restart nothing of the patch is left.
    std::vector<std::string> made; // directories the patch made, newest first
    for (auto it = index_.changes.rbegin(); it != index_.changes.rend(); ++it)
        if (record(it->second).change.kind == Kind::DirectoryCreated) made.push_back(record(it->second).change.path);
    // The journal leaves a directory that goes for the place beside the
    // archive directory, so that undo cut now still finds it.
    std::string journal = plan_.journalPath;
    const std::string beside = besideJournalPath(setup_.archive, setup_.patch);
    for (const std::string &dir : made)
        if (isBelow(journal, dir) && m_.move(journal, beside) == platform::kOk) journal = beside;
    for (const std::string &dir : made)
        if (!isBelow(journal, dir)) m_.removeDirectory(dir);
    m_.remove(journal);
    for (const std::string &dir : made)
        if (isBelow(journal, dir)) m_.removeDirectory(dir);
    result_.outcome = waiting_.empty() ? UndoOutcome::Undone : UndoOutcome::UndoneRestartNeeded;
    return result_;
}

} // namespace

UndoResult applyUndo(platform::Platform &machine, const UndoSetup &setup, const UndoPlan &plan) {
    return Applier(machine, setup, plan).run();
}

} // namespace journal
