// The run's start: the options' flags, version and family codes, locating
// the system TAVRO.INI, and follow-on programs that cannot start.
#include <gtest/gtest.h>

#include "harness.h"
#include "testing/fault.h"
#include "app/run.h"
#include "profile/profile.h"

#include <windows.h>

#include <string>
#include <vector>

using namespace app;

using e2e::deleteKeyTree;
using e2e::removeTree;

namespace {

const char *const kWork = "C:\\E2E\\UNITCFG";
const char *const kRegistryKey = "SOFTWARE\\Korvek\\KorvekDSP\\TAVRO.INI";


void writeText(const std::string &path, const std::string &text) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD n = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
    CloseHandle(h);
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
        fault::resetFaults();
        deleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvek");
        removeTree(kWork);
        CreateDirectoryA("C:\\E2E", nullptr);
        CreateDirectoryA(kWork, nullptr);
        CreateDirectoryA(windir().c_str(), nullptr);
        CreateDirectoryA(product().c_str(), nullptr);
    }
    void TearDown() override {
        fault::resetFaults();
        deleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvek");
        removeTree(kWork);
    }
    static std::string windir() { return std::string(kWork) + "\\WIN"; }
    static std::string product() { return std::string(kWork) + "\\PROD"; }
    static void writeSystemIni(const std::string &text) { writeText(windir() + "\\TAVRO.INI", text); }
};

} // namespace

// A flag counts only when it is exactly 1, wherever it came from.
TEST(RunOptions, FlagsCountOnlyWhenExactlyOne) {
    for (int v : {2, -1, 0, 256, 1 + 65536}) {
        engine::Options o;
        o.interactive = v;
        o.debug = v;
        EXPECT_FALSE(o.isInteractive()) << v;
        EXPECT_FALSE(o.isDebug()) << v;
    }
    engine::Options o;
    o.interactive = 1;
    o.debug = 1;
    EXPECT_TRUE(o.isInteractive());
    EXPECT_TRUE(o.isDebug());
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
    fault::resetFaults();
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info));
    const OsCodes os = detectOs();
    EXPECT_EQ(os.version, osVersionFor(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion));
    EXPECT_EQ(os.family, osFamilyFor(info.dwPlatformId));
}

TEST(OsCodes, DetectWithoutAnswerIsOther) {
    fault::resetFaults();
    fault::failCall(fault::Call::GetVersionExA);
    const OsCodes os = detectOs();
    EXPECT_TRUE(fault::faultFired());
    EXPECT_EQ(os.version, 0);
    EXPECT_EQ(os.family, 0);
    fault::resetFaults();
}

TEST_F(CreateConfig, FileModeReadsTheWindowsDirectoryFile) {
    writeSystemIni("[Tavro]\r\nroot=" + product() + "\r\n[Patch]\r\nInteractive=0\r\n");
    auto c = loadRunConfig(windir(), change::noChanges());
    ASSERT_NE(c, nullptr);
    ASSERT_NE(c->systemIni.get(), nullptr);
    ASSERT_NE(c->productIni.get(), nullptr);
    EXPECT_FALSE(c->systemIni.get()->isRegistry());
    EXPECT_EQ(c->systemIni.get()->path(), windir() + "\\TAVRO.INI");
    EXPECT_EQ(c->machine.productDirectory, product());
    EXPECT_EQ(c->productIni.get()->path(), product() + "\\TAVRO.INI");
    EXPECT_FALSE(c->productIni.get()->isRegistry());
    EXPECT_EQ(c->machine.windowsDirectory, windir());
    EXPECT_EQ(c->options.interactive, 0);
    EXPECT_FALSE(c->systemIni->isRegistry());
    EXPECT_EQ(c->machine.osVersion, detectOs().version);
    EXPECT_EQ(c->machine.osFamily, detectOs().family);
    // Left for the command line and the run settings.
    EXPECT_TRUE(c->machine.programDirectory.empty());
    EXPECT_EQ(c->options.debug, 0);
    EXPECT_EQ(c->options.backup, 1);
}

