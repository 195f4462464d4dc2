// Decoding single lines of the profile: action lines of branch sections and
// condition lines of [Patch], with what is wrong with each.
#include "text/patchmodel.h"

#include <algorithm>

#include "paths.h"
#include "text/textkit.h"

namespace patch {
namespace {

struct Keyword {
    ActionKind kind;
    const char *word;
};

// In the order the engine tests a line against them.
const Keyword kKeywords[] = {
    {ActionKind::Ini, "INI"},         {ActionKind::Reg, "REG"},       {ActionKind::Subst, "SUBST"},
    {ActionKind::File, "FILE"},       {ActionKind::FindFile, "FINDFILE"}, {ActionKind::Rename, "RENAME"},
    {ActionKind::Copy, "COPY"},       {ActionKind::Erase, "ERASE"},   {ActionKind::Reboot, "REBOOT"},
};

std::string quoted(std::string_view s) { return "\"" + text::visible(s) + "\""; }

// The keyword, any digits, then "=" or the end of the line.
bool isActionKey(std::string_view line, std::string_view keyword) {
    if (!text::startsWithNoCase(line, keyword)) return false;
    std::size_t i = keyword.size();
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
    return i == line.size() || line[i] == '=';
}

ActionKind kindOf(std::string_view line) {
    for (const Keyword &k : kKeywords)
        if (isActionKey(line, k.word)) return k.kind;
    return ActionKind::Unknown;
}

// Edit distance counting a swap of two neighbours as one edit, for the
// short words of hints: texts whose lengths differ by more than two, or
// longer than 16 characters, are just "far" (3).
std::size_t distance(std::string_view a, std::string_view b) {
    constexpr std::size_t kMax = 16;
    if (a.size() > b.size() + 2 || b.size() > a.size() + 2 || a.size() > kMax || b.size() > kMax) return 3;
    std::size_t d[kMax + 1][kMax + 1];
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = text::upper(a[i - 1]) == text::upper(b[j - 1]) ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && text::upper(a[i - 1]) == text::upper(b[j - 2]) &&
                text::upper(a[i - 2]) == text::upper(b[j - 1]))
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

// The text and the problems of an unknown key.
std::string unknownKeyText(const std::string &key) {
    std::string message = "unknown action key " + quoted(key);
    const std::string_view trimmedKey = text::trimmed(key);
    std::string noBlanks;
    for (char c : key)
        if (!text::isBlank(c)) noBlanks += c;
    if (!noBlanks.empty() && kindOf(noBlanks + "=") != ActionKind::Unknown) {
        const bool onlyTrailing = trimmedKey.size() == noBlanks.size() && trimmedKey.data() == key.data();
        message += onlyTrailing ? ": a blank before \"=\" makes it no key" : ": a key holds no blanks";
        return message + "; write " + quoted(noBlanks + "=");
    }
    std::string_view word = trimmedKey;
    std::size_t cut = word.size();
    while (cut > 0 && word[cut - 1] >= '0' && word[cut - 1] <= '9') --cut;
    const std::string_view digits = word.substr(cut);
    word = word.substr(0, cut);
    const Keyword *best = nullptr;
    std::size_t bestDistance = 0;
    for (const Keyword &k : kKeywords) {
        const std::string_view keyword = k.word;
        const std::size_t d = distance(word, keyword);
        const std::size_t allowed = keyword.size() <= 4 ? 1 : 2;
        if (d > 0 && d <= allowed && (!best || d < bestDistance)) {
            best = &k;
            bestDistance = d;
        }
    }
    if (best) message += "; did you mean " + quoted(std::string(best->word) + std::string(digits)) + "?";
    return message;
}

class LineReader {
  public:
    LineReader(std::string_view line, int number, std::vector<Diagnostic> &problems)
        : line_(line), number_(number), problems_(problems), split_(text::splitLine(line)) {}

    const text::SplitLine &split() const { return split_; }
    Field field(std::size_t i) const { return split_.field(i); }

