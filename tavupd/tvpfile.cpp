// File primitives: copy by date with ".OLD" backups, rename, erase, and the
// registration of whatever cannot be done now for the next start of Windows.
#include "tvpfile.h"

#include "paths.h"
#include "sys.h"
#include "tavupd.h"
#include "tavupd_error.h"
#include "tvpdf_fields.h"
#include "tvpfile_internal.h"
#include "tvpfile_subst.h"
#include "tvpprof.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>

using tvpfile_detail::backupNameOf;
using tvpfile_detail::kPathMax;

// Raises the module's Error for a path; __LINE__ names the raise site.
#define TVPFILE_RAISE(number, path) throw Error((number), (path).c_str(), "tvpfile", __LINE__)

namespace {

// Longest "target=source" line a WININIT.INI registration may take, so that
// the line reads back whole.
constexpr size_t kWininitLineMax = 254;

bool isDebug(const ConfigData *config) { return config != nullptr && config->isDebug(); }

bool isPending(const ConfigData *config) { return config != nullptr && config->isReplacementPending(); }

void markPending(ConfigData *config) {
    if (config != nullptr) config->setReplacementPending(1);
}

// Trace lines go straight to standard output, not through the catalog.
void trace(const char *label, const std::string &value) {
    std::string line(label);
    line += value;
    line += '\n';
    sys::fputs(line.c_str(), stdout);
}

bool fileExists(const std::string &path) {
    return sys::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Whether a path is known not to exist. Only "not found" counts: when the
// test fails for another reason the file may well be there, and the caller
// goes on so that its own operation succeeds, is deferred or is reported.
bool knownAbsent(const std::string &path) {
    if (sys::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A failure that says the name is wrong or names nothing, as opposed to a
// file that is there but cannot be changed now (in use, protected). Only
// the latter waits for the restart; the former is reported.
bool isNameError(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
        return true;
    default:
        return false;
    }
}

// Two formed paths name the same file: equal but for the letter case.
bool samePath(const std::string &a, const std::string &b) { return equalsIgnoreCase(a.c_str(), b.c_str()); }

sys::FileHandle openForReading(const std::string &path) {
    return sys::FileHandle(sys::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

struct DirAndName {
    std::string directory; // drive and directory
    std::string name;      // name and extension
};

DirAndName splitDirAndName(const std::string &path) {
    const PathParts parts = splitPath(path);
    return {mergePath(parts.drive.c_str(), parts.directory.c_str(), nullptr, nullptr),
            mergePath(nullptr, nullptr, parts.name.c_str(), parts.extension.c_str())};
}

// The rename of renameFileIn on formed paths. True when the source was
// renamed to the destination at once (not deferred).
bool renamePaths(const std::string &source, const std::string &destination, ConfigData *config, int force,
                 int backup) {
    if (source.size() > kPathMax) TVPFILE_RAISE(26, source);
    if (destination.size() > kPathMax) TVPFILE_RAISE(26, destination);

    // Only a file that is there waits for the restart: a missing source or
    // a missing destination directory fails here, and nothing is registered
    // that could never be carried out.
    if (knownAbsent(source)) TVPFILE_RAISE(26, source);
    const std::string destinationDir = splitDirAndName(destination).directory;
    if (!destinationDir.empty() && knownAbsent(destinationDir)) TVPFILE_RAISE(26, destination);

    // Source and destination name the same file (the letter case may
    // differ): it is renamed in place, or kept as it is when that fails.
    // Backing it up, erasing the destination or deferring would all act on
    // the file itself.
    if (samePath(source, destination)) {
        if (source != destination && !sys::MoveFileA(source.c_str(), destination.c_str()) && isDebug(config))
            trace("\t\tName Kept : ", source);
        return true;
    }

    // A destination that is not there has nothing to back up, so the rename
    // need not wait for a restart. Once an earlier step of the operation is
    // pending, the backup move is registered as usual: the destination may
    // appear at the restart through that earlier registration.
    if (backup && (isPending(config) || !knownAbsent(destination))) {
        const std::string backupName = backupNameOf(destination);
        if (backupName.size() > kPathMax) TVPFILE_RAISE(26, backupName);
        if (samePath(backupName, destination)) {
            // The destination has its own backup name: no backup is kept,
            // for moving it onto itself would erase it.
            if (isDebug(config)) trace("\t\tNo Backup : ", destination);
        } else if (samePath(backupName, source)) {
            // The backup would be made over the file being renamed.
            TVPFILE_RAISE(26, source);
        } else {
            eraseFile(backupName, config, 0);
            bool moved = false;
            if (!isPending(config)) moved = sys::MoveFileA(destination.c_str(), backupName.c_str()) != FALSE;
            if (!moved) {
                if (config == nullptr) TVPFILE_RAISE(26, destination);
                deferMove(destination, backupName.c_str(), config);
                markPending(config);
            }
        }
    }

    if (force) eraseFile(destination, config, 0);

    if (!isPending(config)) {
        if (sys::MoveFileA(source.c_str(), destination.c_str())) return true;
        if (isNameError(::GetLastError())) TVPFILE_RAISE(26, source);
    }
    if (config == nullptr) TVPFILE_RAISE(26, source);
    deferMove(source, destination.c_str(), config);
    markPending(config);
    return false;
}

// renameFile on whole paths, split and joined again as renameFile does.
bool renameWhole(const std::string &source, const std::string &destination, ConfigData *config, int force,
                 int backup) {
    if (source.size() > kPathMax) TVPFILE_RAISE(26, source);
    if (destination.size() > kPathMax) TVPFILE_RAISE(26, destination);
    const DirAndName from = splitDirAndName(source);
    const DirAndName to = splitDirAndName(destination);
    return renamePaths(joinPath(from.directory, from.name), joinPath(to.directory, to.name), config, force,
                       backup);
}

// Deletes the work files that copies cut short (a power failure) left in
// the directory: such a file is never part of the product. A file that
// cannot be deleted (another run is writing it) is left alone.
void removeStrayWorkFiles(const std::string &directory) {
    const std::string pattern = joinPath(directory, "~C*");
    if (pattern.size() > kPathMax) return;
    WIN32_FIND_DATAA data{};
    sys::FindHandle find(sys::FindFirstFileA(pattern.c_str(), &data));
    if (!find.valid()) return;
    do {
        data.cFileName[sizeof(data.cFileName) - 1] = '\0';
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        if (!tvpfile_detail::isWorkFileName(data.cFileName)) continue;
        const std::string stray = joinPath(directory, data.cFileName);
        if (stray.size() <= kPathMax) sys::DeleteFileA(stray.c_str());
    } while (sys::FindNextFileA(find.get(), &data));
}

// Writes all of the bytes, in pieces no larger than the transfer buffer.
bool writeAll(HANDLE file, const char *data, size_t size) {
    while (size > 0) {
        const DWORD piece = static_cast<DWORD>(std::min(size, tvpfile_detail::kTransferBufferSize));
        DWORD put = 0;
        if (!sys::WriteFile(file, data, piece, &put, nullptr) || put < piece) return false;
        data += piece;
        size -= piece;
    }
    return true;
}

enum class Transfer { Done, ReadFailed, WriteFailed };

// Copies the rest of `in` to `out`; with a list, every line expanded. May
// throw std::bad_alloc or std::length_error.
Transfer transfer(HANDLE in, HANDLE out, const SubstituteClass *expand) {
    // One transfer buffer for the copy; a large one keeps the number of
    // read and write calls down.
    const std::unique_ptr<char[]> buffer(new char[tvpfile_detail::kTransferBufferSize]);
    std::optional<LineExpander> expander;
    if (expand != nullptr) expander.emplace(*expand);
    std::string expanded;
    for (;;) {
        DWORD got = 0;
        if (!sys::ReadFile(in, buffer.get(), static_cast<DWORD>(tvpfile_detail::kTransferBufferSize), &got, nullptr))
            return Transfer::ReadFailed;
        if (got == 0) break;
        if (!expander) {
            if (!writeAll(out, buffer.get(), got)) return Transfer::WriteFailed;
            continue;
        }
        expanded.clear();
        expander->feed(buffer.get(), got, expanded);
        if (!writeAll(out, expanded.data(), expanded.size())) return Transfer::WriteFailed;
    }
    if (expander) {
        expanded.clear();
        expander->finish(expanded);
        if (!writeAll(out, expanded.data(), expanded.size())) return Transfer::WriteFailed;
    }
    return Transfer::Done;
}

CopyResult copyPaths(const std::string &sourceDir, const std::string &destDir, const char *tempDirectory,
                     const std::string &sourceName, const std::string &destName, ConfigData *config, int force,
                     int backup, const SubstituteClass *expand) {
    const std::string source = joinPath(sourceDir, sourceName);
    const std::string destination = joinPath(destDir, destName);
    if (source.size() > kPathMax) TVPFILE_RAISE(20, source);
    if (destination.size() > kPathMax) TVPFILE_RAISE(21, destination);

    if (isDebug(config)) {
        trace("\t\tCopy Src File  : ", source);
        trace("\t\tCopy Dest File : ", destination);
    }

    sys::FileHandle in = openForReading(source);
    if (!in) TVPFILE_RAISE(20, source);
    WORD sourceDate = 0, sourceTime = 0;
    if (!sys::GetDosFileTime(in.get(), &sourceDate, &sourceTime)) TVPFILE_RAISE(28, source);
    const int64_t sourceStamp = dosTimeToCalendar(sourceDate, sourceTime);

    // A file copied onto itself is in place already; backing it up or
    // staging it would act on the source itself.
    if (samePath(source, destination)) return SameDate;

    // A destination that cannot be opened for reading counts as absent.
    bool destExists = false;
    int64_t destStamp = 0;
    {
        sys::FileHandle probe = openForReading(destination);
        if (probe) {
            destExists = true;
            WORD date = 0, time = 0;
            if (!sys::GetDosFileTime(probe.get(), &date, &time)) TVPFILE_RAISE(28, destination);
            destStamp = dosTimeToCalendar(date, time);
        }
    }
    const bool destOlder = destExists && destStamp < sourceStamp;
    const bool destNewer = destExists && destStamp > sourceStamp;

    // Whether this call moved the original to its backup name at once; a
    // failure further on moves it back so that the user's file survives.
    bool backupMovedNow = false;
    std::string backupName;
    if (backup && destExists && (destOlder || force)) {
        backupName = backupNameOf(destination);
        if (samePath(backupName, destination)) {
            // The destination has its own backup name (X.OLD): no backup is
            // kept, for moving it onto itself would erase it.
            if (isDebug(config)) trace("\t\tNo Backup : ", destination);
        } else {
            backupMovedNow = renameWhole(destination, backupName, config, 1, 0);
        }
    }

    auto restoreBackup = [&]() {
        if (backupMovedNow && !fileExists(destination)) sys::MoveFileA(backupName.c_str(), destination.c_str());
    };

    try {
        if (!force && destExists && !destOlder) return destStamp == sourceStamp ? SameDate : DestinationNewer;

        const CopyResult result = !destExists ? Created : (destNewer ? ReplacedNewer : ReplacedOlder);

        // Registers the copy for the next start of Windows instead: staged
        // under a temporary name (expanded like the copy it stands for), it
        // replaces the destination then.
        auto deferCopy = [&]() -> CopyResult {
            in.reset();
            if (tempDirectory == nullptr || config == nullptr) TVPFILE_RAISE(21, destination);

            const uint32_t pid = sys::GetCurrentProcessId();
            std::optional<std::string> temp =
                tvpfile_detail::tempNameFromTemplate(tempDirectory, "TVXXXXXX", pid);
            if (!temp) {
                temp = tvpfile_detail::tempNameFromTemplate(tempDirectory, "MTXXXXXX", pid);
                if (isDebug(config)) trace("TEMPMK : ", temp ? *temp : std::string("(null)"));
            }
            if (!temp) TVPFILE_RAISE(21, destination);

            // The candidate's own name is the last eight characters of the path.
            const std::string tempName = temp->substr(temp->size() - 8);
            copyPaths(sourceDir, tempDirectory, nullptr, sourceName, tempName, config, force, 0, expand);
            try {
                deferMove(*temp, destination.c_str(), config);
            } catch (const Error &) {
                // Not registered: the staged copy would never be used.
                sys::DeleteFileA(temp->c_str());
                throw;
            }
            markPending(config);
            return result;
        };

        // Never overwrite in place: a destination that is still there is
        // replaced at the next start of Windows.
        if (!knownAbsent(destination)) return deferCopy();

        // The copy is written under a work name of its own in the
        // destination's directory and takes the destination's name only when
        // it is complete, so that a run cut short (a power failure) leaves
        // no part of a file at the destination; what such a run left there
        // goes first.
        removeStrayWorkFiles(destDir);
        const std::optional<std::string> work =
            tvpfile_detail::tempNameFromTemplate(destDir, tvpfile_detail::kWorkTemplate, sys::GetCurrentProcessId());
        if (!work) return deferCopy();
        sys::FileHandle out(sys::CreateFileA(work->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out) {
            // A directory that is not there is a failure of its own: a
            // registration could never be carried out.
            if (isNameError(::GetLastError())) TVPFILE_RAISE(21, destination);
            return deferCopy();
        }

        // Drops the partly written copy before a failure is raised.
        auto discard = [&]() {
            out.reset();
            in.reset();
            sys::DeleteFileA(work->c_str());
        };

        Transfer moved = Transfer::WriteFailed;
        try {
            moved = transfer(in.get(), out.get(), expand);
        } catch (const std::bad_alloc &) {
            moved = Transfer::WriteFailed; // no room for a line's expansion
        } catch (const std::length_error &) {
            moved = Transfer::WriteFailed;
        }
        if (moved == Transfer::ReadFailed) {
            discard();
            TVPFILE_RAISE(24, source);
        }
        if (moved == Transfer::WriteFailed) {
            discard();
            TVPFILE_RAISE(23, destination);
        }
        if (!sys::SetDosFileTime(out.get(), sourceDate, sourceTime)) {
            discard();
            TVPFILE_RAISE(27, destination);
        }
        // A close that fails may have lost the last of the data.
        if (!sys::CloseHandle(out.release())) {
            in.reset();
            sys::DeleteFileA(work->c_str());
            TVPFILE_RAISE(23, destination);
        }
        // The rename fails when a file of the destination's name appeared
        // meanwhile or the name cannot be taken now: deferred as above.
        if (!sys::MoveFileA(work->c_str(), destination.c_str())) {
            sys::DeleteFileA(work->c_str());
            return deferCopy();
        }
        in.reset();
        return result;
    } catch (const Error &) {
        in.reset();
        restoreBackup();
        throw;
    }
}

} // namespace

namespace tvpfile_detail {

namespace {

// The characters of a temporary name: base-32 digits of the process
// identifier, and the third character that tells candidates apart.
const char kDigits[] = "0123456789abcdefghijklmnopqrstuv";
const char kThird[] = "0abcdefghijklmnopqrstuvwxyz";

// The character (letter case aside) is one of the set.
bool oneOf(char c, const char *set) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return c != '\0' && std::strchr(set, c) != nullptr;
}

} // namespace

std::optional<std::string> tempNameFromTemplate(const std::string &directory, const char *templ, uint32_t pid) {
    if (templ == nullptr || std::strlen(templ) != 8) return std::nullopt;

    std::string name(templ);
    const uint32_t bits = pid & 0xFFFFFu;
    name[3] = kDigits[bits & 31u];
    name[4] = '.';
    name[5] = kDigits[(bits >> 5) & 31u];
    name[6] = kDigits[(bits >> 10) & 31u];
    name[7] = kDigits[(bits >> 15) & 31u];

    for (size_t i = 0; i + 1 < sizeof kThird; ++i) {
        name[2] = kThird[i];
        const std::string candidate = joinPath(directory, name);
        if (candidate.size() > kPathMax) return std::nullopt;
        if (!fileExists(candidate)) return candidate;
    }
    return std::nullopt;
}

bool isWorkFileName(const std::string &name) {
    return name.size() == 8 && name[0] == kWorkTemplate[0] && oneOf(name[1], "c") && oneOf(name[2], kThird) &&
           oneOf(name[3], kDigits) && name[4] == '.' && oneOf(name[5], kDigits) && oneOf(name[6], kDigits) &&
           oneOf(name[7], kDigits);
}

std::optional<std::string> makeTempNameFor(const std::string &directory, uint32_t pid) {
    if (auto name = tempNameFromTemplate(directory, "TVXXXXXX", pid)) return name;
    return tempNameFromTemplate(directory, "MTXXXXXX", pid);
}

std::string backupNameOf(const std::string &path) {
    const PathParts parts = splitPath(path);
    const size_t length = path.size() - parts.extension.size() + 4;
    if (path.size() <= kPathMax && length <= kPathMax && path.size() >= parts.extension.size()) {
        std::string result = path;
        setExtension(result, ".OLD");
        return result;
    }
    // Too long to be used; built whole so that the caller refuses it by name.
    std::string result = path;
    const size_t slash = result.find_last_of("\\/:");
    const size_t dot = result.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) result.erase(dot);
    return result + ".OLD";
}

} // namespace tvpfile_detail

CopyResult copyFile(const std::string &source, const std::string &destination, const char *tempDirectory,
                    ConfigData *config, int force, int backup, const SubstituteClass *expand) {
    if (source.size() > kPathMax) TVPFILE_RAISE(20, source);
    if (destination.size() > kPathMax) TVPFILE_RAISE(21, destination);
    const DirAndName from = splitDirAndName(source);
    const DirAndName to = splitDirAndName(destination);
    return copyFileIn(from.directory, to.directory, tempDirectory, from.name, to.name, config, force, backup,
                      expand);
}

CopyResult copyFileIn(const std::string &sourceDir, const std::string &destDir, const char *tempDirectory,
                      const std::string &sourceName, const std::string &destName, ConfigData *config, int force,
                      int backup, const SubstituteClass *expand) {
    return copyPaths(sourceDir, destDir, tempDirectory, sourceName, destName, config, force, backup, expand);
}

void renameFile(const std::string &source, const std::string &destination, ConfigData *config, int force,
                int backup) {
    renameWhole(source, destination, config, force, backup);
}

void renameFileIn(const std::string &sourceDir, const std::string &destDir, const std::string &sourceName,
                  const std::string &destName, ConfigData *config, int force, int backup) {
    renamePaths(joinPath(sourceDir, sourceName), joinPath(destDir, destName), config, force, backup);
}

void eraseFile(const std::string &path, ConfigData *config, int backup) {
    if (path.size() > kPathMax) TVPFILE_RAISE(25, path);
    if (knownAbsent(path)) return;

    if (backup) {
        const std::string backupName = backupNameOf(path);
        if (samePath(backupName, path)) {
            // The file has its own backup name: it is erased without a
            // backup, for moving it onto itself would only lose it.
            if (isDebug(config)) trace("\t\tNo Backup : ", path);
        } else if (renameWhole(path, backupName, config, 1, 0)) {
            // Once the backup rename has moved the file away, there is
            // nothing left to delete. When that rename had to wait for the
            // restart, the deletion waits too and is registered after it.
            return;
        }
    }

    if (!isPending(config)) {
        if (sys::DeleteFileA(path.c_str())) return;
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return; // gone meanwhile
        if (isNameError(error)) TVPFILE_RAISE(25, path);
    }
    if (config == nullptr) TVPFILE_RAISE(25, path);
    deferMove(path, nullptr, config);
    markPending(config);
}

void eraseFileIn(const std::string &dir, const std::string &name, ConfigData *config, int backup) {
    eraseFile(joinPath(dir, name), config, backup);
}

void deferMove(const std::string &source, const char *target, ConfigData *config) {
    if (config == nullptr) return;
    switch (config->osFamily()) {
    case FamilyWin95:
        deferMoveWin95(source, target != nullptr ? std::string(target) : std::string("NUL"), config);
        break;
    case FamilyNT:
        deferMoveNT(source, target, config);
        break;
    default:
        // Nothing stands in for a restart registration here: what cannot be
        // done now fails, rather than being reported done and left undone.
        TVPFILE_RAISE(29, source);
    }
}

void deferMoveWin95(const std::string &source, const std::string &target, ConfigData *config) {
    if (config == nullptr) return;
    if (isDebug(config)) {
        trace("\t\tLock Src  : ", source);
        trace("\t\tLock Dest : ", target);
    }
    const std::string wininit = joinPath(config->windowsDirectory(), "WININIT.INI");
    if (wininit.size() > kPathMax) TVPFILE_RAISE(21, wininit);
    // A line cut short would move a file to the wrong place at restart.
    if (target.size() + 1 + source.size() > kWininitLineMax) TVPFILE_RAISE(29, source);
    Profile profile(wininit, Profile::FileMode);
    profile.addValue("rename", target.c_str(), source.c_str());
}

void deferMoveNT(const std::string &source, const char *target, ConfigData *config) {
    if (isDebug(config)) {
        trace("\t\tLock Src  : ", source);
        trace("\t\tLock Dest : ", target != nullptr ? std::string(target) : std::string("(null)"));
    }
    if (!sys::MoveFileExA(source.c_str(), target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT))
        TVPFILE_RAISE(29, source);
}

std::optional<std::string> makeTempName(const std::string &directory) {
    return tvpfile_detail::makeTempNameFor(directory, sys::GetCurrentProcessId());
}
