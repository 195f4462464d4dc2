// File actions of the engine: SUBST, FILE and FINDFILE install patch files
// from the program directory; COPY, RENAME and ERASE work on files already
// on the machine below one base directory.
#include "tvpdf.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "nls.h"
#include "paths.h"
#include "sys.h"
#include "tavupd.h"
#include "tavupd_error.h"
#include "tvpdf_fields.h"
#include "tvpfile.h"
#include "tvpfile_subst.h"

namespace {

constexpr size_t kPathMax = 259; // characters of a path the engine builds

// Starts splitting the line; the key is dropped.
void startLine(const std::string &line) { nextField(line.c_str(), "=", 1); }


void appendBackslash(std::string &path) {
    if (path.empty() || path.back() != '\\') path += '\\';
}

// Name and extension of a file name field; any drive or directory written
// in it is dropped.
std::string fileNamePart(const std::string &name) {
    std::string copy = name;
    return pathFileName(copy);
}

// The error of a test for a name that does not exist.
bool notFound(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
}

// A name field with a wildcard or a character that no file name holds
// names no single file: the line is refused rather than tried (and maybe
// registered for a restart that could never carry it out).
bool isInvalidName(const std::string &name) {
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 32 || std::strchr("*?<>|\":", c) != nullptr) return true;
    }
    return false;
}

bool pathExists(const std::string &path) { return sys::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Outcome message of a copyFile result; 0 for a result outside the table.
int outcomeMessage(int result) {
    switch (result) {
    case SameDate: return 32;
    case DestinationNewer: return 33;
    case ReplacedOlder: return 34;
    case ReplacedNewer: return 35;
    case Created: return 36;
    default: return 0;
    }
}

// Fields of a SUBST, FILE or FINDFILE line.
struct InstallLine {
    Field location, fileName, subdir, entry, force, backup, compress;
};

} // namespace

// ---- installing patch files -------------------------------------------------

void DataFile::installFile(const std::string &sourceDir, const std::string &destDir, const std::string &sourceName,
                           const std::string &destName, int force, int backup, int compress,
                           const SubstituteClass *expand) {
    std::string source = sourceDir;
    std::string destination = destDir;
    appendBackslash(source);
    appendBackslash(destination);
    const std::string sourceFile = fileNamePart(sourceName);
    const std::string destFile = fileNamePart(destName);

    if (source.size() + sourceFile.size() > kPathMax || destination.size() + destFile.size() > kPathMax) {
        // A path past the limit names no file this installer may touch.
        reportMessage(18);
        applyRestartRule();
        return;
    }
    setFileName(source, sourceFile);
    setFileName(destination, destFile);

    int result = 0;
    if (compress == 0) {
        try {
            result = copyFile(source, destination, tempDirectory().c_str(), config(), force, backup, expand);
        } catch (Error &e) {
            reportMessage(30, e.message);
            result = 0;
        }
    }

    const int message = outcomeMessage(result);
    if (config()->interactive() == 1 && message != 0)
        messages()->print("%s (%s)\n", destination.c_str(), messages()->getMessage(message));

    applyRestartRule();
}

void DataFile::findFile(const std::string &directory, const std::string &name, int force, int backup,
                        int compress) {
    std::string dir = directory;
    appendBackslash(dir);
    const std::string file = fileNamePart(name);

    // The copy of this directory, its listing pattern and every path below
    // must stay within the limit; a deeper tree is left alone.
    if (dir.size() + std::max<size_t>(file.size(), 3) > kPathMax) {
        reportMessage(18);
        return;
    }

    // Present when it exists, and also when the test fails for any reason
    // other than the name not existing (it may exist but not be examinable).
    const std::string candidate = dir + file;
    if (sys::GetFileAttributesA(candidate.c_str()) != INVALID_FILE_ATTRIBUTES || !notFound(::GetLastError()))
        installFile(config()->programDirectory(), dir, name, name, force, backup, compress);

    WIN32_FIND_DATAA data{};
    const std::string pattern = dir + "*.*";
    sys::FindHandle find(sys::FindFirstFileA(pattern.c_str(), &data));
    if (!find.valid()) return;
    do {
        data.cFileName[sizeof(data.cFileName) - 1] = '\0';
        const std::string entry = data.cFileName;
        if (entry.empty() || entry[0] == '.') continue;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        findFile(dir + entry, name, force, backup, compress);
    } while (sys::FindNextFileA(find.get(), &data));
}

