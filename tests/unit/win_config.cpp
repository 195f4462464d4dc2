// Run context: ConfigData fields, version and family codes, locating the
// system TAVRO.INI, and follow-on programs that cannot start.
#include <gtest/gtest.h>

#include "sys.h"
#include "tavupd.h"
#include "tvpprof.h"

#include <windows.h>

#include <string>

namespace {

const char *const kWork = "C:\\E2E\\UNITCFG";
const char *const kRegistryKey = "SOFTWARE\\Korvek\\KorvekDSP\\TAVRO.INI";

void removeTree(const std::string &path) {
    DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return;
    if (a & FILE_ATTRIBUTE_DIRECTORY) {
        WIN32_FIND_DATAA fd;
        HANDLE f = FindFirstFileA((path + "\\*").c_str(), &fd);
        if (f != INVALID_HANDLE_VALUE) {
            do {
                std::string n = fd.cFileName;
                if (n != "." && n != "..") removeTree(path + "\\" + n);
            } while (FindNextFileA(f, &fd));
            FindClose(f);
        }
        RemoveDirectoryA(path.c_str());
    } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
}

void writeText(const std::string &path, const std::string &text) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD n = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
    CloseHandle(h);
}

void deleteKeyTree(HKEY root, const std::string &path) {
    HKEY k;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS) return;
    for (;;) {
        char name[512];
        DWORD len = sizeof name;
        if (RegEnumKeyExA(k, 0, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        deleteKeyTree(k, name);
    }
    RegCloseKey(k);
    RegDeleteKeyA(root, path.c_str());
}

void setRegistryString(const std::string &path, const char *name, const std::string &value) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(k);
}

// A Windows directory of the test's own (C:\E2E\UNITCFG\WIN) and no
// registry mirror.
class CreateConfig : public ::testing::Test {
  protected:
    void SetUp() override {
        sys::resetFaults();
        deleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvek");
        removeTree(kWork);
        CreateDirectoryA("C:\\E2E", nullptr);
        CreateDirectoryA(kWork, nullptr);
        CreateDirectoryA(windir().c_str(), nullptr);
        CreateDirectoryA(product().c_str(), nullptr);
    }
    void TearDown() override {
        sys::resetFaults();
        deleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvek");
        removeTree(kWork);
    }
    static std::string windir() { return std::string(kWork) + "\\WIN"; }
    static std::string product() { return std::string(kWork) + "\\PROD"; }
    static void writeSystemIni(const std::string &text) { writeText(windir() + "\\TAVRO.INI", text); }
};

} // namespace

TEST(ConfigDataFields, StartValues) {
    ConfigData c;
    EXPECT_EQ(c.interactive(), 0);
    EXPECT_EQ(c.debug(), 0);
    EXPECT_EQ(c.force(), 0);
    EXPECT_EQ(c.backup(), 1);
    EXPECT_TRUE(c.isBackup());
    EXPECT_EQ(c.rebootNeeded(), 0);
    EXPECT_EQ(c.replacementPending(), 0);
    EXPECT_EQ(c.iniInRegistry(), 0);
    EXPECT_EQ(c.osFamily(), 0);
    EXPECT_TRUE(c.programDirectory().empty());
    EXPECT_TRUE(c.rebootProgram().empty());
    EXPECT_EQ(c.systemIni(), nullptr);
    EXPECT_EQ(c.productIni(), nullptr);
}

TEST(ConfigDataFields, TextSettersKeepAtMost259Characters) {
    std::string longText;
    for (int i = 0; i < 300; ++i) longText += static_cast<char>('A' + i % 26);
    const std::string exact = longText.substr(0, 259);

    using Setter = void (ConfigData::*)(const std::string &);
    using Getter = const std::string &(ConfigData::*)() const;
    const std::pair<Setter, Getter> fields[] = {
        {&ConfigData::setProgramDirectory, &ConfigData::programDirectory},
        {&ConfigData::setProductDirectory, &ConfigData::productDirectory},
        {&ConfigData::setWindowsDirectory, &ConfigData::windowsDirectory},
        {&ConfigData::setRebootProgram, &ConfigData::rebootProgram},
        {&ConfigData::setFailedProgram, &ConfigData::failedProgram},
    };
    int index = 0;
    for (const auto &f : fields) {
        SCOPED_TRACE(index++);
        ConfigData c;
        (c.*f.first)(longText);
        EXPECT_EQ((c.*f.second)(), exact);
        (c.*f.first)(exact);
        EXPECT_EQ((c.*f.second)(), exact);
        (c.*f.first)("C:\\SHORT\\");
        EXPECT_EQ((c.*f.second)(), "C:\\SHORT\\");
        (c.*f.first)("");
        EXPECT_EQ((c.*f.second)(), "");
    }
}

