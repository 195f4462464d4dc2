// The workloads of the end-to-end benchmark: what the machine holds before a
// run and which changes a run makes. The driver builds the installation
// profile and the machine from these definitions; the bare program makes the
// same changes with plain Win32 calls, computing the same names.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tvbench {

enum class Kind { Files, Ini, Empty, BigFiles, FindFile, Registry };

// Every kind, in the order the benchmark runs them.
const std::vector<Kind> &allKinds();

// Short name used on command lines ("files", "ini", "empty", "big", "find",
// "reg"), and the reverse; false for an unknown name.
const char *kindName(Kind kind);
bool kindFromName(const std::string &name, Kind &kind);

// Sizes of the workloads, adjustable from the driver's command line.
struct Sizes {
    int files = 300;      // FILE installs over older files
    int fileKiB = 256;    // size of each of those files
    int iniSets = 1000;   // INI sets
    int iniSections = 20; // sections of the INI file
    int bigFiles = 16;    // FILE installs into empty directories
    int bigMiB = 64;      // size of each of those files
    int findDirs = 5000;  // directories of the FINDFILE tree (about)
    int regSets = 4000;   // REG sets
};

// One workload: its kind and size.
struct Workload {
    Kind kind = Kind::Empty;
    int count = 0;        // installs, sets, or directories of the tree
    int sections = 0;     // sections of the INI file (Ini)
    size_t fileBytes = 0; // size of each installed file (Files, BigFiles, FindFile)
};

Workload workloadFor(Kind kind, const Sizes &sizes);

// A line that says what the workload does, e.g.
// "300 FILE installs over older 256 KiB files, .OLD backups".
std::string describe(const Workload &w);
// What one unit of `count` is: "FILE install", "INI set", "directory walked", ...
std::string unitName(Kind kind);

// ---- names shared by the installation profile and the bare program --------

// The product's subdirectory that holds the Files workload's files, and the
// name of the i-th file there (also its name in the patch kit).
extern const char *const kFilesDir;
std::string fileName(int i);

// Name of the INI file (in the product directory) of the Ini workload.
extern const char *const kIniFile;
struct IniSet {
    std::string section, key, value;
};
IniSet iniSet(int i, int sections);
// Keys per section in the file before the run; the sets also add the next
// two keys to every section (once there are 12 sets per section).
constexpr int kIniKeysBefore = 10;

// Directory (below the product directory) and name of the i-th big file.
std::string bigDir(int i);
std::string bigFileName(int i);

// The FINDFILE tree below the product directory: TREE\Tt\Mm\Ll. A copy of
// the file lies in every hundredth leaf directory (the first included).
extern const char *const kFindRoot;
extern const char *const kFindName;
extern const char *const kFindBackupName;
// The smallest tree has 211 directories (one leaf below each middle one).
struct FindTree {
    int top = 10, mid = 10, leaf = 1;
    int directories() const { return 1 + top + top * mid + top * mid * leaf; }
};
FindTree findTree(int directories);
// Leaf directories (relative to the product directory) that hold a copy.
std::vector<std::string> findCopyDirs(const FindTree &tree);
constexpr size_t kFindFileBytes = 20 * 1024;

// The registry key of the Registry workload (below HKEY_LOCAL_MACHINE), and
// the i-th set: subkey of it, value name, data.
extern const char *const kRegRoot;
constexpr int kRegKeys = 40;
constexpr int kRegValuesBefore = 50; // values per key before the run
struct RegSet {
    std::string subkey, name, data;
};
RegSet regSet(int i);
std::string regValueName(int n);

// The empty run's condition: [Tavro] Version of the system TAVRO.INI must
// equal this, and it does not (the product has 2.0).
extern const char *const kEmptyConditionValue;
extern const char *const kProductVersion;

// Dates of the files: the installed ones before the run, and the patch's.
struct DosStamp {
    unsigned short date, time;
};
DosStamp oldStamp();
DosStamp newStamp();

} // namespace tvbench