namespace {

enum class InstallKind { Subst, File, FindFile };

} // namespace

static void runInstallAction(DataFile &df, const std::string &line, InstallKind kind) {
    ConfigData *config = df.config();
    NLSClass *messages = df.messages();

    startLine(line);
    InstallLine f;
    f.location = takeField();
    f.fileName = takeField();
    f.subdir = takeField();
    if (kind != InstallKind::FindFile) f.entry = takeField();
    f.force = takeField();
    f.backup = takeField();
    f.compress = takeField();

    const int force = DataFile::numericField(fieldText(f.force), df.defaultForce());
    const int backup = DataFile::numericField(fieldText(f.backup), df.defaultBackup());
    const int compress = DataFile::numericField(fieldText(f.compress), 0);

    if (config->isDebug()) {
        messages->print(kind == InstallKind::Subst ? "\tSubst\n" : kind == InstallKind::File ? "\tFile\n" : "\tFindFile\n");
        messages->print("\t\tcomponent   : %s\n", orNull(fieldText(f.location)));
        messages->print("\t\tfilename    : %s\n", orNull(fieldText(f.fileName)));
        messages->print("\t\tsubdir      : %s\n", orNull(fieldText(f.subdir)));
        // FINDFILE has no entry field: its copies keep the file name.
        messages->print("\t\tentry       : %s\n", orNull(fieldText(f.entry)));
        messages->print("\t\tbackup      : %s\n", orNull(fieldText(f.backup)));
        messages->print("\t\tbackup val  : %d\n", backup);
        messages->print("\t\tforce       : %s\n", orNull(fieldText(f.force)));
        messages->print("\t\tforce value : %d\n", force);
        messages->print("\t\tcompress    : %s\n", orNull(fieldText(f.compress)));
        messages->print("\t\tcompress val: %d\n", compress);
    }

    if (!isFilled(f.fileName)) {
        df.reportMessage(18);
        return;
    }
    std::string path;
    if (!f.location || !df.resolveLocation(f.location->c_str(), path)) {
        df.reportMessage(18);
        return;
    }
    const std::string &fileName = *f.fileName;
    const std::string target = isFilled(f.entry) ? *f.entry : fileName;

    if (kind == InstallKind::Subst) {
        appendBackslash(path);
        if (f.subdir) path += *f.subdir;
        if (!path.empty() && path.back() == '\\') path.pop_back();
        if (path.size() > kPathMax) {
            df.reportMessage(18);
            return;
        }
        // The file is installed with its references expanded on the way:
        // the copy in place, or the one staged for the restart. A file that
        // is not replaced (same date, newer, compressed, failed) is left
        // exactly as it is.
        if (!pathExists(path))
            df.reportMessage(17);
        else
            df.installFile(config->programDirectory(), path, fileName, target, force, backup, compress,
                           df.sectionList());
        return;
    }

    if (isFilled(f.subdir)) {
        appendBackslash(path);
        path += *f.subdir;
    }
    if (path.size() > kPathMax) {
        df.reportMessage(18);
        return;
    }
    if (!pathExists(path)) {
        df.reportMessage(17);
        return;
    }
    if (kind == InstallKind::File)
        df.installFile(config->programDirectory(), path, fileName, target, force, backup, compress);
    else
        df.findFile(path, fileName, force, backup, compress);
}

