// REG lines run by the real program: created keys and values with their
// types, deleted values and trees, untouched neighbours, and the messages
// of every refused or failed line, on all four roots.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "harness.h"

using namespace e2e;

namespace {

const std::string kComplete = "Patch update installation complete.\r\n";

// A profile whose one condition set holds on Windows 98 and runs [Main].
std::string plainError(const std::string &text) { return "\r\n\a" + text + "\r\n"; }
std::string keyError(const std::string &text, const std::string &path, const std::string &name) {
    return "\r\n\a" + text + ":\r\n\t" + path + "\\" + name + "\r\n";
}
std::string pathError(const std::string &text, const std::string &path) {
    return "\r\n\a" + text + ":\r\n\t" + path + "\r\n";
}

const std::string kInvalidLine = "Invalid line or missing section in the installation profile";

class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        resetMachine();
        installProduct("C:\\TAVRO", 0);
        patchDir = std::make_unique<PatchDir>("REG");
    }
    RunResult run(const std::string &body, const std::vector<std::string> &args = {}) {
        patch().writeProfile(profileWith(body));
        return runTavupd(patch(), args);
    }
    // The same on Windows NT 4.
    RunResult runNT(const std::string &body) {
        patch().writeProfile(profileWith(body, 8));
        return runTavupd(patch(), {}, "nt40");
    }
    // Made after the machine is reset, which empties C:\E2E.
    std::unique_ptr<PatchDir> patchDir;
    PatchDir &patch() { return *patchDir; }
};

TEST_F(Registry, CreatesKeysWithMissingParentsOnEveryRoot) {
    RunResult r = run("REG1=HKLM,SOFTWARE\\\\E2ETest\\\\Vendor\\\\Tool,Version,2.0\n"
                      "REG2=hkcu,Software\\\\E2ETest\\\\X,Name,V\n"
                      "REG3=HkCr,E2ETest\\\\Y,N,W\n"
                      "REG4=hku,.DEFAULT\\\\Software\\\\E2ETest\\\\Z,Z1,zz\n");
    ASSERT_FALSE(r.timedOut);
    // A successful REG line prints nothing with debug off.
    EXPECT_EQ(r.out, kBanner + kComplete);
    EXPECT_EQ(r.err, "");

    EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\E2ETest\\Vendor\\Tool", "Version"), std::optional<std::string>("2.0"));
    EXPECT_EQ(regGetType("HKLM", "SOFTWARE\\E2ETest\\Vendor\\Tool", "Version"), std::optional<DWORD>(REG_SZ));
    EXPECT_EQ(regSubKeys("HKLM", "SOFTWARE\\E2ETest"), std::vector<std::string>{"Vendor"});
    EXPECT_EQ(regValueNames("HKLM", "SOFTWARE\\E2ETest\\Vendor"), std::vector<std::string>{});

    EXPECT_EQ(regGetString("HKCU", "Software\\E2ETest\\X", "Name"), std::optional<std::string>("V"));
    EXPECT_EQ(regGetType("HKCU", "Software\\E2ETest\\X", "Name"), std::optional<DWORD>(REG_SZ));
    EXPECT_EQ(regGetString("HKCR", "E2ETest\\Y", "N"), std::optional<std::string>("W"));
    EXPECT_EQ(regGetString("HKU", ".DEFAULT\\Software\\E2ETest\\Z", "Z1"), std::optional<std::string>("zz"));
}

TEST_F(Registry, ChangesExistingValueToStringAndKeepsNeighbours) {
    regSetDword("HKLM", "SOFTWARE\\E2ETest\\K", "Count", 7);
    regSetString("HKLM", "SOFTWARE\\E2ETest\\K", "Other", "keep");
    regSetString("HKLM", "SOFTWARE\\E2ETest\\Sibling", "S", "s");
    RunResult r = run("REG1=HKLM,SOFTWARE\\\\E2ETest\\\\K,Count,12\n"
                      "REG2=HKLM,SOFTWARE\\\\E2ETest\\\\K,Empty,\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\E2ETest\\K", "Count"), std::optional<std::string>("12"));
    EXPECT_EQ(regGetType("HKLM", "SOFTWARE\\E2ETest\\K", "Count"), std::optional<DWORD>(REG_SZ));
    // An empty value field is an empty text, not a deletion.
    EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\E2ETest\\K", "Empty"), std::optional<std::string>(""));
    EXPECT_EQ(regGetType("HKLM", "SOFTWARE\\E2ETest\\K", "Empty"), std::optional<DWORD>(REG_SZ));
    EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\E2ETest\\K", "Other"), std::optional<std::string>("keep"));
    EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\E2ETest\\Sibling", "S"), std::optional<std::string>("s"));
}