TEST(ConfigDataFields, FlagsCountOnlyWhenExactlyOne) {
    using Set = void (ConfigData::*)(int);
    using Get = int (ConfigData::*)() const;
    using Is = bool (ConfigData::*)() const;
    struct Flag {
        Set set;
        Get get;
        Is is;
    };
    const Flag flags[] = {
        {&ConfigData::setInteractive, &ConfigData::interactive, &ConfigData::isInteractive},
        {&ConfigData::setDebug, &ConfigData::debug, &ConfigData::isDebug},
        {&ConfigData::setForce, &ConfigData::force, &ConfigData::isForce},
        {&ConfigData::setBackup, &ConfigData::backup, &ConfigData::isBackup},
        {&ConfigData::setRebootNeeded, &ConfigData::rebootNeeded, &ConfigData::isRebootNeeded},
        {&ConfigData::setReplacementPending, &ConfigData::replacementPending, &ConfigData::isReplacementPending},
        {&ConfigData::setIniInRegistry, &ConfigData::iniInRegistry, &ConfigData::isIniInRegistry},
    };
    int index = 0;
    for (const auto &f : flags) {
        SCOPED_TRACE(index++);
        ConfigData c;
        for (int v : {2, -1, 0, 256, 1 + 65536}) {
            (c.*f.set)(v);
            EXPECT_EQ((c.*f.get)(), v);
            EXPECT_FALSE((c.*f.is)()) << v;
        }
        (c.*f.set)(1);
        EXPECT_EQ((c.*f.get)(), 1);
        EXPECT_TRUE((c.*f.is)());
    }
}

// The family follows the platform whatever the version, so that a system
// newer than the version table (code 0) still defers and records.
TEST(OsCodes, FamilyRule) {
    EXPECT_EQ(osFamilyFor(VER_PLATFORM_WIN32_WINDOWS), 1);
    EXPECT_EQ(osFamilyFor(VER_PLATFORM_WIN32_NT), 2);
    EXPECT_EQ(osFamilyFor(VER_PLATFORM_WIN32s), 4);
    EXPECT_EQ(osFamilyFor(3), 0);
    EXPECT_EQ(osFamilyFor(0xFFFFFFFFul), 0);
}

TEST(OsCodes, VersionTable) {
    EXPECT_EQ(osVersionFor(VER_PLATFORM_WIN32_NT, 3, 51), 2);
    EXPECT_EQ(osVersionFor(VER_PLATFORM_WIN32_NT, 3, 50), 0);
    EXPECT_EQ(osVersionFor(VER_PLATFORM_WIN32_NT, 3, 10), 0);
    EXPECT_EQ(osVersionFor(VER_PLATFORM_WIN32_NT, 4, 0), 8);
    EXPECT_EQ(osVersionFor(VER_PLATFORM_WIN32_NT, 4, 10), 8);
    EXPECT_EQ(osVersionFor(VER_PLATFORM_WIN32_NT, 5, 0), 9);
    EXPECT_EQ(osVersionFor(VER_PLATFORM_WIN32_NT, 5, 1), 9);
    EXPECT_EQ(osVersionFor(VER_PLATFORM_WIN32_NT, 6, 1), 0);
    EXPECT_EQ(osVersionFor(VER_PLATFORM_WIN32_NT, 10, 0), 0);
    EXPECT_EQ(osVersionFor(VER_PLATFORM_WIN32s, 3, 10), 4);
    EXPECT_EQ(osVersionFor(VER_PLATFORM_WIN32s, 0, 0), 4);
    EXPECT_EQ(osVersionFor(VER_PLATFORM_WIN32_WINDOWS, 4, 0), 1);
    EXPECT_EQ(osVersionFor(VER_PLATFORM_WIN32_WINDOWS, 4, 10), 7);
    EXPECT_EQ(osVersionFor(VER_PLATFORM_WIN32_WINDOWS, 4, 90), 0);
    EXPECT_EQ(osVersionFor(VER_PLATFORM_WIN32_WINDOWS, 5, 0), 0);
    EXPECT_EQ(osVersionFor(3, 4, 0), 0);
    EXPECT_EQ(osVersionFor(0xFFFFFFFFul, 5, 0), 0);
}

TEST(OsCodes, DetectFollowsTheSystemAnswer) {
    sys::resetFaults();
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info));
    const OsCodes os = detectOs();
    EXPECT_EQ(os.version, osVersionFor(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion));
    EXPECT_EQ(os.family, osFamilyFor(info.dwPlatformId));
    EXPECT_EQ(sys::callCount(sys::Call::GetVersionExA), 1u);
}

