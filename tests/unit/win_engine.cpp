// The engine's own parts in process: the executor's walk (REBOOT, a
// missing section, the install record, work directories), the reporter's
// forms and the condition tests against the machine, with platform calls
// failed on demand.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "app/nls.h"
#include "engine/conditions.h"
#include "engine/executor.h"
#include "profile/profile.h"
#include "testing/fault.h"
#include "text/patchmodel.h"

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
        fault::resetFaults();
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
        systemIni_ = std::make_unique<IniFile>(systemIniPath_);
        machine_.productDirectory = "C:\\PRODUCT";
        machine_.windowsDirectory = "C:\\WINDOWS";
        machine_.osVersion = 7;
        machine_.osFamily = 1;
        makeContext(false);

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
        fault::resetFaults();
        RegDeleteKeyA(HKEY_CURRENT_USER, kUnitKey);
    }
    // A run context over the machine and options as they are now.
    void makeContext(bool debug) {
        context_.reset();
        reporter_ = std::make_unique<engine::Reporter>(nls_->catalog(), *nls_, debug);
        context_ = std::make_unique<engine::Context>(machine_, options_, *reporter_, change::noChanges());
        context_->systemIni = systemIni_.get();
    }
    // What the run printed so far (the log copies both output streams).
    std::string log() {
        nls_->setLogFile(nullptr, 0);
        std::string text = readText(logPath_);
        nls_->setLogFile(logPath_.c_str(), 1);
        return text;
    }
    bool holds(const std::string &line, std::string &branch) {
        return engine::testCondition(*context_, patch::decodeConditionLine(line, 1, 0), branch);
    }

    std::string dir_, logPath_, systemIniPath_;
    engine::Machine machine_;
    engine::Options options_;
    std::unique_ptr<NLSClass> nls_;
    std::unique_ptr<IniFile> systemIni_;
    std::unique_ptr<engine::Reporter> reporter_;
    std::unique_ptr<engine::Context> context_;
};

TEST_F(Engine, LocationsAreTheWindowsAndTheProductDirectory) {
    EXPECT_EQ(context_->directoryOf(patch::Location::Windows).value_or("?"), "C:\\WINDOWS");
    EXPECT_EQ(context_->directoryOf(patch::Location::Tavro).value_or("?"), "C:\\PRODUCT");
    EXPECT_FALSE(context_->directoryOf(patch::Location::Unknown).has_value());
    EXPECT_EQ(context_->archiveDirectory, "C:\\PRODUCT\\ARCHIVE");
    EXPECT_EQ(context_->tempDirectory, "C:\\PRODUCT\\ARCHIVE\\TEMP");
}

// REBOOT sets the restart request and may name another program; a value
// that is no number leaves the request as it was. It prints nothing.
TEST_F(Engine, RebootLinesSetTheRequestAndTheProgram) {
    const patch::Model model = patch::parse("[Patch]\r\n[S]\r\nREBOOT=1\r\nREBOOT=x,OTHER.EXE\r\nREBOOT\r\n"
                                            "[T]\r\nREBOOT=0,\r\n[U]\r\nREBOOT=-4 ,A\\,B.EXE\r\n");
    engine::Executor executor(*context_, model);
    engine::RunState state;
    state.rebootProgram = "RESTARTER.EXE";
    ASSERT_TRUE(executor.processSection("S", state));
    EXPECT_EQ(state.rebootNeeded, 1);
    EXPECT_EQ(state.rebootProgram, "OTHER.EXE");
    ASSERT_TRUE(executor.processSection("T", state));
    EXPECT_EQ(state.rebootNeeded, 0);
    EXPECT_EQ(state.rebootProgram, "OTHER.EXE");
    ASSERT_TRUE(executor.processSection("U", state));
    EXPECT_EQ(state.rebootNeeded, -4);
    EXPECT_EQ(state.rebootProgram, "A,B.EXE");
    EXPECT_EQ(state.linesFailed, 0);
    EXPECT_EQ(log(), "") << "REBOOT prints nothing";
}

TEST_F(Engine, ReportForms) {
    reporter_->message(18);
    reporter_->message(30, "C:\\X.DLL");
    reporter_->messageAt(19, "HKCU\\K");
    reporter_->messageWith(12, "C:\\D");
    reporter_->messages(9, 10);
    reporter_->outcome("C:\\F.DLL", 5);
    EXPECT_EQ(log(), "\r\n\x07M18\r\n\r\n\x07M30: C:\\X.DLL\r\n\r\n\x07M19:\r\n\tHKCU\\K\r\n\r\n\x07M12 C:\\D\r\n"
                     "\r\n\x07M9\r\nM10\r\nC:\\F.DLL (M5)\r\n");
}

TEST_F(Engine, InstallRecord) {
    writeText(systemIniPath_, "[Install]\r\nPatch0=FIX12B\r\nPatch1=FIX1\r\nPatch3=LATE\r\n");
    const patch::Model model = patch::parse("");
    engine::Executor executor(*context_, model);
    int next = -1;
    EXPECT_TRUE(executor.isInstalled("fix12", next));
    EXPECT_EQ(next, 0);
    EXPECT_TRUE(executor.isInstalled("FIX1", next));
    EXPECT_EQ(next, 0);
    EXPECT_FALSE(executor.isInstalled("FIX12B9", next));
    EXPECT_EQ(next, 2);
    EXPECT_FALSE(executor.isInstalled("LATE", next));
    EXPECT_EQ(next, 2);
    executor.recordInstalled(2, "NEW");
    EXPECT_TRUE(executor.isInstalled("new", next));
    EXPECT_EQ(next, 2);
    EXPECT_NE(readText(systemIniPath_).find("Patch2=NEW"), std::string::npos);
}

