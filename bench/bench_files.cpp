// File benchmarks: the program's copy and tree walk against the bare Win32
// calls doing the same work, under the same Wine, in one run.
//
//  (a) files::copy of a 64 MiB file to a new destination, against CopyFileA;
//  (b) a FINDFILE line over a tree of 20,000 directories with a copy of
//      the file in 1 of every 100 (each one older, replaced with a backup),
//      against a FindFirstFileA/FindNextFileA walk doing the same existence
//      tests, backup renames and copies (MoveFileA, CopyFileA).
//
// Each side runs several times, alternating; the best time counts.
// Usage: wine bench_files.exe [work directory, default C:\BENCH]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/nls.h"
#include "engine/executor.h"
#include "files/files.h"
#include "platform/win32.h"

namespace {

const int kRounds = 5;
const size_t kBigSize = 64u << 20;
const int kTop = 20, kMid = 20, kLeaf = 50; // 20 * 20 * 50 = 20,000 leaf directories
const int kCopyEvery = 100;
const char *const kName = "TVBENCH.DLL";

double now() {
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

[[noreturn]] void fail(const std::string &what) {
    std::fprintf(stderr, "bench_files: %s (error %lu)\n", what.c_str(), GetLastError());
    std::exit(2);
}

void removeTree(const std::string &dir) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            const std::string p = dir + "\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(p);
            } else {
                SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(p.c_str());
            }
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

void makeDir(const std::string &dir) {
    if (!CreateDirectoryA(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) fail("mkdir " + dir);
}

void writeFile(const std::string &path, const std::string &bytes) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) fail("create " + path);
    DWORD put = 0;
    if (!bytes.empty() && (!WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) ||
                           put != bytes.size()))
        fail("write " + path);
    CloseHandle(h);
}

void setDosTime(const std::string &path, WORD date, WORD time) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) fail("open " + path);
    FILETIME local, utc;
    DosDateTimeToFileTime(date, time, &local);
    LocalFileTimeToFileTime(&local, &utc);
    SetFileTime(h, nullptr, nullptr, &utc);
    CloseHandle(h);
}

std::string readFile(const std::string &path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::string();
    std::string out;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
    CloseHandle(h);
    return out;
}

