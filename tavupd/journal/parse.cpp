// Reading one journal line back into its record.
#include "journal/fields.h"
#include "journal/format.h"

#include <cstring>

namespace journal {

namespace {

using fields::Field;

// Walks the fields of one line; the first problem sticks.
class Reader {
  public:
    explicit Reader(std::string &problem) : problem_(problem) {}
    bool failed() const { return !problem_.empty(); }
    void fail(const char *what) {
        if (problem_.empty()) problem_ = what;
    }

    std::string text(const Field &f) {
        if (!f.quoted) fail("a text value is not in quotes");
        return f.value;
    }
    // A quoted text, or the bare word `none` (nothing).
    std::optional<std::string> textOr(const Field &f, const char *none) {
        if (!f.quoted && f.value == none) return std::nullopt;
        return text(f);
    }
    bool yesNo(const Field &f) {
        if (f.quoted || (f.value != "yes" && f.value != "no")) fail("a flag is not yes or no");
        return f.value == "yes";
    }
    std::uint64_t number(const Field &f) {
        std::optional<std::uint64_t> n = f.quoted ? std::nullopt : fields::decimal(f.value);
        if (!n) fail("a number is not a decimal number");
        return n.value_or(0);
    }
    std::uint32_t number32(const Field &f) {
        const std::uint64_t n = number(f);
        if (n > 0xFFFFFFFFu) fail("a number is too large");
        return static_cast<std::uint32_t>(n);
    }
    std::uint32_t crc(const Field &f) {
        std::optional<std::uint32_t> n = f.quoted ? std::nullopt : fields::hex8(f.value);
        if (!n) fail("a CRC is not eight hexadecimal digits");
        return n.value_or(0);
    }
    std::uint32_t type(const Field &f) {
        std::optional<std::uint32_t> t = f.quoted ? std::nullopt : fields::typeOf(f.value);
        if (!t) fail("a registry type is not known");
        return t.value_or(0);
    }

