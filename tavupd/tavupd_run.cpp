// Follow-on programs (reboot and failed program) and the end of a run.
#include "tavupd.h"

#include "sys.h"

#include <cstdlib>
#include <vector>

namespace {

// Longest path a follow-on program may have; a longer one is not started
// rather than started under a cut (and so different) name.
constexpr size_t kPathMax = 259;

bool hasExtension(const std::string &name) {
    const size_t start = name.find_last_of("\\/:");
    const size_t dot = name.find_last_of('.');
    return dot != std::string::npos && (start == std::string::npos || dot > start);
}

bool endsWithIgnoringCase(const std::string &text, const char *tail) {
    const std::string t(tail);
    if (text.size() < t.size()) return false;
    for (size_t i = 0; i < t.size(); ++i) {
        char a = text[text.size() - t.size() + i];
        char b = t[i];
        if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
        if (a != b) return false;
    }
    return true;
}

bool isFile(const std::string &path) {
    const DWORD attributes = sys::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Value of an environment variable; empty when it is not set.
std::string environmentValue(const char *name) {
    std::vector<char> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD n = sys::GetEnvironmentVariableA(name, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::string();
        if (n < buffer.size()) return std::string(buffer.data(), n);
        buffer.resize(n + 1); // n is the size needed, terminator included
    }
    return std::string();
}

// One command-line argument: quoted when it holds blanks so that it stays
// one argument.
std::string commandArgument(const std::string &text) {
    if (text.find_first_of(" \t") == std::string::npos) return text;
    return "\"" + text + "\"";
}

} // namespace

void startFollowOnProgram(const ConfigData &config, const std::string &name) {
    startFollowOnProgramIn(config.programDirectory(), name);
}

std::vector<std::string> followOnCandidates(const std::string &directory, const std::string &name) {
    if (name.empty()) return {};
    std::string path = directory;
    if (path.empty() || path.back() != '\\') path += '\\';
    path += name;
    if (hasExtension(name)) return {path};
    return {path + ".EXE", path + ".BAT", path + ".CMD"};
}

void startFollowOnProgramIn(const std::string &directory, const std::string &name) {
    const std::vector<std::string> candidates = followOnCandidates(directory, name);
    if (candidates.empty()) return;

    std::string target;
    if (candidates.size() == 1) {
        target = candidates.front();
    } else {
        for (const std::string &candidate : candidates) {
            if (candidate.size() <= kPathMax && isFile(candidate)) {
                target = candidate;
                break;
            }
        }
        if (target.empty()) return;
    }
    if (target.size() > kPathMax) return;

    // The program's only argument is its own path; batch files go through
    // the command interpreter.
    std::string application;
    std::string commandLine;
    if (endsWithIgnoringCase(target, ".BAT") || endsWithIgnoringCase(target, ".CMD")) {
        application = environmentValue("COMSPEC");
        if (application.empty()) return;
        commandLine = commandArgument(application) + " /c " + commandArgument(target);
    } else {
        application = target;
        commandLine = commandArgument(target);
    }
    std::vector<char> commandBuffer(commandLine.begin(), commandLine.end());
    commandBuffer.push_back('\0');

    // What this program has printed comes before anything the new one prints.
    sys::fflush(stdout);
    sys::fflush(stderr);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!sys::CreateProcessA(application.c_str(), commandBuffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &startup, &process))
        return;
    {
        // Not waited for: the handles are only closed.
        sys::FileHandle thread(process.hThread);
        sys::FileHandle child(process.hProcess);
    }
    endRun(0);
}

void endRun(int status) { std::exit(status); }
