// What the actions of a run work with: the machine's directories and
// version, the run's options, the INI profiles the driver opened, the
// substitution variables, the file primitives' setup, the change sink and
// the reporter.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "engine/change.h"
#include "engine/observer.h"
#include "engine/reporter.h"
#include "files/files.h"
#include "text/patchmodel.h"
#include "text/subst.h"

class Profile;

namespace engine {

// Operating-system version codes and family codes.
enum OsVersion { OsOther = 0, OsWin95 = 1, OsNT351 = 2, OsWin32s = 4, OsWin98 = 7, OsNT4 = 8, OsNT5 = 9 };
enum OsFamily { FamilyWin95 = 1, FamilyNT = 2 };

// Registry key of the system TAVRO.INI's registry form under
// HKEY_LOCAL_MACHINE, and of the registry form of every INI file of the
// Windows directory.
constexpr const char *kProductRegistryPrefix = "SOFTWARE\\Korvek\\KorvekDSP\\";

struct Machine {
    // Each at most text::kPathMax characters.
    std::string programDirectory, productDirectory, windowsDirectory;
    int osVersion = OsOther; // OsVersion: 0 for a version outside the table
    int osFamily = 0;        // OsFamily, or 4 (Win32s), or 0 when nothing is known
};

// Flags as given (command line, profile, system TAVRO.INI): each counts
// only when it is exactly 1.
struct Options {
    int interactive = 0;
    int debug = 0;
    int force = 0;
    int backup = 1;
    bool isInteractive() const { return interactive == 1; }
    bool isDebug() const { return debug == 1; }
};

struct Context {
    Context(const Machine &machine, const Options &options, Reporter &report, change::ChangeSink &changes);
    ~Context();
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;

    const Machine &machine;
    const Options &options;
    Reporter &report;
    change::ChangeSink &changes;
    // Told about conditions, actions and copies when set (the preview).
    RunObserver *observer = nullptr;
    // The system TAVRO.INI (file or registry form) and the product's; owned
    // by the driver, either may be null.
    Profile *systemIni = nullptr;
    Profile *productIni = nullptr;

    // "\TAVRO" and "\WINDOWS" in values and lines.
    SubstituteClass variables;
    // Work directories below the product directory (kept whole: one past
    // the path limit is refused when they are made).
    std::string archiveDirectory, tempDirectory;
    files::Setup files;
    // The directories the run's copies swept of stray work files.
    std::set<std::string> sweptDirectories;
    // The INI files INI actions changed, by upper-cased path, kept open for
    // the run: a file that still holds what this run saved last is not read
    // again for the next change.
    std::map<std::string, std::unique_ptr<Profile>> iniFiles;

    bool debug() const { return report.debug(); }
    // The force and backup fields' defaults: 1 when the setting is exactly 1.
    int defaultForce() const { return options.force == 1 ? 1 : 0; }
    int defaultBackup() const { return options.backup == 1 ? 1 : 0; }
    // The base directory of a location, nothing for an unknown one.
    std::optional<std::string> directoryOf(patch::Location location) const;
    bool iniInRegistry() const;
};

} // namespace engine
