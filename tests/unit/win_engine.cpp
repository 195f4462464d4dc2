// The engine's own parts in process: shared helpers, REBOOT, the install
// record and condition tests, with platform calls failed on demand.
#include <gtest/gtest.h>

#include <windows.h>

#include <climits>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "app/nls.h"
#include "platform/sys.h"
#include "app/run.h"
#include "engine/datafile.h"
#include "profile/profile.h"

namespace {

std::string tempDir() {
    char buffer[MAX_PATH] = {};
    GetTempPathA(sizeof buffer, buffer);
    std::string dir = std::string(buffer) + "tvpengine";
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

void writeText(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string readText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

const char *kUnitKey = "Software\\E2EUnit";

class Engine : public ::testing::Test {
  protected:
    void SetUp() override {
        sys::resetFaults();
        dir_ = tempDir();
        // A language file whose message n reads "Mn".
        std::string catalog;
        for (int i = 1; i <= 36; ++i) catalog += "M" + std::to_string(i) + "\r\n";
        writeText(dir_ + "\\ENGINE.MSG", catalog);
        nls_ = std::make_unique<NLSClass>(dir_ + "\\ENGINE.MSG");
        ASSERT_EQ(nls_->load(), 1);
        logPath_ = dir_ + "\\ENGINE.LOG";
        nls_->setLogFile(logPath_.c_str(), 0);

        systemIniPath_ = dir_ + "\\SYSTEM.INI";
        writeText(systemIniPath_, "[Tavro]\r\nroot=C:\\PRODUCT\r\n[Ver]\r\nBuild=10\r\n");
        config_.setSystemIni(std::make_unique<Profile>(systemIniPath_, Profile::FileMode));
        config_.setProductDirectory("C:\\PRODUCT");
        config_.setWindowsDirectory("C:\\WINDOWS");
        config_.setOsVersion(7);
        config_.setOsFamily(1);

        profilePath_ = dir_ + "\\ENGINE.DAT";
        writeText(profilePath_, "[Patch]\r\nPatch=FIX\r\n[Empty]\r\n");
        data_ = std::make_unique<DataFile>(profilePath_, &config_, nls_.get());

        RegDeleteKeyA(HKEY_CURRENT_USER, kUnitKey);
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kUnitKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const char value[] = "abc";
        RegSetValueExA(key, "V", 0, REG_SZ, reinterpret_cast<const BYTE *>(value), sizeof value);
        const std::string raw(256, 'Z'); // raw bytes, no terminator
        RegSetValueExA(key, "Raw", 0, REG_BINARY, reinterpret_cast<const BYTE *>(raw.data()), 256);
        RegCloseKey(key);
    }
    void TearDown() override {
        sys::resetFaults();
        RegDeleteKeyA(HKEY_CURRENT_USER, kUnitKey);
    }
    // What the run printed so far (the log copies both output streams).
    std::string log() {
        nls_->setLogFile(nullptr, 0);
        std::string text = readText(logPath_);
        nls_->setLogFile(logPath_.c_str(), 1);
        return text;
    }

    std::string dir_, logPath_, systemIniPath_, profilePath_;
    ConfigData config_;
    std::unique_ptr<NLSClass> nls_;
    std::unique_ptr<DataFile> data_;
};

TEST_F(Engine, NumericFieldReadsLikePercentD) {
    EXPECT_EQ(DataFile::numericField("12", 5), 12);
    EXPECT_EQ(DataFile::numericField("  -3x", 5), -3);
    EXPECT_EQ(DataFile::numericField("+7", 5), 7);
    EXPECT_EQ(DataFile::numericField("\t 0", 5), 0);
    EXPECT_EQ(DataFile::numericField("x1", 5), 5);
    EXPECT_EQ(DataFile::numericField("", 5), 5);
    EXPECT_EQ(DataFile::numericField(nullptr, 5), 5);
    EXPECT_EQ(DataFile::numericField("-", 5), 5);
    EXPECT_EQ(DataFile::numericField("- 1", 5), 5);
    EXPECT_EQ(DataFile::numericField("2147483647", 5), INT_MAX);
    EXPECT_EQ(DataFile::numericField("-2147483648", 5), INT_MIN);
    // Out of range clamps instead of wrapping.
    EXPECT_EQ(DataFile::numericField("99999999999999999999", 5), INT_MAX);
    EXPECT_EQ(DataFile::numericField("-99999999999999999999", 5), INT_MIN);
    EXPECT_EQ(DataFile::numericField("2147483648", 5), INT_MAX);
}

TEST_F(Engine, TrimLineRemovesBlanksAtBothEnds) {
    std::string s = " \t a, b \r\n\v\f";
    DataFile::trimLine(s);
    EXPECT_EQ(s, "a, b");
    s = " \t ";
    DataFile::trimLine(s);
    EXPECT_EQ(s, "");
    s = "x";
    DataFile::trimLine(s);
    EXPECT_EQ(s, "x");
}

TEST_F(Engine, ResolveLocationKnowsWindowsAndTavroOnly) {
    std::string path = "left over";
    EXPECT_TRUE(data_->resolveLocation("windows", path));
    EXPECT_EQ(path, "C:\\WINDOWS");
    EXPECT_TRUE(data_->resolveLocation("TaVrO", path));
    EXPECT_EQ(path, "C:\\PRODUCT");
    EXPECT_FALSE(data_->resolveLocation("SYSTEM", path));
    EXPECT_EQ(path, "");
    path = "left over";
    EXPECT_FALSE(data_->resolveLocation("TAVRO2", path));
    EXPECT_EQ(path, "");
    EXPECT_FALSE(data_->resolveLocation("", path));
    EXPECT_FALSE(data_->resolveLocation(nullptr, path));
}

TEST_F(Engine, DefaultsCountOnlyExactlyOne) {
    config_.setForce(1);
    config_.setBackup(1);
    EXPECT_EQ(data_->defaultForce(), 1);
    EXPECT_EQ(data_->defaultBackup(), 1);
    config_.setForce(2);
    config_.setBackup(0);
    EXPECT_EQ(data_->defaultForce(), 0);
    EXPECT_EQ(data_->defaultBackup(), 0);
    config_.setBackup(-1);
    EXPECT_EQ(data_->defaultBackup(), 0);
}

TEST_F(Engine, RestartRuleCollectsExactlyOne) {
    config_.setReplacementPending(2);
    data_->applyRestartRule();
    EXPECT_EQ(config_.rebootNeeded(), 0);
    EXPECT_EQ(config_.replacementPending(), 2);
    config_.setReplacementPending(1);
    data_->applyRestartRule();
    EXPECT_EQ(config_.rebootNeeded(), 1);
    EXPECT_EQ(config_.replacementPending(), 0);
    data_->applyRestartRule();
    EXPECT_EQ(config_.rebootNeeded(), 1);
}

TEST_F(Engine, RebootActionSetsValueAndProgram) {
    config_.setRebootProgram("RESTARTER.EXE");
    data_->actionReboot("REBOOT=1");
    EXPECT_EQ(config_.rebootNeeded(), 1);
    EXPECT_EQ(config_.rebootProgram(), "RESTARTER.EXE");
    data_->actionReboot("REBOOT=x,OTHER.EXE");
    EXPECT_EQ(config_.rebootNeeded(), 1);
    EXPECT_EQ(config_.rebootProgram(), "OTHER.EXE");
    data_->actionReboot("REBOOT");
    EXPECT_EQ(config_.rebootNeeded(), 1);
    data_->actionReboot("REBOOT=0,");
    EXPECT_EQ(config_.rebootNeeded(), 0);
    EXPECT_EQ(config_.rebootProgram(), "OTHER.EXE");
    data_->actionReboot("REBOOT=-4 ,A\\,B.EXE");
    EXPECT_EQ(config_.rebootNeeded(), -4);
    EXPECT_EQ(config_.rebootProgram(), "A,B.EXE");
    EXPECT_EQ(log(), "") << "REBOOT prints nothing";
}

TEST_F(Engine, ReportForms) {
    data_->reportMessage(18);
    data_->reportMessage(30, "C:\\X.DLL");
    EXPECT_EQ(log(), "\r\n\x07M18\r\n\r\n\x07M30: C:\\X.DLL\r\n");
}

TEST_F(Engine, InstallRecord) {
    writeText(systemIniPath_, "[Install]\r\nPatch0=FIX12B\r\nPatch1=FIX1\r\nPatch3=LATE\r\n");
    config_.setSystemIni(std::make_unique<Profile>(systemIniPath_, Profile::FileMode));
    int next = -1;
    EXPECT_EQ(data_->isInstalled("fix12", &next), 1);
    EXPECT_EQ(next, 0);
    EXPECT_EQ(data_->isInstalled("FIX1", &next), 1);
    EXPECT_EQ(next, 0);
    EXPECT_EQ(data_->isInstalled("FIX12B9", &next), 0);
    EXPECT_EQ(next, 2);
    EXPECT_EQ(data_->isInstalled("LATE", &next), 0);
    EXPECT_EQ(next, 2);
    EXPECT_EQ(data_->isInstalled(nullptr, &next), 0);
    data_->recordInstalled(2, "NEW");
    EXPECT_EQ(data_->isInstalled("new", &next), 1);
    EXPECT_EQ(next, 2);
    EXPECT_NE(readText(systemIniPath_).find("Patch2=NEW"), std::string::npos);
}

TEST_F(Engine, RegistryConditionAndItsFailures) {
    std::string branch;
    const std::string line = "Condition0=B,7,1,HKCU,Software\\\\E2EUnit,V, ABC ";
    EXPECT_EQ(data_->testCondition(line, branch), 1);
    EXPECT_EQ(branch, "B");
    // Every key opened is closed again.
    EXPECT_EQ(sys::callCount(sys::Call::RegOpenKeyExA), sys::callCount(sys::Call::RegCloseKey));

    config_.setDebug(1);
    sys::resetFaults();
    sys::failCall(sys::Call::RegOpenKeyExA, 1, ERROR_FILE_NOT_FOUND);
    branch.clear();
    EXPECT_EQ(data_->testCondition(line, branch), 0);
    EXPECT_EQ(branch, "B") << "the branch is handed back once the fields are there";
    EXPECT_TRUE(sys::faultFired());
    EXPECT_NE(log().find("\r\n\x07M19:\r\n\tHKCU\\Software\\E2EUnit\r\n"), std::string::npos) << log();

    sys::resetFaults();
    sys::failCall(sys::Call::RegQueryValueExA, 1, ERROR_MORE_DATA);
    EXPECT_EQ(data_->testCondition(line, branch), 0);
    EXPECT_TRUE(sys::faultFired());
    EXPECT_EQ(sys::callCount(sys::Call::RegCloseKey), 1u);
    EXPECT_NE(log().find("\r\n\x07M27:\r\n\tHKCU\\Software\\E2EUnit\\V\r\n"), std::string::npos) << log();

    // Without debug the failures print nothing.
    config_.setDebug(0);
    const size_t before = log().size();
    sys::resetFaults();
    sys::failCall(sys::Call::RegOpenKeyExA);
    EXPECT_EQ(data_->testCondition(line, branch), 0);
    EXPECT_EQ(log().size(), before);
}

TEST_F(Engine, UnterminatedRegistryValueIsCutAtItsBytes) {
    config_.setDebug(1);
    std::string branch;
    EXPECT_EQ(data_->testCondition("Condition0=R,7,0,HKCU,Software\\\\E2EUnit,Raw,x", branch), 1);
    const std::string text = log();
    EXPECT_NE(text.find("\tTest Val: " + std::string(255, 'Z') + "\r\n"), std::string::npos) << text;
}

TEST_F(Engine, IniConditionAndOsTest) {
    std::string branch;
    EXPECT_EQ(data_->testCondition("Condition0=I,7,2,Ver,Build,1", branch), 1);
    EXPECT_EQ(data_->testCondition("Condition0=I,7,2,Ver,Build,9", branch), 0);
    EXPECT_EQ(data_->testCondition("Condition0=I,8,0,Ver,Build,1", branch), 0);
    config_.setOsVersion(0);
    EXPECT_EQ(data_->testCondition("Condition0=I,none,0,Ver,Build,1", branch), 1);
    // Range start expanded with the two variables.
    EXPECT_EQ(data_->testCondition("Condition0=I,0,1,Tavro,root,\\\\TAVRO", branch), 1);
    EXPECT_EQ(data_->testCondition("Condition0=I,0,1,Tavro,root,\\\\WINDOWS", branch), 0);
    // No system TAVRO.INI at all: the value is empty.
    config_.releaseSystemIni();
    EXPECT_EQ(data_->testCondition("Condition0=I,0,0,Tavro,root,x", branch), 0);
}

TEST_F(Engine, MissingSectionIsReportedAndTheListIsCleared) {
    data_->processSection("Nowhere");
    EXPECT_EQ(log(), "\r\n\x07M18\r\n");
    data_->processSection("Empty");
    EXPECT_EQ(data_->sectionList(), nullptr);
    data_->processSection(nullptr);
    EXPECT_EQ(log(), "\r\n\x07M18\r\n\r\n\x07M18\r\n");
}

TEST_F(Engine, WorkDirectoriesFromTheProductDirectory) {
    const std::string product = dir_ + "\\PROD";
    RemoveDirectoryA((product + "\\ARCHIVE\\TEMP").c_str());
    RemoveDirectoryA((product + "\\ARCHIVE").c_str());
    RemoveDirectoryA(product.c_str());
    CreateDirectoryA(product.c_str(), nullptr);
    config_.setProductDirectory(product + "\\");
    DataFile data(profilePath_, &config_, nls_.get());
    EXPECT_EQ(data.archiveDirectory(), product + "\\ARCHIVE");
    EXPECT_EQ(data.tempDirectory(), product + "\\ARCHIVE\\TEMP");
    data.createWorkDirectories();
    const DWORD attributes = GetFileAttributesA(data.tempDirectory().c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    // Existing directories are not created again.
    sys::resetFaults();
    data.createWorkDirectories();
    EXPECT_EQ(sys::callCount(sys::Call::CreateDirectoryA), 0u);
}

TEST_F(Engine, WorkDirectoryFailureEndsTheProcess) {
    config_.setProductDirectory(dir_ + "\\NOTHERE");
    config_.setInteractive(1);
    DataFile data(profilePath_, &config_, nls_.get());
    EXPECT_EXIT(
        {
            sys::failCall(sys::Call::CreateDirectoryA);
            data.createWorkDirectories();
        },
        ::testing::ExitedWithCode(1), "");
}

} // namespace
