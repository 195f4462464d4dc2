// Reads and writes of one INI file through Profile, against the bare
// GetPrivateProfileStringA / WritePrivateProfileStringA doing the same work
// on a copy with the same content, under the same Wine and in one run.
//
//   wine build/<dir>/bench/bench_profile.exe [directory [rounds]]
//
// Prints, for each round, the time of each side and Profile's time divided
// by the bare time, then the median ratios.
#include "platform/win32.h"
#include "profile/profile.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kSections = 25;
constexpr int kKeysPerSection = 18;
constexpr int kCalls = 1000;

struct Key {
    std::string section;
    std::string key;
};

// 25 sections of a header, 18 keys and an empty line: 500 lines.
std::string makeContent(std::vector<Key> &keys) {
    std::string text;
    for (int s = 0; s < kSections; ++s) {
        std::string section = "Section" + std::to_string(s);
        text += "[" + section + "]\r\n";
        for (int k = 0; k < kKeysPerSection; ++k) {
            std::string key = "Key" + std::to_string(k);
            text += key + "=value of " + section + "." + key + " with some text\r\n";
            keys.push_back({section, key});
        }
        text += "\r\n";
    }
    return text;
}

bool writeFile(const std::string &path, const std::string &bytes) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD done = 0;
    BOOL ok = ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
    ::CloseHandle(h);
    return ok && done == bytes.size();
}

double now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The i-th call's key, spread over the whole file.
const Key &pick(const std::vector<Key> &keys, int i) { return keys[(static_cast<size_t>(i) * 37u) % keys.size()]; }

std::string valueFor(int i) { return "new value " + std::to_string(i); }

struct Times {
    double ownGet = 0, ownSet = 0, bareGet = 0, bareSet = 0;
};

// One round: fresh files, 1,000 reads and 1,000 writes on each side. False
// when the two sides did not do the same work.
bool measure(const std::string &dir, Times &t) {
    const std::string ownFile = dir + "\\OWN.INI";
    const std::string bareFile = dir + "\\BARE.INI";
    std::vector<Key> keys;
    const std::string content = makeContent(keys);
    if (!writeFile(ownFile, content) || !writeFile(bareFile, content)) {
        std::fprintf(stderr, "cannot write the files in %s\n", dir.c_str());
        return false;
    }
    size_t mismatches = 0;
    {
        IniFile profile(ownFile);
        double start = now();
        for (int i = 0; i < kCalls; ++i) {
            const Key &k = pick(keys, i);
            std::string v = profile.getString(k.section, k.key, "");
            if (v.empty()) ++mismatches;
        }
        t.ownGet = now() - start;
        start = now();
        for (int i = 0; i < kCalls; ++i) {
            const Key &k = pick(keys, i);
            profile.set(k.section, k.key, valueFor(i));
        }
        t.ownSet = now() - start;
    }
    {
        char buffer[256];
        double start = now();
        for (int i = 0; i < kCalls; ++i) {
            const Key &k = pick(keys, i);
            DWORD n = ::GetPrivateProfileStringA(k.section.c_str(), k.key.c_str(), "", buffer, sizeof buffer,
                                                 bareFile.c_str());
            if (n == 0) ++mismatches;
        }
        t.bareGet = now() - start;
        start = now();
        for (int i = 0; i < kCalls; ++i) {
            const Key &k = pick(keys, i);
            ::WritePrivateProfileStringA(k.section.c_str(), k.key.c_str(), valueFor(i).c_str(), bareFile.c_str());
        }
        t.bareSet = now() - start;
    }
    // Both sides must have done the same work: every key found, and the
    // same final value of every key in both files.
    {
        IniFile check(ownFile);
        char buffer[256];
        for (const Key &k : keys) {
            ::GetPrivateProfileStringA(k.section.c_str(), k.key.c_str(), "", buffer, sizeof buffer, bareFile.c_str());
            if (check.getString(k.section, k.key, "") != buffer) ++mismatches;
        }
    }
    ::DeleteFileA(ownFile.c_str());
    ::DeleteFileA(bareFile.c_str());
    if (mismatches != 0) {
        std::fprintf(stderr, "the two sides disagree on %u values\n", static_cast<unsigned>(mismatches));
        return false;
    }
    return true;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
    platform::Win32Platform os(platform::realWin32Calls());
    platform::Install install(os);
    std::string dir = argc > 1 ? argv[1] : "C:\\BENCHPRF";
    int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (rounds < 1) rounds = 1;
    ::CreateDirectoryA(dir.c_str(), nullptr);
    {
        std::vector<Key> keys;
        std::string content = makeContent(keys);
        std::printf("file: %d lines, %u bytes; %d calls of each kind per round\n",
                    static_cast<int>(std::count(content.begin(), content.end(), '\n')),
                    static_cast<unsigned>(content.size()), kCalls);
    }
    std::vector<double> getRatios, setRatios;
    for (int round = 1; round <= rounds; ++round) {
        Times t;
        if (!measure(dir, t)) return 1;
        getRatios.push_back(t.ownGet / t.bareGet);
        setRatios.push_back(t.ownSet / t.bareSet);
        std::printf("round %d getString: Profile %.3f s, bare %.3f s, ratio %.2f\n", round, t.ownGet, t.bareGet,
                    getRatios.back());
        std::printf("round %d setValue:  Profile %.3f s, bare %.3f s, ratio %.2f\n", round, t.ownSet, t.bareSet,
                    setRatios.back());
    }
    std::printf("median ratio getString %.2f, setValue %.2f (target: at most 1.50)\n", median(getRatios),
                median(setRatios));
    ::RemoveDirectoryA(dir.c_str());
    return 0;
}