TEST_F(CreateConfig, TrailingBackslashIsNotDoubled) {
    writeSystemIni("[Tavro]\r\nroot=" + product() + "\\\r\n");
    auto c = loadRunConfig(windir() + "\\", change::noChanges());
    EXPECT_EQ(c->systemIni.get()->path(), windir() + "\\TAVRO.INI");
    EXPECT_EQ(c->machine.windowsDirectory, windir() + "\\");
    // The product directory ends in a backslash too.
    EXPECT_EQ(c->machine.productDirectory, product() + "\\");
    EXPECT_EQ(c->productIni.get()->path(), product() + "\\TAVRO.INI");
}

TEST_F(CreateConfig, InteractiveDefaultAndValuesOtherThanOne) {
    writeSystemIni("[Tavro]\r\nroot=" + product() + "\r\n");
    EXPECT_EQ(loadRunConfig(windir(), change::noChanges())->options.interactive, 1);
    writeSystemIni("[Tavro]\r\nroot=" + product() + "\r\n[Patch]\r\nInteractive=2\r\n");
    auto c = loadRunConfig(windir(), change::noChanges());
    EXPECT_EQ(c->options.interactive, 2);
    EXPECT_FALSE(c->options.isInteractive());
}

TEST_F(CreateConfig, MissingRootGivesTheRootOfTheDrive) {
    writeSystemIni("[Other]\r\nroot=C:\\ELSEWHERE\r\n");
    auto c = loadRunConfig(windir(), change::noChanges());
    EXPECT_EQ(c->machine.productDirectory, "");
    EXPECT_EQ(c->productIni.get()->path(), "\\TAVRO.INI");
    EXPECT_EQ(c->options.interactive, 1);
}

TEST_F(CreateConfig, NoSettingsFileAtAll) {
    auto c = loadRunConfig(windir(), change::noChanges());
    EXPECT_EQ(c->machine.productDirectory, "");
    EXPECT_EQ(c->systemIni.get()->path(), windir() + "\\TAVRO.INI");
    EXPECT_FALSE(c->systemIni.get()->isRegistry());
}

TEST_F(CreateConfig, RegistryKeyChoosesRegistryMode) {
    // A file in the Windows directory that must not be consulted.
    writeSystemIni("[Tavro]\r\nroot=C:\\FROMFILE\r\n");
    setRegistryString(std::string(kRegistryKey) + "\\Tavro", "root", product());
    auto c = loadRunConfig(windir(), change::noChanges());
    ASSERT_NE(c->systemIni.get(), nullptr);
    EXPECT_TRUE(c->systemIni.get()->isRegistry());
    EXPECT_EQ(c->machine.productDirectory, product());
    EXPECT_EQ(c->productIni.get()->path(), product() + "\\TAVRO.INI");
    EXPECT_FALSE(c->productIni.get()->isRegistry());
    EXPECT_EQ(c->machine.windowsDirectory, windir());
}

TEST_F(CreateConfig, RegistryKeyWithoutRoot) {
    setRegistryString(kRegistryKey, "unrelated", "x");
    auto c = loadRunConfig(windir(), change::noChanges());
    EXPECT_TRUE(c->systemIni->isRegistry());
    EXPECT_EQ(c->machine.productDirectory, "");
    EXPECT_EQ(c->productIni.get()->path(), "\\TAVRO.INI");
}

TEST_F(CreateConfig, KeyThatCannotBeOpenedMeansFileMode) {
    writeSystemIni("[Tavro]\r\nroot=" + product() + "\r\n");
    setRegistryString(std::string(kRegistryKey) + "\\Tavro", "root", "C:\\FROMREGISTRY");
    fault::failCall(fault::Call::RegOpenKeyExA, 1, ERROR_FILE_NOT_FOUND);
    auto c = loadRunConfig(windir(), change::noChanges());
    EXPECT_TRUE(fault::faultFired());
    EXPECT_FALSE(c->systemIni->isRegistry());
    EXPECT_EQ(c->machine.productDirectory, product());
}