  private:
    std::string &problem_;
};

// A registry value told as name-type then name-data.
struct PendingValue {
    std::optional<std::uint32_t> type;
};

void setRegValue(Reader &r, const Field &f, PendingValue &pending, std::optional<platform::RegValue> &out) {
    if (!f.quoted && f.value == "absent") {
        out.reset();
        return;
    }
    if (!pending.type) r.fail("a registry value has no type before it");
    out = platform::RegValue{pending.type.value_or(0), r.text(f)};
}

void treeField(Reader &r, const Field &f, std::vector<change::RegKeySnapshot> &tree) {
    if (f.name == "tree-key") {
        tree.push_back({r.text(f), {}});
        return;
    }
    if (tree.empty() || (f.name != "value" && tree.back().values.empty())) {
        r.fail("a registry tree value comes before its key");
        return;
    }
    std::vector<platform::RegNamedValue> &values = tree.back().values;
    if (f.name == "value") values.push_back({r.text(f), {}});
    else if (f.name == "type") values.back().value.type = r.type(f);
    else values.back().value.data = r.text(f);
}

void savedField(Reader &r, const Field &f, std::vector<Saved> &saved) {
    if (f.name == "saved") {
        saved.push_back({r.text(f), std::nullopt, FileState::absent()});
        return;
    }
    if (saved.empty()) {
        r.fail("a saved copy's field comes before the file it belongs to");
        return;
    }
    Saved &s = saved.back();
    if (f.name == "copy") {
        if (!f.quoted && f.value == "unreadable") {
            s.copy.reset();
            s.state = FileState::unknown();
            return;
        }
        s.copy = r.textOr(f, "absent");
        s.state = s.copy ? FileState::unknown() : FileState::absent();
    } else if (f.name == "size") {
        s.state.is = FileState::Is::Present;
        s.state.size = r.number(f);
    } else {
        s.state.is = FileState::Is::Present;
        s.state.crc = r.crc(f);
    }
}

bool isOneOf(const std::string &name, std::initializer_list<const char *> names) {
    for (const char *n : names)
        if (name == n) return true;
    return false;
}

// One field of a change record; false when the name is not one of them.
bool changeField(Reader &r, const Field &f, ChangeRecord &rec, PendingValue &oldType, PendingValue &newType) {
    change::Change &c = rec.change;
    const std::string &n = f.name;
    if (n == "root") {
        std::optional<platform::Root> root = f.quoted ? std::nullopt : fields::rootOf(f.value);
        if (!root) r.fail("a registry root is not known");
        c.root = root.value_or(platform::Root::LocalMachine);
    } else if (n == "path") c.path = r.text(f);
    else if (n == "target") c.target = r.text(f);
    else if (n == "from") c.from = r.text(f);
    else if (n == "detail") c.detail = r.text(f);
    else if (n == "section") c.section = r.text(f);
    else if (n == "key") c.key = r.text(f);
    else if (n == "before") c.before = r.textOr(f, "absent");
    else if (n == "after") c.after = r.textOr(f, "absent");
    else if (n == "line") c.lines.push_back(r.text(f));
    else if (n == "name") c.name = r.textOr(f, "default");
    else if (n == "old-type") oldType.type = r.type(f);
    else if (n == "old") setRegValue(r, f, oldType, c.regBefore);
    else if (n == "new-type") newType.type = r.type(f);
    else if (n == "new") setRegValue(r, f, newType, c.regAfter);
    else if (isOneOf(n, {"tree-key", "value", "type", "data"})) treeField(r, f, c.tree);
    else if (isOneOf(n, {"saved", "copy", "size", "crc"})) savedField(r, f, rec.saved);
    else if (n == "entry") rec.entry = r.text(f);
    else if (n == "added") rec.entryAdded = r.yesNo(f);
    else if (n == "pairs-before") rec.pairsBefore = r.number32(f);
    else if (n == "pending-value") rec.pendingValueExisted = r.yesNo(f);
    else return false;
    return true;
}

void requireChange(Reader &r, const ChangeRecord &rec) {
    const change::Change &c = rec.change;
    if (c.path.empty()) r.fail("a change names no path");
    if (c.kind == change::Kind::FileMoved && !c.target) r.fail("a move names no target");
    if (rec.entry && rec.pairsBefore) r.fail("a registration is both a line and a pair");
}

// Fields this version does not know are passed over: a later writer may add
// some for people to read.
ChangeRecord readChange(Reader &r, change::Kind kind, const std::vector<Field> &fs) {
    ChangeRecord rec;
    rec.change.kind = kind;
    PendingValue oldType, newType;
    for (const Field &f : fs) changeField(r, f, rec, oldType, newType);
    requireChange(r, rec);
    return rec;
}

Begin readBegin(Reader &r, const std::vector<Field> &fs) {
    Begin b;
    for (const Field &f : fs) {
        if (f.name == "patch") b.patch = r.text(f);
        else if (f.name == "profile") b.profile = r.text(f);
        else if (f.name == "time") b.time = r.text(f);
        else if (f.name == "product") b.product = r.text(f);
        else if (f.name == "windows") b.windows = r.text(f);
        else if (f.name == "next") b.nextPatch = r.number32(f);
        else if (f.name == "family") {
            if (f.value == "95") b.family = Family::Win95;
            else if (f.value == "nt") b.family = Family::NT;
            else if (f.value != "none" || f.quoted) r.fail("the Windows family is not known");
        }
    }
    return b;
}

Left readLeft(Reader &r, const std::vector<Field> &fs) {
    Left l;
    bool of = false;
    for (const Field &f : fs) {
        if (f.name == "of") {
            l.of = r.number(f);
            of = true;
        } else if (f.name == "made") {
            l.made = r.yesNo(f);
        } else if (f.name == "file") {
            l.files.push_back({r.text(f), FileState::unknown()});
        } else if (isOneOf(f.name, {"size", "crc", "state"})) {
            if (l.files.empty()) {
                r.fail("a file's state comes before the file");
                break;
            }
            FileState &s = l.files.back().state;
            if (f.name == "state") {
                if (f.value != "absent" && f.value != "unknown") r.fail("a file state is not absent or unknown");
                s = f.value == "absent" ? FileState::absent() : FileState::unknown();
            } else {
                s.is = FileState::Is::Present;
                if (f.name == "size") s.size = r.number(f);
                else s.crc = r.crc(f);
            }
        }
    }
    if (!of) r.fail("the record names no record it is about");
    return l;
}

// `of=` of the undo records; fails when missing.
std::uint64_t readOf(Reader &r, const std::vector<Field> &fs) {
    for (const Field &f : fs)
        if (f.name == "of") return r.number(f);
    r.fail("the record names no record it is about");
    return 0;
}

UndoStep readUndoStep(Reader &r, const std::vector<Field> &fs) {
    UndoStep u;
    u.of = readOf(r, fs);
    std::optional<std::uint64_t> count;
    for (const Field &f : fs) {
        if (f.name == "want-count") {
            count = r.number(f);
            u.want.emplace();
        } else if (f.name == "want") {
            if (!u.want) r.fail("a wanted name comes before its count");
            else u.want->push_back(r.text(f));
        }
    }
    if (u.want && u.want->size() != count) r.fail("the wanted names are not as many as their count says");
    return u;
}

Undone readUndone(Reader &r, const std::vector<Field> &fs) {
    Undone u;
    u.of = readOf(r, fs);
    for (const Field &f : fs) {
        if (f.name == "deferred") u.deferred = r.yesNo(f);
        else if (f.name == "skipped") u.skipped = r.text(f);
    }
    return u;
}

std::optional<change::Kind> changeKindOf(const std::string &word) {
    for (const fields::KindName &k : fields::kKindNames)
        if (word == k.word) return k.kind;
    return std::nullopt;
}

std::optional<Body> readBody(Reader &r, const fields::Cut &cut) {
    const std::vector<Field> &fs = cut.fields;
    if (std::optional<change::Kind> kind = changeKindOf(cut.kind)) return Body(readChange(r, *kind, fs));
    if (cut.kind == "begin") return Body(readBegin(r, fs));
    if (cut.kind == "left") return Body(readLeft(r, fs));
    if (cut.kind == "undo-step") return Body(readUndoStep(r, fs));
    if (cut.kind == "undone") return Body(readUndone(r, fs));
    if (cut.kind == "undo-finished") return Body(UndoFinished{});
    if (cut.kind == "undo-begin") {
        UndoBegin u;
        for (const Field &f : fs) {
            if (f.name == "time") u.time = r.text(f);
            else if (f.name == "forced") u.forced = r.yesNo(f);
        }
        return Body(u);
    }
    if (cut.kind == "undo-deferral") {
        UndoDeferral u;
        u.of = readOf(r, fs);
        u.registration = readChange(r, change::Kind::RestartRegistered, fs);
        return Body(std::move(u));
    }
    return std::nullopt;
}

} // namespace

ParsedLine parseLine(std::string_view line) {
    ParsedLine out;
    const std::optional<std::string_view> body = fields::checkedLine(line);
    if (!body) {
        out.problem = "the line is incomplete or damaged (its check does not match)";
        return out;
    }
    std::optional<fields::Cut> cut = fields::cutLine(*body, out.problem);
    if (!cut) return out;
    Reader r(out.problem);
    std::optional<Body> record = readBody(r, *cut);
    if (!record) {
        out.problem = "unknown record kind \"" + fields::escape(cut->kind) + "\"";
        out.unknownKind = true;
        return out;
    }
    if (r.failed()) return out;
    out.entry = Entry{cut->seq, std::move(*record)};
    return out;
}

} // namespace journal
