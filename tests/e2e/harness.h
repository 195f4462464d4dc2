// End-to-end harness: runs the real TAVUPD.EXE in the test Wine prefix and
// looks at what it did to files, INI files and the registry.
//
// The harness is itself a Win32 program, so it reads the registry, exit
// codes (all 32 bits) and files exactly as the programs under test see them.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

// The first line of every run with the shipped language file.
inline const std::string kBanner = "Tavro Patch Update Installer v2.00 Beta 6N\r\n";

// Paths of the build's products (Windows paths).
std::string tavupdExe();     // TAVUPD.EXE
std::string tavupdFaultExe(); // the build with the fault-injection hook
std::string tavupdWide95Exe(); // TAVUPD.EXE meeting Windows 95's wide-character stubs
std::string restarterExe();  // RESTARTER.EXE
std::string languageFile();  // the shipped TAVUPD.MSG

// The Windows directory of the prefix, without a trailing backslash.
std::string windowsDir();

// Makes the prefix a clean machine for one test: removes C:\TAVRO, the test
// work area C:\E2E, the Windows directory's TAVRO.INI, WININIT.INI and any
// files the tests put there, HKLM\SOFTWARE\Korvek, the test keys
// (HKLM\SOFTWARE\E2ETest, HKCU\Software\E2ETest, HKCR\E2ETest,
// HKU\.DEFAULT\Software\E2ETest) and the pending delayed moves.
void resetMachine();

// Installs a product: C:\TAVRO (or `root`) with the system TAVRO.INI in the
// Windows directory pointing at it ([Tavro] root=...), plus `extra` lines
// appended to that file. `interactive` -1 leaves the key out.
void installProduct(const std::string &root = "C:\\TAVRO", int interactive = -1,
                    const std::string &extraSystemIni = "");

// Sets the Windows version Wine reports to the named program:
// "win95", "win98", "nt351", "nt40", "win2k", "win31", and versions the
// program's table does not know: "winme", "win7", "win10".
void setWindowsVersion(const std::string &exeName, const std::string &version);

// A patch directory: the program copied in as TAVUPD.EXE beside TAVUPD.MSG
// (the shipped one unless replaced) and a TAVUPD.DAT written by the test.
class PatchDir {
  public:
    // Creates C:\E2E\<name> (emptied first) with TAVUPD.EXE and TAVUPD.MSG.
    explicit PatchDir(const std::string &name = "PATCH", bool useFaultBuild = false);
    const std::string &dir() const { return dir_; } // without trailing backslash
    std::string path(const std::string &file) const { return dir_ + "\\" + file; }
    // Writes TAVUPD.DAT (text given with "\n"; written with "\r\n").
    void writeProfile(const std::string &text) const;
    // Writes a file of the patch (bytes as given).
    void writeFile(const std::string &name, const std::string &bytes) const;

  private:
    std::string dir_;
};

struct RunResult {
    DWORD exitCode = 0;
    std::string out; // standard output, bytes as written
    std::string err; // standard error, bytes as written
    bool timedOut = false;
    DWORD processId = 0; // of the run, to find the programs it started
};

// Whether a program that the run with this process id started (its child
// process) is still running. A run that started none, and whose started
// programs have all ended, answers false.
bool startedProgramRunning(DWORD processId);

// Waits (at most ms) until the programs the run started have ended; false
// when one still runs.
bool waitForStartedPrograms(DWORD processId, DWORD ms = 30000);

// Waits (at most ms) until no program has `path` open for writing any more;
// false when one still does.
bool waitUntilClosed(const std::string &path, DWORD ms = 10000);

// Runs a program with the given arguments (quoted as needed), standard
// output and error captured through files, in `cwd` (empty: the program's
// directory). Waits for it (at most timeoutMs).
RunResult runProgram(const std::string &exe, const std::vector<std::string> &args, const std::string &cwd = "",
                     DWORD timeoutMs = 60000, const std::vector<std::string> &extraEnv = {});

// Runs TAVUPD.EXE of the patch directory under the given Windows version.
RunResult runTavupd(const PatchDir &patch, const std::vector<std::string> &args = {},
                    const std::string &version = "win98", DWORD timeoutMs = 60000,
                    const std::vector<std::string> &extraEnv = {});

// ---- files -----------------------------------------------------------------
bool exists(const std::string &path);
bool isDirectory(const std::string &path);
std::optional<std::string> readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &bytes);
void makeDirs(const std::string &path);
void removeTree(const std::string &path);
// Deletes a registry key with everything below it; a missing key is fine.
void deleteKeyTree(HKEY root, const std::string &path);
// Last-write time as packed DOS date/time, and setting it.
bool getDosTime(const std::string &path, WORD &date, WORD &time);
void setDosTime(const std::string &path, WORD date, WORD time);
// DOS date/time from calendar parts.
WORD dosDate(int year, int month, int day);
WORD dosTime(int hour, int minute, int second);
// Names in a directory (files and directories, without "." and "..").
std::vector<std::string> listDir(const std::string &dir);