TEST_F(Registry, DefaultValueAndValueOfTheRootItself) {
    RunResult r = run("REG1=HKLM,SOFTWARE\\\\E2ETest\\\\X,,V\n"
                      "REG2=HKCU,,E2ETestRootValue,R\n");
    const auto rootValue = regGetString("HKCU", "", "E2ETestRootValue");
    // The value on the root is not cleared by resetMachine: remove it first.
    HKEY k = HKEY_CURRENT_USER;
    RegDeleteValueA(k, "E2ETestRootValue");

    EXPECT_EQ(r.err, "");
    EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\E2ETest\\X", ""), std::optional<std::string>("V"));
    EXPECT_EQ(regGetType("HKLM", "SOFTWARE\\E2ETest\\X", ""), std::optional<DWORD>(REG_SZ));
    EXPECT_EQ(regValueNames("HKLM", "SOFTWARE\\E2ETest\\X").size(), 1u);
    EXPECT_EQ(rootValue, std::optional<std::string>("R"));
}

TEST_F(Registry, RootNamesAreComparedWhole) {
    RunResult r = run("REG1=HKEY_CURRENT_USER,Software\\\\E2ETest\\\\X,Name,V\n"
                      "REG2=HKLMX,SOFTWARE\\\\E2ETest\\\\X,Name,V\n"
                      "REG3=HK,SOFTWARE\\\\E2ETest\\\\X,Name,V\n"
                      "REG4=,SOFTWARE\\\\E2ETest\\\\X,Name,V\n"
                      "REG5\n"
                      "REG6=HKCU,Software\\\\E2ETest\\\\Done,Name,V\n");
    EXPECT_EQ(r.out, kBanner + kComplete);
    std::string expected;
    for (int i = 0; i < 5; ++i) expected += plainError(kInvalidLine);
    EXPECT_EQ(r.err, expected);
    EXPECT_FALSE(regKeyExists("HKCU", "Software\\E2ETest\\X"));
    EXPECT_FALSE(regKeyExists("HKLM", "SOFTWARE\\E2ETest\\X"));
    // The section goes on after a refused line.
    EXPECT_EQ(regGetString("HKCU", "Software\\E2ETest\\Done", "Name"), std::optional<std::string>("V"));
}

TEST_F(Registry, LineWithoutPathOrNameIsRefusedAndRootStaysWhole) {
    regSetString("HKCU", "Software\\E2ETest\\Keep", "A", "a");
    RunResult r = run("REG1=HKCU\n"
                      "REG2=HKCU,,,V\n"
                      "REG3=HKCU,,\n"
                      "REG4=HKLM,,,\n");
    EXPECT_EQ(r.err, plainError(kInvalidLine) + plainError(kInvalidLine) + plainError(kInvalidLine) +
                         plainError(kInvalidLine));
    EXPECT_EQ(regGetString("HKCU", "Software\\E2ETest\\Keep", "A"), std::optional<std::string>("a"));
    EXPECT_TRUE(regKeyExists("HKCU", "Software"));
    EXPECT_TRUE(regKeyExists("HKLM", "SOFTWARE"));
    EXPECT_EQ(regGetString("HKCU", "", ""), std::nullopt);
}