void DataFile::actionSubst(const std::string &line) { runInstallAction(*this, line, InstallKind::Subst); }
void DataFile::actionFile(const std::string &line) { runInstallAction(*this, line, InstallKind::File); }
void DataFile::actionFindFile(const std::string &line) { runInstallAction(*this, line, InstallKind::FindFile); }

// ---- local copy, rename and erase ---------------------------------------------

namespace {

enum class LocalKind { Copy, Rename };

} // namespace

static void runLocalAction(DataFile &df, const std::string &line, LocalKind kind) {
    ConfigData *config = df.config();
    NLSClass *messages = df.messages();

    startLine(line);
    const Field location = takeField();
    const Field source = takeField();
    const Field destination = takeField();
    const Field forceField = takeField();
    const Field backupField = takeField();

    if (!isFilled(source) || !isFilled(destination)) return;

    const int force = DataFile::numericField(fieldText(forceField), df.defaultForce());
    const int backup = DataFile::numericField(fieldText(backupField), df.defaultBackup());

    std::string base;
    if (!location || !df.resolveLocation(location->c_str(), base)) {
        df.reportMessage(18);
        return;
    }
    appendBackslash(base);
    if (base.size() + source->size() > kPathMax || base.size() + destination->size() > kPathMax ||
        isInvalidName(*source) || isInvalidName(*destination)) {
        df.reportMessage(18);
        return;
    }
    const std::string sourcePath = base + *source;
    const std::string destPath = base + *destination;

    if (config->isDebug()) {
        messages->print(kind == LocalKind::Copy ? "\tCopy (Local)\n" : "\tRename (local)\n");
        messages->print("\t\tcomponent   : %s\n", orNull(fieldText(location)));
        messages->print("\t\tsource      : %s\n", sourcePath.c_str());
        messages->print("\t\tdestination : %s\n", destPath.c_str());
        messages->print("\t\tbackup      : %s\n", orNull(fieldText(backupField)));
        messages->print("\t\tbackup val  : %d\n", backup);
        messages->print("\t\tforce       : %s\n", orNull(fieldText(forceField)));
        messages->print("\t\tforce value : %d\n", force);
    }

    try {
        if (kind == LocalKind::Copy)
            copyFile(sourcePath, destPath, df.tempDirectory().c_str(), config, force, backup);
        else
            renameFile(sourcePath, destPath, config, force, backup);
    } catch (Error &e) {
        df.reportMessage(kind == LocalKind::Copy ? 30 : 29, e.message);
    }
    df.applyRestartRule();
}

void DataFile::actionCopy(const std::string &line) { runLocalAction(*this, line, LocalKind::Copy); }
void DataFile::actionRename(const std::string &line) { runLocalAction(*this, line, LocalKind::Rename); }

void DataFile::actionErase(const std::string &line) {
    startLine(line);
    const Field location = takeField();
    const Field fileName = takeField();
    const Field backupField = takeField();

    if (!isFilled(fileName)) return;

    const int backup = numericField(fieldText(backupField), defaultBackup());

    std::string path;
    if (!location || !resolveLocation(location->c_str(), path)) {
        reportMessage(18);
        return;
    }
    appendBackslash(path);
    if (path.size() + fileName->size() > kPathMax || isInvalidName(*fileName)) {
        reportMessage(18);
        return;
    }
    path += *fileName;

    if (config()->isDebug()) {
        messages()->print("\tErase (Local)\n");
        messages()->print("\t\tcomponent   : %s\n", orNull(fieldText(location)));
        messages()->print("\t\tfilename    : %s\n", path.c_str());
        messages()->print("\t\tbackup      : %s\n", orNull(fieldText(backupField)));
        messages()->print("\t\tbackup val  : %d\n", backup);
    }

    try {
        eraseFile(path, config(), backup);
    } catch (Error &e) {
        reportMessage(31, e.message);
    }
    applyRestartRule();
}
