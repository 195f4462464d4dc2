#include "app/check_switch.h"

#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "check/checker.h"
#include "paths.h"
#include "sys.h"
#include "tavupd_error.h"

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The letter of a switch argument (its second character), or 0.
char switchLetter(const char *arg) { return arg && arg[0] != '\0' ? lower(arg[1]) : '\0'; }

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
    sys::FileHandle file(sys::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    std::string bytes;
    char buffer[16384];
    for (;;) {
        DWORD got = 0;
        if (!sys::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return std::nullopt;
        if (got == 0) break;
        bytes.append(buffer, got);
    }
    return bytes;
}

class DirectoryKit : public check::KitView {
  public:
    explicit DirectoryKit(std::string directory) : directory_(std::move(directory)) {}

    std::vector<std::string> fileNames() const override {
        std::vector<std::string> names;
        WIN32_FIND_DATAA data{};
        sys::FindHandle find(sys::FindFirstFileA(joinPath(directory_, "*.*").c_str(), &data));
        if (!find.valid()) return names;
        do {
            data.cFileName[sizeof data.cFileName - 1] = '\0';
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(data.cFileName);
        } while (sys::FindNextFileA(find.get(), &data));
        return names;
    }

  private:
    std::string directory_;
};

} // namespace

bool checkSwitchGiven(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const char letter = switchLetter(argv[i]);
        if (letter == 'c') return true;
        if (letter == 'p' && std::strlen(argv[i]) == 2) ++i; // the path is no switch
    }
    return false;
}

namespace {

int printReport(int argc, char **argv, const std::string &programDirectory, const std::string &defaultProfile) {
    const std::optional<std::string> given = profileSwitch(argc, argv);
    std::string shown = defaultProfile;
    const std::string path = given ? *given : defaultProfile;
    // The default profile is shown by its name: it lies beside the program.
    if (!given) pathFileName(shown);
    else shown = *given;

    const std::optional<std::string> bytes = readWhole(path);
    const patch::Model model = patch::parse(bytes ? *bytes : std::string());
    const check::Report report =
        bytes ? check::checkProfile(model, DirectoryKit(programDirectory)) : check::unreadableProfile();
    const std::string out = check::formatReport(report, model, shown);
    sys::fputs(out.c_str(), stdout);
    sys::fflush(stdout);
    return report.status();
}

} // namespace

int runProfileCheck(int argc, char **argv, const std::string &programDirectory, const std::string &defaultProfile) {
    // The check runs outside the driver's protected run: memory running out
    // while the profile is read is reported here the same way.
    try {
        return printReport(argc, argv, programDirectory, defaultProfile);
    } catch (const Error &error) {
        reportCriticalError(error);
    } catch (const std::bad_alloc &) {
        reportCriticalError(Error(1, 0, "tavupd", __LINE__));
    }
    return 1;
}
