#include "app/check_switch.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "check/checker.h"
#include "platform/platform.h"
#include "text/error.h"
#include "text/paths.h"
#include "text/textkit.h"

namespace {

// The letter of a switch argument (its second character), or 0.
char switchLetter(const char *arg) { return arg && arg[0] != '\0' ? text::lower(arg[1]) : '\0'; }

// The profile -p names, as given; nothing when there is no -p.
std::optional<std::string> profileSwitch(int argc, char **argv) {
    std::optional<std::string> path;
    for (int i = 1; i < argc; ++i) {
        if (switchLetter(argv[i]) != 'p') continue;
        if (std::strlen(argv[i]) > 2)
            path = std::string(argv[i] + 2);
        else if (i + 1 < argc && argv[i + 1])
            path = std::string(argv[++i]);
    }
    return path;
}

std::optional<std::string> readWhole(const std::string &path) {
    platform::Result<std::string> bytes = platform::current().readAll(path);
    if (!bytes.ok()) return std::nullopt;
    return std::move(bytes.value);
}

class DirectoryKit : public check::KitView {
  public:
    explicit DirectoryKit(std::string directory) : directory_(std::move(directory)) {}

    std::vector<std::string> fileNames() const override {
        std::vector<std::string> names;
        const auto entries = platform::current().list(directory_);
        if (!entries.ok()) return names;
        for (const platform::DirEntry &entry : entries.value)
            if (!entry.directory) names.push_back(entry.name);
        return names;
    }

  private:
    std::string directory_;
};

} // namespace

namespace {

bool switchGiven(int argc, char **argv, char wanted) {
    for (int i = 1; i < argc; ++i) {
        const char letter = switchLetter(argv[i]);
        if (letter == wanted) return true;
        if (letter == 'p' && std::strlen(argv[i]) == 2) ++i; // the path is no switch
    }
    return false;
}

} // namespace

bool checkSwitchGiven(int argc, char **argv) { return switchGiven(argc, argv, 'c'); }

bool previewSwitchGiven(int argc, char **argv) { return switchGiven(argc, argv, 'n'); }

namespace {

int printReport(int argc, char **argv, const std::string &programDirectory, const std::string &defaultProfile) {
    const std::optional<std::string> given = profileSwitch(argc, argv);
    const std::string path = given ? *given : defaultProfile;
    // The default profile is shown by its name: it lies beside the program.
    const std::string shown = given ? *given : text::fileNameOf(defaultProfile);

    const std::optional<std::string> bytes = readWhole(path);
    const patch::Model model = patch::parse(bytes ? *bytes : std::string());
    const check::Report report =
        bytes ? check::checkProfile(model, DirectoryKit(programDirectory)) : check::unreadableProfile();
    const std::string out = check::formatReport(report, model, shown);
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
    return report.status();
}

} // namespace

int runProfileCheck(int argc, char **argv, const std::string &programDirectory, const std::string &defaultProfile) {
    // The check runs outside the driver's protected run: memory running out
    // while the profile is read is reported here the same way.
    return withCriticalReport([&] { return printReport(argc, argv, programDirectory, defaultProfile); }, __LINE__);
}
