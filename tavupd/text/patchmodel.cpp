// Reading a whole profile into the model: lines, bytes, sections, settings
// and condition sets. The decoding of single lines is in patchmodel_lines.cpp.
#include "text/patchmodel.h"

#include <climits>
#include <cstring>
#include <map>

#include "text/textkit.h"

namespace patch {

const char *const kSettingNames[7] = {"LogFile",        "AppendLog",      "Force", "Backup",
                                      "Reboot Program", "Failed Program", "Patch"};

namespace {

// The part of a line every rule sees: up to its first NUL.
std::string_view seen(const std::string &line) { return std::string_view(line.c_str()); }

Diagnostic warning(int line, Code code, std::string text) {
    return Diagnostic{line, Severity::Warning, code, std::move(text)};
}

// ---- bytes --------------------------------------------------------------------

void checkBytes(std::string_view bytes, const std::vector<std::string> &lines, std::vector<Diagnostic> &out) {
    std::size_t skipFirst = 0; // bytes of a byte-order mark on line 1
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        out.push_back(warning(1, Code::ByteOrderMark,
                              "the file begins with a UTF-8 byte-order mark: its three bytes belong to the first "
                              "line, so a header or key there is not recognised; save the file without it"));
        skipFirst = 3;
    } else if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF") {
        out.push_back(warning(1, Code::ByteOrderMark,
                              "the file begins with a UTF-16 byte-order mark: save it as 8-bit ANSI text"));
        skipFirst = 2;
    }

    // A Ctrl-Z ends the text; one at the very end (old editors) is harmless.
    const std::size_t at = bytes.find('\x1a');
    if (at != std::string_view::npos) {
        bool textFollows = false;
        for (std::size_t i = at + 1; i < bytes.size(); ++i)
            if (bytes[i] != 0x1a && !text::isBlank(bytes[i])) textFollows = true;
        if (textFollows) {
            std::size_t line = 1;
            for (std::size_t i = 0; i < at; ++i)
                if (bytes[i] == '\n') ++line;
            // At the start of a line the byte ends the text after the line before.
            if (line > lines.size())
                out.push_back(warning(0, Code::ControlZ,
                                      "a Ctrl-Z byte after line " + std::to_string(lines.size()) +
                                          " ends the text: nothing after it is read"));
            else
                out.push_back(warning(static_cast<int>(line), Code::ControlZ,
                                      "a Ctrl-Z byte ends the text here: nothing after it is read"));
        }
    }

    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string &line = lines[i];
        const int number = static_cast<int>(i + 1);
        const std::size_t nul = line.find('\0');
        if (nul != std::string::npos)
            out.push_back(warning(number, Code::NulByte,
                                  "NUL byte in the line: everything after it is not read"));
        const std::string_view visiblePart = seen(line);
        const std::size_t from = i == 0 ? skipFirst : 0;
        for (std::size_t k = from; k < visiblePart.size(); ++k) {
            if (static_cast<unsigned char>(visiblePart[k]) >= 0x80) {
                out.push_back(warning(number, Code::NonAscii,
                                      "non-ASCII byte in the line: its meaning depends on the code page of the "
                                      "machine; file, key and section names should be plain ASCII"));
                break;
            }
        }
    }
}

// ---- sections -------------------------------------------------------------------

void readSections(Model &model) {
    std::vector<Section> &sections = model.sections;
    for (std::size_t i = 0; i < model.lines.size(); ++i) {
        const std::string &line = model.lines[i];
        if (!ini::isSectionLine(line.c_str())) {
            if (!sections.empty())
                sections.back().lines.push_back(decodeActionLine(seen(line), static_cast<int>(i + 1)));
            continue;
        }
        Section section;
        section.headerLine = static_cast<int>(i + 1);
        section.indented = line[0] != '[';
        const std::string_view header = text::trimmed(seen(line)).substr(1);
        const std::size_t close = header.find(']');
        section.unclosed = close == std::string_view::npos;
        section.name = std::string(header.substr(0, close));
        if (!section.indented && !section.unclosed) {
            for (const Section &earlier : sections) {
                if (!earlier.indented && !earlier.unclosed && text::equalsNoCase(earlier.name, section.name)) {
                    section.duplicate = true;
                    break;
                }
            }
        }
        sections.push_back(std::move(section));
    }
}

// ---- settings -------------------------------------------------------------------

// Line number of the line that holds `value` (a pointer into the table).
int lineHolding(const Model &model, const char *value) {
    for (std::size_t i = 0; i < model.lines.size(); ++i) {
        const char *begin = model.table.lineAt(static_cast<long>(i));
        if (value >= begin && value <= begin + std::strlen(begin)) return static_cast<int>(i + 1);
    }
    return 0;
}