TEST_F(Registry, DeletesValueAndReportsMissingKeyAndValue) {
    regSetString("HKLM", "SOFTWARE\\E2ETest\\X", "Name", "v");
    regSetString("HKLM", "SOFTWARE\\E2ETest\\X", "Stay", "s");
    RunResult r = run("REG1=HKLM,SOFTWARE\\\\E2ETest\\\\X,Name\n"
                      "REG2=HKLM,SOFTWARE\\\\E2ETest\\\\Nope,Name\n"
                      "REG3=HKLM,SOFTWARE\\\\E2ETest\\\\X,Missing\n"
                      "REG4=HKLM,SOFTWARE\\\\E2ETest\\\\X,Name\n");
    EXPECT_EQ(r.out, kBanner + kComplete);
    EXPECT_EQ(r.err, keyError("Cannot open the registry key", "SOFTWARE\\E2ETest\\Nope", "Name") +
                         keyError("Cannot delete the registry value", "SOFTWARE\\E2ETest\\X", "Missing") +
                         keyError("Cannot delete the registry value", "SOFTWARE\\E2ETest\\X", "Name"));
    EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\E2ETest\\X", "Name"), std::nullopt);
    EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\E2ETest\\X", "Stay"), std::optional<std::string>("s"));
    EXPECT_FALSE(regKeyExists("HKLM", "SOFTWARE\\E2ETest\\Nope"));
}

