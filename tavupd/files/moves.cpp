// Rename, erase and the registration of what waits for the next start of
// Windows.
#include "files/operation.h"

#include "profile/profile.h"
#include "text/paths.h"
#include "text/textkit.h"

namespace files::detail {
namespace {

// Longest "target=source" line a WININIT.INI registration may take, so that
// the line reads back whole.
constexpr std::size_t kWininitLineMax = 254;

change::Change fileChange(change::Kind kind, const std::string &path) {
    change::Change c;
    c.kind = kind;
    c.path = path;
    return c;
}

// The directory part of a path (drive and directory).
std::string directoryPart(const std::string &path) {
    const text::PathParts parts = text::splitPath(path);
    return text::mergePath(parts.drive.c_str(), parts.directory.c_str(), nullptr, nullptr);
}

// The path split into directory and name and joined again, the way every
// operation forms the paths it works on.
std::string formed(const std::string &path) {
    const text::PathParts parts = text::splitPath(path);
    return text::joinPath(directoryPart(path),
                          text::mergePath(nullptr, nullptr, parts.name.c_str(), parts.extension.c_str()));
}

} // namespace

bool knownAbsent(const std::string &path) {
    return platform::isNotFound(platform::current().attributes(path).code);
}

bool exists(const std::string &path) { return platform::current().attributes(path).exists(); }

bool isNameError(platform::Code code) {
    switch (code) {
    case platform::kFileNotFound:
    case platform::kPathNotFound:
    case platform::kInvalidDrive:
    case platform::kInvalidName:
    case platform::kBadPathname:
    case platform::kFilenameTooLong:
    case platform::kNotADirectory:
        return true;
    default:
        return false;
    }
}

bool samePath(const std::string &a, const std::string &b) { return text::equalsNoCase(a, b); }

Operation::Operation(const Setup &setup)
    : setup_(setup), os_(platform::current()), sink_(setup.changes ? *setup.changes : change::noChanges()) {}

void Operation::trace(const char *label, const std::string &value) { lines.push_back(label + value + "\n"); }

platform::Code Operation::move(const std::string &from, const std::string &to) {
    change::Change c = fileChange(change::Kind::FileMoved, from);
    c.target = to;
    return change::apply(sink_, c, [&] { return os_.move(from, to); });
}

platform::Code Operation::remove(const std::string &path) {
    return change::apply(sink_, fileChange(change::Kind::FileRemoved, path), [&] { return os_.remove(path); });
}

// ---- rename --------------------------------------------------------------------

// Moves the destination of a rename to its backup name first (or registers
// that for the restart).
void Operation::backupForRename(const std::string &source, const std::string &destination) {
    const std::string backupName = backupNameOf(destination);
    if (backupName.size() > text::kPathMax) TVPFILE_RAISE(26, backupName);
    if (samePath(backupName, destination)) {
        // The destination has its own backup name: no backup is kept,
        // for moving it onto itself would erase it.
        if (debug()) trace("\t\tNo Backup : ", destination);
        return;
    }
    // The backup would be made over the file being renamed.
    if (samePath(backupName, source)) TVPFILE_RAISE(26, source);
    erase(backupName, 0);
    if (!pending && move(destination, backupName) == platform::kOk) return;
    deferMove(destination, backupName);
    pending = true;
}

bool Operation::rename(const std::string &source, const std::string &destination, int force, int backup) {
    if (source.size() > text::kPathMax) TVPFILE_RAISE(26, source);
    if (destination.size() > text::kPathMax) TVPFILE_RAISE(26, destination);

    // Only a file that is there waits for the restart: a missing source or
    // a missing destination directory fails here, and nothing is registered
    // that could never be carried out.
    if (knownAbsent(source)) TVPFILE_RAISE(26, source);
    const std::string destinationDir = directoryPart(destination);
    if (!destinationDir.empty() && knownAbsent(destinationDir)) TVPFILE_RAISE(26, destination);

    // Source and destination name the same file (the letter case may
    // differ): it is renamed in place, or kept as it is when that fails.
    // Backing it up, erasing the destination or deferring would all act on
    // the file itself.
    if (samePath(source, destination)) {
        if (source != destination && move(source, destination) != platform::kOk && debug())
            trace("\t\tName Kept : ", source);
        return true;
    }

    // A destination that is not there has nothing to back up, so the rename
    // need not wait for a restart.
    if (backup && !knownAbsent(destination)) backupForRename(source, destination);

    if (force) erase(destination, 0);

    if (!pending) {
        const platform::Code moved = move(source, destination);
        if (moved == platform::kOk) return true;
        if (isNameError(moved)) TVPFILE_RAISE(26, source);
    }
    deferMove(source, destination);
    pending = true;
    return false;
}

bool Operation::renameWhole(const std::string &source, const std::string &destination, int force, int backup) {
    if (source.size() > text::kPathMax) TVPFILE_RAISE(26, source);
    if (destination.size() > text::kPathMax) TVPFILE_RAISE(26, destination);
    return rename(formed(source), formed(destination), force, backup);
}

// ---- erase ----------------------------------------------------------------------

void Operation::erase(const std::string &path, int backup) {
    if (path.size() > text::kPathMax) TVPFILE_RAISE(25, path);
    if (knownAbsent(path)) return;

    if (backup) {
        const std::string backupName = backupNameOf(path);
        if (samePath(backupName, path)) {
            // The file has its own backup name: it is erased without a
            // backup, for moving it onto itself would only lose it.
            if (debug()) trace("\t\tNo Backup : ", path);
        } else if (renameWhole(path, backupName, 1, 0)) {
            // Once the backup rename has moved the file away, there is
            // nothing left to delete. When that rename had to wait for the
            // restart, the deletion waits too and is registered after it.
            return;
        }
    }

    if (!pending) {
        const platform::Code removed = remove(path);
        if (removed == platform::kOk || platform::isNotFound(removed)) return; // gone meanwhile
        if (isNameError(removed)) TVPFILE_RAISE(25, path);
    }
    deferMove(path, std::nullopt);
    pending = true;
}

// ---- registration for the restart -------------------------------------------------

void Operation::deferMove(const std::string &source, const std::optional<std::string> &target) {
    switch (setup_.deferral) {
    case Deferral::Wininit:
        deferWininit(source, target ? *target : std::string("NUL"));
        break;
    case Deferral::DelayedMove:
        deferDelayed(source, target);
        break;
    case Deferral::None:
        // Nothing stands in for a restart registration here: what cannot be
        // done now fails, rather than being reported done and left undone.
        TVPFILE_RAISE(29, source);
    }
}

void Operation::deferWininit(const std::string &source, const std::string &target) {
    if (debug()) {
        trace("\t\tLock Src  : ", source);
        trace("\t\tLock Dest : ", target);
    }
    const std::string wininit = text::joinPath(setup_.windowsDirectory, "WININIT.INI");
    if (wininit.size() > text::kPathMax) TVPFILE_RAISE(21, wininit);
    // A line cut short would move a file to the wrong place at restart.
    if (target.size() + 1 + source.size() > kWininitLineMax) TVPFILE_RAISE(29, source);
    change::Change c = fileChange(change::Kind::RestartRegistered, source);
    if (target != "NUL") c.target = target;
    c.detail = "WININIT.INI";
    if (!sink_.before(c)) TVPFILE_RAISE(29, source);
    try {
        IniFile file(wininit);
        file.addValue("rename", target, source);
    } catch (...) {
        sink_.after(c, false);
        throw;
    }
    sink_.after(c, true);
}

void Operation::deferDelayed(const std::string &source, const std::optional<std::string> &target) {
    if (debug()) {
        trace("\t\tLock Src  : ", source);
        trace("\t\tLock Dest : ", target ? *target : std::string("(null)"));
    }
    change::Change c = fileChange(change::Kind::RestartRegistered, source);
    c.target = target;
    c.detail = "PendingFileRenameOperations";
    if (change::apply(sink_, c, [&] { return os_.delayMove(source, target); }) != platform::kOk)
        TVPFILE_RAISE(29, source);
}

} // namespace files::detail
