#include "journal/format.h"

#include "journal/fields.h"
#include "text/textkit.h"

#include <array>

namespace journal {

std::string headerLine() { return std::string(kMagic) + " " + std::to_string(kVersion); }

std::uint32_t crc32(std::string_view bytes) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (char ch : bytes) c = table[(c ^ static_cast<unsigned char>(ch)) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

FileState FileState::of(std::string_view bytes) { return {Is::Present, bytes.size(), crc32(bytes)}; }

bool FileState::sameAs(const FileState &other) const {
    if (!known() || is != other.is) return false;
    return is == Is::Absent || (size == other.size && crc == other.crc);
}

const char *familyWord(Family family) {
    switch (family) {
    case Family::Win95:
        return "95";
    case Family::NT:
        return "nt";
    default:
        return "none";
    }
}

// ---- names -----------------------------------------------------------------

namespace {
constexpr std::size_t kStemMax = 64;

bool plainNameByte(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}
} // namespace

std::string fileStem(const std::string &patch) {
    std::string stem;
    bool changed = patch.empty() || patch.size() > kStemMax;
    for (char c : patch.substr(0, kStemMax)) {
        const bool plain = plainNameByte(c);
        stem += plain ? c : '_';
        changed = changed || !plain;
    }
    if (!changed) return stem;
    static const char hex[] = "0123456789ABCDEF";
    const std::uint32_t crc = crc32(patch);
    stem += '~';
    for (int shift = 28; shift >= 0; shift -= 4) stem += hex[(crc >> shift) & 0xFu];
    return stem;
}

std::string journalPath(const std::string &archive, const std::string &patch) {
    return text::joinPath(archive, fileStem(patch) + ".JNL");
}

std::string besideJournalPath(const std::string &archive, const std::string &patch) {
    std::string product = archive;
    while (!product.empty() && product.back() == '\\') product.pop_back();
    const std::size_t slash = product.find_last_of('\\');
    product.resize(slash == std::string::npos ? 0 : slash);
    return text::joinPath(product, fileStem(patch) + ".JNL");
}

std::string undoDirectory(const std::string &archive) { return text::joinPath(archive, "UNDO"); }

std::string copyDirectory(const std::string &archive, const std::string &patch) {
    return text::joinPath(undoDirectory(archive), fileStem(patch));
}

bool isRegistryIni(const std::string &path) { return !path.empty() && path.back() == '\\'; }

// ---- writing ---------------------------------------------------------------

namespace {

using fields::Writer;

// Kinds whose description is about a registry value with an old state.
bool namesRegistryValue(change::Kind kind) {
    return kind == change::Kind::RegValueSet || kind == change::Kind::RegValueDeleted;
}

bool isRegistryKind(change::Kind kind) {
    return namesRegistryValue(kind) || kind == change::Kind::RegKeyCreated || kind == change::Kind::RegTreeDeleted;
}

// INI kinds say "before=absent" when the key was not there.
bool tellsAbsentBefore(change::Kind kind) {
    return kind == change::Kind::IniKeySet || kind == change::Kind::IniKeyDeleted;
}

void writeTree(Writer &w, const std::vector<change::RegKeySnapshot> &tree) {
    for (const change::RegKeySnapshot &key : tree) {
        w.text("tree-key", key.path);
        for (const platform::RegNamedValue &v : key.values) {
            w.text("value", v.name);
            w.word("type", fields::typeWord(v.value.type));
            w.text("data", v.value.data);
        }
    }
}

void writeRegValue(Writer &w, const char *typeName, const char *dataName, const std::optional<platform::RegValue> &v,
                   bool tellAbsent) {
    if (v) {
        w.word(typeName, fields::typeWord(v->type));
        w.text(dataName, v->data);
    } else if (tellAbsent) {
        w.word(dataName, "absent");
    }
}

void writeChange(Writer &w, const change::Change &c) {
    const bool registryIni = isRegistryIni(c.path);
    if (isRegistryKind(c.kind)) w.word("root", fields::rootWord(c.root));
    w.text("path", c.path);
    if (c.target) w.text("target", *c.target);
    if (c.from) w.text("from", *c.from);
    if (!c.detail.empty()) w.text("detail", c.detail);
    if (!c.section.empty()) w.text("section", c.section);
    if (c.key) w.text("key", *c.key);
    if (c.before) w.text("before", *c.before);
    else if (tellsAbsentBefore(c.kind)) w.word("before", "absent");
    if (c.after) w.text("after", *c.after);
    for (const std::string &line : c.lines) w.text("line", line);
    if (namesRegistryValue(c.kind)) {
        if (c.name) w.text("name", *c.name);
        else w.word("name", "default");
    } else if (c.name) {
        w.text("name", *c.name);
    }
    writeRegValue(w, "old-type", "old", c.regBefore, namesRegistryValue(c.kind) || (registryIni && c.key));
    writeRegValue(w, "new-type", "new", c.regAfter, false);
    writeTree(w, c.tree);
}

void writeSaved(Writer &w, const std::vector<Saved> &saved) {
    for (const Saved &s : saved) {
        w.text("saved", s.original);
        if (!s.copy) {
            // A file that is there but cannot be read (held by a program
            // without sharing) has no copy: undo leaves it as it is then.
            w.word("copy", s.state.known() ? "absent" : "unreadable");
            continue;
        }
        w.text("copy", *s.copy);
        w.number("size", s.state.size);
        w.hex("crc", s.state.crc);
    }
}

void writeRecordFields(Writer &w, const ChangeRecord &r) {
    writeChange(w, r.change);
    writeSaved(w, r.saved);
    if (r.entry) {
        w.text("entry", *r.entry);
        w.word("added", r.entryAdded ? "yes" : "no");
    }
    if (r.pairsBefore) {
        w.number("pairs-before", *r.pairsBefore);
        w.word("pending-value", r.pendingValueExisted ? "yes" : "no");
    }
}

void writeFileState(Writer &w, const FileState &state) {
    if (state.is == FileState::Is::Present) {
        w.number("size", state.size);
        w.hex("crc", state.crc);
    } else {
        w.word("state", state.is == FileState::Is::Absent ? "absent" : "unknown");
    }
}

struct BodyWriter {
    Writer &w;
    void operator()(const Begin &b) const {
        w.text("patch", b.patch);
        w.text("profile", b.profile);
        if (!b.time.empty()) w.text("time", b.time);
        w.word("family", familyWord(b.family));
        w.text("product", b.product);
        w.text("windows", b.windows);
        if (b.nextPatch) w.number("next", *b.nextPatch);
    }
    void operator()(const ChangeRecord &r) const { writeRecordFields(w, r); }
    void operator()(const Left &l) const {
        w.number("of", l.of);
        w.word("made", l.made ? "yes" : "no");
        for (const FileLeft &f : l.files) {
            w.text("file", f.path);
            writeFileState(w, f.state);
        }
    }
    void operator()(const UndoBegin &u) const {
        if (!u.time.empty()) w.text("time", u.time);
        w.word("forced", u.forced ? "yes" : "no");
    }
    void operator()(const UndoStep &u) const {
        w.number("of", u.of);
        if (!u.want) return;
        w.number("want-count", u.want->size());
        for (const std::string &name : *u.want) w.text("want", name);
    }
    void operator()(const Undone &u) const {
        w.number("of", u.of);
        if (u.deferred) w.word("deferred", "yes");
        if (u.skipped) w.text("skipped", *u.skipped);
    }
    void operator()(const UndoDeferral &u) const {
        w.number("of", u.of);
        writeRecordFields(w, u.registration);
    }
    void operator()(const UndoFinished &) const {}
};

struct WordOf {
    const char *operator()(const Begin &) const { return "begin"; }
    const char *operator()(const ChangeRecord &r) const { return kindWord(r.change.kind); }
    const char *operator()(const Left &) const { return "left"; }
    const char *operator()(const UndoBegin &) const { return "undo-begin"; }
    const char *operator()(const UndoStep &) const { return "undo-step"; }
    const char *operator()(const Undone &) const { return "undone"; }
    const char *operator()(const UndoDeferral &) const { return "undo-deferral"; }
    const char *operator()(const UndoFinished &) const { return "undo-finished"; }
};

} // namespace

const char *kindWord(change::Kind kind) {
    for (const fields::KindName &k : fields::kKindNames)
        if (k.kind == kind) return k.word;
    return "unknown";
}

std::string formatEntry(const Entry &entry) {
    Writer w(entry.seq, std::visit(WordOf{}, entry.body));
    std::visit(BodyWriter{w}, entry.body);
    return w.take();
}

} // namespace journal
