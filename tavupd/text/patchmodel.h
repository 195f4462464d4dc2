// The installation profile read once into a model, free of the platform:
// the run settings of [Patch], the condition sets as the engine walks them,
// and every section with its lines decoded into typed actions. Each line
// keeps its number, its text and what is wrong with it (diagnostics with
// fixed English texts), so that the engine can run the actions and the
// checker can report the problems from the same reading.
//
// Lines are read the way the engine reads the profile (ini::Table::read):
// cut at line feeds (a CR before one belongs to the line end), each line
// kept whole, the text ending at the first Ctrl-Z; every rule that looks at
// a line sees it up to its first NUL byte.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "text/fields.h"
#include "tvpprof_ini.h"

namespace patch {

using text::Field;

enum class Severity { Error, Warning };

// What a diagnostic is about; the text says it to the author.
enum class Code {
    // the file's bytes
    ByteOrderMark,
    NulByte,
    ControlZ,
    NonAscii,
    // one line
    Overlong,         // longer than text::kLineMax after trimming: refused
    UnknownKey,       // no action keyword (with the nearest one as a hint)
    MissingField,     // a field the action or test needs is absent or empty
    UnknownLocation,  // neither WINDOWS nor TAVRO
    UnknownRoot,      // not a registry root the line can use
    RootKeyItself,    // REG without key path and value name
    NotANumber,       // a numeric field that does not begin with a number
    NotAFlag,         // a flag other than 0 or 1
    OutOfRange,       // a number outside the values the field knows
    CompressSet,      // non-zero compress: the file is not installed
    ExtraFields,      // fields after the last one the line uses
    LostBackslash,    // a single backslash the escape rule drops
    LeavesLocation,   // ".." or a drive in a name joined to a directory
    DirectoryIgnored, // a directory part the action drops
    AlwaysFails,      // a condition line that holds on no machine
};

struct Diagnostic {
    int line = 0; // 1-based; 0 for the file as a whole
    Severity severity = Severity::Error;
    Code code = Code::UnknownKey;
    std::string text;
};

// A numeric field: the text as written and its "%d" reading (see
// text::readDecimal); no value when the field is absent, empty or does not
// begin with a number. Defaults come from the run settings, so the user of
// the field supplies them.
struct Number {
    Field text;
    std::optional<int> value;
    int valueOr(int def) const { return value ? *value : def; }
};

// The first field of the file and INI actions.
enum class Location { Unknown, Windows, Tavro };

// A registry root.
enum class Root { None, LocalMachine, CurrentUser, ClassesRoot, Users };

// ---- actions ----------------------------------------------------------------

enum class ActionKind { Blank, Comment, Unknown, Ini, Reg, Subst, File, FindFile, Rename, Copy, Erase, Reboot };

// The keyword of a kind ("INI", ...), empty for Blank, Comment and Unknown.
const char *keywordOf(ActionKind kind);

// INI=location,file,section,key,value. Only absence counts as "no key" or
// "no value"; the value is expanded with the substitution list when used.
struct IniAction {
    Field location;
    Location where = Location::Unknown;
    Field file, section, key, value;
};

enum class RegOperation { SetValue, DeleteValue, DeleteKey };

// REG=root,path,name,value. An empty path or name counts as absent.
struct RegAction {
    Field rootText;
    Root root = Root::None; // the four names exactly, any case
    Field path, name, value;
    RegOperation operation() const;
};

// SUBST and FILE: location,file,subdirectory,entry,force,backup,compress;
// FINDFILE: location,file,subdirectory,force,backup,compress (no entry).
struct InstallAction {
    Field location;
    Location where = Location::Unknown;
    Field file, subdirectory, entry;
    Number force, backup, compress;
};

// RENAME and COPY: location,source,destination,force,backup.
struct LocalAction {
    Field location;
    Location where = Location::Unknown;
    Field source, destination;
    Number force, backup;
};

// ERASE=location,file,backup.
struct EraseAction {
    Field location;
    Location where = Location::Unknown;
    Field file;
    Number backup;
};

// REBOOT=value,program. No value: the restart request stays as it was.
struct RebootAction {
    Number value;
    Field program;
};

using Action = std::variant<std::monostate, IniAction, RegAction, InstallAction, LocalAction, EraseAction,
                            RebootAction>;

struct ActionLine {
    int line = 0;      // 1-based line number in the file
    std::string text;  // the line trimmed of blanks (up to its first NUL)
    std::string key;   // the text before the first "=" as written (the key message 18 names); empty for blank and comment lines
    ActionKind kind = ActionKind::Blank;
    // Longer than text::kLineMax: refused as a whole, never decoded.
    bool overlong = false;
    // The decoded fields; std::monostate for blank, comment, unknown and
    // overlong lines. InstallAction serves SUBST, FILE and FINDFILE,
    // LocalAction RENAME and COPY: `kind` tells which.
    Action action;
    // What is wrong with the line. Every error is a reason for which the
    // engine does not carry the line out: no action key, overlong, a
    // required field missing (message 18; COPY, RENAME and ERASE without
    // their names are skipped without one), an unknown location or root, a
    // REG line on a root key itself. Warnings never change what it does.
    std::vector<Diagnostic> problems;