    void error(Code code, std::string text) { problems_.push_back({number_, Severity::Error, code, std::move(text)}); }
    void warning(Code code, std::string text) {
        problems_.push_back({number_, Severity::Warning, code, std::move(text)});
    }

    // A field that must be present and not empty.
    bool require(const Field &f, std::size_t position, const char *name) {
        if (text::isFilled(f)) return true;
        error(Code::MissingField, std::string(name) + " (field " + std::to_string(position) + ") is " +
                                      (f ? "empty" : "missing"));
        return false;
    }

    Location location(const Field &f) {
        if (f && text::equalsNoCase(*f, "WINDOWS")) return Location::Windows;
        if (f && text::equalsNoCase(*f, "TAVRO")) return Location::Tavro;
        if (!text::isFilled(f)) {
            error(Code::MissingField, "location (field 1) is missing: write WINDOWS or TAVRO");
        } else {
            std::string message = "unknown location " + quoted(*f);
            for (const char *known : {"WINDOWS", "TAVRO"})
                if (distance(*f, known) <= 2) message += std::string("; did you mean \"") + known + "\"?";
            error(Code::UnknownLocation, message + (message.back() == '?' ? "" : "; write WINDOWS or TAVRO"));
        }
        return Location::Unknown;
    }

    Number number(const Field &f, const char *name) {
        Number n{f, text::isFilled(f) ? text::readDecimal(*f) : std::nullopt};
        if (text::isFilled(f) && !n.value)
            warning(Code::NotANumber, std::string(name) + " " + quoted(*f) + " is not a number: the default is used");
        return n;
    }

    // Force and backup: the file operations take any non-zero value as set.
    Number flag(const Field &f, const char *name) {
        Number n = number(f, name);
        if (n.value && *n.value != 0 && *n.value != 1)
            warning(Code::NotAFlag, std::string(name) + " " + quoted(*f) + " is neither 0 nor 1: it acts as 1");
        return n;
    }

    Number compress(const Field &f) {
        Number n = number(f, "compress");
        if (n.value && *n.value != 0)
            warning(Code::CompressSet, "compress " + quoted(*f) + " is not 0: the file is not installed at all");
        return n;
    }

    // A name joined to a directory must stay below it.
    void staysInside(const Field &f, const char *name) {
        if (!text::isFilled(f)) return;
        bool leaves = f->find(':') != std::string::npos;
        std::size_t start = 0;
        while (!leaves && start <= f->size()) {
            std::size_t end = f->find_first_of("\\/", start);
            if (end == std::string::npos) end = f->size();
            if (text::trimmed(std::string_view(*f).substr(start, end - start)) == "..") leaves = true;
            start = end + 1;
        }
        if (leaves)
            warning(Code::LeavesLocation, std::string(name) + " " + quoted(*f) +
                                              " leaves the location's directory (\"..\" or a drive)");
    }

    // The install actions use only the name and extension of a file name.
    void nameOnly(const Field &f, const char *name) {
        if (!text::isFilled(f)) return;
        const std::string part = fileNamePart(*f);
        if (part != *f)
            warning(Code::DirectoryIgnored, std::string(name) + " " + quoted(*f) + ": only " + quoted(part) +
                                                " is used, the directory part is dropped");
    }

    void extraFields(std::size_t used, const char *what) {
        if (split_.fields.size() <= used) return;
        const text::Span first = split_.fieldSpans[used];
        const std::string_view rest = line_.substr(first.begin);
        warning(Code::ExtraFields, std::string(what) + " uses " + std::to_string(used) +
                                       " fields; the rest is ignored: " + quoted(rest) +
                                       " (write \\, for a comma inside a field)");
    }

