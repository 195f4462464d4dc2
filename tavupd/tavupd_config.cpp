// The run context: ConfigData, locating the product's TAVRO.INI and
// detecting the system version.
#include "tavupd.h"

#include "sys.h"
#include "tavupd_error.h"
#include "tvpprof.h"

#include <new>
#include <utility>

namespace {

// Text fields hold at most ConfigData::kTextMax characters.
std::string cut(const std::string &text) { return text.substr(0, ConfigData::kTextMax); }

// `directory`, a backslash unless it already ends in one, and `name`.
std::string inDirectory(const std::string &directory, const char *name) {
    std::string path = directory;
    if (path.empty() || path.back() != '\\') path += '\\';
    return path + name;
}

const char *const kSettingsName = "TAVRO.INI";

} // namespace

ConfigData::ConfigData() = default;

// Members go in reverse order of declaration: the system TAVRO.INI first,
// then the product's, as the run releases them.
ConfigData::~ConfigData() = default;

void ConfigData::setSystemIni(std::unique_ptr<Profile> p) { systemIni_ = std::move(p); }
void ConfigData::setProductIni(std::unique_ptr<Profile> p) { productIni_ = std::move(p); }
void ConfigData::releaseSystemIni() { systemIni_.reset(); }
void ConfigData::releaseProductIni() { productIni_.reset(); }

void ConfigData::setProgramDirectory(const std::string &s) { programDirectory_ = cut(s); }
void ConfigData::setProductDirectory(const std::string &s) { productDirectory_ = cut(s); }
void ConfigData::setWindowsDirectory(const std::string &s) { windowsDirectory_ = cut(s); }
void ConfigData::setRebootProgram(const std::string &s) { rebootProgram_ = cut(s); }
void ConfigData::setFailedProgram(const std::string &s) { failedProgram_ = cut(s); }

int osVersionFor(unsigned long platform, unsigned long major, unsigned long minor) {
    switch (platform) {
    case VER_PLATFORM_WIN32_NT:
        if (major == 3 && minor == 51) return OsNT351;
        if (major == 4) return OsNT4;
        if (major == 5) return OsNT5;
        return OsOther;
    case VER_PLATFORM_WIN32s:
        return OsWin32s;
    case VER_PLATFORM_WIN32_WINDOWS:
        if (major == 4 && minor == 0) return OsWin95;
        if (major == 4 && minor == 10) return OsWin98;
        return OsOther;
    default:
        return OsOther;
    }
}

int osFamilyFor(unsigned long platform) {
    switch (platform) {
    case VER_PLATFORM_WIN32_NT:
        return FamilyNT;
    case VER_PLATFORM_WIN32_WINDOWS:
        return FamilyWin95;
    case VER_PLATFORM_WIN32s:
        return OsWin32s;
    default:
        return 0;
    }
}

OsCodes detectOs() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    // Without an answer nothing is known about the system: "other", not the
    // Win32s code that an all-zero structure would read as.
    if (!sys::GetVersionExA(&info)) return OsCodes{OsOther, 0};
    return OsCodes{osVersionFor(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion),
                   osFamilyFor(info.dwPlatformId)};
}

std::unique_ptr<ConfigData> createConfigData(const std::string &windowsDirectory) {
    std::unique_ptr<ConfigData> config;
    try {
        config = std::make_unique<ConfigData>();
    } catch (const std::bad_alloc &) {
        throw Error(1, static_cast<int>(sizeof(ConfigData)), "tavupd", __LINE__);
    }

    const std::string filePath = inDirectory(windowsDirectory, kSettingsName);
    const std::string keyPath = std::string(kProductRegistryPrefix) + kSettingsName;

    // The registry mirror wins when its key exists; it is only probed here.
    bool inRegistry = false;
    {
        HKEY probe = nullptr;
        if (sys::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &probe) == ERROR_SUCCESS) {
            sys::RegKey owner(probe);
            inRegistry = true;
        }
    }

    std::unique_ptr<Profile> systemIni;
    try {
        systemIni = inRegistry ? std::make_unique<Profile>(keyPath, Profile::RegistryMode)
                               : std::make_unique<Profile>(filePath, Profile::FileMode);
    } catch (const std::bad_alloc &) {
        throw Error(1, static_cast<int>(sizeof(Profile)), "tavupd", __LINE__);
    }

    const OsCodes os = detectOs();
    config->setOsVersion(os.version);
    config->setOsFamily(os.family);

    Profile *settings = systemIni.get();
    config->setSystemIni(std::move(systemIni));
    config->setProductDirectory(settings->getString("Tavro", "root", ""));
    config->setWindowsDirectory(windowsDirectory);
    config->setInteractive(settings->getInt("Patch", "Interactive", 1));
    config->setIniInRegistry(settings->isRegistry() ? 1 : 0);

    const std::string productPath = inDirectory(config->productDirectory(), kSettingsName);
    try {
        config->setProductIni(std::make_unique<Profile>(productPath, Profile::FileMode));
    } catch (const std::bad_alloc &) {
        throw Error(1, static_cast<int>(sizeof(Profile)), "tavupd", __LINE__);
    }
    return config;
}
