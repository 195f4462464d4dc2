// Follow-on programs: the reboot program and the failed program.
#include <cstdio>

#include "app/run.h"
#include "platform/platform.h"
#include "text/textkit.h"

namespace app {
namespace {

bool hasExtension(const std::string &name) {
    const size_t start = name.find_last_of("\\/:");
    const size_t dot = name.find_last_of('.');
    return dot != std::string::npos && (start == std::string::npos || dot > start);
}

bool endsWithNoCase(const std::string &name, const std::string &tail) {
    return name.size() >= tail.size() && text::equalsNoCase(std::string_view(name).substr(name.size() - tail.size()), tail);
}

bool isFile(const std::string &path) {
    const platform::Attributes a = platform::current().attributes(path);
    return a.exists() && !a.directory;
}

// One command-line argument: quoted when it holds blanks so that it stays
// one argument.
std::string commandArgument(const std::string &argument) {
    if (argument.find_first_of(" \t") == std::string::npos) return argument;
    return "\"" + argument + "\"";
}

// The program to start among the candidates: a name with an extension as
// it is, else the first that is a file. Empty when there is none; a path
// longer than a path may be is not started rather than started under a cut
// (and so different) name.
std::string chooseProgram(const std::vector<std::string> &candidates) {
    if (candidates.size() == 1) return candidates.front().size() <= text::kPathMax ? candidates.front() : std::string();
    for (const std::string &candidate : candidates)
        if (candidate.size() <= text::kPathMax && isFile(candidate)) return candidate;
    return std::string();
}

} // namespace

std::vector<std::string> followOnCandidates(const std::string &directory, const std::string &name) {
    if (name.empty()) return {};
    const std::string path = text::joinPath(directory, name);
    if (hasExtension(name)) return {path};
    return {path + ".EXE", path + ".BAT", path + ".CMD"};
}

bool startFollowOnProgram(const std::string &directory, const std::string &name) {
    const std::string target = chooseProgram(followOnCandidates(directory, name));
    if (target.empty()) return false;

    // The program's only argument is its own path; batch files go through
    // the command interpreter.
    std::string application;
    std::string commandLine;
    if (endsWithNoCase(target, ".BAT") || endsWithNoCase(target, ".CMD")) {
        application = platform::current().environment("COMSPEC").value_or(std::string());
        if (application.empty()) return false;
        commandLine = commandArgument(application) + " /c " + commandArgument(target);
    } else {
        application = target;
        commandLine = commandArgument(target);
    }
    // What this program has printed comes before anything the new one prints.
    std::fflush(stdout);
    std::fflush(stderr);
    return platform::current().startProcess(application, commandLine);
}

} // namespace app