TEST(OsCodes, DetectWithoutAnswerIsOther) {
    sys::resetFaults();
    sys::failCall(sys::Call::GetVersionExA);
    const OsCodes os = detectOs();
    EXPECT_TRUE(sys::faultFired());
    EXPECT_EQ(os.version, 0);
    EXPECT_EQ(os.family, 0);
    sys::resetFaults();
}

TEST_F(CreateConfig, FileModeReadsTheWindowsDirectoryFile) {
    writeSystemIni("[Tavro]\r\nroot=" + product() + "\r\n[Patch]\r\nInteractive=0\r\n");
    auto c = createConfigData(windir());
    ASSERT_NE(c, nullptr);
    ASSERT_NE(c->systemIni(), nullptr);
    ASSERT_NE(c->productIni(), nullptr);
    EXPECT_FALSE(c->systemIni()->isRegistry());
    EXPECT_EQ(c->systemIni()->path(), windir() + "\\TAVRO.INI");
    EXPECT_EQ(c->productDirectory(), product());
    EXPECT_EQ(c->productIni()->path(), product() + "\\TAVRO.INI");
    EXPECT_FALSE(c->productIni()->isRegistry());
    EXPECT_EQ(c->windowsDirectory(), windir());
    EXPECT_EQ(c->interactive(), 0);
    EXPECT_EQ(c->iniInRegistry(), 0);
    EXPECT_EQ(c->osVersion(), detectOs().version);
    EXPECT_EQ(c->osFamily(), detectOs().family);
    // Left for the command line and the run settings.
    EXPECT_TRUE(c->programDirectory().empty());
    EXPECT_EQ(c->debug(), 0);
    EXPECT_EQ(c->backup(), 1);
    EXPECT_EQ(c->rebootNeeded(), 0);
}

TEST_F(CreateConfig, TrailingBackslashIsNotDoubled) {
    writeSystemIni("[Tavro]\r\nroot=" + product() + "\\\r\n");
    auto c = createConfigData(windir() + "\\");
    EXPECT_EQ(c->systemIni()->path(), windir() + "\\TAVRO.INI");
    EXPECT_EQ(c->windowsDirectory(), windir() + "\\");
    // The product directory ends in a backslash too.
    EXPECT_EQ(c->productDirectory(), product() + "\\");
    EXPECT_EQ(c->productIni()->path(), product() + "\\TAVRO.INI");
}

TEST_F(CreateConfig, InteractiveDefaultAndValuesOtherThanOne) {
    writeSystemIni("[Tavro]\r\nroot=" + product() + "\r\n");
    EXPECT_EQ(createConfigData(windir())->interactive(), 1);
    writeSystemIni("[Tavro]\r\nroot=" + product() + "\r\n[Patch]\r\nInteractive=2\r\n");
    auto c = createConfigData(windir());
    EXPECT_EQ(c->interactive(), 2);
    EXPECT_FALSE(c->isInteractive());
}

TEST_F(CreateConfig, MissingRootGivesTheRootOfTheDrive) {
    writeSystemIni("[Other]\r\nroot=C:\\ELSEWHERE\r\n");
    auto c = createConfigData(windir());
    EXPECT_EQ(c->productDirectory(), "");
    EXPECT_EQ(c->productIni()->path(), "\\TAVRO.INI");
    EXPECT_EQ(c->interactive(), 1);
}

TEST_F(CreateConfig, NoSettingsFileAtAll) {
    auto c = createConfigData(windir());
    EXPECT_EQ(c->productDirectory(), "");
    EXPECT_EQ(c->systemIni()->path(), windir() + "\\TAVRO.INI");
    EXPECT_FALSE(c->systemIni()->isRegistry());
}

TEST_F(CreateConfig, RegistryKeyChoosesRegistryMode) {
    // A file in the Windows directory that must not be consulted.
    writeSystemIni("[Tavro]\r\nroot=C:\\FROMFILE\r\n");
    setRegistryString(std::string(kRegistryKey) + "\\Tavro", "root", product());
    auto c = createConfigData(windir());
    ASSERT_NE(c->systemIni(), nullptr);
    EXPECT_TRUE(c->systemIni()->isRegistry());
    EXPECT_EQ(c->iniInRegistry(), 1);
    EXPECT_TRUE(c->isIniInRegistry());
    EXPECT_EQ(c->productDirectory(), product());
    EXPECT_EQ(c->productIni()->path(), product() + "\\TAVRO.INI");
    EXPECT_FALSE(c->productIni()->isRegistry());
    EXPECT_EQ(c->windowsDirectory(), windir());
}

