#include "engine/preview.h"

#include "platform/names.h"
#include "text/textkit.h"

#include <cstdio>
#include <iterator>

namespace preview {

namespace {

const char kWaits[] = ": would wait for the next start of Windows (in use)";

std::string fileKeyOf(const std::string &path) {
    const platform::names::FilePath p = platform::names::parseFile(path);
    return p.valid() ? p.key() : platform::names::upperCase(path);
}

std::string quoted(const std::string &value) { return "\"" + text::visible(value) + "\""; }

std::string shown(const std::optional<std::string> &value) { return value ? quoted(*value) : "not set"; }

std::string shownReg(const std::optional<platform::RegValue> &value) {
    return value ? showRegValue(*value) : "not set";
}

std::string counted(std::size_t n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

const char *resultText(FileResult r) {
    switch (r) {
    case FileResult::Created: return "new file installed";
    case FileResult::ReplacedOlder: return "older file replaced";
    case FileResult::ReplacedNewer: return "newer file replaced";
    case FileResult::SameDate: return "same date, not replaced";
    case FileResult::DestinationNewer: return "installed file is newer, not replaced";
    }
    return "";
}

const char *rootName(platform::Root root) {
    switch (root) {
    case platform::Root::LocalMachine: return "HKLM";
    case platform::Root::CurrentUser: return "HKCU";
    case platform::Root::ClassesRoot: return "HKCR";
    case platform::Root::Users: return "HKU";
    }
    return "";
}

// Directory and name of a path.
std::pair<std::string, std::string> splitName(const std::string &path) {
    const std::size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return {std::string(), path};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

// `to` is the backup name of `from`: the same directory and name with the
// extension ".OLD".
bool isBackup(const std::string &from, const std::string &to) {
    const auto f = splitName(from);
    const auto t = splitName(to);
    if (!text::equalsNoCase(f.first, t.first) || text::equalsNoCase(f.second, t.second)) return false;
    const std::size_t dot = f.second.find_last_of('.');
    const std::string base = dot == std::string::npos ? f.second : f.second.substr(0, dot);
    return text::equalsNoCase(t.second, base + ".OLD");
}

// A message on one line: line ends and tabs become blanks, the bell goes.
std::string oneLine(const std::string &message) {
    std::string out;
    for (char c : message) {
        if (c == '\a') continue;
        const char put = (c == '\r' || c == '\n' || c == '\t') ? ' ' : c;
        if (put == ' ' && (out.empty() || out.back() == ' ')) continue;
        out += put;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return text::visible(out);
}

// An INI file by its path, or its registry form (a key below
// HKEY_LOCAL_MACHINE\SOFTWARE, given without the root) as HKLM\<key>.
std::string iniName(const std::string &path) {
    if (!text::startsWithNoCase(path, "SOFTWARE\\")) return path;
    std::string key = path;
    while (!key.empty() && key.back() == '\\') key.pop_back();
    return "HKLM\\" + key;
}

bool isWininitRename(const change::Change &c) {
    return text::equalsNoCase(splitName(c.path).second, "WININIT.INI") && text::equalsNoCase(c.section, "rename");
}

} // namespace

std::string showRegValue(const platform::RegValue &value) {
    if (value.type == platform::kRegSz || value.type == 2 /* REG_EXPAND_SZ */) {
        std::string s = value.data;
        if (!s.empty() && s.back() == '\0') s.pop_back();
        return quoted(s);
    }
    if (value.type == platform::kRegDword && value.data.size() == 4) {
        std::uint32_t n = 0;
        for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(value.data[static_cast<std::size_t>(i)]);
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "0x%08X (%u)", static_cast<unsigned>(n), static_cast<unsigned>(n));
        return buffer;
    }
    std::string out = "type " + std::to_string(value.type) + ":";
    if (value.data.empty()) return out + " no bytes";
    static const char hex[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(value.data[i]);
        out += i == 0 ? ' ' : ',';
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

Report::Report(std::string profileName) : profileName_(std::move(profileName)) {}

// ---- parts of the report ---------------------------------------------------------

Outcome &Report::open(Part part, int line, const std::string &key) {
    close();
    Outcome o;
    o.part = part;
    o.line = line;
    o.key = key;
    outcomes_.push_back(std::move(o));
    isOpen_ = true;
    return outcomes_.back();
}

void Report::close() {
    if (!isOpen_) return;
    isOpen_ = false;
    Outcome &o = outcomes_.back();
    for (const Item &item : items_) {
        bool aboutIniFile = false;
        for (const std::string &ini : iniFiles_) aboutIniFile = aboutIniFile || (!item.fileKey.empty() && ini == item.fileKey);
        // An INI file saved says what changed in it; its file moves do not.
        if (!aboutIniFile) o.items.push_back(render(item));
    }
    items_.clear();
    iniFiles_.clear();
    if (o.part != Part::Action || !o.items.empty()) return;
    if (o.verdict == Verdict::Done) o.items.push_back("nothing changes");
    if (o.verdict == Verdict::Skipped) o.items.push_back("nothing to do");
    if (o.verdict == Verdict::Deferred) o.items.push_back("would wait for the next start of Windows");
}

void Report::add(const std::string &text, const std::string &aboutFile) {
    if (!isOpen_) open(Part::Run, 0, std::string());
    Item item;
    item.text = text;
    item.fileKey = aboutFile;
    items_.push_back(std::move(item));
}

void Report::arrive(const std::string &path, bool replaced, bool deferred) {
    add(path, fileKeyOf(path));
    items_.back().arrival = true;
    items_.back().replaced = replaced;
    items_.back().deferred = deferred;
}

std::string Report::render(const Item &item) const {
    if (!item.arrival) return item.text;
    std::string out = item.text + ": ";
    if (item.resultGiven)
        out += resultText(item.result);
    else
        out += item.replaced ? "file replaced" : "file written";
    if (item.deferred) out += kWaits;
    return out;
}

// ---- what the run tells ------------------------------------------------------------

void Report::conditionHolds(int line, const std::string &key, const std::string &section) {
    open(Part::Condition, line, key).verdict = Verdict::Done;
    add("holds: the actions of [" + text::visible(section) + "] follow");
    close();
}

void Report::conditionFails(int line, const std::string &key, const std::string &why) {
    open(Part::Condition, line, key).verdict = Verdict::Skipped;
    add("does not hold: " + oneLine(why));
    close();
}

void Report::beginAction(int line, const std::string &key) { open(Part::Action, line, key); }

void Report::fileResult(const std::string &destination, FileResult result) {
    const std::string key = fileKeyOf(destination);
    for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
        if (it->arrival && !it->resultGiven && it->fileKey == key) {
            it->resultGiven = true;
            it->result = result;
            return;
        }
    }
    add(destination + ": " + resultText(result));
}

void Report::message(const std::string &text) { add("message: " + oneLine(text)); }

void Report::endAction(Verdict verdict, bool endsRun) {
    if (!isOpen_ || outcomes_.back().part != Part::Action) open(Part::Action, 0, std::string());
    outcomes_.back().verdict = verdict;
    if (verdict == Verdict::Failed) add(endsRun ? "fails: the run would end here" : "fails");
    close();
}

void Report::finish(const Ending &ending) {
    bool tested = false, held = false;
    for (const Outcome &o : outcomes_) {
        if (o.part != Part::Condition) continue;
        tested = true;
        held = held || o.verdict == Verdict::Done;
    }
    close();
    open(Part::Run, 0, std::string());
    if (tested && !held) add("no condition set holds: the patch does not apply to this system");
    if (!recorded_) add("the patch would not be recorded");
    add(ending.restartNeeded ? "a restart of Windows would be needed" : "no restart of Windows would be needed");
    add("the run would end with status " + std::to_string(ending.exitStatus));
    close();
}

void Report::note(const std::string &text) {
    close();
    open(Part::Run, 0, std::string());
    add(text);
    close();
}

// ---- what the run tells as its observer ------------------------------------------------

void Report::conditionTested(int line, const std::string &key, bool holds, const std::string &section,
                             const std::string &why) {
    if (holds)
        conditionHolds(line, key, section);
    else
        conditionFails(line, key, why);
}

void Report::actionStarts(int line, const std::string &key) { beginAction(line, key); }

void Report::fileCopied(const std::string &destination, int copyResult) {
    // The values of files::CopyResult.
    switch (copyResult) {
    case 2: fileResult(destination, FileResult::SameDate); break;
    case 4: fileResult(destination, FileResult::DestinationNewer); break;
    case 8: fileResult(destination, FileResult::ReplacedOlder); break;
    case 16: fileResult(destination, FileResult::ReplacedNewer); break;
    case 32: fileResult(destination, FileResult::Created); break;
    default: break;
    }
}

void Report::actionEnds(const engine::Outcome &outcome) {
    if (outcome.restartRequest) add("restart request set to " + std::to_string(*outcome.restartRequest));
    if (outcome.restartProgram) add("reboot program set to " + text::visible(*outcome.restartProgram));
    using Status = engine::Outcome::Status;
    switch (outcome.status) {
    case Status::Done: endAction(Verdict::Done); break;
    case Status::Deferred: endAction(Verdict::Deferred); break;
    case Status::Skipped: endAction(Verdict::Skipped); break;
    case Status::Failed: endAction(Verdict::Failed, outcome.endsRun()); break;
    }
}

// The run's messages (the error stream); traces and outcome lines (the
// standard output) are told by the other parts.
void Report::write(engine::Stream stream, const std::string &text, bool) {
    if (stream == engine::Stream::Err) message(text);
}

// ---- changes -------------------------------------------------------------------------

bool Report::before(const change::Change &) { return true; }

void Report::after(const change::Change &c, bool made) {
    if (!made) return;
    switch (c.kind) {
    case change::Kind::DirectoryCreated:
    case change::Kind::FileCreated:
    case change::Kind::FileReplaced:
    case change::Kind::FileMoved:
    case change::Kind::FileRemoved: fileChange(c); break;
    case change::Kind::RestartRegistered: restartChange(c); break;
    case change::Kind::IniKeySet:
    case change::Kind::IniKeyDeleted:
    case change::Kind::IniSectionDeleted:
    case change::Kind::PatchRecorded: iniChange(c); break;
    case change::Kind::RegValueSet:
    case change::Kind::RegValueDeleted:
    case change::Kind::RegKeyCreated:
    case change::Kind::RegTreeDeleted: registryChange(c); break;
    }
}

// A file the part created and now moves on (a work or staging file): its own
// name never shows.
bool Report::consume(const std::string &fileKey) {
    for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
        if (it->created && it->fileKey == fileKey) {
            items_.erase(std::next(it).base());
            return true;
        }
    }
    return false;
}

void Report::fileChange(const change::Change &c) {
    const std::string key = fileKeyOf(c.path);
    const std::string to = c.target.value_or(std::string());
    switch (c.kind) {
    case change::Kind::DirectoryCreated: add(c.path + ": directory created", key); break;
    case change::Kind::FileCreated:
        arrive(c.path, false, false);
        items_.back().created = true;
        break;
    case change::Kind::FileReplaced:
        if (c.from && !consume(fileKeyOf(*c.from)))
            add(c.path + ": replaced by " + *c.from, key);
        else
            arrive(c.path, true, false);
        break;
    case change::Kind::FileMoved:
        if (consume(key))
            arrive(to, false, false);
        else if (isBackup(c.path, to))
            add(c.path + ": backup kept as " + to, key);
        else
            add(c.path + ": renamed to " + to, key);
        break;
    default:
        if (!consume(key)) add(c.path + ": erased", key);
        break;
    }
}

void Report::restartChange(const change::Change &c) {
    const std::string key = fileKeyOf(c.path);
    const bool staged = consume(key);
    if (!c.target) {
        if (!staged) add(c.path + ": erased" + kWaits, key);
    } else if (staged) {
        arrive(*c.target, false, true);
    } else if (isBackup(c.path, *c.target)) {
        add(c.path + ": backup kept as " + *c.target + kWaits, key);
    } else {
        add(c.path + ": renamed to " + *c.target + kWaits, key);
    }
}

void Report::iniChange(const change::Change &c) {
    const std::string file = fileKeyOf(c.path);
    if (!isOpen_) open(Part::Run, 0, std::string());
    iniFiles_.push_back(file);
    // A restart registration in WININIT.INI is told as the registration.
    if (c.kind != change::Kind::PatchRecorded && isWininitRename(c)) return;
    const std::string where = iniName(c.path) + " [" + text::visible(c.section) + "]";
    const std::string key = c.key ? " " + text::visible(*c.key) : std::string();
    switch (c.kind) {
    case change::Kind::IniKeySet: add(where + key + ": " + shown(c.before) + " -> " + shown(c.after)); break;
    case change::Kind::IniKeyDeleted: add(where + key + ": " + shown(c.before) + " -> deleted"); break;
    case change::Kind::IniSectionDeleted:
        add(where + ": section deleted (" + counted(c.lines.size(), "line", "lines") + ")");
        break;
    default: {
        recorded_ = true;
        // The record is told once: not also as the key it sets.
        const std::string setLine = where + key + ": ";
        for (auto it = items_.begin(); it != items_.end();)
            it = it->text.compare(0, setLine.size(), setLine) == 0 ? items_.erase(it) : std::next(it);
        add(where + key + ": the patch " + shown(c.after) + " would be recorded");
        break;
    }
    }
}

void Report::registryChange(const change::Change &c) {
    const std::string key = std::string(rootName(c.root)) + (c.path.empty() ? "" : "\\" + c.path);
    const std::string value = key + " " + (c.name ? text::visible(*c.name) : std::string("(default)"));
    switch (c.kind) {
    case change::Kind::RegValueSet: add(value + ": " + shownReg(c.regBefore) + " -> " + shownReg(c.regAfter)); break;
    case change::Kind::RegValueDeleted: add(value + ": " + shownReg(c.regBefore) + " -> deleted"); break;
    case change::Kind::RegKeyCreated: add(key + ": key created"); break;
    default: {
        std::size_t values = 0;
        for (const change::RegKeySnapshot &k : c.tree) values += k.values.size();
        add(key + ": tree deleted (" + counted(c.tree.size(), "key", "keys") + ", " +
            counted(values, "value", "values") + ")");
        break;
    }
    }
}

// ---- the printed report -------------------------------------------------------------

std::vector<std::string> Report::lines() const {
    std::vector<std::string> out;
    const std::size_t done = isOpen_ ? outcomes_.size() - 1 : outcomes_.size();
    for (std::size_t i = 0; i < done; ++i) {
        const Outcome &o = outcomes_[i];
        std::string prefix = profileName_;
        if (o.line > 0) prefix += "(" + std::to_string(o.line) + ") " + o.key;
        prefix += ": ";
        for (const std::string &item : o.items) out.push_back(prefix + item);
    }
    return out;
}

std::string Report::text() const {
    std::string out;
    for (const std::string &line : lines()) out += line + "\n";
    return out;
}

} // namespace preview
