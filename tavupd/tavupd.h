// The run context of tavupd and what the run driver offers the other modules.
#pragma once

#include <memory>
#include <string>
#include <vector>

class Profile;
class NLSClass;

// Operating-system version codes and family codes.
enum OsVersion { OsOther = 0, OsWin95 = 1, OsNT351 = 2, OsWin32s = 4, OsWin98 = 7, OsNT4 = 8, OsNT5 = 9 };
enum OsFamily { FamilyWin95 = 1, FamilyNT = 2 };

class ConfigData {
  public:
    static constexpr size_t kTextMax = 259; // characters of every text field

    ConfigData();
    ~ConfigData();
    ConfigData(const ConfigData &) = delete;
    ConfigData &operator=(const ConfigData &) = delete;

    // The system TAVRO.INI (registry key or Windows-directory file) and the
    // product's TAVRO.INI. Owned here; released by releaseSystemIni() and
    // releaseProductIni() in the run's release order, or with this object.
    Profile *systemIni() const { return systemIni_.get(); }
    Profile *productIni() const { return productIni_.get(); }
    void setSystemIni(std::unique_ptr<Profile> p);
    void setProductIni(std::unique_ptr<Profile> p);
    void releaseSystemIni();
    void releaseProductIni();

    // Text fields; setters keep at most 259 characters.
    const std::string &programDirectory() const { return programDirectory_; }
    const std::string &productDirectory() const { return productDirectory_; }
    const std::string &windowsDirectory() const { return windowsDirectory_; }
    const std::string &rebootProgram() const { return rebootProgram_; }
    const std::string &failedProgram() const { return failedProgram_; }
    void setProgramDirectory(const std::string &s);
    void setProductDirectory(const std::string &s);
    void setWindowsDirectory(const std::string &s);
    void setRebootProgram(const std::string &s);
    void setFailedProgram(const std::string &s);

    // Flags: any integer may be stored; the "is" tests hold only for exactly 1.
    int interactive() const { return interactive_; }
    int debug() const { return debug_; }
    int force() const { return force_; }
    int backup() const { return backup_; }
    int rebootNeeded() const { return rebootNeeded_; }
    int replacementPending() const { return replacementPending_; }
    int iniInRegistry() const { return iniInRegistry_; }
    void setInteractive(int v) { interactive_ = v; }
    void setDebug(int v) { debug_ = v; }
    void setForce(int v) { force_ = v; }
    void setBackup(int v) { backup_ = v; }
    void setRebootNeeded(int v) { rebootNeeded_ = v; }
    void setReplacementPending(int v) { replacementPending_ = v; }
    void setIniInRegistry(int v) { iniInRegistry_ = v; }
    bool isInteractive() const { return interactive_ == 1; }
    bool isDebug() const { return debug_ == 1; }
    bool isForce() const { return force_ == 1; }
    bool isBackup() const { return backup_ == 1; }
    bool isRebootNeeded() const { return rebootNeeded_ == 1; }
    bool isReplacementPending() const { return replacementPending_ == 1; }
    bool isIniInRegistry() const { return iniInRegistry_ == 1; }

    int osVersion() const { return osVersion_; }
    int osFamily() const { return osFamily_; }
    void setOsVersion(int v) { osVersion_ = v; }
    void setOsFamily(int v) { osFamily_ = v; }

  private:
    std::unique_ptr<Profile> productIni_;
    std::unique_ptr<Profile> systemIni_;
    std::string programDirectory_, productDirectory_, windowsDirectory_, rebootProgram_, failedProgram_;
    int interactive_ = 0;
    int osFamily_ = 0;
    int osVersion_ = 0;
    int rebootNeeded_ = 0;
    int debug_ = 0;
    int replacementPending_ = 0;
    int force_ = 0;
    int backup_ = 1;
    int iniInRegistry_ = 0;
};

// Registry key of the system TAVRO.INI under HKEY_LOCAL_MACHINE.
constexpr const char *kProductRegistryPrefix = "SOFTWARE\\Korvek\\KorvekDSP\\";

// Locates the system TAVRO.INI, reads the product directory, opens the
// product's TAVRO.INI and detects the system version.
std::unique_ptr<ConfigData> createConfigData(const std::string &windowsDirectory);
// Version and family codes of a system.
struct OsCodes {
    int version; // OsVersion: 0 for a version outside the table
    int family;  // OsFamily, or 4 (Win32s), or 0 when nothing is known
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

// Starts the program `name` from the program directory as a follow-on
// program (".EXE", ".BAT", ".CMD" tried when it has no extension; batch
// files through COMSPEC /c). On success the process ends with status 0 and
// this does not return; on failure it returns.
void startFollowOnProgram(const ConfigData &config, const std::string &name);
// The same, from an explicit directory (used once the ConfigData is gone).
void startFollowOnProgramIn(const std::string &directory, const std::string &name);

// True for a log path the run must not open: longer than 259 characters, a
// directory, one of `kitFiles`, or a program (.EXE, .COM, .BAT, .CMD) in the
// program directory; and for a path that cannot be resolved. Paths are
// compared as full paths ignoring case, and by their short forms when they
// exist.
bool isRefusedLogPath(const std::string &logPath, const std::string &programDirectory,
                      const std::vector<std::string> &kitFiles);
// The paths the follow-on program `name` may have in `directory`: the name
// itself, or with ".EXE", ".BAT" and ".CMD" when it has no extension.
std::vector<std::string> followOnCandidates(const std::string &directory, const std::string &name);

// Ends the process with the given status (streams flushed and closed by the
// normal process exit).
[[noreturn]] void endRun(int status);
