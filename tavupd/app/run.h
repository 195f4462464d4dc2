// The run driver's pieces: the machine and the settings files a run
// starts from, follow-on programs, the names a log may not have, and the
// driver itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/context.h"
#include "platform/win32.h"
#include "profile/profile.h"

namespace preview {
class Report;
}

namespace app {

// The run as the driver holds it: the machine, the options, and the system
// and product TAVRO.INI, open for the whole run.
struct RunConfig {
    engine::Machine machine;
    engine::Options options;
    std::unique_ptr<Profile> systemIni; // the registry mirror or the Windows directory's file
    std::unique_ptr<Profile> productIni;
    std::string rebootProgram, failedProgram; // at most text::kPathMax characters
};

// Locates the system TAVRO.INI (its registry form when the key
// SOFTWARE\Korvek\KorvekDSP\TAVRO.INI exists), reads the product directory
// ([Tavro] root) and [Patch] Interactive (default 1) from it, opens the
// product's TAVRO.INI and detects the system version.
std::unique_ptr<RunConfig> loadRunConfig(const std::string &windowsDirectory, change::ChangeSink &changes);

// Version and family codes of a system.
struct OsCodes {
    int version; // engine::OsVersion: 0 for a version outside the table
    int family;  // engine::OsFamily, or 4 (Win32s), or 0 when nothing is known
};
// Codes of the running system; both 0 when it does not say what it is.
OsCodes detectOs();
// Version code for a platform identifier and version as GetVersionExA
// reports them (VER_PLATFORM_WIN32s, _WINDOWS, _NT).
int osVersionFor(unsigned long platform, unsigned long major, unsigned long minor);
// Family code of a platform identifier, whatever the version: NT platform
// 2, Windows 95 platform 1, Win32s 4, anything else 0. It decides how work
// waits for the restart and whether the patch is recorded, so a system
// newer than the version table still gets both.
int osFamilyFor(unsigned long platform);

// Starts the program `name` from `directory` as a follow-on program
// (".EXE", ".BAT", ".CMD" tried when it has no extension; batch files
// through COMSPEC /c), not waited for. True when it started.
bool startFollowOnProgram(const std::string &directory, const std::string &name);
// The paths the follow-on program `name` may have in `directory`: the name
// itself, or with ".EXE", ".BAT" and ".CMD" when it has no extension.
std::vector<std::string> followOnCandidates(const std::string &directory, const std::string &name);

// True for a log path the run must not open: longer than 259 characters, a
// directory, one of `kitFiles`, or a program (.EXE, .COM, .BAT, .CMD) in the
// program directory; and for a path that cannot be resolved. Paths are
// compared as full paths ignoring case, and by their short forms when they
// exist.
bool isRefusedLogPath(const std::string &logPath, const std::string &programDirectory,
                      const std::vector<std::string> &kitFiles);

// The whole program TAVUPD.EXE on the Win32 platform made of `calls`; the
// process's exit status. The one place that decides how the process ends.
// `record`, when given, is told what the run does as the preview report is
// (the test build writes it out to compare a preview with the real run).
int run(int argc, char **argv, const platform::Win32Calls &calls, preview::Report *record = nullptr);

} // namespace app
