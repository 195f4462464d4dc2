// Where a machine stands (-s), read without changing anything: the product
// directory, the installed patches in order and whether each has its
// journal, and the replacements still waiting for the next start of Windows
// (the WININIT.INI [rename] lines and the PendingFileRenameOperations
// pairs), those a journal knows marked with its patch.
#pragma once

#include "journal/machine_ops.h"
#include "platform/platform.h"

#include <string>
#include <vector>

namespace journal {

struct StatusSetup {
    std::string productDirectory;
    std::string archive;
    std::string systemIni; // [Install]'s place: the file, or its registry form
    std::string windowsDirectory;
    Family family = Family::None; // which list the next start of Windows carries out
};

struct InstalledPatch {
    std::string name;
    bool journal = false;
};

struct WaitingReplacement {
    Waiting waiting;
    std::string patch; // the patch whose journal registered it; empty: not known
};

struct StatusReport {
    std::string productDirectory;
    std::vector<InstalledPatch> installed;
    // Patches with a journal that are not recorded as installed: a run that
    // was cut or failed, or an undo that waits for the restart.
    std::vector<std::string> unrecorded;
    std::vector<WaitingReplacement> waiting;
    bool restartNeeded() const { return !waiting.empty(); }
};

StatusReport gatherStatus(platform::Platform &machine, const StatusSetup &setup);

} // namespace journal
