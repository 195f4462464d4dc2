// SUBST, FILE and FINDFILE: install patch files from the program directory.
#include <algorithm>

#include "engine/actions.h"
#include "platform/platform.h"
#include "text/paths.h"
#include "text/textkit.h"

namespace engine {
namespace {

// Outcome message of a copy result; 0 for a result outside the table.
int outcomeMessage(int result) {
    switch (result) {
    case files::SameDate: return 32;
    case files::DestinationNewer: return 33;
    case files::ReplacedOlder: return 34;
    case files::ReplacedNewer: return 35;
    case files::Created: return 36;
    default: return 0;
    }
}

// The error of a test for a name that does not exist.
bool notFound(platform::Code code) { return platform::isNotFound(code) || code == platform::kInvalidName; }

struct Install {
    int force = 0, backup = 0, compress = 0;
    const SubstituteClass *expand = nullptr;
};

// Installs one patch file: the copy by date, its messages and outcome line.
Outcome installFile(Context &cx, const std::string &destDir, const std::string &sourceName,
                    const std::string &destName, const Install &how) {
    std::string source = cx.machine.programDirectory;
    std::string destination = destDir;
    text::appendBackslash(source);
    text::appendBackslash(destination);
    const std::string sourceFile = patch::fileNamePart(sourceName);
    const std::string destFile = patch::fileNamePart(destName);
    if (source.size() + sourceFile.size() > text::kPathMax || destination.size() + destFile.size() > text::kPathMax) {
        // A path past the limit names no file this installer may touch.
        cx.report.message(18);
        return Outcome::failed();
    }
    source = text::withFileName(source, sourceFile);
    destination = text::withFileName(destination, destFile);
    // A compressed file is not installed at all.
    if (how.compress != 0) return Outcome::skipped();

    const files::Result r = files::copy(cx.files, source, destination, how.force, how.backup, how.expand);
    cx.report.fileTrace(r.trace);
    if (!r.ok()) cx.report.message(30, r.error->message);
    const int message = outcomeMessage(r.copied);
    if (cx.observer && message != 0) cx.observer->fileCopied(destination, r.copied);
    if (cx.options.isInteractive() && message != 0) cx.report.outcome(destination, message);
    if (!r.ok()) return Outcome::failed(r.deferred);
    return r.deferred ? Outcome::deferred(r.copied) : Outcome::done(r.copied);
}

// What the copies of a FINDFILE came to: failed when one failed, deferred
// when one waits for the restart.
void gather(Outcome &all, const Outcome &one) {
    if (one.waitsForRestart) all.waitsForRestart = true;
    if (one.status == Outcome::Status::Failed) all.status = Outcome::Status::Failed;
    if (one.status == Outcome::Status::Deferred && all.status != Outcome::Status::Failed)
        all.status = Outcome::Status::Deferred;
}

// Installs the file into the directory when it is there, and into every
// directory below that holds it.
void findFile(Context &cx, const std::string &directory, const std::string &name, const Install &how, Outcome &all) {
    std::string dir = directory;
    text::appendBackslash(dir);
    const std::string file = patch::fileNamePart(name);
    // The copy of this directory, its listing pattern and every path below
    // must stay within the limit; a deeper tree is left alone.
    if (dir.size() + std::max<std::size_t>(file.size(), 3) > text::kPathMax) {
        cx.report.message(18);
        all.status = Outcome::Status::Failed;
        return;
    }
    platform::Platform &os = platform::current();
    // Present when it exists, and also when the test fails for any reason
    // other than the name not existing (it may exist but not be examinable).
    const platform::Attributes candidate = os.attributes(dir + file);
    if (candidate.exists() || !notFound(candidate.code)) gather(all, installFile(cx, dir, name, name, how));

    const auto entries = os.list(dir);
    if (!entries.ok()) return;
    for (const platform::DirEntry &entry : entries.value) {
        if (entry.name.empty() || entry.name[0] == '.' || !entry.directory) continue;
        findFile(cx, dir + entry.name, name, how, all);
    }
}

void traceInstall(Context &cx, patch::ActionKind kind, const patch::InstallAction &a, const Install &how) {
    Reporter &r = cx.report;
    r.trace(kind == patch::ActionKind::Subst ? "\tSubst\n" : kind == patch::ActionKind::File ? "\tFile\n"
                                                                                            : "\tFindFile\n");
    r.trace("\t\tcomponent   : %s\n", a.location ? a.location->c_str() : "(null)");
    r.trace("\t\tfilename    : %s\n", a.file ? a.file->c_str() : "(null)");
    r.trace("\t\tsubdir      : %s\n", a.subdirectory ? a.subdirectory->c_str() : "(null)");
    // FINDFILE has no entry field: its copies keep the file name.
    r.trace("\t\tentry       : %s\n", a.entry ? a.entry->c_str() : "(null)");
    r.trace("\t\tbackup      : %s\n", a.backup.text ? a.backup.text->c_str() : "(null)");
    r.trace("\t\tbackup val  : %d\n", how.backup);
    r.trace("\t\tforce       : %s\n", a.force.text ? a.force.text->c_str() : "(null)");
    r.trace("\t\tforce value : %d\n", how.force);
    r.trace("\t\tcompress    : %s\n", a.compress.text ? a.compress.text->c_str() : "(null)");
    r.trace("\t\tcompress val: %d\n", how.compress);
}

// The directory the line installs into, or nothing (reported) when it
// names none that may be used.
std::optional<std::string> targetDirectory(Context &cx, patch::ActionKind kind, const patch::InstallAction &a) {
    std::optional<std::string> path = cx.directoryOf(a.where);
    if (!path) {
        cx.report.message(18);
        return std::nullopt;
    }
    if (kind == patch::ActionKind::Subst) {
        text::appendBackslash(*path);
        if (a.subdirectory) *path += *a.subdirectory;
        if (!path->empty() && path->back() == '\\') path->pop_back();
    } else if (text::isFilled(a.subdirectory)) {
        text::appendBackslash(*path);
        *path += *a.subdirectory;
    }
    if (path->size() > text::kPathMax) {
        cx.report.message(18);
        return std::nullopt;
    }
    if (!platform::current().attributes(*path).exists()) {
        cx.report.message(17);
        return std::nullopt;
    }
    return path;
}

} // namespace

Outcome runInstall(Context &cx, patch::ActionKind kind, const patch::InstallAction &a) {
    Install how;
    how.force = a.force.valueOr(cx.defaultForce());
    how.backup = a.backup.valueOr(cx.defaultBackup());
    how.compress = a.compress.valueOr(0);
    if (cx.debug()) traceInstall(cx, kind, a, how);

    if (!text::isFilled(a.file)) {
        cx.report.message(18);
        return Outcome::failed();
    }
    const std::optional<std::string> path = targetDirectory(cx, kind, a);
    if (!path) return Outcome::failed();
    const std::string &fileName = *a.file;
    const std::string target = text::isFilled(a.entry) ? *a.entry : fileName;
    switch (kind) {
    case patch::ActionKind::Subst:
        // The file is installed with its references expanded on the way:
        // the copy in place, or the one staged for the restart. A file that
        // is not replaced (same date, newer, compressed, failed) is left
        // exactly as it is.
        how.expand = &cx.variables;
        return installFile(cx, *path, fileName, target, how);
    case patch::ActionKind::File:
        return installFile(cx, *path, fileName, target, how);
    default: {
        Outcome all = Outcome::done();
        findFile(cx, *path, fileName, how, all);
        return all;
    }
    }
}

} // namespace engine
