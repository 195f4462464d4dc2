// tavupd-check [PROFILE]: checks an installation profile and the kit
// directory beside it on the build machine, without Windows. The profile
// is TAVUPD.DAT in the current directory unless one is given; the kit
// directory is the profile's directory. Prints the same report as
// TAVUPD.EXE -c and ends with status 0 (no error), 1 (errors) or 2 (usage).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <system_error>

#include "check/checker.h"
#include "tavupd_error.h"

namespace {

namespace fs = std::filesystem;

class DirectoryKit : public check::KitView {
  public:
    explicit DirectoryKit(fs::path directory) : directory_(std::move(directory)) {}

    std::vector<std::string> fileNames() const override {
        std::vector<std::string> names;
        std::error_code ec;
        for (fs::directory_iterator it(directory_, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code typeError;
            if (!it->is_directory(typeError)) names.push_back(it->path().filename().string());
        }
        return names;
    }

  private:
    fs::path directory_;
};

std::optional<std::string> readWhole(const fs::path &path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

} // namespace

int main(int argc, char **argv) {
    if (argc > 2) {
        std::fputs("usage: tavupd-check [PROFILE]\n", stderr);
        return 2;
    }
    const std::string name = argc == 2 ? argv[1] : "TAVUPD.DAT";
    const fs::path profile(name);
    fs::path kitDirectory = profile.parent_path();
    if (kitDirectory.empty()) kitDirectory = ".";

    try {
        const std::optional<std::string> bytes = readWhole(profile);
        const patch::Model model = patch::parse(bytes ? *bytes : std::string());
        const check::Report report =
            bytes ? check::checkProfile(model, DirectoryKit(kitDirectory)) : check::unreadableProfile();
        const std::string out = check::formatReport(report, model, name);
        std::fwrite(out.data(), 1, out.size(), stdout);
        return report.status();
    } catch (const Error &) {
        // The INI line reader reports memory running out this way.
    } catch (const std::bad_alloc &) {
    }
    std::fputs("tavupd-check: out of memory\n", stderr);
    return 1;
}
