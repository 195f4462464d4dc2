// The installation-profile engine: the DataFile object and its patch loop
// (work directories, installed-patch record).
#include "tvpdf.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "nls.h"
#include "sys.h"
#include "tavupd.h"
#include "tavupd_error.h"
#include "tvpprof.h"

namespace {

constexpr size_t kTextMax = 259; // characters of a path or name held by the engine
constexpr size_t kRecordLineMax = 254; // longest record line "key=name" kept

// The part of a patch name that its record under `key` keeps. The record
// must read back whole from the file and from the registry mirror (whose
// reads hold 255 characters), or it would never match again and the patch
// would be applied a second time.
std::string recordedPart(const std::string &name, const char *key) {
    const size_t room = kRecordLineMax - std::strlen(key) - 1;
    return name.size() > room ? name.substr(0, room) : name;
}
constexpr char kBell = 7;

std::string withBackslash(const std::string &dir) {
    if (dir.empty() || dir.back() != '\\') return dir + "\\";
    return dir;
}

std::string cut(const std::string &text, size_t max) { return text.size() > max ? text.substr(0, max) : text; }

// The first `prefix.size()` characters of `text` equal `prefix`, ignoring
// case. A text shorter than the prefix never matches.
bool startsWithNoCase(const std::string &text, const std::string &prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != std::toupper(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

bool isDirectory(const std::string &path) {
    const DWORD attributes = sys::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace

DataFile::DataFile(const std::string &profilePath, ConfigData *config, NLSClass *messages)
    : config_(config), messages_(messages), profilePath_(cut(profilePath, kTextMax)) {
    if (config_->isDebug()) messages_->print("Opening installation profile\n");
    try {
        // The profile is opened on the path as given: a shortened copy would
        // name a different file.
        profile_ = std::make_unique<Profile>(profilePath, Profile::FileMode);
    } catch (const std::bad_alloc &) {
        throw Error(1, static_cast<int>(sizeof(Profile)), "tvpdf", __LINE__);
    }
    if (config_->isDebug()) messages_->print("Installation profile open\n");

    // Kept whole; createWorkDirectories refuses a directory past the limit.
    archiveDirectory_ = withBackslash(config_->productDirectory()) + "ARCHIVE";
    tempDirectory_ = archiveDirectory_ + "\\TEMP";
}

DataFile::~DataFile() = default;

void DataFile::createWorkDirectories() {
    for (const std::string *dir : {&archiveDirectory_, &tempDirectory_}) {
        bool ok = false;
        if (dir->size() <= kTextMax) {
            ok = isDirectory(*dir);
            // A plain file of that name is no work directory: creating the
            // directory fails and is reported. A directory that appeared
            // meanwhile is as good as one made here.
            if (!ok) ok = sys::CreateDirectoryA(dir->c_str(), nullptr) != FALSE || isDirectory(*dir);
        }
        if (!ok) {
            if (config_->isInteractive())
                messages_->printTo(stderr, "\n%c%s %s\n", kBell, messages_->getMessage(12), dir->c_str());
            endRun(1);
        }
    }
}

int DataFile::isInstalled(const char *patchStr, int *nextPatch) {
    if (patchStr == nullptr || nextPatch == nullptr) {
        // No caller passes null; an unusable call reports "not installed".
        if (nextPatch) *nextPatch = 0;
        return 0;
    }
    const std::string name = patchStr;
    Profile *systemIni = config_->systemIni();
    int index = 0;
    for (;;) {
        std::string recorded;
        char key[32];
        std::snprintf(key, sizeof key, "Patch%d", index);
        if (systemIni) recorded = systemIni->getString("Install", key, "");
        if (recorded.empty()) {
            if (config_->isDebug()) messages_->print("Patch *NOT* already installed\n");
            *nextPatch = index;
            return 0;
        }
        if (startsWithNoCase(recorded, recordedPart(name, key))) {
            if (config_->isDebug()) messages_->print("Patch already installed\n");
            *nextPatch = index;
            return 1;
        }
        if (index == std::numeric_limits<int>::max()) {
            *nextPatch = index;
            return 0;
        }
        ++index;
    }
}

void DataFile::recordInstalled(int index, const char *patchName) {
    Profile *systemIni = config_->systemIni();
    if (!systemIni || !patchName) return;
    char key[32];
    std::snprintf(key, sizeof key, "Patch%d", index);
    systemIni->setValue("Install", key, recordedPart(patchName, key).c_str());
}

void DataFile::run() {
    const bool debug = config_->isDebug();
    if (debug) messages_->print("Processing installation profile\n");

    createWorkDirectories();

    const std::string patchName = cut(profile_->getString("Patch", "Patch", ""), kTextMax);

    if (debug) messages_->print("Checking patch\n");

    int nextPatch = 0;
    if (!patchName.empty()) {
        if (isInstalled(patchName.c_str(), &nextPatch) == 1) {
            if (config_->isInteractive()) {
                // Ends the run when it starts; one that cannot be started
                // leaves the message to be shown as without one.
                startFollowOnProgram(*config_, config_->failedProgram());
                messages_->printTo(stderr, "\n%c%s\n", kBell, messages_->getMessage(11));
            }
            endRun(1);
        }
        if (debug) messages_->print("Next Patch: %d\n", nextPatch);
    }

    if (debug) messages_->print("Checking Conditions\n");
    checkConditions();

    if (!patchName.empty() && (config_->osFamily() == FamilyWin95 || config_->osFamily() == FamilyNT))
        recordInstalled(nextPatch, patchName.c_str());
}
