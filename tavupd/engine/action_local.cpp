// COPY, RENAME and ERASE: work on files already on the machine below one
// base directory.
#include <cstring>

#include "engine/actions.h"
#include "text/textkit.h"

namespace engine {
namespace {

const char *orNull(const text::Field &f) { return f ? f->c_str() : "(null)"; }

// The file primitive's trace and error, and what the line came to.
Outcome finish(Context &cx, const files::Result &r, int message) {
    cx.report.fileTrace(r.trace);
    if (r.ok()) return r.deferred ? Outcome::deferred() : Outcome::done();
    cx.report.message(message, r.error->message);
    return Outcome::failed(r.deferred);
}

// The base directory of the line with a backslash, or nothing (reported)
// when the names joined to it would not make paths this installer may use.
std::optional<std::string> base(Context &cx, patch::Location where, const std::string &first,
                                const std::string &second) {
    std::optional<std::string> dir = cx.directoryOf(where);
    if (!dir) {
        cx.report.message(18);
        return std::nullopt;
    }
    text::appendBackslash(*dir);
    if (dir->size() + first.size() > text::kPathMax || dir->size() + second.size() > text::kPathMax ||
        isInvalidName(first) || isInvalidName(second)) {
        cx.report.message(18);
        return std::nullopt;
    }
    return dir;
}

} // namespace

bool isInvalidName(const std::string &name) {
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 32 || std::strchr("*?<>|\":", c) != nullptr) return true;
    }
    return false;
}

Outcome runLocal(Context &cx, patch::ActionKind kind, const patch::LocalAction &a) {
    if (!text::isFilled(a.source) || !text::isFilled(a.destination)) return Outcome::skipped();
    const int force = a.force.valueOr(cx.defaultForce());
    const int backup = a.backup.valueOr(cx.defaultBackup());
    const std::optional<std::string> dir = base(cx, a.where, *a.source, *a.destination);
    if (!dir) return Outcome::failed();
    const std::string sourcePath = *dir + *a.source;
    const std::string destPath = *dir + *a.destination;
    const bool copy = kind == patch::ActionKind::Copy;

    if (cx.debug()) {
        Reporter &r = cx.report;
        r.trace(copy ? "\tCopy (Local)\n" : "\tRename (local)\n");
        r.trace("\t\tcomponent   : %s\n", orNull(a.location));
        r.trace("\t\tsource      : %s\n", sourcePath.c_str());
        r.trace("\t\tdestination : %s\n", destPath.c_str());
        r.trace("\t\tbackup      : %s\n", orNull(a.backup.text));
        r.trace("\t\tbackup val  : %d\n", backup);
        r.trace("\t\tforce       : %s\n", orNull(a.force.text));
        r.trace("\t\tforce value : %d\n", force);
    }
    if (copy) {
        const files::Result r = files::copy(cx.files, sourcePath, destPath, force, backup);
        if (cx.observer && r.copied != 0) cx.observer->fileCopied(destPath, r.copied);
        return finish(cx, r, 30);
    }
    return finish(cx, files::rename(cx.files, sourcePath, destPath, force, backup), 29);
}

Outcome runErase(Context &cx, const patch::EraseAction &a) {
    if (!text::isFilled(a.file)) return Outcome::skipped();
    const int backup = a.backup.valueOr(cx.defaultBackup());
    const std::optional<std::string> dir = base(cx, a.where, *a.file, std::string());
    if (!dir) return Outcome::failed();
    const std::string path = *dir + *a.file;

    if (cx.debug()) {
        Reporter &r = cx.report;
        r.trace("\tErase (Local)\n");
        r.trace("\t\tcomponent   : %s\n", orNull(a.location));
        r.trace("\t\tfilename    : %s\n", path.c_str());
        r.trace("\t\tbackup      : %s\n", orNull(a.backup.text));
        r.trace("\t\tbackup val  : %d\n", backup);
    }
    return finish(cx, files::erase(cx.files, path, backup), 31);
}

Outcome runReboot(const patch::RebootAction &a) {
    Outcome o = Outcome::done();
    // A value that is absent or no number leaves the request as it was.
    o.restartRequest = a.value.value;
    if (text::isFilled(a.program)) o.restartProgram = *a.program;
    return o;
}

} // namespace engine