TEST_F(Engine, RegistryConditionAndItsFailures) {
    std::string branch;
    const std::string line = "Condition0=B,7,1,HKCU,Software\\\\E2EUnit,V, ABC ";
    EXPECT_TRUE(holds(line, branch));
    EXPECT_EQ(branch, "B");
    // Every key opened is closed again.
    EXPECT_EQ(fault::callCount(fault::Call::RegOpenKeyExA), fault::callCount(fault::Call::RegCloseKey));

    makeContext(true);
    fault::resetFaults();
    fault::failCall(fault::Call::RegOpenKeyExA, 1, ERROR_FILE_NOT_FOUND);
    branch.clear();
    EXPECT_FALSE(holds(line, branch));
    EXPECT_EQ(branch, "B") << "the branch is handed back once the fields are there";
    EXPECT_TRUE(fault::faultFired());
    EXPECT_NE(log().find("\r\n\x07M19:\r\n\tHKCU\\Software\\E2EUnit\r\n"), std::string::npos) << log();

    fault::resetFaults();
    fault::failCall(fault::Call::RegQueryValueExA, 1, ERROR_MORE_DATA);
    EXPECT_FALSE(holds(line, branch));
    EXPECT_TRUE(fault::faultFired());
    EXPECT_NE(log().find("\r\n\x07M27:\r\n\tHKCU\\Software\\E2EUnit\\V\r\n"), std::string::npos) << log();

    // Without debug the failures print nothing.
    makeContext(false);
    const size_t before = log().size();
    fault::resetFaults();
    fault::failCall(fault::Call::RegOpenKeyExA);
    EXPECT_FALSE(holds(line, branch));
    EXPECT_EQ(log().size(), before);
}

TEST_F(Engine, UnterminatedRegistryValueIsCutAtItsBytes) {
    makeContext(true);
    std::string branch;
    EXPECT_TRUE(holds("Condition0=R,7,0,HKCU,Software\\\\E2EUnit,Raw,x", branch));
    const std::string text = log();
    EXPECT_NE(text.find("\tTest Val: " + std::string(255, 'Z') + "\r\n"), std::string::npos) << text;
}

TEST_F(Engine, IniConditionAndOsTest) {
    std::string branch;
    EXPECT_TRUE(holds("Condition0=I,7,2,Ver,Build,1", branch));
    EXPECT_FALSE(holds("Condition0=I,7,2,Ver,Build,9", branch));
    EXPECT_FALSE(holds("Condition0=I,8,0,Ver,Build,1", branch));
    machine_.osVersion = 0;
    EXPECT_TRUE(holds("Condition0=I,none,0,Ver,Build,1", branch));
    // Range start expanded with the two variables.
    EXPECT_TRUE(holds("Condition0=I,0,1,Tavro,root,\\\\TAVRO", branch));
    EXPECT_FALSE(holds("Condition0=I,0,1,Tavro,root,\\\\WINDOWS", branch));
    // No system TAVRO.INI at all: the value is empty.
    context_->systemIni = nullptr;
    EXPECT_FALSE(holds("Condition0=I,0,0,Tavro,root,x", branch));
}

TEST_F(Engine, MissingSectionIsReportedAndTheRunGoesOn) {
    const patch::Model model = patch::parse("[Patch]\r\n[Empty]\r\n");
    engine::Executor executor(*context_, model);
    engine::RunState state;
    EXPECT_TRUE(executor.processSection("Nowhere", state));
    EXPECT_EQ(log(), "\r\n\x07M18\r\n");
    EXPECT_TRUE(executor.processSection("Empty", state));
    EXPECT_EQ(log(), "\r\n\x07M18\r\n");
    EXPECT_EQ(state.linesFailed, 0);
    EXPECT_EQ(state.end, engine::End::Applied);
}

TEST_F(Engine, WorkDirectoriesFromTheProductDirectory) {
    const std::string product = dir_ + "\\PROD";
    RemoveDirectoryA((product + "\\ARCHIVE\\TEMP").c_str());
    RemoveDirectoryA((product + "\\ARCHIVE").c_str());
    RemoveDirectoryA(product.c_str());
    CreateDirectoryA(product.c_str(), nullptr);
    machine_.productDirectory = product + "\\";
    makeContext(false);
    EXPECT_EQ(context_->archiveDirectory, product + "\\ARCHIVE");
    EXPECT_EQ(context_->tempDirectory, product + "\\ARCHIVE\\TEMP");
    const patch::Model model = patch::parse("");
    engine::Executor executor(*context_, model);
    ASSERT_TRUE(executor.createWorkDirectories());
    const DWORD attributes = GetFileAttributesA(context_->tempDirectory.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    // Existing directories are as good as new ones.
    EXPECT_TRUE(executor.createWorkDirectories());
}

// A work directory that cannot be made ends the run (message 12 when
// interactive); the executor says so and leaves ending the process to the
// driver.
TEST_F(Engine, WorkDirectoryFailureEndsTheRun) {
    machine_.productDirectory = dir_ + "\\NOTHERE";
    options_.interactive = 1;
    makeContext(false);
    const patch::Model model = patch::parse("[Patch]\r\nCondition0=B,none,0\r\n");
    engine::Executor executor(*context_, model);
    fault::failCall(fault::Call::CreateDirectoryA);
    engine::RunState state;
    executor.run(state);
    EXPECT_TRUE(fault::faultFired());
    EXPECT_EQ(state.end, engine::End::NoWorkDirectory);
    EXPECT_EQ(log(), "\r\n\x07M12 " + dir_ + "\\NOTHERE\\ARCHIVE\r\n");
}

} // namespace
