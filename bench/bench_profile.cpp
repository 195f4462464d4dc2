// Reads and writes of one INI file through Profile, against the bare
// GetPrivateProfileStringA / WritePrivateProfileStringA doing the same work
// on a copy with the same content, under the same Wine and in one run.
//
//   wine build/<dir>/bench/bench_profile.exe [directory]
//
// Prints the time of each side, and Profile's time divided by the bare time.
#include "tvpprof.h"

#include <windows.h>

#include <cstdio>
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

int countLines(const std::string &path) {
    FILE *f = std::fopen(path.c_str(), "rt");
    if (!f) return -1;
    int lines = 0;
    int c;
    while ((c = std::fgetc(f)) != EOF)
        if (c == '\n') ++lines;
    std::fclose(f);
    return lines;
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

} // namespace

int main(int argc, char **argv) {
    std::string dir = argc > 1 ? argv[1] : "C:\\BENCHPRF";
    ::CreateDirectoryA(dir.c_str(), nullptr);
    const std::string ownFile = dir + "\\OWN.INI";
    const std::string bareFile = dir + "\\BARE.INI";

    std::vector<Key> keys;
    const std::string content = makeContent(keys);
    if (!writeFile(ownFile, content) || !writeFile(bareFile, content)) {
        std::fprintf(stderr, "cannot write the files in %s\n", dir.c_str());
        return 1;
    }
    std::printf("file: %d lines, %u bytes; %d calls of each kind\n", countLines(ownFile),
                static_cast<unsigned>(content.size()), kCalls);

    size_t mismatches = 0;
    double ownGet = 0, ownSet = 0, bareGet = 0, bareSet = 0;
    {
        Profile profile(ownFile, Profile::FileMode);
        double start = now();
        for (int i = 0; i < kCalls; ++i) {
            const Key &k = pick(keys, i);
            std::string v = profile.getString(k.section.c_str(), k.key.c_str(), "");
            if (v.empty()) ++mismatches;
        }
        ownGet = now() - start;
        start = now();
        for (int i = 0; i < kCalls; ++i) {
            const Key &k = pick(keys, i);
            profile.setValue(k.section.c_str(), k.key.c_str(), valueFor(i).c_str());
        }
        ownSet = now() - start;
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
        bareGet = now() - start;
        start = now();
        for (int i = 0; i < kCalls; ++i) {
            const Key &k = pick(keys, i);
            ::WritePrivateProfileStringA(k.section.c_str(), k.key.c_str(), valueFor(i).c_str(), bareFile.c_str());
        }
        bareSet = now() - start;
    }

    // Both sides must have done the same work: every key found, and the
    // same final value of every key in both files.
    {
        Profile check(ownFile, Profile::FileMode);
        char buffer[256];
        for (const Key &k : keys) {
            ::GetPrivateProfileStringA(k.section.c_str(), k.key.c_str(), "", buffer, sizeof buffer, bareFile.c_str());
            if (check.getString(k.section.c_str(), k.key.c_str(), "") != buffer) ++mismatches;
        }
    }
    if (mismatches != 0) {
        std::fprintf(stderr, "the two sides disagree on %u values\n", static_cast<unsigned>(mismatches));
        return 1;
    }

    std::printf("getString: Profile %.3f s, bare %.3f s, ratio %.2f\n", ownGet, bareGet, ownGet / bareGet);
    std::printf("setValue:  Profile %.3f s, bare %.3f s, ratio %.2f\n", ownSet, bareSet, ownSet / bareSet);
    ::DeleteFileA(ownFile.c_str());
    ::DeleteFileA(bareFile.c_str());
    ::RemoveDirectoryA(dir.c_str());
    return 0;
}