// [Patch] Interactive is read from the registry form as from the file:
// "0" or a REG_DWORD 0 makes the run quiet.
TEST_F(CreateConfig, RegistryFormGivesInteractive) {
    setRegistryString(std::string(kRegistryKey) + "\\Tavro", "root", product());
    EXPECT_EQ(loadRunConfig(windir(), change::noChanges())->options.interactive, 1);
    setRegistryString(std::string(kRegistryKey) + "\\Patch", "Interactive", "0");
    auto c = loadRunConfig(windir(), change::noChanges());
    EXPECT_TRUE(c->systemIni->isRegistry());
    EXPECT_EQ(c->options.interactive, 0);
    EXPECT_FALSE(c->options.isInteractive());
    HKEY k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kRegistryKey) + "\\Patch").c_str(), 0, KEY_ALL_ACCESS,
                            &k),
              ERROR_SUCCESS);
    const DWORD zero = 0;
    RegSetValueExA(k, "Interactive", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&zero), sizeof zero);
    RegCloseKey(k);
    EXPECT_EQ(loadRunConfig(windir(), change::noChanges())->options.interactive, 0);
}

TEST_F(CreateConfig, ProbeKeyIsClosed) {
    // Every key the run may read exists, so that every open succeeds.
    setRegistryString(std::string(kRegistryKey) + "\\Tavro", "root", product());
    setRegistryString(std::string(kRegistryKey) + "\\Patch", "Interactive", "1");
    fault::resetFaults();
    auto c = loadRunConfig(windir(), change::noChanges());
    EXPECT_EQ(c->options.interactive, 1);
    // Every key opened was closed again.
    EXPECT_EQ(fault::callCount(fault::Call::RegCloseKey), fault::callCount(fault::Call::RegOpenKeyExA));
}

// ---- follow-on programs that cannot start return to the caller -------------

class FollowOn : public CreateConfig {};

TEST_F(FollowOn, MissingProgramStartsNothing) {
    EXPECT_FALSE(startFollowOnProgram(windir() + "\\", "NOSUCH"));
    EXPECT_FALSE(startFollowOnProgram(windir() + "\\", "NOSUCH.EXE"));
    EXPECT_EQ(followOnCandidates(windir(), "RB"),
              (std::vector<std::string>{windir() + "\\RB.EXE", windir() + "\\RB.BAT", windir() + "\\RB.CMD"}));
    EXPECT_EQ(followOnCandidates(windir() + "\\", "RB.EXE"), std::vector<std::string>{windir() + "\\RB.EXE"});
    EXPECT_TRUE(followOnCandidates(windir(), "").empty());
}

TEST_F(FollowOn, RefusedStartReturns) {
    writeText(windir() + "\\RB.BAT", "@echo off\r\n");
    fault::failCall(fault::Call::CreateProcessA);
    EXPECT_FALSE(startFollowOnProgram(windir(), "RB")); // no trailing backslash: one is added
    EXPECT_TRUE(fault::faultFired());
}

TEST_F(FollowOn, BatchWithoutInterpreterReturns) {
    writeText(windir() + "\\RB.CMD", "@echo off\r\n");
    fault::failCall(fault::Call::GetEnvironmentVariableA, 1, ERROR_ENVVAR_NOT_FOUND);
    EXPECT_FALSE(startFollowOnProgram(windir() + "\\", "RB"));
    EXPECT_TRUE(fault::faultFired());
}

TEST_F(FollowOn, EmptyNameOrTooLongPathStartsNothing) {
    EXPECT_FALSE(startFollowOnProgram(windir() + "\\", ""));
    EXPECT_FALSE(startFollowOnProgram(std::string(200, 'D'), std::string(100, 'N') + ".EXE"));
}

TEST_F(FollowOn, DirectoryIsNoProgram) {
    CreateDirectoryA((windir() + "\\SUB.EXE").c_str(), nullptr);
    EXPECT_FALSE(startFollowOnProgram(windir() + "\\", "SUB"));
}
