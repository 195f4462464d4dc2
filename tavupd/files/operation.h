// One operation of the file primitives: its steps, the state they share
// (whether a step already waits for the restart) and its trace. Internal to
// files/.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "files/files.h"
#include "platform/platform.h"
#include "text/error.h"

// Raises the module's Error for a path; __LINE__ names the raise site.
#define TVPFILE_RAISE(number, path) throw Error((number), (path).c_str(), "tvpfile", __LINE__)

namespace files::detail {

// Whether a path is known not to exist. Only "not found" counts: when the
// test fails for another reason the file may well be there, and the caller
// goes on so that its own operation succeeds, is deferred or is reported.
bool knownAbsent(const std::string &path);
bool exists(const std::string &path);
// A failure that says the name is wrong or names nothing, as opposed to a
// file that is there but cannot be changed now (in use, protected). Only
// the latter waits for the restart; the former is reported.
bool isNameError(platform::Code code);
// Two formed paths name the same file: equal but for the letter case.
bool samePath(const std::string &a, const std::string &b);

class Operation {
  public:
    explicit Operation(const Setup &setup);

    // A copy from one directory to another; `tempDirectory` is where a copy
    // that must wait is staged (null: it fails).
    CopyResult copy(const std::string &sourceDir, const std::string &destDir, const std::string *tempDirectory,
                    const std::string &sourceName, const std::string &destName, int force, int backup,
                    const SubstituteClass *expand);
    // Renames formed paths; true when it was done at once (not deferred).
    bool rename(const std::string &source, const std::string &destination, int force, int backup);
    // rename on whole paths, split and joined again.
    bool renameWhole(const std::string &source, const std::string &destination, int force, int backup);
    void erase(const std::string &path, int backup);
    void deferMove(const std::string &source, const std::optional<std::string> &target);

    // The changes of single steps, described to the sink.
    platform::Code move(const std::string &from, const std::string &to);
    platform::Code remove(const std::string &path);

    void trace(const char *label, const std::string &value);
    bool debug() const { return setup_.debug; }
    const Setup &setup() const { return setup_; }
    platform::Platform &os() { return os_; }
    change::ChangeSink &sink() { return sink_; }

    // A step of this operation waits for the restart: every later one does.
    bool pending = false;
    std::vector<std::string> lines;

  private:
    void backupForRename(const std::string &source, const std::string &destination);
    void deferWininit(const std::string &source, const std::string &target);
    void deferDelayed(const std::string &source, const std::optional<std::string> &target);

    const Setup &setup_;
    platform::Platform &os_;
    change::ChangeSink &sink_;
};

} // namespace files::detail
