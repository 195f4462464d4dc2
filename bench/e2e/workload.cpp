#include "workload.h"

#include <cstdio>

namespace tvbench {

namespace {

std::string numbered(const char *format, int n) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, n);
    return buffer;
}

unsigned short dosDate(int year, int month, int day) {
    return static_cast<unsigned short>(((year - 1980) << 9) | (month << 5) | day);
}
unsigned short dosTime(int hour, int minute, int second) {
    return static_cast<unsigned short>((hour << 11) | (minute << 5) | (second / 2));
}

} // namespace

const char *const kFilesDir = "FILES";
const char *const kIniFile = "BENCH.INI";
const char *const kFindRoot = "TREE";
const char *const kFindName = "TVFIND.DLL";
const char *const kFindBackupName = "TVFIND.OLD";
const char *const kRegRoot = "SOFTWARE\\TavroBench";
const char *const kEmptyConditionValue = "9.9";
const char *const kProductVersion = "2.0";

const std::vector<Kind> &allKinds() {
    static const std::vector<Kind> kinds = {Kind::Files,    Kind::Ini,      Kind::Empty,
                                            Kind::BigFiles, Kind::FindFile, Kind::Registry};
    return kinds;
}

const char *kindName(Kind kind) {
    switch (kind) {
    case Kind::Files: return "files";
    case Kind::Ini: return "ini";
    case Kind::Empty: return "empty";
    case Kind::BigFiles: return "big";
    case Kind::FindFile: return "find";
    case Kind::Registry: return "reg";
    }
    return "?";
}

bool kindFromName(const std::string &name, Kind &kind) {
    for (Kind k : allKinds()) {
        if (name == kindName(k)) {
            kind = k;
            return true;
        }
    }
    return false;
}

Workload workloadFor(Kind kind, const Sizes &sizes) {
    Workload w;
    w.kind = kind;
    switch (kind) {
    case Kind::Files:
        w.count = sizes.files;
        w.fileBytes = static_cast<size_t>(sizes.fileKiB) * 1024;
        break;
    case Kind::Ini:
        w.count = sizes.iniSets;
        w.sections = sizes.iniSections;
        break;
    case Kind::Empty:
        break;
    case Kind::BigFiles:
        w.count = sizes.bigFiles;
        w.fileBytes = static_cast<size_t>(sizes.bigMiB) << 20;
        break;
    case Kind::FindFile:
        w.count = findTree(sizes.findDirs).directories();
        w.fileBytes = kFindFileBytes;
        break;
    case Kind::Registry:
        w.count = sizes.regSets;
        break;
    }
    return w;
}

std::string describe(const Workload &w) {
    const std::string n = std::to_string(w.count);
    switch (w.kind) {
    case Kind::Files:
        return n + " FILE installs over older " + std::to_string(w.fileBytes / 1024) + " KiB files, .OLD backups";
    case Kind::Ini:
        return n + " INI sets on a " + std::to_string(w.sections) + "-section file";
    case Kind::Empty:
        return "empty run (one condition that does not hold)";
    case Kind::BigFiles:
        return n + " x " + std::to_string(w.fileBytes >> 20) + " MiB FILE installs into empty directories";
    case Kind::FindFile: {
        const size_t copies = findCopyDirs(findTree(w.count)).size();
        return "FINDFILE over " + n + " directories (" + std::to_string(copies) + (copies == 1 ? " copy)" : " copies)");
    }
    case Kind::Registry:
        return n + " REG sets";
    }
    return "?";
}

std::string unitName(Kind kind) {
    switch (kind) {
    case Kind::Files: return "FILE install over an older file, with backup";
    case Kind::Ini: return "INI set";
    case Kind::Empty: return "empty run";
    case Kind::BigFiles: return "FILE install into an empty directory";
    case Kind::FindFile: return "directory walked by FINDFILE";
    case Kind::Registry: return "REG set";
    }
    return "?";
}

std::string fileName(int i) { return numbered("F%04d.BIN", i + 1); }

IniSet iniSet(int i, int sections) {
    IniSet set;
    // Consecutive sets go to consecutive sections; every section's keys are
    // set in turn, the two keys after the ones in the file included (added
    // by the first set that names them).
    const int n = sections > 0 ? sections : 1;
    set.section = numbered("Section%02d", i % n + 1);
    set.key = numbered("Key%02d", (i / n) % (kIniKeysBefore + 2) + 1);
    set.value = "value of set " + std::to_string(i + 1);
    return set;
}

std::string bigDir(int i) { return numbered("BIG%02d", i + 1); }
std::string bigFileName(int i) { return numbered("BIG%02d.BIN", i + 1); }

FindTree findTree(int directories) {
    FindTree tree;
    const int fixed = 1 + tree.top + tree.top * tree.mid;
    const int perLeafLevel = tree.top * tree.mid;
    tree.leaf = directories > fixed ? (directories - fixed + perLeafLevel / 2) / perLeafLevel : 1;
    if (tree.leaf < 1) tree.leaf = 1;
    return tree;
}

std::vector<std::string> findCopyDirs(const FindTree &tree) {
    std::vector<std::string> dirs;
    int n = 0;
    for (int t = 0; t < tree.top; ++t)
        for (int m = 0; m < tree.mid; ++m)
            for (int l = 0; l < tree.leaf; ++l, ++n)
                if (n % 100 == 0)
                    dirs.push_back(std::string(kFindRoot) + "\\T" + std::to_string(t) + "\\M" + std::to_string(m) +
                                   "\\L" + std::to_string(l));
    return dirs;
}

std::string regValueName(int n) { return numbered("Value%04d", n); }

RegSet regSet(int i) {
    RegSet set;
    set.subkey = std::string(kRegRoot) + numbered("\\K%02d", i % kRegKeys);
    set.name = regValueName(i / kRegKeys);
    set.data = "data of set " + std::to_string(i + 1);
    return set;
}

DosStamp oldStamp() { return {dosDate(1998, 3, 2), dosTime(10, 0, 0)}; }
DosStamp newStamp() { return {dosDate(1999, 6, 15), dosTime(12, 0, 0)}; }

} // namespace tvbench
