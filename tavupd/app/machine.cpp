// The machine a run starts from: the system and product TAVRO.INI and the
// system version.
#include "app/run.h"

#include <new>
#include <utility>

#include "platform/platform.h"
#include "text/error.h"
#include "text/textkit.h"

namespace app {
namespace {

const char *const kSettingsName = "TAVRO.INI";

std::string cut(const std::string &text) { return text.substr(0, text::kPathMax); }

constexpr unsigned long kPlatformWin32s = 0;  // VER_PLATFORM_WIN32s
constexpr unsigned long kPlatformWindows = 1; // VER_PLATFORM_WIN32_WINDOWS
constexpr unsigned long kPlatformNT = 2;      // VER_PLATFORM_WIN32_NT

} // namespace

int osVersionFor(unsigned long platform, unsigned long major, unsigned long minor) {
    switch (platform) {
    case kPlatformNT:
        if (major == 3 && minor == 51) return engine::OsNT351;
        if (major == 4) return engine::OsNT4;
        if (major == 5) return engine::OsNT5;
        return engine::OsOther;
    case kPlatformWin32s:
        return engine::OsWin32s;
    case kPlatformWindows:
        if (major == 4 && minor == 0) return engine::OsWin95;
        if (major == 4 && minor == 10) return engine::OsWin98;
        return engine::OsOther;
    default:
        return engine::OsOther;
    }
}

int osFamilyFor(unsigned long platform) {
    switch (platform) {
    case kPlatformNT: return engine::FamilyNT;
    case kPlatformWindows: return engine::FamilyWin95;
    case kPlatformWin32s: return engine::OsWin32s;
    default: return 0;
    }
}

OsCodes detectOs() {
    const platform::VersionInfo v = platform::current().version();
    // Without an answer nothing is known about the system: "other", not the
    // Win32s code that an all-zero answer would read as.
    if (!v.known) return OsCodes{engine::OsOther, 0};
    return OsCodes{osVersionFor(v.platformId, v.major, v.minor), osFamilyFor(v.platformId)};
}

std::unique_ptr<RunConfig> loadRunConfig(const std::string &windowsDirectory, change::ChangeSink &changes) {
    std::unique_ptr<RunConfig> config;
    try {
        config = std::make_unique<RunConfig>();
        const std::string keyPath = std::string(engine::kProductRegistryPrefix) + kSettingsName;
        // The registry form wins when its key exists; it is only probed here.
        const bool inRegistry =
            platform::current().regOpenable(platform::Root::LocalMachine, keyPath, false) == platform::kOk;
        if (inRegistry)
            config->systemIni = std::make_unique<RegistryMirror>(keyPath, changes);
        else
            config->systemIni = std::make_unique<IniFile>(text::joinPath(windowsDirectory, kSettingsName), changes);

        const OsCodes os = detectOs();
        config->machine.osVersion = os.version;
        config->machine.osFamily = os.family;
        Profile &settings = *config->systemIni;
        config->machine.productDirectory = cut(settings.getString("Tavro", "root", ""));
        config->machine.windowsDirectory = cut(windowsDirectory);
        config->options.interactive = settings.getInt("Patch", "Interactive", 1);
        config->productIni =
            std::make_unique<IniFile>(text::joinPath(config->machine.productDirectory, kSettingsName), changes);
    } catch (const std::bad_alloc &) {
        throw Error(1, static_cast<int>(sizeof(RunConfig)), "tavupd", __LINE__);
    }
    return config;
}

} // namespace app