TextSetting textSetting(const Model &model, const char *key) {
    TextSetting s;
    if (const char *value = model.table.lookup("Patch", key)) {
        s.present = true;
        s.line = lineHolding(model, value);
        s.value = value;
    }
    return s;
}

NumberSetting numberSetting(const Model &model, const char *key, int def) {
    NumberSetting s;
    s.value = def;
    if (const char *value = model.table.lookup("Patch", key)) {
        s.present = true;
        s.line = lineHolding(model, value);
        s.text = value;
        s.parsed = text::readDecimal(s.text);
        if (s.parsed) s.value = *s.parsed;
    }
    return s;
}

void readSettings(Model &model) {
    Settings &s = model.settings;
    s.logFile = textSetting(model, "LogFile");
    s.appendLog = numberSetting(model, "AppendLog", 0);
    s.force = numberSetting(model, "Force", 0);
    s.backup = numberSetting(model, "Backup", 1);
    s.rebootProgram = textSetting(model, "Reboot Program");
    s.failedProgram = textSetting(model, "Failed Program");
    s.patch = textSetting(model, "Patch");
}

// ---- conditions -----------------------------------------------------------------

constexpr std::string_view kConditionWord = "Condition";

// How the engine's walk takes a line that begins with "Condition": the set
// number it belongs to, or why it belongs to none.
struct ConditionKey {
    bool read = false;
    int number = -1;
    UnreadCondition::Reason reason = UnreadCondition::Reason::BadNumber;
};

ConditionKey conditionKey(std::string_view line) {
    ConditionKey key;
    std::size_t p = kConditionWord.size();
    const std::size_t digitsStart = p;
    while (p < line.size() && line[p] >= '0' && line[p] <= '9') ++p;
    const std::string_view digits = line.substr(digitsStart, p - digitsStart);
    if (!digits.empty()) {
        const std::optional<int> n = text::readDecimal(digits);
        if (n && *n != INT_MAX) key.number = *n;
    }
    // The engine formats "Condition%d=": no sign, no leading zero, no blank.
    const bool canonical = key.number >= 0 && (digits.size() == 1 || digits[0] != '0');
    std::size_t q = p;
    while (q < line.size() && text::isBlank(line[q])) ++q;
    if (q >= line.size() || line[q] != '=') {
        key.reason = line.find('=') == std::string_view::npos ? UnreadCondition::Reason::NoEquals
                                                              : UnreadCondition::Reason::BadNumber;
        return key;
    }
    if (!canonical) {
        key.reason = UnreadCondition::Reason::BadNumber;
        return key;
    }
    if (q != p) {
        key.reason = UnreadCondition::Reason::BlankBeforeEquals;
        return key;
    }
    key.read = true;
    return key;
}

void readConditions(Model &model) {
    const Section *patch = model.patchSection();
    if (!patch) return;
    std::map<int, std::vector<int>> byNumber; // set number -> line numbers, in file order
    for (const ActionLine &line : patch->lines) {
        const std::string_view raw = model.lineText(line.line);
        const std::string_view trimmed = text::trimmed(raw);
        if (!text::startsWithNoCase(trimmed, kConditionWord)) continue;
        const ConditionKey key = conditionKey(trimmed);
        if (trimmed.data() != raw.data()) {
            model.unreadConditions.push_back({line.line, UnreadCondition::Reason::Indented, key.number});
        } else if (!key.read) {
            model.unreadConditions.push_back({line.line, key.reason, key.number});
        } else {
            byNumber[key.number].push_back(line.line);
        }
    }
    int next = 0;
    for (const auto &entry : byNumber) {
        if (entry.first == next) {
            ConditionSet set;
            set.number = next;
            for (int number : entry.second)
                set.lines.push_back(decodeConditionLine(model.lineText(number), number, next));
            model.conditionSets.push_back(std::move(set));
            ++next;
            continue;
        }
        for (int number : entry.second)
            model.unreadConditions.push_back({number, UnreadCondition::Reason::BeyondEnd, entry.first});
    }
}

} // namespace

const Section *Model::findSection(std::string_view name) const {
    const long header = table.findSection(std::string(name).c_str());
    if (header < 0) return nullptr;
    for (const Section &section : sections)
        if (section.headerLine == header + 1) return &section;
    return nullptr;
}

std::string_view Model::lineText(int number) const {
    if (number < 1 || static_cast<std::size_t>(number) > lines.size()) return std::string_view();
    return seen(lines[static_cast<std::size_t>(number - 1)]);
}

Model parse(std::string_view bytes) {
    Model model;
    model.table.read(bytes.data(), bytes.size());
    model.lines = model.table.lines();
    checkBytes(bytes, model.lines, model.fileProblems);
    readSections(model);
    readSettings(model);
    readConditions(model);
    return model;
}

} // namespace patch