    // Decoded, but refused by the engine (an error above).
    bool refused() const;
    // Decoded and not refused: the engine carries it out (it may still fail
    // on the machine).
    bool runnable() const { return action.index() != 0 && !refused(); }
};

// ---- sections -----------------------------------------------------------------

struct Section {
    // The text between "[" and the first "]" (the rest of the line when
    // there is no "]").
    std::string name;
    int headerLine = 0;
    // Begun by a line that starts with "[" only after blanks: it ends the
    // section above but is never found by name.
    bool indented = false;
    // No "]" after the name.
    bool unclosed = false;
    // An earlier header of the same name comes first: never found by name.
    bool duplicate = false;
    // The lines after the header up to the next line that begins, after
    // blanks, with "[", as the engine walks a branch.
    std::vector<ActionLine> lines;
};

// ---- conditions ---------------------------------------------------------------

// The fields of a condition line, as the engine splits them: the registry
// form when the fourth field begins with HKLM, HKCU or HKCR or is HKU (any
// case), else the INI form (no path).
struct ConditionFields {
    Field branch, os, mode, section, path, key, rangeStart, rangeEnd;
    Root root = Root::None;
    bool registry() const { return root != Root::None; }
};

struct ConditionLine {
    int line = 0;
    int set = 0;
    std::string text; // the line as written (up to its first NUL)
    bool overlong = false;
    ConditionFields fields; // empty when overlong
    // "%d" of the OS field (0 when it is no number) and the comparison
    // mode used (2 when absent, no number or outside 0-4).
    int os = 0;
    int mode = 2;
    // The line holds on no machine (a required field missing, a mode 4
    // without range end, an overlong line; also a long root name such as
    // HKEY_LOCAL_MACHINE, which makes it a test of a TAVRO.INI section of
    // that name); the set's later lines are then never tested. This is the
    // checker's verdict: the engine evaluates a line as it stands.
    bool alwaysFails = false;
    std::vector<Diagnostic> problems;
};

struct ConditionSet {
    int number = 0;
    std::vector<ConditionLine> lines;
    // The branch of the set: that of its first line (later lines' branches
    // are not used).
    const Field &branch() const { return lines.front().fields.branch; }
};

// A line of [Patch] that looks like a condition but that the engine's walk
// never reads as one.
struct UnreadCondition {
    enum class Reason {
        BeyondEnd,         // "Condition<N>=" with N past the last set read
        BlankBeforeEquals, // "Condition1 =..."
        Indented,          // blanks before "Condition"
        BadNumber,         // no number, a sign, leading zeros, out of range
        NoEquals,          // "Condition1" without "="
    };
    int line = 0;
    Reason reason = Reason::BeyondEnd;
    // The set number the author meant, when one can be read; else -1.
    int number = -1;
};

// ---- settings -------------------------------------------------------------------

// A text setting of [Patch], read as the engine reads it: the rest of the
// key's line after "=", verbatim, whatever its length (the run context keeps
// the program names to text::kPathMax characters); empty when the key is
// missing.
struct TextSetting {
    bool present = false;
    int line = 0;
    std::string value;
};

// A numeric setting: present with its text, and the value used (the "%d"
// reading, else the default).
struct NumberSetting {
    bool present = false;
    int line = 0;
    std::string text;
    std::optional<int> parsed;
    int value = 0;
};

struct Settings {
    TextSetting patch, logFile, rebootProgram, failedProgram;
    NumberSetting appendLog, force, backup; // defaults 0, 0, 1
};

// The names of the [Patch] settings, in the order the driver reads them
// (the patch name last).
extern const char *const kSettingNames[7];

// ---- the model --------------------------------------------------------------------

struct Model {
    // Physical lines, as the profile reads them (line n is lines[n - 1]),
    // bytes after a NUL included.
    std::vector<std::string> lines;
    // Problems of the file's bytes.
    std::vector<Diagnostic> fileProblems;
    Settings settings;
    // Every region begun by a section line, in file order.
    std::vector<Section> sections;
    // The sets the engine evaluates, Condition0 up to the first number
    // without a line; and the condition-like lines it never reads.
    std::vector<ConditionSet> conditionSets;
    std::vector<UnreadCondition> unreadConditions;

    // The section the engine processes for a branch (the first header that
    // begins with "[name]", ignoring case), or null.
    const Section *findSection(std::string_view name) const;
    // [Patch], or null.
    const Section *patchSection() const { return findSection("Patch"); }
    // Line n as the engine sees it (up to its first NUL); empty out of range.
    std::string_view lineText(int number) const;

    ini::Table table; // the same lines, for lookups by the INI rules
};

// Reads the profile's bytes. Never fails: any bytes give a model.
Model parse(std::string_view bytes);

// Decodes one line of a branch section (the line as it stands in the file;
// it is trimmed here). `number` is its line number.
ActionLine decodeActionLine(std::string_view line, int number);

// Decodes one condition line of set `set` (the line as it stands in the file).
ConditionLine decodeConditionLine(std::string_view line, int number, int set);

// The file and entry names whose directory part the install actions drop:
// the name and extension only.
std::string fileNamePart(std::string_view name);

} // namespace patch
