#include "journal/machine_ops.h"

#include "journal/reader.h"
#include "text/textkit.h"
#include "text/ini.h"

namespace journal {

using platform::Code;
using platform::kOk;
using platform::Platform;

namespace {

constexpr Code kInvalidDrive = 15;     // ERROR_INVALID_DRIVE
constexpr Code kBadPathname = 161;     // ERROR_BAD_PATHNAME
constexpr Code kNameTooLong = 206;     // ERROR_FILENAME_EXCED_RANGE
constexpr Code kDirectoryName = 267;   // ERROR_DIRECTORY
// An installed-patch record is read as the profiles read it: at most this
// many bytes of a registry value.
constexpr std::size_t kRecordBytes = 256;
// PendingFileRenameOperations is read whole up to this size.
constexpr std::size_t kPendingBytes = 16u << 20;
// A value set and deleted again to make a key that holds no values.
const std::string kPlaceholder = "~tavupd undo~";

std::string recordKey(std::size_t n) { return "Patch" + std::to_string(n); }

ini::Table tableOf(const std::string &bytes) {
    ini::Table t;
    t.read(bytes.data(), bytes.size());
    return t;
}

} // namespace

FileState currentState(Platform &machine, const std::string &path) {
    const platform::Result<std::string> r = machine.readAll(path);
    if (r.ok()) return FileState::of(r.value);
    return platform::isNotFound(r.code) ? FileState::absent() : FileState::unknown();
}

bool exists(Platform &machine, const std::string &path) { return machine.attributes(path).exists(); }

std::string journalOf(Platform &machine, const std::string &archive, const std::string &patch) {
    const std::string inArchive = journalPath(archive, patch);
    if (exists(machine, inArchive)) return inArchive;
    const std::string beside = besideJournalPath(archive, patch);
    const platform::Result<std::string> bytes = machine.readAll(beside);
    return bytes.ok() && readJournal(bytes.value).isJournal ? beside : inArchive;
}

bool waitsForRestart(Code code) {
    switch (code) {
    case kOk:
    case platform::kFileNotFound:
    case platform::kPathNotFound:
    case kInvalidDrive:
    case platform::kInvalidName:
    case kBadPathname:
    case kNameTooLong:
    case kDirectoryName:
    case platform::kFileExists:
    case platform::kAlreadyExists:
        return false;
    default:
        return true;
    }
}

std::string directoryOf(const std::string &path) {
    const std::size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string workName(const std::string &path, char letter, std::uint64_t number) {
    static const char hex[] = "0123456789ABCDEF";
    std::string name = directoryOf(path) + "~" + letter;
    for (int shift = 20; shift >= 0; shift -= 4) name += hex[(number >> shift) & 0xFu];
    return name + ".TMP";
}

Code putInPlace(Platform &machine, const std::string &work, const std::string &path, const std::string &aside) {
    const platform::Attributes a = machine.attributes(path);
    if (!a.exists() && platform::isNotFound(a.code)) return machine.move(work, path);
    Code c = machine.replace(work, path);
    if (c != platform::kCallNotImplemented) return c;
    // No replacing rename (the Windows 95 family): the old file steps aside
    // until the new one is in place.
    machine.remove(aside);
    c = machine.move(path, aside);
    if (c != kOk) return c;
    c = machine.move(work, path);
    if (c != kOk) {
        machine.move(aside, path);
        return c;
    }
    machine.remove(aside);
    return kOk;
}

Code writeInPlace(Platform &machine, const std::string &path, const std::string &bytes, const std::string &work,
                  const std::string &aside) {
    machine.remove(work);
    Code c = machine.writeNew(work, bytes);
    if (c != kOk) return c;
    c = putInPlace(machine, work, path, aside);
    if (c != kOk) machine.remove(work);
    return c;
}


// ---- replacements registered for the next start of Windows ----------------

std::string wininitEntry(const std::string &source, const std::optional<std::string> &target) {
    return (target ? *target : std::string("NUL")) + "=" + source;
}

std::vector<WininitLine> wininitRenames(const ini::Table &table) {
    std::vector<WininitLine> out;
    const long header = table.findSection("rename");
    if (header < 0) return out;
    const std::vector<std::string> &lines = table.lines();
    for (std::size_t i = static_cast<std::size_t>(header) + 1; i < lines.size(); ++i) {
        if (ini::isSectionLine(lines[i].c_str())) break;
        const std::size_t eq = lines[i].find('=');
        if (eq == std::string::npos) continue;
        const std::string_view line(lines[i]);
        out.push_back({std::string(text::trimmed(line.substr(0, eq))), std::string(text::trimmed(line.substr(eq + 1))),
                       i});
    }
    return out;
}

std::vector<PendingPair> pendingPairs(std::string_view data) {
    struct Piece {
        std::size_t begin, end; // end: the NUL (or the end of the data)
    };
    std::vector<Piece> pieces;
    for (std::size_t pos = 0; pos < data.size();) {
        std::size_t nul = data.find('\0', pos);
        if (nul == std::string_view::npos) nul = data.size();
        pieces.push_back({pos, nul});
        pos = nul + 1;
    }
    std::vector<PendingPair> pairs;
    // An empty source ends the list (the NUL that closes it).
    for (std::size_t i = 0; i + 1 < pieces.size() && pieces[i].end > pieces[i].begin; i += 2) {
        const Piece &s = pieces[i], &t = pieces[i + 1];
        pairs.push_back({std::string(data.substr(s.begin, s.end - s.begin)),
                         std::string(data.substr(t.begin, t.end - t.begin)), s.begin,
                         t.end < data.size() ? t.end + 1 : data.size()});
    }
    return pairs;
}

std::string plainName(std::string_view stored) {
    if (!stored.empty() && stored.front() == '!') stored.remove_prefix(1);
    if (stored.substr(0, 4) == "\\??\\") stored.remove_prefix(4);
    return std::string(stored);
}

bool pairIs(const PendingPair &pair, const std::string &source, const std::optional<std::string> &target) {
    if (!text::equalsNoCase(plainName(pair.source), source)) return false;
    if (!target) return pair.target.empty();
    return !pair.target.empty() && text::equalsNoCase(plainName(pair.target), *target);
}

PendingValue readPendingValue(Platform &machine) {
    PendingValue out;
    const std::string name = kPendingName;
    platform::RegStage stage = platform::RegStage::None;
    platform::Result<platform::RegValue> r = machine.regRead(platform::Root::LocalMachine, kSessionManager, &name,
                                                             kPendingBytes, &stage);
    if (!r.ok()) {
        if (!platform::isNotFound(r.code)) out.code = r.code;
        return out;
    }
    out.exists = true;
    out.value = std::move(r.value);
    out.pairs = pendingPairs(out.value.data);
    return out;
}

std::vector<Waiting> waitingNow(Platform &machine, const std::string &windowsDirectory, Family family) {
    std::vector<Waiting> out;
    if (family == Family::None) return out;
    if (family == Family::Win95) {
        const platform::Result<std::string> wininit = machine.readAll(text::joinPath(windowsDirectory, kWininit));
        if (!wininit.ok()) return out;
        for (const WininitLine &l : wininitRenames(tableOf(wininit.value))) {
            std::optional<std::string> target;
            if (!text::equalsNoCase(l.target, "NUL")) target = l.target;
            out.push_back({kWininit, l.source, target});
        }
        return out;
    }
    for (const PendingPair &p : readPendingValue(machine).pairs) {
        std::optional<std::string> target;
        if (!p.target.empty()) target = plainName(p.target);
        out.push_back({kPendingName, plainName(p.source), target});
    }
    return out;
}

bool stillWaiting(Platform &machine, const std::string &windowsDirectory, const ChangeRecord &registration) {
    const change::Change &c = registration.change;
    if (registration.entry) {
        const platform::Result<std::string> wininit = machine.readAll(text::joinPath(windowsDirectory, kWininit));
        if (!wininit.ok()) return false;
        const ini::Table t = tableOf(wininit.value);
        for (const WininitLine &l : wininitRenames(t))
            if (text::equalsNoCase(t.lines()[l.index], *registration.entry)) return true;
        return false;
    }
    for (const PendingPair &p : readPendingValue(machine).pairs)
        if (pairIs(p, c.path, c.target)) return true;
    return false;
}

// ---- the installed-patch record ---------------------------------------------

std::vector<std::string> installedPatches(Platform &machine, const std::string &location) {
    std::vector<std::string> names;
    if (isRegistryIni(location)) {
        const std::string key = location + "Install";
        for (std::size_t n = 0;; ++n) {
            const std::string name = recordKey(n);
            const platform::Result<platform::RegValue> r =
                machine.regRead(platform::Root::LocalMachine, key, &name, kRecordBytes);
            if (!r.ok()) break;
            const std::string text = r.value.data.substr(0, r.value.data.find('\0'));
            if (text.empty()) break;
            names.push_back(text);
        }
        return names;
    }
    const platform::Result<std::string> bytes = machine.readAll(location);
    if (!bytes.ok()) return names;
    const ini::Table t = tableOf(bytes.value);
    for (std::size_t n = 0;; ++n) {
        const char *v = t.lookup("Install", recordKey(n).c_str());
        if (v == nullptr || *v == '\0') break;
        names.emplace_back(v);
    }
    return names;
}

Code writeInstalled(Platform &machine, const std::string &location, const std::vector<std::string> &names,
                    const std::string &work, const std::string &aside) {
    const std::size_t before = installedPatches(machine, location).size();
    if (isRegistryIni(location)) {
        const std::string key = location + "Install";
        for (std::size_t n = 0; n < names.size(); ++n) {
            const std::string name = recordKey(n);
            const platform::RegOutcome o = machine.regSet(platform::Root::LocalMachine, key, &name,
                                                          {platform::kRegSz, names[n] + std::string(1, '\0')});
            if (!o.ok()) return o.code;
        }
        for (std::size_t n = names.size(); n < before; ++n) {
            const platform::RegOutcome o = machine.regDeleteValue(platform::Root::LocalMachine, key, recordKey(n));
            if (!o.ok() && !platform::isNotFound(o.code)) return o.code;
        }
        return kOk;
    }
    const platform::Result<std::string> bytes = machine.readAll(location);
    if (!bytes.ok() && !platform::isNotFound(bytes.code)) return bytes.code;
    ini::Table t = tableOf(bytes.ok() ? bytes.value : std::string());
    for (std::size_t n = 0; n < names.size(); ++n) t.setValue("Install", recordKey(n).c_str(), names[n].c_str());
    for (std::size_t n = names.size(); n < before; ++n) t.setValue("Install", recordKey(n).c_str(), nullptr);
    return writeInPlace(machine, location, t.bytes(), work, aside);
}

// ---- registry trees ---------------------------------------------------------

namespace {

bool readKey(Platform &machine, platform::Root root, const std::string &path,
             std::vector<change::RegKeySnapshot> &out) {
    platform::Result<std::vector<platform::RegNamedValue>> values = machine.regValues(root, path);
    if (!values.ok()) return false;
    out.push_back({path, std::move(values.value)});
    const platform::Result<std::vector<std::string>> subkeys = machine.regSubkeys(root, path);
    if (!subkeys.ok()) return false;
    for (const std::string &name : subkeys.value)
        if (!readKey(machine, root, path + "\\" + name, out)) return false;
    return true;
}

} // namespace

std::optional<std::vector<change::RegKeySnapshot>> readTree(Platform &machine, platform::Root root,
                                                            const std::string &path) {
    std::vector<change::RegKeySnapshot> tree;
    const Code open = machine.regOpenable(root, path, false);
    if (platform::isNotFound(open)) return tree;
    if (open != kOk || !readKey(machine, root, path, tree)) return std::nullopt;
    return tree;
}

bool writeTree(Platform &machine, platform::Root root, const std::vector<change::RegKeySnapshot> &tree) {
    for (const change::RegKeySnapshot &key : tree) {
        for (const platform::RegNamedValue &v : key.values)
            if (!machine.regSet(root, key.path, &v.name, v.value).ok()) return false;
        if (!key.values.empty()) continue;
        // A key that holds no values: made by setting a value and deleting
        // it (again, should a cut have left it).
        if (machine.regOpenable(root, key.path, false) != kOk &&
            !machine.regSet(root, key.path, &kPlaceholder, {platform::kRegSz, std::string(1, '\0')}).ok())
            return false;
        const platform::RegOutcome gone = machine.regDeleteValue(root, key.path, kPlaceholder);
        if (!gone.ok() && !platform::isNotFound(gone.code)) return false;
    }
    return true;
}

} // namespace journal