TEST_F(CreateConfig, RegistryKeyWithoutRoot) {
    setRegistryString(kRegistryKey, "unrelated", "x");
    auto c = createConfigData(windir());
    EXPECT_EQ(c->iniInRegistry(), 1);
    EXPECT_EQ(c->productDirectory(), "");
    EXPECT_EQ(c->productIni()->path(), "\\TAVRO.INI");
}

TEST_F(CreateConfig, KeyThatCannotBeOpenedMeansFileMode) {
    writeSystemIni("[Tavro]\r\nroot=" + product() + "\r\n");
    setRegistryString(std::string(kRegistryKey) + "\\Tavro", "root", "C:\\FROMREGISTRY");
    sys::failCall(sys::Call::RegOpenKeyExA, 1, ERROR_FILE_NOT_FOUND);
    auto c = createConfigData(windir());
    EXPECT_TRUE(sys::faultFired());
    EXPECT_EQ(c->iniInRegistry(), 0);
    EXPECT_EQ(c->productDirectory(), product());
}

TEST_F(CreateConfig, ProbeKeyIsClosed) {
    // Every key the run may read exists, so that every open succeeds.
    setRegistryString(std::string(kRegistryKey) + "\\Tavro", "root", product());
    setRegistryString(std::string(kRegistryKey) + "\\Patch", "Interactive", "1");
    sys::resetFaults();
    auto c = createConfigData(windir());
    EXPECT_GE(sys::callCount(sys::Call::RegOpenKeyExA), 1u);
    // Every key opened was closed again (the registry-mode reads close
    // their own keys too).
    EXPECT_EQ(sys::callCount(sys::Call::RegCloseKey), sys::callCount(sys::Call::RegOpenKeyExA));
}

TEST_F(CreateConfig, ReleasingTheProfilesOneByOne) {
    writeSystemIni("[Tavro]\r\nroot=" + product() + "\r\n");
    auto c = createConfigData(windir());
    c->releaseSystemIni();
    EXPECT_EQ(c->systemIni(), nullptr);
    EXPECT_NE(c->productIni(), nullptr);
    c->releaseProductIni();
    EXPECT_EQ(c->productIni(), nullptr);
}

// ---- follow-on programs that cannot start return to the caller -------------

class FollowOn : public CreateConfig {};

TEST_F(FollowOn, MissingProgramReturns) {
    ConfigData c;
    c.setProgramDirectory(windir() + "\\");
    startFollowOnProgram(c, "NOSUCH");
    EXPECT_EQ(sys::callCount(sys::Call::GetFileAttributesA), 3u); // .EXE, .BAT, .CMD tried
    EXPECT_EQ(sys::callCount(sys::Call::CreateProcessA), 0u);
    startFollowOnProgram(c, "NOSUCH.EXE");
    EXPECT_EQ(sys::callCount(sys::Call::CreateProcessA), 1u);
}

TEST_F(FollowOn, RefusedStartReturns) {
    writeText(windir() + "\\RB.BAT", "@echo off\r\n");
    ConfigData c;
    c.setProgramDirectory(windir()); // no trailing backslash: one is added
    sys::failCall(sys::Call::CreateProcessA);
    startFollowOnProgram(c, "RB");
    EXPECT_TRUE(sys::faultFired());
    EXPECT_EQ(sys::callCount(sys::Call::CreateProcessA), 1u);
}

TEST_F(FollowOn, BatchWithoutInterpreterReturns) {
    writeText(windir() + "\\RB.CMD", "@echo off\r\n");
    ConfigData c;
    c.setProgramDirectory(windir() + "\\");
    sys::failCall(sys::Call::GetEnvironmentVariableA, 1, ERROR_ENVVAR_NOT_FOUND);
    startFollowOnProgram(c, "RB");
    EXPECT_TRUE(sys::faultFired());
    EXPECT_EQ(sys::callCount(sys::Call::CreateProcessA), 0u);
}

TEST_F(FollowOn, EmptyNameOrTooLongPathStartsNothing) {
    ConfigData c;
    c.setProgramDirectory(windir() + "\\");
    startFollowOnProgram(c, "");
    startFollowOnProgramIn(std::string(200, 'D'), std::string(100, 'N') + ".EXE");
    EXPECT_EQ(sys::callCount(sys::Call::CreateProcessA), 0u);
}

TEST_F(FollowOn, DirectoryIsNoProgram) {
    CreateDirectoryA((windir() + "\\SUB.EXE").c_str(), nullptr);
    ConfigData c;
    c.setProgramDirectory(windir() + "\\");
    startFollowOnProgram(c, "SUB");
    EXPECT_EQ(sys::callCount(sys::Call::CreateProcessA), 0u);
}
