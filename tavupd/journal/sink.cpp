#include "journal/sink.h"

#include "journal/machine_ops.h"
#include "journal/reader.h"
#include "journal/undo.h"
#include "text/textkit.h"
#include "text/ini.h"

#include <cstdio>

namespace journal {

using change::Kind;
using platform::kOk;

namespace {

// Names tried for one copy before giving up (a cut run may have left copies
// that its journal never named).
constexpr unsigned kCopyAttempts = 1000;

bool isIniKind(Kind kind) {
    return kind == Kind::IniKeySet || kind == Kind::IniKeyDeleted || kind == Kind::IniSectionDeleted ||
           kind == Kind::PatchRecorded;
}

bool isWininit(const change::Change &c) { return text::equalsNoCase(c.detail, kWininit); }

std::string copyName(const std::string &directory, std::uint64_t n) {
    char name[32];
    std::snprintf(name, sizeof name, "%08llu.SAV", static_cast<unsigned long long>(n % 100000000u));
    return text::joinPath(directory, name);
}

} // namespace

JournalSink::JournalSink(platform::Platform &machine, RunInfo run)
    : machine_(machine), run_(std::move(run)), path_(journalPath(run_.archive, run_.begin.patch)) {}

JournalSink::~JournalSink() {
    if (out_) out_->close();
}

bool JournalSink::append(Body body) { return write({}, {std::move(body)}); }

// Appends `text` and the records in one write.
bool JournalSink::write(std::string text, std::vector<Body> bodies) {
    std::uint64_t seq = nextSeq_;
    for (Body &body : bodies) text += formatEntry(Entry{seq++, std::move(body)}) + "\r\n";
    if (!out_ || !out_->write(text)) {
        broken_ = true;
        return false;
    }
    nextSeq_ = seq;
    return true;
}

// Opens the journal at `path` and writes the run's first records: an
// earlier journal of the patch continued (its cut last line ended first),
// or a new one begun. Tells whether the file was made here.
bool JournalSink::open(const std::string &path, std::vector<Body> first, bool &made) {
    std::string prefix;
    bool truncate = false;
    const platform::Result<std::string> old = machine_.readAll(path);
    if (old.ok()) {
        const Journal j = readJournal(old.value);
        if (!j.isJournal || j.version != kVersion) return false;
        nextSeq_ = j.lastSeq + 1;
        // Nothing but a cut header: begun again.
        truncate = j.entries.empty() && old.value.find('\n') == std::string::npos;
        if (j.endsCut && !truncate) prefix = "\r\n";
    } else if (!platform::isNotFound(old.code)) {
        return false;
    }
    made = !old.ok();
    if (!old.ok() || truncate) prefix = headerLine() + "\r\n";
    nextCopy_ = nextSeq_;
    out_ = machine_.openAppender(path, truncate);
    return write(std::move(prefix), std::move(first));
}

// Opens the journal. When the archive directory is still to be made, the
// journal begins beside it with a record of the directory, and moves in
// once the directory is there; a journal a cut left beside it moves in.
bool JournalSink::start() {
    started_ = true;
    const std::string beside = besideJournalPath(run_.archive, run_.begin.patch);
    const platform::Attributes a = machine_.attributes(run_.archive);
    bool made = false;
    if (a.exists()) {
        if (!a.directory) return false;
        if (journalOf(machine_, run_.archive, run_.begin.patch) == beside && machine_.move(beside, path_) != kOk)
            return false;
        return open(path_, {run_.begin}, made);
    }
    if (!platform::isNotFound(a.code)) return false;
    change::Change dir;
    dir.kind = Kind::DirectoryCreated;
    dir.path = run_.archive;
    if (!open(beside, {run_.begin, ChangeRecord{dir, {}, {}, false, {}, false}}, made)) {
        out_.reset();
        if (made) machine_.remove(beside);
        return false;
    }
    const platform::Code madeDir = machine_.makeDirectory(run_.archive);
    out_->close();
    out_.reset();
    const bool there = madeDir == kOk || madeDir == platform::kAlreadyExists;
    if (there && machine_.move(beside, path_) == kOk) {
        out_ = machine_.openAppender(path_, false);
        return out_ != nullptr;
    }
    // Not begun: the directory made here goes again, then the journal begun
    // here (kept while the directory it records is left).
    if (made && (madeDir != kOk || machine_.removeDirectory(run_.archive) == kOk)) machine_.remove(beside);
    return false;
}

bool JournalSink::makeCopyDirectories() {
    for (const std::string &dir : {undoDirectory(run_.archive), copyDirectory(run_.archive, run_.begin.patch)}) {
        if (machine_.attributes(dir).directory) continue;
        change::Change c;
        c.kind = Kind::DirectoryCreated;
        c.path = dir;
        if (!append(ChangeRecord{c, {}, {}, false, {}, false})) return false;
        const platform::Code made = machine_.makeDirectory(dir);
        if (made != kOk && made != platform::kAlreadyExists) return false;
    }
    return true;
}

std::optional<Saved> JournalSink::save(const std::string &original) {
    const platform::Attributes a = machine_.attributes(original);
    if (!a.exists() && platform::isNotFound(a.code)) return Saved{original, std::nullopt, FileState::absent()};
    if (!makeCopyDirectories()) return std::nullopt;
    const std::string directory = copyDirectory(run_.archive, run_.begin.patch);
    for (unsigned attempt = 0; attempt < kCopyAttempts; ++attempt) {
        const std::string copy = copyName(directory, nextCopy_++);
        const platform::CopyOutcome o = machine_.copyNew(original, copy);
        if (o.stage == platform::CopyStage::CreateTarget && o.code == platform::kFileExists) continue;
        if (o.stage == platform::CopyStage::OpenSource && platform::isNotFound(o.code))
            return Saved{original, std::nullopt, FileState::absent()};
        // Held by a program that shares no reading: the change goes on as it
        // would without a journal (the install cannot read it either), and
        // the journal says that there is no copy of it.
        if (o.stage == platform::CopyStage::OpenSource &&
            (o.code == platform::kSharingViolation || o.code == platform::kAccessDenied))
            return Saved{original, std::nullopt, FileState::unknown()};
        if (!o.ok()) return std::nullopt;
        const platform::Result<std::string> bytes = machine_.readAll(copy);
        if (!bytes.ok()) return std::nullopt;
        return Saved{original, copy, FileState::of(bytes.value)};
    }
    return std::nullopt;
}

bool JournalSink::describeRestart(ChangeRecord &r) {
    const change::Change &c = r.change;
    if (isWininit(c)) {
        const std::string wininit = text::joinPath(run_.begin.windows, kWininit);
        std::optional<Saved> s = save(wininit);
        if (!s) return false;
        r.saved.push_back(std::move(*s));
        // Whether the registration adds its line: the same rule as the
        // profile's addValue, on the file as it is now.
        const platform::Result<std::string> bytes = machine_.readAll(wininit);
        ini::Table t;
        if (bytes.ok()) t.read(bytes.value.data(), bytes.value.size());
        const std::string key = c.target ? *c.target : std::string("NUL");
        r.entry = wininitEntry(c.path, c.target);
        r.entryAdded = t.addValue("rename", key.c_str(), c.path.c_str());
    } else {
        const PendingValue pending = readPendingValue(machine_);
        r.pairsBefore = static_cast<std::uint32_t>(pending.pairs.size());
        r.pendingValueExisted = pending.exists;
    }
    // What the restart will replace or delete: not a file that an earlier
    // registration of the run moves away first (the old file to .OLD
    // before the new one takes its name).
    const std::string &doomed = c.target ? *c.target : c.path;
    if (c.target) {
        for (const std::string &away : movedAtRestart_)
            if (text::equalsNoCase(away, *c.target)) return true;
    }
    std::optional<Saved> s = save(doomed);
    if (!s) return false;
    if (s->copy) r.saved.push_back(std::move(*s));
    return true;
}

bool JournalSink::describeIni(ChangeRecord &r) {
    change::Change &c = r.change;
    if (!isRegistryIni(c.path)) {
        std::optional<Saved> s = save(c.path);
        if (!s) return false;
        r.saved.push_back(std::move(*s));
        return true;
    }
    // The registry form: the value or the section's key as it is now.
    const std::string key = c.path + (c.kind == Kind::PatchRecorded ? std::string("Install") : c.section);
    if (c.kind == Kind::IniSectionDeleted) {
        std::optional<std::vector<change::RegKeySnapshot>> tree = readTree(machine_, platform::Root::LocalMachine, key);
        if (!tree) return false;
        c.tree = std::move(*tree);
        return true;
    }
    if (!c.key) return false;
    platform::RegStage stage = platform::RegStage::None;
    const platform::Result<platform::RegValue> v =
        machine_.regRead(platform::Root::LocalMachine, key, &*c.key, 1u << 20, &stage);
    if (v.ok()) c.regBefore = v.value;
    else if (platform::isNotFound(v.code)) c.regBefore.reset();
    else return false;
    return true;
}

bool JournalSink::describe(ChangeRecord &r) {
    const change::Change &c = r.change;
    std::optional<std::string> doomed;
    switch (c.kind) {
    case Kind::FileReplaced:
    case Kind::FileRemoved:
        doomed = c.path;
        break;
    case Kind::FileCreated:
        // Described as new: kept safe all the same should it be there.
        if (exists(machine_, c.path)) doomed = c.path;
        break;
    case Kind::FileMoved:
        if (c.target && exists(machine_, *c.target)) doomed = c.target;
        break;
    case Kind::RestartRegistered:
        return describeRestart(r);
    default:
        if (isIniKind(c.kind)) return describeIni(r);
        return true;
    }
    if (!doomed) return true;
    std::optional<Saved> s = save(*doomed);
    if (!s) return false;
    r.saved.push_back(std::move(*s));
    return true;
}

// A change that only puts back what this run changed: a file moved back to
// where a move of this run took it from, a file this run created removed.
// Undo finds such a change made already, so it needs no record; allowed
// when the journal is broken, so that a primitive can still take back the
// half of its work that came before the refused change (e.g. the old file
// back from its backup name when the new one cannot be installed).
bool JournalSink::putsBack(const change::Change &c) const {
    for (const Made &m : made_) {
        if (c.kind == Kind::FileMoved && m.kind == Kind::FileMoved && c.target && m.target &&
            text::equalsNoCase(c.path, *m.target) && text::equalsNoCase(*c.target, m.path))
            return true;
        if (c.kind == Kind::FileRemoved && m.kind == Kind::FileCreated && text::equalsNoCase(c.path, m.path))
            return true;
    }
    return false;
}

bool JournalSink::before(const change::Change &c) {
    if (broken_) return putsBack(c);
    if (!started_ && !start()) {
        broken_ = true;
        return false;
    }
    ChangeRecord record{c, {}, {}, false, {}, false};
    if (!describe(record)) {
        broken_ = true;
        return false;
    }
    std::vector<std::string> files = filesWritten(record);
    if (!append(std::move(record))) return false;
    recorded_ = true;
    open_.push_back({&c, nextSeq_ - 1, std::move(files)});
    return true;
}

void JournalSink::after(const change::Change &c, bool made) {
    if (made && (c.kind == Kind::FileMoved || c.kind == Kind::FileCreated)) made_.push_back({c.kind, c.path, c.target});
    if (open_.empty() || broken_) return;
    auto it = open_.end() - 1;
    for (auto k = open_.begin(); k != open_.end(); ++k)
        if (k->change == &c) it = k;
    const std::uint64_t of = it->seq;
    const std::vector<std::string> files = std::move(it->files);
    open_.erase(it);
    if (made && c.kind == Kind::RestartRegistered) movedAtRestart_.push_back(c.path);
    // A registration for the restart says it was made even without files:
    // undo tells a carried-out one from one never made by it.
    if (made && files.empty() && c.kind != Kind::RestartRegistered) return;
    Left left{of, made, {}};
    if (made) {
        for (const std::string &f : files) left.files.push_back({f, currentState(machine_, f)});
        // A work file moved into place is gone with it (a kit file copied
        // from is not the patch's to tell).
        if (c.kind == Kind::FileReplaced && c.from && currentState(machine_, *c.from).is == FileState::Is::Absent)
            left.files.push_back({*c.from, FileState::absent()});
    }
    append(std::move(left));
}

} // namespace journal