TEST_F(Registry, DeletesWholeTreeDepthFirstAndLeavesNeighbours) {
    const std::string t = "SOFTWARE\\E2ETest\\Tree";
    regSetString("HKLM", t, "top", "1");
    regSetString("HKLM", t + "\\A", "a", "1");
    regSetString("HKLM", t + "\\B", "b", "1");
    regSetString("HKLM", t + "\\C\\C1", "c1", "1");
    regSetString("HKLM", t + "\\C\\C2\\C21", "c21", "1");
    regSetString("HKLM", "SOFTWARE\\E2ETest\\TreeSibling", "n", "1");
    regSetString("HKLM", "SOFTWARE\\E2ETest", "parent", "p");
    regSetString("HKCR", "E2ETest\\Sub\\Deeper", "d", "1");
    regSetString("HKCR", "E2ETest\\Other", "o", "1");

    RunResult r = run("REG1=HKLM,SOFTWARE\\\\E2ETest\\\\Tree\n"
                      "REG2=HKCR,E2ETest\\\\Sub\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kBanner + kComplete);
    EXPECT_FALSE(regKeyExists("HKLM", t));
    EXPECT_TRUE(regKeyExists("HKLM", "SOFTWARE\\E2ETest\\TreeSibling"));
    EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\E2ETest", "parent"), std::optional<std::string>("p"));
    EXPECT_EQ(regSubKeys("HKLM", "SOFTWARE\\E2ETest"), std::vector<std::string>{"TreeSibling"});
    EXPECT_FALSE(regKeyExists("HKCR", "E2ETest\\Sub"));
    EXPECT_EQ(regSubKeys("HKCR", "E2ETest"), std::vector<std::string>{"Other"});
}

TEST_F(Registry, DeletingMissingTreeReportsKeyWithoutName) {
    RunResult r = run("REG1=HKU,.DEFAULT\\\\Software\\\\E2ETest\\\\Gone\n");
    EXPECT_EQ(r.err, keyError("Cannot open the registry key", ".DEFAULT\\Software\\E2ETest\\Gone", "(null)"));
}

TEST_F(Registry, LongSubkeyNameStopsTheTreeDeletion) {
    const std::string t = "SOFTWARE\\E2ETest\\T";
    const std::string longName(50, 'L');
    const std::string fitting(49, 'F');
    regSetString("HKLM", t + "\\A\\" + longName, "x", "1");
    regSetString("HKLM", t + "\\B\\" + fitting, "x", "1");
    // On NT a key is deleted only when it has no subkeys left.
    RunResult r = runNT("REG1=HKLM,SOFTWARE\\\\E2ETest\\\\T\\\\A\n"
                        "REG2=HKLM,SOFTWARE\\\\E2ETest\\\\T\\\\B\n"
                        "REG3=HKLM,SOFTWARE\\\\E2ETest\\\\T\n");
    // A: its one subkey name does not fit: the subkeys of A cannot be listed.
    // B: a 49-character name fits. T: the nested failure below A is reported
    // there, and A itself then cannot be deleted.
    EXPECT_EQ(r.err, pathError("Cannot list the subkeys of the registry key", t + "\\A") +
                         pathError("Cannot list the subkeys of the registry key", t + "\\A") +
                         pathError("Cannot delete the registry key", t + "\\A"));
    EXPECT_TRUE(regKeyExists("HKLM", t + "\\A\\" + longName));
    EXPECT_FALSE(regKeyExists("HKLM", t + "\\B"));
}

TEST_F(Registry, ValueIsExpandedButPathIsNot) {
    RunResult r = run("REG1=HKCR,E2ETest\\\\WINDOWS,P,\\\\WINDOWS\\\\SYSTEM\n"
                      "REG2=HKCR,E2ETest\\\\WINDOWS,Q,\\\\TAVRO\n"
                      "REG3=HKCR,E2ETest\\\\WINDOWS,L,C:\\\\\\\\WINDOWS\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(regGetString("HKCR", "E2ETest\\WINDOWS", "P"), std::optional<std::string>(windowsDir() + "\\SYSTEM"));
    EXPECT_EQ(regGetString("HKCR", "E2ETest\\WINDOWS", "Q"), std::optional<std::string>("C:\\TAVRO"));
    EXPECT_EQ(regGetString("HKCR", "E2ETest\\WINDOWS", "L"), std::optional<std::string>("C:\\WINDOWS"));
}

TEST_F(Registry, KeyThatCannotBeCreatedIsReported) {
    // A volatile key takes no lasting subkeys; its parent is an ordinary key.
    regSetString("HKCU", "Software\\E2ETest", "p", "1");
    HKEY vol = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\E2ETest\\Vol", 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &vol, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(vol);
    RunResult r = run("REG1=HKCU,Software\\\\E2ETest\\\\Vol\\\\Child,N,V\n"
                      "REG2=HKCU,Software\\\\E2ETest\\\\Good,N,V\n");
    EXPECT_EQ(r.err, keyError("Cannot create the registry key", "Software\\E2ETest\\Vol\\Child", "N"));
    EXPECT_FALSE(regKeyExists("HKCU", "Software\\E2ETest\\Vol\\Child"));
    EXPECT_EQ(regGetString("HKCU", "Software\\E2ETest\\Good", "N"), std::optional<std::string>("V"));
}

TEST_F(Registry, DebugTraceShowsFieldsAndOperation) {
    regSetString("HKCU", "Software\\E2ETest\\D", "gone", "1");
    regSetString("HKCU", "Software\\E2ETest\\T\\U", "u", "1");
    RunResult r = run("REG1=HKCU,Software\\\\E2ETest\\\\D,N,\\\\TAVRO\n"
                      "REG2=HKCU,Software\\\\E2ETest\\\\D,gone\n"
                      "REG3=HKCU,Software\\\\E2ETest\\\\T\n",
                      {"-d"});
    EXPECT_EQ(r.err, "");
    const std::string create = "Entered processRegistry\r\n"
                               "\tsection: HKCU\r\n"
                               "\tpath:    Software\\E2ETest\\D\r\n"
                               "\tkey:     N\r\n"
                               "\tvalue:   C:\\TAVRO\r\n"
                               "Creating/Changing a registry key\r\n";
    const std::string remove = "Entered processRegistry\r\n"
                               "\tsection: HKCU\r\n"
                               "\tpath:    Software\\E2ETest\\D\r\n"
                               "\tkey:     gone\r\n"
                               "\tvalue:   (null)\r\n"
                               "Deleting a registry value\r\n";
    const std::string tree = "Entered processRegistry\r\n"
                             "\tsection: HKCU\r\n"
                             "\tpath:    Software\\E2ETest\\T\r\n"
                             "\tkey:     (null)\r\n"
                             "\tvalue:   (null)\r\n"
                             "Deleting a registry subtree\r\n";
    const size_t a = r.out.find(create), b = r.out.find(remove), c = r.out.find(tree);
    ASSERT_NE(a, std::string::npos) << r.out;
    ASSERT_NE(b, std::string::npos) << r.out;
    ASSERT_NE(c, std::string::npos) << r.out;
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_EQ(regGetString("HKCU", "Software\\E2ETest\\D", "N"), std::optional<std::string>("C:\\TAVRO"));
    EXPECT_EQ(regGetString("HKCU", "Software\\E2ETest\\D", "gone"), std::nullopt);
    EXPECT_FALSE(regKeyExists("HKCU", "Software\\E2ETest\\T"));
}

// Every registry call the REG lines make is made to fail once, in turn, in
// the fault build: each failure is reported with its own message and key,
// the run never crashes and the section always goes on.
TEST(RegistryFaults, EveryFailingCallIsReportedAndTheSectionGoesOn) {
    const std::string f = "Software\\E2ETest\\F";
    const std::string body = "REG1=HKCU,Software\\\\E2ETest\\\\F\\\\New,N,V\n"
                             "REG2=HKCU,Software\\\\E2ETest\\\\F\\\\Old,N\n"
                             "REG3=HKCU,Software\\\\E2ETest\\\\F\\\\Tree\n";
    auto prepare = [&]() {
        resetMachine();
        installProduct("C:\\TAVRO", 0);
        regSetString("HKCU", f + "\\Old", "N", "old");
        regSetString("HKCU", f + "\\Tree\\S\\S2", "x", "1");
        auto dir = std::make_unique<PatchDir>("REGFAULT", true);
        dir->writeProfile(profileWith(body, 8));
        return dir;
    };

    // A clean run first, with the trace of its platform calls.
    auto dir = prepare();
    const std::string traceFile = dir->path("CALLS.TXT");
    RunResult clean = runTavupd(*dir, {}, "nt40", 60000, {"TAVUPD_CALL_TRACE_FILE=" + traceFile});
    ASSERT_EQ(clean.err, "");
    ASSERT_EQ(regGetString("HKCU", f + "\\New", "N"), std::optional<std::string>("V"));
    ASSERT_FALSE(regKeyExists("HKCU", f + "\\Tree"));
    const auto trace = readFile(traceFile);
    ASSERT_TRUE(trace.has_value());

    std::vector<unsigned long> registryCalls;
    size_t pos = 0;
    while (pos < trace->size()) {
        size_t end = trace->find('\n', pos);
        if (end == std::string::npos) end = trace->size();
        const std::string line = trace->substr(pos, end - pos);
        pos = end + 1;
        const size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        const std::string name = line.substr(space + 1, line.find_last_not_of("\r") - space);
        if (name.rfind("Reg", 0) == 0 && name != "RegCloseKey") registryCalls.push_back(std::stoul(line.substr(0, space)));
    }
    ASSERT_GE(registryCalls.size(), 10u);

    std::string allErrors;
    for (unsigned long k : registryCalls) {
        dir = prepare();
        RunResult r = runTavupd(*dir, {}, "nt40", 60000, {"TAVUPD_FAULT_CALL=" + std::to_string(k)});
        ASSERT_FALSE(r.timedOut) << k;
        EXPECT_LT(r.exitCode, 0x80000000u) << "call " << k;
        EXPECT_NE(r.out.find(kComplete), std::string::npos) << "call " << k << r.out << r.err;
        allErrors += r.err;
    }
    const std::string n = f + "\\New", o = f + "\\Old", t = f + "\\Tree";
    for (const std::string &expected :
         {keyError("Cannot create the registry key", n, "N"), keyError("Cannot set the registry value", n, "N"),
          keyError("Cannot open the registry key", o, "N"), keyError("Cannot delete the registry value", o, "N"),
          keyError("Cannot open the registry key", t, "(null)"), pathError("Cannot query the registry key", t),
          pathError("Cannot list the subkeys of the registry key", t), keyError("Cannot open the registry key", t, "S"),
          pathError("Cannot query the registry key", t + "\\S"),
          pathError("Cannot list the subkeys of the registry key", t + "\\S"),
          keyError("Cannot open the registry key", t + "\\S", "S2"),
          pathError("Cannot query the registry key", t + "\\S\\S2"),
          pathError("Cannot delete the registry key", t + "\\S\\S2"),
          pathError("Cannot delete the registry key", t + "\\S"), pathError("Cannot delete the registry key", t)})
        EXPECT_NE(allErrors.find(expected), std::string::npos) << expected;
}

} // namespace