    // A backslash standing alone before anything but a comma or another
    // backslash is dropped by the escape rule: say what arrives and how to
    // write it. (A field's span includes a backslash that ends the line.)
    void lostBackslashes() {
        const std::vector<std::size_t> &removed = split_.removedBackslashes;
        for (std::size_t i = 0; i < split_.fields.size(); ++i) {
            const text::Span span = split_.fieldSpans[i];
            const std::string_view written = line_.substr(span.begin, span.length);
            std::string fixed;
            bool lost = false;
            for (std::size_t p = span.begin; p < span.begin + span.length; ++p) {
                fixed += line_[p];
                if (!std::binary_search(removed.begin(), removed.end(), p)) continue;
                const bool afterBackslash = p > 0 && line_[p - 1] == '\\';
                const char next = p + 1 < line_.size() ? line_[p + 1] : '\0';
                if (afterBackslash || next == ',' || next == '\\') continue;
                fixed += '\\';
                lost = true;
            }
            if (lost)
                warning(Code::LostBackslash, "single backslash dropped: " + quoted(written) + " arrives as " +
                                                 quoted(split_.fields[i]) + "; write " + quoted(fixed));
        }
    }

  private:
    std::string_view line_;
    int number_;
    std::vector<Diagnostic> &problems_;
    text::SplitLine split_;
};

Root actionRoot(const std::string &root) {
    if (text::equalsNoCase(root, "HKLM")) return Root::LocalMachine;
    if (text::equalsNoCase(root, "HKCU")) return Root::CurrentUser;
    if (text::equalsNoCase(root, "HKCR")) return Root::ClassesRoot;
    if (text::equalsNoCase(root, "HKU")) return Root::Users;
    return Root::None;
}

Root conditionRoot(const Field &f) {
    if (!f) return Root::None;
    const std::string_view head = std::string_view(*f).substr(0, 4);
    if (f->size() >= 4 && text::equalsNoCase(head, "HKLM")) return Root::LocalMachine;
    if (f->size() >= 4 && text::equalsNoCase(head, "HKCU")) return Root::CurrentUser;
    if (f->size() >= 4 && text::equalsNoCase(head, "HKCR")) return Root::ClassesRoot;
    if (text::equalsNoCase(*f, "HKU")) return Root::Users;
    return Root::None;
}

// How to write a root given by its long name.
std::string rootHint(const std::string &root) {
    static const char *const names[][2] = {{"HKEY_LOCAL_MACHINE", "HKLM"},
                                           {"HKEY_CURRENT_USER", "HKCU"},
                                           {"HKEY_CLASSES_ROOT", "HKCR"},
                                           {"HKEY_USERS", "HKU"}};
    for (const auto &n : names)
        if (text::equalsNoCase(text::trimmed(root), n[0])) return std::string("; write ") + n[1];
    return "; the roots are HKLM, HKCU, HKCR and HKU";
}

// ---- the actions ----------------------------------------------------------------

Action decodeIni(LineReader &r) {
    IniAction a{r.field(0), Location::Unknown, r.field(1), r.field(2), r.field(3), r.field(4)};
    a.where = r.location(a.location);
    r.require(a.file, 2, "INI file name");
    r.require(a.section, 3, "section");
    r.staysInside(a.file, "INI file name");
    r.extraFields(5, "INI");
    return a;
}

Action decodeReg(LineReader &r) {
    RegAction a{r.field(0), Root::None, r.field(1), r.field(2), r.field(3)};
    if (a.path && a.path->empty()) a.path.reset();
    if (a.name && a.name->empty()) a.name.reset();
    if (r.require(a.rootText, 1, "registry root")) {
        a.root = actionRoot(*a.rootText);
        if (a.root == Root::None)
            r.error(Code::UnknownRoot, "unknown registry root " + quoted(*a.rootText) + rootHint(*a.rootText));
    }
    if (!a.path && !a.name)
        r.error(Code::RootKeyItself, "neither key path (field 2) nor value name (field 3): the line would address "
                                     "the root key itself and is refused");
    r.extraFields(4, "REG");
    return a;
}

Action decodeInstall(LineReader &r, ActionKind kind) {
    const bool findFile = kind == ActionKind::FindFile;
    const std::size_t numbers = findFile ? 3 : 4; // index of the force field
    InstallAction a;
    a.location = r.field(0);
    a.file = r.field(1);
    a.subdirectory = r.field(2);
    if (!findFile) a.entry = r.field(3);
    a.force = r.flag(r.field(numbers), "force");
    a.backup = r.flag(r.field(numbers + 1), "backup");
    a.compress = r.compress(r.field(numbers + 2));
    r.require(a.file, 2, "file name");
    a.where = r.location(a.location);
    r.nameOnly(a.file, "file name");
    r.nameOnly(a.entry, "entry");
    r.staysInside(a.subdirectory, "subdirectory");
    r.extraFields(numbers + 3, keywordOf(kind));
    return a;
}

Action decodeLocal(LineReader &r, ActionKind kind) {
    LocalAction a;
    a.location = r.field(0);
    a.source = r.field(1);
    a.destination = r.field(2);
    a.force = r.flag(r.field(3), "force");
    a.backup = r.flag(r.field(4), "backup");
    r.require(a.source, 2, "source");
    r.require(a.destination, 3, "destination");
    a.where = r.location(a.location);
    r.staysInside(a.source, "source");
    r.staysInside(a.destination, "destination");
    r.extraFields(5, keywordOf(kind));
    return a;
}

Action decodeErase(LineReader &r) {
    EraseAction a;
    a.location = r.field(0);
    a.file = r.field(1);
    a.backup = r.flag(r.field(2), "backup");
    r.require(a.file, 2, "file name");
    a.where = r.location(a.location);
    r.staysInside(a.file, "file name");
    r.extraFields(3, "ERASE");
    return a;
}

Action decodeReboot(LineReader &r) {
    RebootAction a;
    a.value.text = r.field(0);
    if (text::isFilled(a.value.text)) a.value.value = text::readDecimal(*a.value.text);
    a.program = r.field(1);
    if (!text::isFilled(a.value.text))
        r.warning(Code::MissingField, "restart value (field 1) is missing: the restart request stays as it was");
    else if (!a.value.value)
        r.warning(Code::NotANumber, "restart value " + quoted(*a.value.text) + " is not a number: the restart "
                                    "request stays as it was");
    else if (a.value.value && *a.value.value != 0 && *a.value.value != 1)
        r.warning(Code::NotAFlag, "restart value " + quoted(*a.value.text) + " is neither 0 nor 1: only 1 asks "
                                  "for a restart");
    r.extraFields(2, "REBOOT");
    return a;
}

} // namespace

const char *keywordOf(ActionKind kind) {
    for (const Keyword &k : kKeywords)
        if (k.kind == kind) return k.word;
    return "";
}

bool ActionLine::refused() const {
    return std::any_of(problems.begin(), problems.end(),
                       [](const Diagnostic &d) { return d.severity == Severity::Error; });
}

RegOperation RegAction::operation() const {
    if (value) return RegOperation::SetValue;
    return name ? RegOperation::DeleteValue : RegOperation::DeleteKey;
}

std::string fileNamePart(std::string_view name) {
    std::string copy(name);
    return pathFileName(copy);
}

ActionLine decodeActionLine(std::string_view line, int number) {
    ActionLine a;
    a.line = number;
    a.text = std::string(text::trimmed(line));
    if (a.text.empty()) return a;
    if (a.text[0] == ';' || a.text.compare(0, 2, "//") == 0) {
        a.kind = ActionKind::Comment;
        return a;
    }
    LineReader r(a.text, number, a.problems);
    a.key = a.text.substr(0, a.text.find('='));
    a.kind = kindOf(a.text);
    if (a.text.size() > text::kLineMax) {
        a.overlong = true;
        r.error(Code::Overlong, "line of " + std::to_string(a.text.size()) + " characters, more than " +
                                    std::to_string(text::kLineMax) + ": it is refused");
        return a;
    }
    switch (a.kind) {
    case ActionKind::Ini: a.action = decodeIni(r); break;
    case ActionKind::Reg: a.action = decodeReg(r); break;
    case ActionKind::Subst:
    case ActionKind::File:
    case ActionKind::FindFile: a.action = decodeInstall(r, a.kind); break;
    case ActionKind::Rename:
    case ActionKind::Copy: a.action = decodeLocal(r, a.kind); break;
    case ActionKind::Erase: a.action = decodeErase(r); break;
    case ActionKind::Reboot: a.action = decodeReboot(r); break;
    default:
        r.error(Code::UnknownKey, unknownKeyText(a.key));
        return a;
    }
    r.lostBackslashes();
    return a;
}

// ---- condition lines ----------------------------------------------------------------

namespace {

bool knownOs(int os) { return os == 0 || os == 1 || os == 2 || os == 4 || os == 7 || os == 8 || os == 9; }

void decodeConditionFields(LineReader &r, ConditionLine &c) {
    ConditionFields &f = c.fields;
    f.branch = r.field(0);
    f.os = r.field(1);
    f.mode = r.field(2);
    f.section = r.field(3);
    f.root = conditionRoot(f.section);
    const std::size_t k = f.registry() ? 5 : 4;
    if (f.registry()) f.path = r.field(4);
    f.key = r.field(k);
    f.rangeStart = r.field(k + 1);
    f.rangeEnd = r.field(k + 2);

    bool fails = false;
    auto need = [&](const Field &field, std::size_t position, const char *name) {
        if (text::isFilled(field)) return;
        r.error(Code::AlwaysFails, std::string(name) + " (field " + std::to_string(position) + ") is " +
                                       (field ? "empty" : "missing") + ": the line holds on no machine");
        fails = true;
    };
    need(f.section, 4, "INI section or registry root");
    if (text::isFilled(f.section) && !f.registry() && text::startsWithNoCase(text::trimmed(*f.section), "HK")) {
        r.error(Code::UnknownRoot, "unknown registry root " + quoted(*f.section) +
                                       ": the line is read as a test of the TAVRO.INI section of that name" +
                                       rootHint(*f.section));
        fails = true;
    }
    need(f.os, 2, "OS");
    if (!f.registry()) need(f.key, 5, "key");
    need(f.rangeStart, k + 2, "range start");

    if (text::isFilled(f.os)) {
        const std::optional<int> os = text::readDecimal(*f.os);
        c.os = os.value_or(0);
        if (!os)
            r.warning(Code::NotANumber, "OS " + quoted(*f.os) + " is not a number: it counts as 0 (other system)");
        else if (!knownOs(*os))
            r.warning(Code::OutOfRange, "OS " + quoted(*f.os) + " is no system code (1 Windows 95, 7 Windows 98, "
                                        "2 NT 3.51, 8 NT 4, 9 Windows 2000, 4 Win32s, 0 other): the line holds on "
                                        "no machine");
    }
    if (text::isFilled(f.mode)) {
        const std::optional<int> mode = text::readDecimal(*f.mode);
        if (mode && *mode >= 0 && *mode <= 4)
            c.mode = *mode;
        else
            r.warning(mode ? Code::OutOfRange : Code::NotANumber,
                      "mode " + quoted(*f.mode) + " is not 0 to 4: mode 2 (not below range start) is used");
    }
    if (c.mode == 4 && !text::isFilled(f.rangeEnd)) {
        r.error(Code::AlwaysFails, "mode 4 needs a range end (field " + std::to_string(k + 3) +
                                       "): the line holds on no machine");
        fails = true;
    }
    r.extraFields(k + 3, f.registry() ? "a registry condition" : "an INI condition");
    r.lostBackslashes();
    c.alwaysFails = fails;
}

} // namespace

ConditionLine decodeConditionLine(std::string_view line, int number, int set) {
    ConditionLine c;
    c.line = number;
    c.set = set;
    c.text = std::string(line);
    LineReader r(line, number, c.problems);
    if (text::trimmed(line).size() > text::kLineMax) {
        c.overlong = true;
        c.alwaysFails = true;
        r.error(Code::Overlong, "condition line of " + std::to_string(text::trimmed(line).size()) +
                                    " characters, more than " + std::to_string(text::kLineMax) + ": it is refused");
        return c;
    }
    decodeConditionFields(r, c);
    return c;
}

} // namespace patch
