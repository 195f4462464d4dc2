// The installation-profile engine: patch loop, conditions, section
// processing and the actions.
#pragma once

#include <memory>
#include <string>

#include <windows.h>

class ConfigData;
class NLSClass;
class Profile;
class SubstituteClass;

class DataFile {
  public:
    // Opens the installation profile (file mode).
    DataFile(const std::string &profilePath, ConfigData *config, NLSClass *messages);
    ~DataFile();
    DataFile(const DataFile &) = delete;
    DataFile &operator=(const DataFile &) = delete;

    // The patch loop. Returns when the patch was processed; ends the program
    // itself when it is already installed, no condition set holds or a work
    // directory cannot be created.
    void run();

    void createWorkDirectories();
    int isInstalled(const char *patchStr, int *nextPatch);
    void recordInstalled(int index, const char *patchName);

    void checkConditions();
    // Tests one condition line; `branch` receives the line's branch once
    // the required fields are present. 1 when the test holds.
    int testCondition(const std::string &line, std::string &branch);

    void processSection(const char *name);

    // Actions, each given the trimmed action line.
    void actionIni(const std::string &line);
    int processRegistry(const std::string &line);
    int deleteRegistrySubtree(HKEY key, const std::string &path);
    void actionSubst(const std::string &line);
    void actionFile(const std::string &line);
    void actionFindFile(const std::string &line);
    void actionRename(const std::string &line);
    void actionCopy(const std::string &line);
    void actionErase(const std::string &line);
    void actionReboot(const std::string &line);

    // With `expand`, the file is installed with its references expanded
    // (SUBST): only a copy made by this call is expanded.
    void installFile(const std::string &sourceDir, const std::string &destDir, const std::string &sourceName,
                     const std::string &destName, int force, int backup, int compress,
                     const SubstituteClass *expand = nullptr);
    void findFile(const std::string &directory, const std::string &name, int force, int backup, int compress);

    static void trimLine(std::string &line);
    // The key of a profile line: its text up to the first "=" (all of it
    // when it has none).
    static std::string lineKey(const std::string &line);

    const std::string &archiveDirectory() const { return archiveDirectory_; }
    const std::string &tempDirectory() const { return tempDirectory_; }
    const std::string &profilePath() const { return profilePath_; }
    Profile *profile() const { return profile_.get(); }
    ConfigData *config() const { return config_; }
    NLSClass *messages() const { return messages_; }

    // ---- shared by the actions (tvpdf_section.cpp) --------------------------
    // Base directory of a location ("WINDOWS" or "TAVRO", any case) into
    // `path`; false (path emptied) for any other location.
    bool resolveLocation(const char *location, std::string &path) const;
    // A numeric field read as "%d" reads it; `def` when absent, empty or not
    // beginning with a number.
    static int numericField(const char *field, int def);
    // Defaults of the force and backup fields: 1 when the setting is exactly 1.
    int defaultForce() const;
    int defaultBackup() const;
    // Error forms on the standard error stream (and the log):
    // "\n%c%s\n" and "\n%c%s: %s\n".
    void reportMessage(int number);
    void reportMessage(int number, const std::string &detail);
    // replacementPending exactly 1: rebootNeeded = 1, replacementPending = 0.
    void applyRestartRule();
    // The section substitution list of the processSection call in progress.
    SubstituteClass *sectionList() const { return sectionList_; }

  private:
    // The section substitution list of the processSection call in progress.
    SubstituteClass *sectionList_ = nullptr;

    ConfigData *config_;
    std::unique_ptr<Profile> profile_;
    NLSClass *messages_;
    std::string archiveDirectory_;
    std::string tempDirectory_;
    std::string profilePath_;
};