// Holds a file open with no sharing so that other processes can neither
// open, rename nor delete it; with `shareRead`, others may read it but
// neither write, rename nor delete it (as Windows holds a running program).
class FileLock {
  public:
    explicit FileLock(const std::string &path, bool shareRead = false);
    ~FileLock();
    bool locked() const { return h_ != INVALID_HANDLE_VALUE; }
    void release();

  private:
    HANDLE h_;
};

// ---- registry --------------------------------------------------------------
// Roots named "HKLM", "HKCU", "HKCR", "HKU".
HKEY rootKey(const std::string &root);
bool regKeyExists(const std::string &root, const std::string &path);
std::optional<std::string> regGetString(const std::string &root, const std::string &path, const std::string &name);
// Type of a value, or nullopt when missing.
std::optional<DWORD> regGetType(const std::string &root, const std::string &path, const std::string &name);
void regSetString(const std::string &root, const std::string &path, const std::string &name,
                  const std::string &value);
void regSetDword(const std::string &root, const std::string &path, const std::string &name, DWORD value);
void regDeleteTree(const std::string &root, const std::string &path);
std::vector<std::string> regSubKeys(const std::string &root, const std::string &path);
std::vector<std::string> regValueNames(const std::string &root, const std::string &path);

// The delayed moves registered so far (PendingFileRenameOperations), as
// (source, target) pairs; target empty for a deletion. Paths as Windows
// stores them ("\??\" prefix removed).
std::vector<std::pair<std::string, std::string>> pendingMoves();

// Restarts Wine the way a restart of Windows would (wineboot -r), which
// carries out the delayed moves and WININIT.INI.
void restartWindows();

// Message n of the shipped language file (its line n), "" when there is none.
std::string message(int n);
// How often `part` occurs in `text` (overlapping occurrences counted).
size_t countOf(const std::string &text, const std::string &part);
// Names of the sections a debug run processed, in order, from its trace
// lines "Processing section: <name>".
std::vector<std::string> processedSections(const std::string &out);

// Binary content of a given size, distinct per tag, so that a file cut
// short or mixed from two versions never equals a whole one.
std::string blob(const std::string &tag, size_t size);

// An installation profile with one condition set - Windows version code
// `os`, the product's root set - that runs section Main holding `body`;
// `patchLines` go into [Patch] before the condition.
std::string profileWith(const std::string &body, int os = 7, const std::string &patchLines = "");

// Converts "\n" to "\r\n" (what a text-mode write produces).
std::string crlf(const std::string &text);

// ---- robustness helpers ----------------------------------------------------

// The lines of section [rename] of the Windows directory's WININIT.INI as
// (target, source) pairs, in file order; empty when there is no such file.
std::vector<std::pair<std::string, std::string>> wininitRenames();

// Carries out, in the test process, what the next start of Windows would do
// with the registrations: the [rename] lines of WININIT.INI (target "NUL"
// deletes the source; otherwise the source replaces the target) and then the
// pending delayed moves, each in order. Both registrations are removed
// afterwards. Much faster than restartWindows(), for tests that do it often.
void carryOutPendingOperations();

// Removes the pending delayed moves (PendingFileRenameOperations).
void clearPendingMoves();

// Every file below a directory (recursively), as full paths.
std::vector<std::string> listFilesBelow(const std::string &dir);

// A patch's journal (ARCHIVE\<patch>.JNL) or one of its copies
// (ARCHIVE\UNDO\...): files of the journal, not of the product.
bool isJournalFile(const std::string &path);


// The machine: every file and directory of drive C: (attributes, size,
// last-write time, a hash of the bytes) and every key and value of
// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, by name. Left out: the files and
// keys named in `leaveOut` ("C:\X\LOG.TXT", "HKCU\Software\X"), the
// temporary directory (the harness captures program output there), the
// user's shell folders (Wine links them out of the prefix) and HKLM\HARDWARE
// (Wine makes it anew at every start). Without `exactTimes` a file's time is
// its packed DOS date and time (what the date rule reads, and what copies
// keep) and a directory has none (creating and removing a file in it
// changes its time).
std::map<std::string, std::string> snapshotMachine(const std::vector<std::string> &leaveOut = {},
                                                   bool exactTimes = true);
// What differs between two machine snapshots, one line per entry ("" when
// nothing does).
std::string differences(const std::map<std::string, std::string> &before,
                        const std::map<std::string, std::string> &after);

// Every file of the kit directory `from` copied into `kit`, each dated
// 15 June 1999 12:00 (older than the product's files the kit replaces, as in
// the manual); false when one could not be copied.
bool copyKit(const std::string &from, const PatchDir &kit);

} // namespace e2e