bool sameContent(const std::string &a, const std::string &b) {
    HANDLE ha = CreateFileA(a.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE hb = CreateFileA(b.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    bool same = ha != INVALID_HANDLE_VALUE && hb != INVALID_HANDLE_VALUE;
    std::vector<char> x(1 << 20), y(1 << 20);
    while (same) {
        DWORD gx = 0, gy = 0;
        if (!ReadFile(ha, x.data(), static_cast<DWORD>(x.size()), &gx, nullptr) ||
            !ReadFile(hb, y.data(), static_cast<DWORD>(y.size()), &gy, nullptr) || gx != gy) {
            same = false;
            break;
        }
        if (gx == 0) break;
        same = std::equal(x.begin(), x.begin() + gx, y.begin());
    }
    if (ha != INVALID_HANDLE_VALUE) CloseHandle(ha);
    if (hb != INVALID_HANDLE_VALUE) CloseHandle(hb);
    return same;
}

std::string leafDir(const std::string &root, int top, int mid, int leaf) {
    return root + "\\T" + std::to_string(top) + "\\M" + std::to_string(mid) + "\\L" + std::to_string(leaf);
}

// The leaf directories that hold a copy of the file.
std::vector<std::string> copyDirs(const std::string &root) {
    std::vector<std::string> dirs;
    int n = 0;
    for (int t = 0; t < kTop; ++t)
        for (int m = 0; m < kMid; ++m)
            for (int l = 0; l < kLeaf; ++l, ++n)
                if (n % kCopyEvery == kCopyEvery / 2) dirs.push_back(leafDir(root, t, m, l));
    return dirs;
}

// Puts an older copy (and no backup) in every copy directory again.
void resetCopies(const std::vector<std::string> &dirs) {
    for (const std::string &d : dirs) {
        DeleteFileA((d + "\\TVBENCH.OLD").c_str());
        writeFile(d + "\\" + kName, "an older copy of the file");
        setDosTime(d + "\\" + kName, 0x2A21 /* 2001-01-01 */, 0);
    }
}

// Every copy directory holds the new file and the older copy as backup.
bool copiesReplaced(const std::vector<std::string> &dirs, const std::string &newContent) {
    for (const std::string &d : dirs) {
        if (readFile(d + "\\" + kName) != newContent) return false;
        if (readFile(d + "\\TVBENCH.OLD") != "an older copy of the file") return false;
    }
    return true;
}

// The bare walk: the existence test of each directory's copy, then its
// subdirectories depth first; a copy found is moved to its backup name and
// the new file copied in.
void bareWalk(const std::string &dir, const std::string &source, long &copies) {
    const std::string candidate = dir + "\\" + kName;
    if (GetFileAttributesA(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) {
        const std::string backup = dir + "\\TVBENCH.OLD";
        MoveFileA(candidate.c_str(), backup.c_str());
        if (!CopyFileA(source.c_str(), candidate.c_str(), FALSE)) fail("CopyFileA " + candidate);
        ++copies;
    }
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*.*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        if (fd.cFileName[0] == '.') continue;
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        bareWalk(dir + "\\" + fd.cFileName, source, copies);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

void report(const char *what, double program, double bare) {
    std::printf("%-34s program %8.3f s   bare %8.3f s   ratio %5.2f\n", what, program, bare, program / bare);
}

} // namespace

int main(int argc, char **argv) {
    const std::string root = argc > 1 ? argv[1] : "C:\\BENCH";
    removeTree(root);
    makeDir(root);
    const std::string srcDir = root + "\\SRC";
    const std::string product = root + "\\PROD";
    const std::string tree = root + "\\TREE";
    for (const std::string &d : {srcDir, product, product + "\\ARCHIVE", product + "\\ARCHIVE\\TEMP", tree,
                                 root + "\\OUT", root + "\\WIN"})
        makeDir(d);

    platform::Win32Platform os(platform::realWin32Calls());
    platform::Install install(os);
    files::Setup setup;
    setup.deferral = files::Deferral::Wininit;
    setup.windowsDirectory = root + "\\WIN";
    setup.tempDirectory = product + "\\ARCHIVE\\TEMP";

    // (a) one big copy.
    {
        std::string big(kBigSize, '\0');
        unsigned x = 12345;
        for (char &c : big) {
            x = x * 1103515245u + 12345u;
            c = static_cast<char>(x >> 24);
        }
        writeFile(srcDir + "\\BIG.BIN", big);
    }
    const std::string bigSource = srcDir + "\\BIG.BIN";
    const std::string bigProgram = root + "\\OUT\\BIG1.BIN";
    const std::string bigBare = root + "\\OUT\\BIG2.BIN";
    double bestProgram = 1e9, bestBare = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        DeleteFileA(bigBare.c_str());
        double t = now();
        if (!CopyFileA(bigSource.c_str(), bigBare.c_str(), FALSE)) fail("CopyFileA big");
        bestBare = std::min(bestBare, now() - t);

        DeleteFileA(bigProgram.c_str());
        t = now();
        const files::Result result = files::copy(setup, bigSource, bigProgram, 0, 1);
        bestProgram = std::min(bestProgram, now() - t);
        if (result.copied != files::Created) fail("files::copy gave " + std::to_string(result.copied));
        if (result.deferred) fail("the big copy waits for the restart");
    }
    if (!sameContent(bigSource, bigProgram)) fail("the big copy differs");
    std::printf("copy of a %u MiB file, best of %d:\n", static_cast<unsigned>(kBigSize >> 20), kRounds);
    report("  files::copy vs CopyFileA", bestProgram, bestBare);
    DeleteFileA(bigProgram.c_str());
    DeleteFileA(bigBare.c_str());
    DeleteFileA(bigSource.c_str());

    // (b) the tree walk.
    const double buildStart = now();
    for (int t = 0; t < kTop; ++t) {
        makeDir(tree + "\\T" + std::to_string(t));
        for (int m = 0; m < kMid; ++m) {
            makeDir(tree + "\\T" + std::to_string(t) + "\\M" + std::to_string(m));
            for (int l = 0; l < kLeaf; ++l) makeDir(leafDir(tree, t, m, l));
        }
    }
    const std::vector<std::string> dirs = copyDirs(tree);
    const std::string newContent(20000, 'n');
    writeFile(srcDir + "\\" + kName, newContent);
    std::printf("tree of %d directories (%d holding a copy) built in %.1f s\n", kTop * kMid * kLeaf + kTop * kMid + kTop,
                static_cast<int>(dirs.size()), now() - buildStart);

    const std::string catalogPath = root + "\\BENCH.MSG";
    std::string catalog;
    for (int i = 1; i <= 36; ++i) catalog += "message " + std::to_string(i) + "\r\n";
    writeFile(catalogPath, catalog);
    NLSClass messages(catalogPath);
    if (messages.load() != 1) fail("language file");
    // The tree lies below the product directory as TREE.
    engine::Machine machine;
    machine.programDirectory = srcDir + "\\";
    machine.productDirectory = root;
    machine.windowsDirectory = root + "\\WIN";
    machine.osFamily = 1;
    machine.osVersion = 7;
    engine::Options options;
    engine::Reporter reporter(messages.catalog(), messages, false);
    engine::Context context(machine, options, reporter, change::noChanges());
    const patch::Model model = patch::parse(std::string("[B]\r\nFINDFILE1=TAVRO,") + kName + ",TREE,0,1,0\r\n");
    engine::Executor executor(context, model);
    const patch::ActionLine &walk = model.sections.front().lines.front();

    bestProgram = 1e9;
    bestBare = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        resetCopies(dirs);
        long copies = 0;
        double t = now();
        bareWalk(tree, srcDir + "\\" + kName, copies);
        const double bareTime = now() - t;
        bestBare = std::min(bestBare, bareTime);
        if (std::getenv("BENCH_VERBOSE")) std::printf("  round %d: bare %.3f s\n", round + 1, bareTime);
        if (copies != static_cast<long>(dirs.size()) || !copiesReplaced(dirs, newContent)) fail("bare walk");

        resetCopies(dirs);
        t = now();
        const engine::Outcome outcome = executor.runLine(walk);
        const double programTime = now() - t;
        bestProgram = std::min(bestProgram, programTime);
        if (!copiesReplaced(dirs, newContent) || outcome.status != engine::Outcome::Status::Done)
            fail("FINDFILE walk");
        if (std::getenv("BENCH_VERBOSE")) std::printf("  round %d: program %.3f s\n", round + 1, programTime);
    }
    std::printf("FINDFILE walk, best of %d:\n", kRounds);
    report("  FINDFILE vs bare walk", bestProgram, bestBare);

    removeTree(root);
    return 0;
}
