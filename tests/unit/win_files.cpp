// File primitives on real files under Wine: copy by date with backups,
// rename, erase, restart registrations, temporary names, copies that expand
// their lines.
#include <gtest/gtest.h>

#include "harness.h"

#include "text/paths.h"
#include "testing/fault.h"
#include "text/textkit.h"
#include "text/error.h"
#include "files/files.h"
#include "files/operation.h"
#include "text/subst.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

const char *const kRoot = "C:\\TVPFTEST";

using e2e::removeTree;


void writeBytes(const std::string &path, const std::string &bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << bytes;
    ASSERT_TRUE(f.good()) << path;
}

std::string readBytes(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

bool exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

struct Dos {
    WORD date = 0, time = 0;
    bool operator==(const Dos &o) const { return date == o.date && time == o.time; }
};

// DOS times through the end-to-end harness's helpers.
Dos dosOf(int year, int month, int day, int hour, int minute) {
    Dos d;
    d.date = e2e::dosDate(year, month, day);
    d.time = e2e::dosTime(hour, minute, 0);
    return d;
}

void setTime(const std::string &path, Dos d) { e2e::setDosTime(path, d.date, d.time); }

Dos timeOf(const std::string &path) {
    Dos d;
    e2e::getDosTime(path, d.date, d.time);
    return d;
}

// The delayed moves the system holds, and clearing them: the end-to-end
// harness's helpers.
using e2e::clearPendingMoves;
using e2e::pendingMoves;

std::string upper(std::string s) {
    for (char &c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

// Captures what the code under test writes to standard output.
class StdoutCapture {
  public:
    explicit StdoutCapture(std::string file) : file_(std::move(file)) {
        fflush(stdout);
        saved_ = _dup(1);
        FILE *f = fopen(file_.c_str(), "wb");
        _dup2(_fileno(f), 1);
        fclose(f);
        _setmode(1, _O_TEXT); // as a console program's standard output

    }
    std::string finish() {
        fflush(stdout);
        if (saved_ >= 0) {
            _dup2(saved_, 1);
            _close(saved_);
            saved_ = -1;
        }
        return readBytes(file_);
    }
    ~StdoutCapture() { finish(); }

  private:
    std::string file_;
    int saved_ = -1;
};

// Runs the call and returns the Error it raises (number -1 when none).
Error raised(const std::function<void()> &call) {
    try {
        call();
    } catch (const Error &e) {
        return e;
    }
    return Error(-1, "none");
}

std::string pidName(const char *prefix, char third, uint32_t pid) {
    // Independent rendering of the name: base-32 digits of the low 20 bits.
    const char *digits = "0123456789abcdefghijklmnopqrstuv";
    std::string n = prefix;
    n += third;
    n += digits[pid % 32];
    n += '.';
    n += digits[(pid / 32) % 32];
    n += digits[(pid / 1024) % 32];
    n += digits[(pid / 32768) % 32];
    return n;
}

using namespace files;
using text::joinPath;

// The run's file setup as the tests vary it, and what the operations
// reported: whether anything waits for the restart.
struct Cfg {
    files::Setup setup;
    int pending = 0; // 1: something waits for the restart
    Cfg() { setup.deferral = files::Deferral::Wininit; }
    void setWindowsDirectory(const std::string &d) { setup.windowsDirectory = d; }
    void setOsFamily(int family) { setup.deferral = files::deferralFor(family); }
    void setDebug(int d) { setup.debug = d == 1; }
    int restartNeeded() const { return pending; }
    void setStepPending(int v) { pending = v; }
};

// Carries out an operation the way the engine does: its trace lines go to
// the standard output, a restart registration is noted, a failure raised.
// Without a Cfg nothing can wait for the restart.
int finish(const files::Result &r, Cfg *cfg) {
    for (const std::string &line : r.trace) std::fputs(line.c_str(), stdout);
    if (cfg && r.deferred) cfg->pending = 1;
    if (r.error) throw *r.error;
    return r.copied;
}

files::Setup setupOf(Cfg *cfg, const char *tempDirectory) {
    files::Setup s;
    if (cfg) s = cfg->setup;
    else s.deferral = files::Deferral::None;
    s.tempDirectory = tempDirectory ? tempDirectory : "";
    return s;
}

int copyFile(const std::string &source, const std::string &destination, const char *tempDirectory, Cfg *cfg,
             int force, int backup, const SubstituteClass *expand = nullptr) {
    return finish(files::copy(setupOf(cfg, tempDirectory), source, destination, force, backup, expand), cfg);
}
int copyFileIn(const std::string &sourceDir, const std::string &destDir, const char *tempDirectory,
               const std::string &sourceName, const std::string &destName, Cfg *cfg, int force, int backup,
               const SubstituteClass *expand = nullptr) {
    return copyFile(text::joinPath(sourceDir, sourceName), text::joinPath(destDir, destName), tempDirectory, cfg,
                    force, backup, expand);
}
// A Cfg that is pending already stands for an operation one of whose
// earlier steps waits for the restart.
void renameFile(const std::string &source, const std::string &destination, Cfg *cfg, int force, int backup) {
    if (cfg && cfg->pending) {
        const files::Setup setup = setupOf(cfg, nullptr);
        files::detail::Operation op(setup);
        op.pending = true;
        op.renameWhole(source, destination, force, backup);
        return;
    }
    finish(files::rename(setupOf(cfg, nullptr), source, destination, force, backup), cfg);
}
void renameFileIn(const std::string &sourceDir, const std::string &destDir, const std::string &sourceName,
                  const std::string &destName, Cfg *cfg, int force, int backup) {
    renameFile(text::joinPath(sourceDir, sourceName), text::joinPath(destDir, destName), cfg, force, backup);
}
void eraseFile(const std::string &path, Cfg *cfg, int backup) {
    if (cfg && cfg->pending) {
        const files::Setup setup = setupOf(cfg, nullptr);
        files::detail::Operation op(setup);
        op.pending = true;
        op.erase(path, backup);
        return;
    }
    finish(files::erase(setupOf(cfg, nullptr), path, backup), cfg);
}
void eraseFileIn(const std::string &dir, const std::string &name, Cfg *cfg, int backup) {
    eraseFile(text::joinPath(dir, name), cfg, backup);
}
// A registration alone asks for no restart.
void deferMove(const std::string &source, const char *target, Cfg *cfg) {
    const files::Result r = files::deferMove(setupOf(cfg, nullptr), source,
                                             target ? std::optional<std::string>(target) : std::nullopt);
    for (const std::string &line : r.trace) std::fputs(line.c_str(), stdout);
    if (r.error) throw *r.error;
}
void deferMoveNT(const std::string &source, const char *target, Cfg *cfg) {
    Cfg nt = cfg ? *cfg : Cfg();
    nt.setOsFamily(2);
    deferMove(source, target, &nt);
}

// The free staging name for a copy waiting for the restart: "TV" names
// first, then "MT" names.
std::optional<std::string> makeTempNameFor(const std::string &directory, uint32_t pid) {
    std::optional<std::string> name = files::tempNameFromTemplate(directory, "TVXXXXXX", pid);
    return name ? name : files::tempNameFromTemplate(directory, "MTXXXXXX", pid);
}
std::optional<std::string> makeTempName(const std::string &directory) {
    return makeTempNameFor(directory, GetCurrentProcessId());
}

class FileOps : public ::testing::Test {
  protected:
    std::string root = kRoot, src, dst, tmp, win;
    Cfg cfg;

    void SetUp() override {
        fault::resetFaults();
        removeTree(root);
        CreateDirectoryA(root.c_str(), nullptr);
        src = root + "\\SRC";
        dst = root + "\\DST";
        tmp = root + "\\TMP";
        win = root + "\\WIN";
        for (const auto &d : {src, dst, tmp, win}) CreateDirectoryA(d.c_str(), nullptr);
        cfg.setWindowsDirectory(win);
        cfg.setOsFamily(1);
        clearPendingMoves();
    }
    void TearDown() override {
        fault::resetFaults();
        clearPendingMoves();
        removeTree(root);
    }

    std::string wininit() { return readBytes(win + "\\WININIT.INI"); }

    // The "rename" lines of WININIT.INI, in file order.
    std::vector<std::string> renameLines() {
        std::vector<std::string> lines;
        std::istringstream in(wininit());
        std::string line;
        bool inSection = false;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty() && line[0] == '[') {
                inSection = line == "[rename]";
                continue;
            }
            if (inSection && !line.empty()) lines.push_back(line);
        }
        return lines;
    }

    // Files in the temporary directory.
    std::vector<std::string> tempFiles() {
        std::vector<std::string> names;
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((tmp + "\\*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
            } while (FindNextFileA(h, &fd));
            FindClose(h);
        }
        return names;
    }

    std::string firstTempName() { return tmp + "\\" + pidName("TV", '0', GetCurrentProcessId() & 0xFFFFF); }
};

const Dos kOld = dosOf(1997, 3, 4, 10, 20);
const Dos kMid = dosOf(1998, 6, 7, 11, 30);
const Dos kNew = dosOf(1999, 9, 9, 12, 40);

// ---- copyFile by date -------------------------------------------------------

TEST_F(FileOps, CopyToMissingDestinationCreatesItWithTheSourceTime) {
    writeBytes(src + "\\X.DLL", "new contents");
    setTime(src + "\\X.DLL", kMid);
    EXPECT_EQ(copyFile(src + "\\X.DLL", dst + "\\X.DLL", tmp.c_str(), &cfg, 0, 1), Created);
    EXPECT_EQ(readBytes(dst + "\\X.DLL"), "new contents");
    EXPECT_EQ(timeOf(dst + "\\X.DLL"), kMid);
    EXPECT_FALSE(exists(dst + "\\X.OLD"));
    EXPECT_EQ(cfg.restartNeeded(), 0);
    EXPECT_EQ(GetFileAttributesA((dst + "\\X.DLL").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST_F(FileOps, CopyOverOlderDestinationKeepsItAsOldAndErasesTheOlderBackup) {
    writeBytes(src + "\\X.DLL", "version 2");
    setTime(src + "\\X.DLL", kNew);
    writeBytes(dst + "\\X.DLL", "version 1");
    setTime(dst + "\\X.DLL", kMid);
    writeBytes(dst + "\\X.OLD", "version 0");
    EXPECT_EQ(copyFile(src + "\\X.DLL", dst + "\\X.DLL", tmp.c_str(), &cfg, 0, 1), ReplacedOlder);
    EXPECT_EQ(readBytes(dst + "\\X.DLL"), "version 2");
    EXPECT_EQ(timeOf(dst + "\\X.DLL"), kNew);
    EXPECT_EQ(readBytes(dst + "\\X.OLD"), "version 1");
    EXPECT_EQ(timeOf(dst + "\\X.OLD"), kMid);
    EXPECT_EQ(cfg.restartNeeded(), 0);
    EXPECT_FALSE(exists(win + "\\WININIT.INI"));
}

TEST_F(FileOps, CopyWithSameDateChangesNothing) {
    writeBytes(src + "\\X.DLL", "source");
    writeBytes(dst + "\\X.DLL", "dest");
    setTime(src + "\\X.DLL", kMid);
    setTime(dst + "\\X.DLL", kMid);
    EXPECT_EQ(copyFile(src + "\\X.DLL", dst + "\\X.DLL", tmp.c_str(), &cfg, 0, 1), SameDate);
    EXPECT_EQ(readBytes(dst + "\\X.DLL"), "dest");
    EXPECT_FALSE(exists(dst + "\\X.OLD"));
    EXPECT_TRUE(tempFiles().empty());
    EXPECT_EQ(cfg.restartNeeded(), 0);
}

TEST_F(FileOps, CopyOverNewerDestinationNeedsForce) {
    writeBytes(src + "\\X.DLL", "source");
    writeBytes(dst + "\\X.DLL", "dest");
    setTime(src + "\\X.DLL", kOld);
    setTime(dst + "\\X.DLL", kNew);
    EXPECT_EQ(copyFile(src + "\\X.DLL", dst + "\\X.DLL", tmp.c_str(), &cfg, 0, 1), DestinationNewer);
    EXPECT_EQ(readBytes(dst + "\\X.DLL"), "dest");
    EXPECT_FALSE(exists(dst + "\\X.OLD"));

    EXPECT_EQ(copyFile(src + "\\X.DLL", dst + "\\X.DLL", tmp.c_str(), &cfg, 1, 1), ReplacedNewer);
    EXPECT_EQ(readBytes(dst + "\\X.DLL"), "source");
    EXPECT_EQ(timeOf(dst + "\\X.DLL"), kOld);
    EXPECT_EQ(readBytes(dst + "\\X.OLD"), "dest");
    EXPECT_EQ(cfg.restartNeeded(), 0);
}

TEST_F(FileOps, CopyOfLargeFileSpansSeveralBuffers) {
    // Two and a half transfer buffers.
    const size_t size = files::kTransferBufferSize * 5 / 2;
    std::string big;
    big.reserve(size);
    for (size_t i = 0; i < size; ++i) big += static_cast<char>(i * 7 + (i >> 8));
    writeBytes(src + "\\BIG.BIN", big);
    EXPECT_EQ(copyFile(src + "\\BIG.BIN", dst + "\\BIG.BIN", tmp.c_str(), &cfg, 0, 0), Created);
    EXPECT_EQ(readBytes(dst + "\\BIG.BIN"), big);
}

TEST_F(FileOps, CopyInDoesNotDoubleTheBackslash) {
    writeBytes(src + "\\A.TXT", "a");
    cfg.setDebug(1);
    StdoutCapture cap(root + "\\out.txt");
    EXPECT_EQ(copyFileIn(src + "\\", dst, tmp.c_str(), "A.TXT", "B.TXT", &cfg, 0, 0), Created);
    const std::string out = cap.finish();
    EXPECT_EQ(out, "\t\tCopy Src File  : " + src + "\\A.TXT\r\n\t\tCopy Dest File : " + dst + "\\B.TXT\r\n");
    EXPECT_EQ(readBytes(dst + "\\B.TXT"), "a");
}

TEST_F(FileOps, ReadOnlyDestinationIsBackedUpWithItsAttributes) {
    writeBytes(src + "\\X.DLL", "new");
    setTime(src + "\\X.DLL", kNew);
    writeBytes(dst + "\\X.DLL", "old");
    setTime(dst + "\\X.DLL", kOld);
    SetFileAttributesA((dst + "\\X.DLL").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(copyFile(src + "\\X.DLL", dst + "\\X.DLL", tmp.c_str(), &cfg, 0, 1), ReplacedOlder);
    EXPECT_EQ(readBytes(dst + "\\X.DLL"), "new");
    EXPECT_EQ(readBytes(dst + "\\X.OLD"), "old");
    EXPECT_NE(GetFileAttributesA((dst + "\\X.OLD").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(GetFileAttributesA((dst + "\\X.DLL").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

// ---- deferred copies -----------------------------------------------------------

TEST_F(FileOps, OlderDestinationWithoutBackupIsStagedAndRegisteredInWininit) {
    writeBytes(src + "\\X.DRV", "new driver");
    setTime(src + "\\X.DRV", kNew);
    writeBytes(dst + "\\X.DRV", "old driver");
    setTime(dst + "\\X.DRV", kOld);
    EXPECT_EQ(copyFile(src + "\\X.DRV", dst + "\\X.DRV", tmp.c_str(), &cfg, 0, 0), ReplacedOlder);
    EXPECT_EQ(readBytes(dst + "\\X.DRV"), "old driver");
    const std::string staged = firstTempName();
    EXPECT_EQ(readBytes(staged), "new driver");
    EXPECT_EQ(timeOf(staged), kNew);
    EXPECT_EQ(renameLines(), std::vector<std::string>{dst + "\\X.DRV=" + staged});
    EXPECT_EQ(cfg.restartNeeded(), 1);
}

TEST_F(FileOps, ExclusivelyHeldDestinationCountsAsAbsentOnWin95Family) {
    writeBytes(src + "\\X.DLL", "new");
    setTime(src + "\\X.DLL", kOld); // older than the held file: no date check is possible
    writeBytes(dst + "\\X.DLL", "held");
    setTime(dst + "\\X.DLL", kNew);
    HANDLE hold = CreateFileA((dst + "\\X.DLL").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    const int r = copyFile(src + "\\X.DLL", dst + "\\X.DLL", tmp.c_str(), &cfg, 0, 1);
    CloseHandle(hold);
    EXPECT_EQ(r, Created);
    EXPECT_FALSE(exists(dst + "\\X.OLD"));
    EXPECT_EQ(readBytes(dst + "\\X.DLL"), "held");
    const std::string staged = firstTempName();
    EXPECT_EQ(readBytes(staged), "new");
    EXPECT_EQ(renameLines(), std::vector<std::string>{dst + "\\X.DLL=" + staged});
    EXPECT_EQ(cfg.restartNeeded(), 1);
}

TEST_F(FileOps, ExclusivelyHeldDestinationIsRegisteredAsDelayedMoveOnNtFamily) {
    cfg.setOsFamily(2);
    writeBytes(src + "\\X.DLL", "new");
    writeBytes(dst + "\\X.DLL", "held");
    HANDLE hold = CreateFileA((dst + "\\X.DLL").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    const int r = copyFile(src + "\\X.DLL", dst + "\\X.DLL", tmp.c_str(), &cfg, 0, 1);
    CloseHandle(hold);
    EXPECT_EQ(r, Created);
    const auto moves = pendingMoves();
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(upper(moves[0].first), upper(firstTempName()));
    EXPECT_EQ(upper(moves[0].second), upper(dst + "\\X.DLL"));
    EXPECT_FALSE(exists(win + "\\WININIT.INI"));
    EXPECT_EQ(cfg.restartNeeded(), 1);
}

TEST_F(FileOps, DestinationInUseWithBackupRegistersBackupThenStagedCopy) {
    for (int family : {1, 2}) {
        SCOPED_TRACE(family);
        SetUp();
        Cfg local;
        local.setWindowsDirectory(win);
        local.setOsFamily(family);
        writeBytes(src + "\\X.DLL", "new");
        setTime(src + "\\X.DLL", kNew);
        writeBytes(dst + "\\X.DLL", "in use");
        setTime(dst + "\\X.DLL", kOld);
        // Readable by others but neither deletable nor renamable.
        HANDLE hold =
            CreateFileA((dst + "\\X.DLL").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(hold, INVALID_HANDLE_VALUE);
        const int r = copyFile(src + "\\X.DLL", dst + "\\X.DLL", tmp.c_str(), &local, 0, 1);
        CloseHandle(hold);
        EXPECT_EQ(r, ReplacedOlder);
        EXPECT_EQ(local.restartNeeded(), 1);
        EXPECT_EQ(readBytes(dst + "\\X.DLL"), "in use");
        const std::string staged = firstTempName();
        EXPECT_EQ(readBytes(staged), "new");
        if (family == 1) {
            EXPECT_EQ(renameLines(),
                      (std::vector<std::string>{dst + "\\X.OLD=" + dst + "\\X.DLL", dst + "\\X.DLL=" + staged}));
        } else {
            const auto moves = pendingMoves();
            ASSERT_EQ(moves.size(), 2u);
            EXPECT_EQ(upper(moves[0].first), upper(dst + "\\X.DLL"));
            EXPECT_EQ(upper(moves[0].second), upper(dst + "\\X.OLD"));
            EXPECT_EQ(upper(moves[1].first), upper(staged));
            EXPECT_EQ(upper(moves[1].second), upper(dst + "\\X.DLL"));
        }
    }
}

// A family with nothing that stands in for a restart registration: what
// would wait for the restart fails instead, nothing is staged or marked.
TEST_F(FileOps, OtherFamilyCannotDeferAndRaises29) {
    for (int family : {0, 4}) {
        SCOPED_TRACE(family);
        SetUp();
        cfg.setOsFamily(family);
        cfg.setStepPending(0);
        writeBytes(src + "\\X.DLL", "new");
        setTime(src + "\\X.DLL", kNew);
        writeBytes(dst + "\\X.DLL", "old");
        setTime(dst + "\\X.DLL", kOld);
        Error e = raised([&] { copyFile(src + "\\X.DLL", dst + "\\X.DLL", tmp.c_str(), &cfg, 0, 0); });
        EXPECT_EQ(e.number, 29);
        EXPECT_EQ(readBytes(dst + "\\X.DLL"), "old");
        EXPECT_TRUE(tempFiles().empty());

        writeBytes(dst + "\\B.TXT", "b");
        e = raised([&] { renameFile(dst + "\\X.DLL", dst + "\\B.TXT", &cfg, 0, 0); });
        EXPECT_EQ(e.number, 29);
        EXPECT_EQ(readBytes(dst + "\\B.TXT"), "b");

        fault::failCall(fault::Call::DeleteFileA, 1, ERROR_SHARING_VIOLATION);
        e = raised([&] { eraseFile(dst + "\\B.TXT", &cfg, 0); });
        fault::resetFaults();
        EXPECT_EQ(e.number, 29);
        EXPECT_EQ(readBytes(dst + "\\B.TXT"), "b");

        EXPECT_EQ(cfg.restartNeeded(), 0);
        EXPECT_FALSE(exists(win + "\\WININIT.INI"));
        EXPECT_TRUE(pendingMoves().empty());
    }
}

TEST_F(FileOps, StagingTracesAndFallsBackToTheSecondTemplate) {
    const uint32_t pid = GetCurrentProcessId() & 0xFFFFF;
    const std::string thirds = "0abcdefghijklmnopqrstuvwxyz";
    for (char c : thirds) writeBytes(tmp + "\\" + pidName("TV", c, pid), "taken");
    writeBytes(src + "\\X.DLL", "new");
    writeBytes(dst + "\\X.DLL", "old");
    setTime(src + "\\X.DLL", kNew);
    setTime(dst + "\\X.DLL", kOld);
    cfg.setDebug(1);
    StdoutCapture cap(root + "\\out.txt");
    EXPECT_EQ(copyFile(src + "\\X.DLL", dst + "\\X.DLL", tmp.c_str(), &cfg, 0, 0), ReplacedOlder);
    const std::string out = cap.finish();
    const std::string staged = tmp + "\\" + pidName("MT", '0', pid);
    const std::string expected = "\t\tCopy Src File  : " + src + "\\X.DLL\r\n" + "\t\tCopy Dest File : " + dst +
                                 "\\X.DLL\r\n" + "TEMPMK : " + staged + "\r\n" + "\t\tCopy Src File  : " + src +
                                 "\\X.DLL\r\n" + "\t\tCopy Dest File : " + staged + "\r\n" +
                                 "\t\tLock Src  : " + staged + "\r\n" + "\t\tLock Dest : " + dst + "\\X.DLL\r\n";
    EXPECT_EQ(out, expected);
    EXPECT_EQ(readBytes(staged), "new");
}

TEST_F(FileOps, NoFreeTemporaryNameRaises21WithTheDestination) {
    const uint32_t pid = GetCurrentProcessId() & 0xFFFFF;
    const std::string thirds = "0abcdefghijklmnopqrstuvwxyz";
    for (char c : thirds) {
        writeBytes(tmp + "\\" + pidName("TV", c, pid), "taken");
        writeBytes(tmp + "\\" + pidName("MT", c, pid), "taken");
    }
    writeBytes(src + "\\X.DLL", "new");
    writeBytes(dst + "\\X.DLL", "old");
    setTime(src + "\\X.DLL", kNew);
    setTime(dst + "\\X.DLL", kOld);
    cfg.setDebug(1);
    StdoutCapture cap(root + "\\out.txt");
    Error e = raised([&] { copyFile(src + "\\X.DLL", dst + "\\X.DLL", tmp.c_str(), &cfg, 0, 0); });
    const std::string out = cap.finish();
    EXPECT_EQ(e.number, 21);
    EXPECT_EQ(e.message, dst + "\\X.DLL");
    EXPECT_EQ(e.file, "tvpfile");
    EXPECT_GT(e.line, 0);
    EXPECT_NE(out.find("TEMPMK : (null)\r\n"), std::string::npos) << out;
    EXPECT_EQ(cfg.restartNeeded(), 0);
}

// A copy that would have to be staged, with no directory to stage it in:
// Error 21 naming the destination, which stays as it was.
TEST_F(FileOps, WithoutTemporaryDirectoryAStagedCopyRaises21) {
    writeBytes(src + "\\X.DLL", "new");
    writeBytes(dst + "\\X.DLL", "old");
    setTime(src + "\\X.DLL", kNew);
    setTime(dst + "\\X.DLL", kOld);
    Error e2 = raised([&] { copyFile(src + "\\X.DLL", dst + "\\X.DLL", nullptr, &cfg, 0, 0); });
    EXPECT_EQ(e2.number, 21);
    EXPECT_EQ(e2.message, dst + "\\X.DLL");
    EXPECT_EQ(readBytes(dst + "\\X.DLL"), "old");
    EXPECT_TRUE(tempFiles().empty());
}

// ---- copy failures ---------------------------------------------------------------

TEST_F(FileOps, MissingSourceRaises20) {
    Error e = raised([&] { copyFile(src + "\\NONE.DLL", dst + "\\NONE.DLL", tmp.c_str(), &cfg, 0, 1); });
    EXPECT_EQ(e.number, 20);
    EXPECT_EQ(e.message, src + "\\NONE.DLL");
    EXPECT_EQ(e.file, "tvpfile");
    EXPECT_FALSE(exists(dst + "\\NONE.DLL"));
}

TEST_F(FileOps, UnreadableTimesRaise28WithTheRightPath) {
    writeBytes(src + "\\X.DLL", "new");
    writeBytes(dst + "\\X.DLL", "old");
    fault::failCall(fault::Call::GetDosFileTime, 1);
    Error e = raised([&] { copyFile(src + "\\X.DLL", dst + "\\X.DLL", tmp.c_str(), &cfg, 0, 1); });
    EXPECT_EQ(e.number, 28);
    EXPECT_EQ(e.message, src + "\\X.DLL");
    fault::resetFaults();
    fault::failCall(fault::Call::GetDosFileTime, 2);
    e = raised([&] { copyFile(src + "\\X.DLL", dst + "\\X.DLL", tmp.c_str(), &cfg, 0, 1); });
    EXPECT_EQ(e.number, 28);
    EXPECT_EQ(e.message, dst + "\\X.DLL");
    EXPECT_EQ(readBytes(dst + "\\X.DLL"), "old");
    EXPECT_FALSE(exists(dst + "\\X.OLD"));
    // Every handle was closed: the files can be deleted.
    EXPECT_TRUE(DeleteFileA((src + "\\X.DLL").c_str()));
    EXPECT_TRUE(DeleteFileA((dst + "\\X.DLL").c_str()));
}

// The variables of the copies that expand their lines.
SubstituteClass expansionList() {
    SubstituteClass l('\\');
    l.add("TAVRO", "D:\\TAVRO");
    l.add("WINDOWS", "C:\\WINDOWS");
    return l;
}

struct CopyFault {
    fault::Call call;
    unsigned nth;
    bool shortWrite;
    int number;
    bool sourcePath;
};

// A failed write, read or time stamp leaves no partial file, and the original
// that this copy moved to its backup name comes back.
TEST_F(FileOps, FailedTransferRemovesThePartialFileAndRestoresTheOriginal) {
    // More than one transfer buffer, so that the second read and write happen.
    std::string big;
    for (size_t i = 0; i < files::kTransferBufferSize + 9000; ++i) big += static_cast<char>('a' + i % 26);
    const CopyFault faults[] = {
        {fault::Call::WriteFile, 2, true, 23, false}, {fault::Call::WriteFile, 1, false, 23, false},
        {fault::Call::ReadFile, 2, false, 24, true},  {fault::Call::SetDosFileTime, 1, false, 27, false},
    };
    const SubstituteClass list = expansionList();
    for (const CopyFault &f : faults) {
        for (int backup : {0, 1}) {
            // A plain copy, and one expanding its lines (the content has no
            // line end: one line, written in two pieces).
            for (const SubstituteClass *expand : {static_cast<const SubstituteClass *>(nullptr), &list}) {
                SCOPED_TRACE(std::string(fault::callName(f.call)) + " backup " + std::to_string(backup) +
                             (expand ? " expanded" : ""));
                SetUp();
                writeBytes(src + "\\X.DLL", big);
                setTime(src + "\\X.DLL", kNew);
                // A fresh destination: nothing may be left behind.
                fault::failCall(f.call, f.nth, ERROR_DISK_FULL, f.shortWrite);
                Error e = raised(
                    [&] { copyFile(src + "\\X.DLL", dst + "\\NEW.DLL", tmp.c_str(), &cfg, 0, backup, expand); });
                EXPECT_EQ(e.number, f.number);
                EXPECT_EQ(e.message, f.sourcePath ? src + "\\X.DLL" : dst + "\\NEW.DLL");
                EXPECT_FALSE(exists(dst + "\\NEW.DLL"));

                // An existing older destination.
                writeBytes(dst + "\\X.DLL", "the user's file");
                setTime(dst + "\\X.DLL", kOld);
                writeBytes(dst + "\\X.OLD", "older backup");
                fault::resetFaults();
                fault::failCall(f.call, f.nth, ERROR_DISK_FULL, f.shortWrite);
                e = raised([&] { copyFile(src + "\\X.DLL", dst + "\\X.DLL", tmp.c_str(), &cfg, 0, backup, expand); });
                if (backup) {
                    EXPECT_EQ(e.number, f.number);
                    EXPECT_EQ(e.message, f.sourcePath ? src + "\\X.DLL" : dst + "\\X.DLL");
                    EXPECT_FALSE(exists(dst + "\\X.OLD")); // the older backup was erased first
                } else {
                    // Without backup the copy is staged; the staged copy fails instead.
                    EXPECT_EQ(e.number, f.number);
                    EXPECT_TRUE(tempFiles().empty());
                    EXPECT_TRUE(renameLines().empty());
                }
                EXPECT_EQ(readBytes(dst + "\\X.DLL"), "the user's file");
                EXPECT_EQ(timeOf(dst + "\\X.DLL"), kOld);
                EXPECT_TRUE(fault::faultFired());
                fault::resetFaults();
            }
        }
    }
}

// Whichever single platform call fails, the user's file survives: in place,
// as the backup beside the new copy, or as the backup with the new copy
// registered for restart.
TEST_F(FileOps, AnySingleFailedCallKeepsTheUsersFile) {
    for (int family : {1, 2}) {
        bool fired = true;
        for (unsigned long k = 1; fired && k < 200; ++k) {
            SCOPED_TRACE("family " + std::to_string(family) + " call " + std::to_string(k));
            SetUp();
            Cfg local;
            local.setWindowsDirectory(win);
            local.setOsFamily(family);
            writeBytes(src + "\\X.DLL", std::string(6000, 'n'));
            setTime(src + "\\X.DLL", kNew);
            writeBytes(dst + "\\X.DLL", "original");
            setTime(dst + "\\X.DLL", kOld);
            writeBytes(dst + "\\X.OLD", "older");
            fault::resetFaults();
            fault::failNthCall(k);
            Error e = raised([&] { copyFile(src + "\\X.DLL", dst + "\\X.DLL", tmp.c_str(), &local, 0, 1); });
            fired = fault::faultFired();
            fault::resetFaults();
            const std::string now = readBytes(dst + "\\X.DLL");
            const std::string old = readBytes(dst + "\\X.OLD");
            if (now == std::string(6000, 'n')) {
                EXPECT_EQ(old, "original");
                EXPECT_EQ(e.number, -1);
            } else if (now != "original") {
                EXPECT_EQ(old, "original");
                EXPECT_EQ(local.restartNeeded(), 1);
                EXPECT_EQ(e.number, -1);
            }
            if (!fired) {
                EXPECT_EQ(e.number, -1);
            }
        }
        EXPECT_FALSE(fired) << "the sweep did not reach the end of the copy";
    }
}

TEST_F(FileOps, RefusedDelayedMoveRaises29AndDropsTheStagedCopy) {
    cfg.setOsFamily(2);
    fault::failCall(fault::Call::MoveFileExA, 1);
    Error e = raised([&] { deferMoveNT(dst + "\\X.DLL", nullptr, &cfg); });
    EXPECT_EQ(e.number, 29);
    EXPECT_EQ(e.message, dst + "\\X.DLL");
    EXPECT_EQ(e.file, "tvpfile");

    writeBytes(src + "\\X.DLL", "new");
    writeBytes(dst + "\\X.DLL", "old");
    setTime(src + "\\X.DLL", kNew);
    setTime(dst + "\\X.DLL", kOld);
    fault::resetFaults();
    fault::failCall(fault::Call::MoveFileExA, 1);
    e = raised([&] { copyFile(src + "\\X.DLL", dst + "\\X.DLL", tmp.c_str(), &cfg, 0, 0); });
    EXPECT_EQ(e.number, 29);
    EXPECT_EQ(upper(e.message), upper(firstTempName()));
    EXPECT_TRUE(tempFiles().empty());
    EXPECT_EQ(readBytes(dst + "\\X.DLL"), "old");
    EXPECT_TRUE(pendingMoves().empty());
}

TEST_F(FileOps, OverlongPathsAreRefused) {
    const std::string longDir = root + "\\" + std::string(250, 'd');
    writeBytes(src + "\\X.DLL", "x");
    Error e = raised([&] { copyFile(longDir + "\\X.DLL", dst + "\\X.DLL", tmp.c_str(), &cfg, 0, 0); });
    EXPECT_EQ(e.number, 20);
    EXPECT_EQ(e.message, longDir + "\\X.DLL");
    e = raised([&] { copyFile(src + "\\X.DLL", longDir + "\\X.DLL", tmp.c_str(), &cfg, 0, 0); });
    EXPECT_EQ(e.number, 21);
    EXPECT_EQ(e.message, longDir + "\\X.DLL");
    e = raised([&] { copyFileIn(src, longDir, tmp.c_str(), "X.DLL", "X.DLL", &cfg, 0, 0); });
    EXPECT_EQ(e.number, 21);
    e = raised([&] { renameFile(src + "\\X.DLL", longDir + "\\X.DLL", &cfg, 0, 0); });
    EXPECT_EQ(e.number, 26);
    e = raised([&] { renameFileIn(longDir, dst, "X.DLL", "Y.DLL", &cfg, 0, 0); });
    EXPECT_EQ(e.number, 26);
    EXPECT_EQ(e.message, longDir + "\\X.DLL");
    e = raised([&] { eraseFileIn(longDir, "X.DLL", &cfg, 0); });
    EXPECT_EQ(e.number, 25);
    // Exactly 259 characters is still a path.
    std::string name(259 - dst.size() - 1, 'n');
    EXPECT_EQ(joinPath(dst, name).size(), 259u);
    e = raised([&] { copyFileIn(src, dst, tmp.c_str(), "X.DLL", name, &cfg, 0, 0); });
    EXPECT_EQ(e.number, -1);
    EXPECT_EQ(readBytes(joinPath(dst, name)), "x");

    // A backup name that would pass the limit is refused, the file kept.
    const std::string full = dst + "\\" + std::string(259 - dst.size() - 3, 'f') + ".Z";
    ASSERT_EQ(full.size(), 259u);
    writeBytes(full, "kept");
    setTime(full, kOld);
    setTime(src + "\\X.DLL", kNew);
    e = raised([&] { copyFile(src + "\\X.DLL", full, tmp.c_str(), &cfg, 0, 1); });
    EXPECT_EQ(e.number, 26);
    EXPECT_EQ(e.message, full.substr(0, full.size() - 2) + ".OLD");
    EXPECT_EQ(readBytes(full), "kept");
    e = raised([&] { eraseFile(full, &cfg, 1); });
    EXPECT_EQ(e.number, 26);
    EXPECT_EQ(readBytes(full), "kept");
    EXPECT_TRUE(renameLines().empty());
    EXPECT_EQ(cfg.restartNeeded(), 0);
}

// ---- copies with expansion -------------------------------------------------------

// The copy this call makes is the expanded one, whether made now or staged
// for the restart; a destination that is not replaced is not touched.
TEST_F(FileOps, ExpandedCopyIsTheOneMadeNowOrStaged) {
    const SubstituteClass list = expansionList();
    const std::string text = "dir=\\TAVRO\\BIN\r\nwin=\\windows\r\n";
    const std::string expanded = "dir=D:\\TAVRO\\BIN\r\nwin=C:\\WINDOWS\r\n";
    writeBytes(src + "\\X.CFG", text);
    setTime(src + "\\X.CFG", kMid);

    // Made now: the expansion, with the source's date.
    EXPECT_EQ(copyFile(src + "\\X.CFG", dst + "\\NEW.CFG", tmp.c_str(), &cfg, 0, 1, &list), Created);
    EXPECT_EQ(readBytes(dst + "\\NEW.CFG"), expanded);
    EXPECT_EQ(timeOf(dst + "\\NEW.CFG"), kMid);

    // Over an older file with backup: the old one kept as it was.
    writeBytes(dst + "\\X.CFG", "old \\TAVRO");
    setTime(dst + "\\X.CFG", kOld);
    EXPECT_EQ(copyFile(src + "\\X.CFG", dst + "\\X.CFG", tmp.c_str(), &cfg, 0, 1, &list), ReplacedOlder);
    EXPECT_EQ(readBytes(dst + "\\X.CFG"), expanded);
    EXPECT_EQ(readBytes(dst + "\\X.OLD"), "old \\TAVRO");

    // Staged for the restart (no backup): the staged copy is expanded, the
    // file in place is left as it is.
    writeBytes(dst + "\\S.CFG", "in place \\TAVRO");
    setTime(dst + "\\S.CFG", kOld);
    EXPECT_EQ(copyFileIn(src, dst, tmp.c_str(), "X.CFG", "S.CFG", &cfg, 0, 0, &list), ReplacedOlder);
    EXPECT_EQ(readBytes(dst + "\\S.CFG"), "in place \\TAVRO");
    EXPECT_EQ(readBytes(firstTempName()), expanded);
    EXPECT_EQ(renameLines(), std::vector<std::string>{dst + "\\S.CFG=" + firstTempName()});

    // Not replaced: same date, or newer; nothing expanded.
    writeBytes(dst + "\\SAME.CFG", "same \\TAVRO");
    setTime(dst + "\\SAME.CFG", kMid);
    writeBytes(dst + "\\NEWER.CFG", "newer \\TAVRO");
    setTime(dst + "\\NEWER.CFG", kNew);
    EXPECT_EQ(copyFile(src + "\\X.CFG", dst + "\\SAME.CFG", tmp.c_str(), &cfg, 0, 1, &list), SameDate);
    EXPECT_EQ(copyFile(src + "\\X.CFG", dst + "\\NEWER.CFG", tmp.c_str(), &cfg, 0, 1, &list), DestinationNewer);
    EXPECT_EQ(readBytes(dst + "\\SAME.CFG"), "same \\TAVRO");
    EXPECT_EQ(readBytes(dst + "\\NEWER.CFG"), "newer \\TAVRO");
    EXPECT_FALSE(exists(dst + "\\SAME.OLD"));
    // The source itself stays as shipped.
    EXPECT_EQ(readBytes(src + "\\X.CFG"), text);
}

// A work file that a copy cut short left beside its destination is removed
// by the next copy into that directory; other files are not.
TEST_F(FileOps, WorkFilesLeftByAnInterruptedCopyAreRemoved) {
    using files::isWorkFileName;
    EXPECT_TRUE(isWorkFileName("~C0k.h40"));
    EXPECT_TRUE(isWorkFileName("~CZV.VVV"));
    EXPECT_FALSE(isWorkFileName("~C0w.h40")); // "w" is no digit of the name
    EXPECT_FALSE(isWorkFileName("~C0k.h4"));
    EXPECT_FALSE(isWorkFileName("~D0k.h40"));
    EXPECT_FALSE(isWorkFileName("~C0k_h40"));
    EXPECT_FALSE(isWorkFileName("TV0k.h40"));

    for (const char *stray : {"~C0k.h40", "~Czv.000"}) writeBytes(dst + "\\" + stray, "part of a copy");
    for (const char *kept : {"~CNOTES.TXT", "~C0w.h40", "C0k.h40"}) writeBytes(dst + "\\" + kept, "a user's file");
    CreateDirectoryA((dst + "\\~Cak.h40").c_str(), nullptr);
    writeBytes(src + "\\X.DLL", "x");
    EXPECT_EQ(copyFile(src + "\\X.DLL", dst + "\\X.DLL", tmp.c_str(), &cfg, 0, 1), Created);
    EXPECT_FALSE(exists(dst + "\\~C0k.h40"));
    EXPECT_FALSE(exists(dst + "\\~Czv.000"));
    for (const char *kept : {"~CNOTES.TXT", "~C0w.h40", "C0k.h40"})
        EXPECT_EQ(readBytes(dst + "\\" + kept), "a user's file") << kept;
    EXPECT_TRUE(exists(dst + "\\~Cak.h40"));
    EXPECT_EQ(readBytes(dst + "\\X.DLL"), "x");
}

// A run sweeps each directory once, with its first copy into it (the run's
// own copies leave no work files); a work name taken after that is passed
// over, never written into. The next run sweeps again.
TEST_F(FileOps, RunSweepsEachDirectoryOnceAndPassesOverTakenWorkNames) {
    std::set<std::string> swept;
    files::Setup run = setupOf(&cfg, tmp.c_str());
    run.sweptDirectories = &swept;
    for (const char *name : {"X.DLL", "Y.DLL", "Z.DLL"}) writeBytes(src + "\\" + name, name);
    writeBytes(dst + "\\~C0k.h40", "part of a copy");
    writeBytes(win + "\\~Czv.000", "part of a copy");

    EXPECT_EQ(finish(files::copy(run, src + "\\X.DLL", dst + "\\X.DLL", 0, 1), &cfg), Created);
    EXPECT_FALSE(exists(dst + "\\~C0k.h40"));
    EXPECT_TRUE(exists(win + "\\~Czv.000")); // no copy went there yet

    const std::optional<std::string> first =
        files::templateCandidate(dst, files::kWorkTemplate, GetCurrentProcessId(), 0);
    ASSERT_TRUE(first.has_value());
    ASSERT_TRUE(files::isWorkFileName(first->substr(dst.size() + 1)));
    writeBytes(*first, "another program's");
    EXPECT_EQ(finish(files::copy(run, src + "\\Y.DLL", dst + "\\Y.DLL", 0, 1), &cfg), Created);
    EXPECT_EQ(readBytes(dst + "\\Y.DLL"), "Y.DLL");
    EXPECT_EQ(readBytes(*first), "another program's");

    EXPECT_EQ(finish(files::copy(run, src + "\\Z.DLL", win + "\\Z.DLL", 0, 1), &cfg), Created);
    EXPECT_FALSE(exists(win + "\\~Czv.000"));
    EXPECT_EQ(readBytes(win + "\\Z.DLL"), "Z.DLL");

    std::set<std::string> nextRunSwept;
    run.sweptDirectories = &nextRunSwept;
    EXPECT_EQ(finish(files::copy(run, src + "\\Y.DLL", dst + "\\W.DLL", 0, 0), &cfg), Created);
    EXPECT_FALSE(exists(*first));
    EXPECT_EQ(readBytes(dst + "\\W.DLL"), "Y.DLL");
}

// ---- renameFile --------------------------------------------------------------------

TEST_F(FileOps, RenameAtOnce) {
    writeBytes(src + "\\A.TXT", "a");
    renameFile(src + "\\A.TXT", dst + "\\B.TXT", &cfg, 0, 0);
    EXPECT_FALSE(exists(src + "\\A.TXT"));
    EXPECT_EQ(readBytes(dst + "\\B.TXT"), "a");
    EXPECT_EQ(cfg.restartNeeded(), 0);
}

TEST_F(FileOps, RenameWithBackupMovesTheDestinationAside) {
    writeBytes(src + "\\A.TXT", "new");
    writeBytes(dst + "\\B.TXT", "existing");
    writeBytes(dst + "\\B.OLD", "older");
    renameFileIn(src, dst, "A.TXT", "B.TXT", &cfg, 0, 1);
    EXPECT_EQ(readBytes(dst + "\\B.TXT"), "new");
    EXPECT_EQ(readBytes(dst + "\\B.OLD"), "existing");
    EXPECT_EQ(cfg.restartNeeded(), 0);
}

// With no destination there is nothing to back up: the rename is done at
// once on both families, and an unrelated backup file is left alone.
TEST_F(FileOps, RenameWithBackupAndNoDestinationIsDoneAtOnce) {
    for (int family : {1, 2}) {
        SCOPED_TRACE("family " + std::to_string(family));
        SetUp();
        cfg.setOsFamily(family);
        cfg.setStepPending(0);
        writeBytes(src + "\\A.TXT", "a");
        writeBytes(dst + "\\B.OLD", "an older backup");
        renameFile(src + "\\A.TXT", dst + "\\B.TXT", &cfg, 0, 1);
        EXPECT_EQ(cfg.restartNeeded(), 0);
        EXPECT_FALSE(exists(src + "\\A.TXT"));
        EXPECT_EQ(readBytes(dst + "\\B.TXT"), "a");
        EXPECT_EQ(readBytes(dst + "\\B.OLD"), "an older backup");
        EXPECT_FALSE(exists(win + "\\WININIT.INI"));
        EXPECT_TRUE(pendingMoves().empty());

        // The same through renameFileIn, with force as well.
        writeBytes(src + "\\C.TXT", "c");
        renameFileIn(src, dst, "C.TXT", "D.TXT", &cfg, 1, 1);
        EXPECT_EQ(cfg.restartNeeded(), 0);
        EXPECT_EQ(readBytes(dst + "\\D.TXT"), "c");
        EXPECT_FALSE(exists(dst + "\\D.OLD"));
        EXPECT_FALSE(exists(win + "\\WININIT.INI"));
        EXPECT_TRUE(pendingMoves().empty());
    }
}

TEST_F(FileOps, RenameOntoExistingDestinationIsRegisteredWithReplacement) {
    cfg.setOsFamily(2);
    writeBytes(src + "\\A.TXT", "a");
    writeBytes(dst + "\\B.TXT", "b");
    renameFile(src + "\\A.TXT", dst + "\\B.TXT", &cfg, 0, 0);
    EXPECT_EQ(cfg.restartNeeded(), 1);
    EXPECT_EQ(readBytes(dst + "\\B.TXT"), "b");
    const auto moves = pendingMoves();
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(upper(moves[0].first), upper(src + "\\A.TXT"));
    EXPECT_EQ(upper(moves[0].second), upper(dst + "\\B.TXT"));
}

TEST_F(FileOps, RenameWithForceErasesTheDestinationFirst) {
    writeBytes(src + "\\A.TXT", "a");
    writeBytes(dst + "\\B.TXT", "b");
    renameFile(src + "\\A.TXT", dst + "\\B.TXT", &cfg, 1, 0);
    EXPECT_EQ(readBytes(dst + "\\B.TXT"), "a");
    EXPECT_EQ(cfg.restartNeeded(), 0);
}

TEST_F(FileOps, OncePendingEveryLaterStepIsDeferredInOrder) {
    writeBytes(src + "\\A.TXT", "a");
    writeBytes(dst + "\\B.TXT", "b");
    cfg.setStepPending(1);
    renameFile(src + "\\A.TXT", dst + "\\B.TXT", &cfg, 0, 1);
    EXPECT_EQ(readBytes(dst + "\\B.TXT"), "b");
    EXPECT_TRUE(exists(src + "\\A.TXT"));
    EXPECT_EQ(renameLines(), (std::vector<std::string>{dst + "\\B.OLD=" + dst + "\\B.TXT",
                                                        dst + "\\B.TXT=" + src + "\\A.TXT"}));
    eraseFile(src + "\\A.TXT", &cfg, 0);
    EXPECT_TRUE(exists(src + "\\A.TXT"));
    EXPECT_EQ(renameLines().back(), "NUL=" + src + "\\A.TXT");
}

// Without a deferral (a system family that has none) what would have to
// wait for the restart fails with Error 29 and changes nothing.
TEST_F(FileOps, RenameWithoutDeferralRaises29) {
    writeBytes(src + "\\A.TXT", "a");
    writeBytes(dst + "\\B.TXT", "b");
    // The backup rename of the existing destination fails.
    fault::failCall(fault::Call::MoveFileA, 1, ERROR_SHARING_VIOLATION);
    Error e = raised([&] { renameFile(src + "\\A.TXT", dst + "\\B.TXT", nullptr, 0, 1); });
    EXPECT_TRUE(fault::faultFired());
    fault::resetFaults();
    EXPECT_EQ(e.number, 29);
    EXPECT_EQ(e.message, dst + "\\B.TXT");
    EXPECT_TRUE(exists(src + "\\A.TXT"));
    e = raised([&] { renameFile(src + "\\A.TXT", dst + "\\B.TXT", nullptr, 0, 0); });
    EXPECT_EQ(e.number, 29);
    EXPECT_EQ(e.message, src + "\\A.TXT");
    EXPECT_EQ(readBytes(dst + "\\B.TXT"), "b");
}

// Only a file that is there waits for the restart: a missing source or a
// missing destination directory raises 26 and registers nothing, also once
// an earlier step is pending.
TEST_F(FileOps, RenameOfMissingSourceOrIntoMissingDirectoryRaises26) {
    for (int family : {1, 2}) {
        for (int pending : {0, 1}) {
            SCOPED_TRACE("family " + std::to_string(family) + " pending " + std::to_string(pending));
            SetUp();
            cfg.setOsFamily(family);
            cfg.setStepPending(pending);
            writeBytes(src + "\\A.TXT", "a");
            Error e = raised([&] { renameFile(src + "\\NOSUCH.TXT", dst + "\\NOSUCH.TXT", &cfg, 0, 1); });
            EXPECT_EQ(e.number, 26);
            EXPECT_EQ(e.message, src + "\\NOSUCH.TXT");
            e = raised([&] { renameFile(src + "\\A.TXT", dst + "\\NODIR\\A.TXT", &cfg, 1, 1); });
            EXPECT_EQ(e.number, 26);
            EXPECT_EQ(e.message, dst + "\\NODIR\\A.TXT");
            EXPECT_EQ(readBytes(src + "\\A.TXT"), "a");
            EXPECT_EQ(cfg.restartNeeded(), pending);
            EXPECT_FALSE(exists(win + "\\WININIT.INI"));
            EXPECT_TRUE(pendingMoves().empty());
        }
    }
}

// ---- eraseFile -----------------------------------------------------------------------

TEST_F(FileOps, EraseOfMissingFileDoesNothing) {
    eraseFile(dst + "\\NONE.TXT", &cfg, 1);
    eraseFile(dst + "\\NONE.TXT", nullptr, 0);
    EXPECT_EQ(cfg.restartNeeded(), 0);
    EXPECT_FALSE(exists(win + "\\WININIT.INI"));
    EXPECT_FALSE(exists(dst + "\\NONE.OLD"));
}

TEST_F(FileOps, EraseDeletesAtOnce) {
    writeBytes(dst + "\\A.TXT", "a");
    eraseFileIn(dst + "\\", "A.TXT", &cfg, 0);
    EXPECT_FALSE(exists(dst + "\\A.TXT"));
    EXPECT_EQ(cfg.restartNeeded(), 0);
}

// The backup rename moves the file away at once: the erase is then done,
// with nothing registered and no restart asked for.
TEST_F(FileOps, EraseWithBackupIsDoneOnceTheFileIsMovedAside) {
    writeBytes(dst + "\\A.TXT", "a");
    writeBytes(dst + "\\A.OLD", "older");
    eraseFile(dst + "\\A.TXT", &cfg, 1);
    EXPECT_FALSE(exists(dst + "\\A.TXT"));
    EXPECT_EQ(readBytes(dst + "\\A.OLD"), "a");
    EXPECT_EQ(cfg.restartNeeded(), 0);
    EXPECT_FALSE(exists(win + "\\WININIT.INI"));

    Cfg nt;
    nt.setOsFamily(2);
    writeBytes(dst + "\\B.TXT", "b");
    eraseFile(dst + "\\B.TXT", &nt, 1);
    EXPECT_FALSE(exists(dst + "\\B.TXT"));
    EXPECT_EQ(readBytes(dst + "\\B.OLD"), "b");
    EXPECT_EQ(nt.restartNeeded(), 0);
    EXPECT_TRUE(pendingMoves().empty());

    // Without a setup too.
    writeBytes(dst + "\\C.TXT", "c");
    eraseFileIn(dst, "C.TXT", nullptr, 1);
    EXPECT_FALSE(exists(dst + "\\C.TXT"));
    EXPECT_EQ(readBytes(dst + "\\C.OLD"), "c");

    // A file of the same name put there afterwards stays, whatever comes.
    writeBytes(dst + "\\A.TXT", "new");
    EXPECT_EQ(readBytes(dst + "\\A.TXT"), "new");
    EXPECT_FALSE(exists(win + "\\WININIT.INI"));
}

// When the backup rename itself has to wait, the deletion waits after it.
TEST_F(FileOps, EraseWithBackupRenameDeferredRegistersTheDeletionAfterIt) {
    writeBytes(dst + "\\A.TXT", "a");
    fault::failCall(fault::Call::MoveFileA, 1, ERROR_SHARING_VIOLATION);
    eraseFile(dst + "\\A.TXT", &cfg, 1);
    EXPECT_TRUE(fault::faultFired());
    fault::resetFaults();
    EXPECT_EQ(readBytes(dst + "\\A.TXT"), "a");
    EXPECT_EQ(cfg.restartNeeded(), 1);
    EXPECT_EQ(renameLines(), (std::vector<std::string>{dst + "\\A.OLD=" + dst + "\\A.TXT",
                                                        "NUL=" + dst + "\\A.TXT"}));

    Cfg nt;
    nt.setOsFamily(2);
    writeBytes(dst + "\\B.TXT", "b");
    fault::failCall(fault::Call::MoveFileA, 1, ERROR_SHARING_VIOLATION);
    eraseFile(dst + "\\B.TXT", &nt, 1);
    fault::resetFaults();
    EXPECT_EQ(nt.restartNeeded(), 1);
    EXPECT_EQ(readBytes(dst + "\\B.TXT"), "b");
    const auto moves = pendingMoves();
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(upper(moves[0].first), upper(dst + "\\B.TXT"));
    EXPECT_EQ(upper(moves[0].second), upper(dst + "\\B.OLD"));
    EXPECT_EQ(upper(moves[1].first), upper(dst + "\\B.TXT"));
    EXPECT_EQ(moves[1].second, "");
}

TEST_F(FileOps, EraseOfFileInUseIsDeferredOrRaises25) {
    cfg.setOsFamily(2);
    writeBytes(dst + "\\A.TXT", "a");
    fault::failCall(fault::Call::DeleteFileA, 1);
    Error e = raised([&] { eraseFile(dst + "\\A.TXT", nullptr, 0); }); // no deferral
    EXPECT_EQ(e.number, 29);
    EXPECT_EQ(e.message, dst + "\\A.TXT");
    fault::resetFaults();
    fault::failCall(fault::Call::DeleteFileA, 1);
    cfg.setDebug(1);
    StdoutCapture cap(root + "\\out.txt");
    eraseFile(dst + "\\A.TXT", &cfg, 0);
    EXPECT_EQ(cap.finish(), "\t\tLock Src  : " + dst + "\\A.TXT\r\n\t\tLock Dest : (null)\r\n");
    EXPECT_EQ(cfg.restartNeeded(), 1);
    const auto moves = pendingMoves();
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(upper(moves[0].first), upper(dst + "\\A.TXT"));
    EXPECT_EQ(moves[0].second, "");
}

// A deletion that fails because of the name is reported, not registered;
// a file gone meanwhile is simply erased.
TEST_F(FileOps, EraseFailingOnTheNameRaises25AndRegistersNothing) {
    writeBytes(dst + "\\A.TXT", "a");
    fault::failCall(fault::Call::DeleteFileA, 1, ERROR_INVALID_NAME);
    Error e = raised([&] { eraseFile(dst + "\\A.TXT", &cfg, 0); });
    EXPECT_TRUE(fault::faultFired());
    fault::resetFaults();
    EXPECT_EQ(e.number, 25);
    EXPECT_EQ(e.message, dst + "\\A.TXT");
    fault::failCall(fault::Call::DeleteFileA, 1, ERROR_FILE_NOT_FOUND);
    e = raised([&] { eraseFile(dst + "\\A.TXT", &cfg, 0); });
    EXPECT_TRUE(fault::faultFired());
    fault::resetFaults();
    EXPECT_EQ(e.number, -1);
    EXPECT_EQ(readBytes(dst + "\\A.TXT"), "a");
    EXPECT_EQ(cfg.restartNeeded(), 0);
    EXPECT_FALSE(exists(win + "\\WININIT.INI"));
}

// ---- deferMove on the Windows 95 family ---------------------------------------------------

TEST_F(FileOps, WininitLinesAreAddedOnceAndInOrder) {
    cfg.setDebug(1);
    StdoutCapture cap(root + "\\out.txt");
    deferMove("C:\\WINDOWS\\SYSTEM\\X.DRV", nullptr, &cfg);
    cfg.setDebug(0);
    deferMove("C:\\WINDOWS\\SYSTEM\\Y.DRV", nullptr, &cfg);
    deferMove("C:\\TMP\\TV0k.h40", "C:\\WINDOWS\\SYSTEM\\X.DRV", &cfg);
    deferMove("c:\\tmp\\tv0k.h40", "c:\\windows\\system\\x.drv", &cfg);
    EXPECT_EQ(cap.finish(), "\t\tLock Src  : C:\\WINDOWS\\SYSTEM\\X.DRV\r\n\t\tLock Dest : NUL\r\n");
    EXPECT_EQ(renameLines(), (std::vector<std::string>{"NUL=C:\\WINDOWS\\SYSTEM\\X.DRV", "NUL=C:\\WINDOWS\\SYSTEM\\Y.DRV",
                                                        "C:\\WINDOWS\\SYSTEM\\X.DRV=C:\\TMP\\TV0k.h40"}));
    // deferMove itself leaves the flag alone.
    EXPECT_EQ(cfg.restartNeeded(), 0);
}

TEST_F(FileOps, OverlongWininitLineIsRefusedRatherThanCut) {
    const std::string a = "C:\\" + std::string(130, 'a');
    const std::string b = "C:\\" + std::string(130, 'b');
    Error e = raised([&] { deferMove(a, b.c_str(), &cfg); });
    EXPECT_EQ(e.number, 29);
    EXPECT_EQ(e.message, a);
    EXPECT_TRUE(renameLines().empty());
}

// ---- temporary names -------------------------------------------------------------------

TEST_F(FileOps, TemporaryNamesFromTheProcessIdentifier) {
        EXPECT_EQ(makeTempNameFor(tmp, 4660), tmp + "\\TV0k.h40");
    EXPECT_EQ(makeTempNameFor(tmp + "\\", 4660), tmp + "\\TV0k.h40");
    writeBytes(tmp + "\\TV0k.h40", "");
    EXPECT_EQ(makeTempNameFor(tmp, 4660), tmp + "\\TVak.h40");
    CreateDirectoryA((tmp + "\\TVak.h40").c_str(), nullptr); // a directory takes the name too
    EXPECT_EQ(makeTempNameFor(tmp, 4660), tmp + "\\TVbk.h40");
    for (char c = 'b'; c <= 'z'; ++c) writeBytes(tmp + "\\TV" + c + "k.h40", "");
    EXPECT_EQ(makeTempNameFor(tmp, 4660), tmp + "\\MT0k.h40");
    writeBytes(tmp + "\\MT0k.h40", "");
    for (char c = 'a'; c <= 'y'; ++c) writeBytes(tmp + "\\MT" + c + "k.h40", "");
    EXPECT_EQ(makeTempNameFor(tmp, 4660), tmp + "\\MTzk.h40");
    writeBytes(tmp + "\\MTzk.h40", "");
    EXPECT_FALSE(makeTempNameFor(tmp, 4660).has_value());
    // Only the lowest 20 bits count; all digits up to "v".
    EXPECT_EQ(makeTempNameFor(tmp, 0xFFF00000u | 4660), std::nullopt);
    EXPECT_EQ(makeTempNameFor(tmp, 0xFFFFF), tmp + "\\TV0v.vvv");
    EXPECT_EQ(makeTempNameFor(tmp, 0), tmp + "\\TV00.000");
    // The real one uses this process.
    EXPECT_EQ(makeTempName(dst), makeTempNameFor(dst, GetCurrentProcessId()));
    EXPECT_EQ(makeTempName(dst), dst + "\\" + pidName("TV", '0', GetCurrentProcessId() & 0xFFFFF));
}

TEST_F(FileOps, BackupNameReplacesTheExtension) {
    using files::backupNameOf;
    EXPECT_EQ(backupNameOf("C:\\WINDOWS\\SYSTEM\\X.DLL"), "C:\\WINDOWS\\SYSTEM\\X.OLD");
    EXPECT_EQ(backupNameOf("C:\\A.B\\NOEXT"), "C:\\A.B\\NOEXT.OLD");
    const std::string longPath = "C:\\" + std::string(254, 'x') + ".Z";
    ASSERT_EQ(longPath.size(), 259u);
    const std::string b = backupNameOf(longPath);
    EXPECT_EQ(b, "C:\\" + std::string(254, 'x') + ".OLD");
    EXPECT_GT(b.size(), text::kPathMax);
}

} // namespace
