// The file primitives' entry points: one operation per call, its result.
#include "files/files.h"

#include "files/operation.h"
#include "text/paths.h"
#include "text/textkit.h"

namespace files {
namespace {

// Runs one operation and gathers what it did into the result: an Error it
// raised becomes the result's error.
template <typename Step> Result run(const Setup &setup, Step step) {
    detail::Operation op(setup);
    Result result;
    try {
        result.copied = step(op);
    } catch (const Error &e) {
        result.error = e;
        result.copied = 0;
    }
    result.deferred = op.pending;
    result.trace = std::move(op.lines);
    return result;
}

} // namespace

Deferral deferralFor(int osFamily) {
    switch (osFamily) {
    case 1: return Deferral::Wininit;
    case 2: return Deferral::DelayedMove;
    default: return Deferral::None;
    }
}

Result copy(const Setup &setup, const std::string &source, const std::string &destination, int force, int backup,
            const SubstituteClass *expand) {
    return run(setup, [&](detail::Operation &op) -> int {
        if (source.size() > text::kPathMax) TVPFILE_RAISE(20, source);
        if (destination.size() > text::kPathMax) TVPFILE_RAISE(21, destination);
        const text::PathParts from = text::splitPath(source);
        const text::PathParts to = text::splitPath(destination);
        const std::string sourceDir = text::mergePath(from.drive.c_str(), from.directory.c_str(), nullptr, nullptr);
        const std::string destDir = text::mergePath(to.drive.c_str(), to.directory.c_str(), nullptr, nullptr);
        const std::string sourceName = text::mergePath(nullptr, nullptr, from.name.c_str(), from.extension.c_str());
        const std::string destName = text::mergePath(nullptr, nullptr, to.name.c_str(), to.extension.c_str());
        const std::string *temp = setup.tempDirectory.empty() ? nullptr : &setup.tempDirectory;
        return op.copy(sourceDir, destDir, temp, sourceName, destName, force, backup, expand);
    });
}

Result rename(const Setup &setup, const std::string &source, const std::string &destination, int force, int backup) {
    return run(setup, [&](detail::Operation &op) {
        op.renameWhole(source, destination, force, backup);
        return 0;
    });
}

Result erase(const Setup &setup, const std::string &path, int backup) {
    return run(setup, [&](detail::Operation &op) {
        op.erase(path, backup);
        return 0;
    });
}

Result deferMove(const Setup &setup, const std::string &source, const std::optional<std::string> &target) {
    return run(setup, [&](detail::Operation &op) {
        op.deferMove(source, target);
        op.pending = true;
        return 0;
    });
}

} // namespace files
