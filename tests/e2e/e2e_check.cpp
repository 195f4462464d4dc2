// TAVUPD.EXE -c: the report on the example kit and on a broken copy of it is
// byte for byte the native tavupd-check's (the expected outputs in
// tests/check/ are what the native test compares tavupd-check with), and
// the check changes nothing on a machine where the example patch applies.

#include "harness.h"

#include <gtest/gtest.h>

#ifndef E2E_SOURCE_DIR
#error "E2E_SOURCE_DIR must name the source tree"
#endif

using namespace e2e;

namespace {

const std::string kSource = E2E_SOURCE_DIR;

// Console output arrives with "\r\n"; the expected files have "\n".
std::string withoutCarriageReturns(std::string text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

std::string expected(const std::string &kit) {
    const auto text = readFile(kSource + "\\tests\\check\\" + kit + ".expected");
    if (!text) ADD_FAILURE() << "no expected output for " << kit;
    return text.value_or("");
}

// Everything the example patch would change: product files and
// directories, the Windows directory's INI files, the registry keys it
// writes, the delayed moves; and the kit directory itself.
std::string machineState(const PatchDir &patch) {
    std::string s;
    for (const auto &f : listFilesBelow("C:\\TAVRO")) s += f + "=" + readFile(f).value_or("?") + "\n";
    s += isDirectory("C:\\TAVRO\\ARCHIVE") ? "ARCHIVE\n" : "";
    for (const char *ini : {"TAVRO.INI", "WIN.INI", "WININIT.INI"})
        s += std::string(ini) + "=" + readFile(windowsDir() + "\\" + ini).value_or("<none>") + "\n";
    for (const auto &name : regValueNames("HKLM", "SOFTWARE\\Korvek\\Tavro"))
        s += name + "=" + regGetString("HKLM", "SOFTWARE\\Korvek\\Tavro", name).value_or("?") + "\n";
    s += regKeyExists("HKCU", "Software\\Korvek\\Tavro\\Cache") ? "cache\n" : "";
    s += regKeyExists("HKCU", "Software\\Korvek\\Tavro\\Viewer") ? "viewer\n" : "";
    s += regKeyExists("HKCR", ".tvr") ? "tvr\n" : "";
    s += std::to_string(pendingMoves().size()) + " moves\n";
    for (const auto &f : listFilesBelow(patch.dir())) s += f + "=" + readFile(f).value_or("?") + "\n";
    return s;
}

class Check : public ::testing::Test {
  protected:
    void SetUp() override { resetMachine(); }
};

} // namespace

TEST_F(Check, ExampleKitChangesNothingAndReportsAsTheNativeChecker) {
    // The example product, on which the example patch applies. TVSETUP.EXE
    // is built in the test tree, beside the fault build.
    const std::string fault = tavupdFaultExe();
    const std::string tvsetup = fault.substr(0, fault.find_last_of('\\')) + "\\TVSETUP.exe";
    RunResult setup = runProgram(tvsetup, {"install", kSource + "\\examples\\product\\PRODUCT.LST"});
    ASSERT_EQ(setup.exitCode, 0u) << setup.err;
    PatchDir kit("CHECK");
    ASSERT_TRUE(copyKit(kSource + "\\examples\\patch", kit));
    const std::string before = machineState(kit);

    for (const char *version : {"win98", "nt40"}) {
        const RunResult r = runTavupd(kit, {"-c"}, version);
        EXPECT_EQ(r.exitCode, 0u) << version;
        EXPECT_EQ(withoutCarriageReturns(r.out), expected("example")) << version;
        EXPECT_EQ(r.err, "") << version;
        EXPECT_EQ(machineState(kit), before) << version;
    }
    // The same kit run for real does change the machine: the state above
    // is one the check would have disturbed.
    const RunResult real = runTavupd(kit, {}, "nt40");
    EXPECT_NE(machineState(kit), before) << real.out << real.err;
}

TEST_F(Check, BrokenKitFailsWithTheNativeCheckersReport) {
    installProduct();
    PatchDir kit("BROKEN");
    ASSERT_TRUE(copyKit(kSource + "\\tests\\check\\broken", kit));
    const std::string before = machineState(kit);
    // Its LogFile names the profile itself: the check must not open it.
    const RunResult r = runTavupd(kit, {"/C"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(withoutCarriageReturns(r.out), expected("broken"));
    EXPECT_EQ(machineState(kit), before);
}

TEST_F(Check, TakesTheProfileOfPAndNeedsNoLanguageFile) {
    PatchDir kit("OTHER");
    ASSERT_TRUE(DeleteFileA(kit.path("TAVUPD.MSG").c_str()));
    const std::string other = kit.path("OTHER.DAT");
    writeFile(other, "[Patch]\r\nPatch=P\r\n");
    const RunResult r = runTavupd(kit, {"-p", other, "-c"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(withoutCarriageReturns(r.out),
              other + "(1): error: no Condition0 line: no condition set can hold, the patch never applies\n"
                      "    [Patch]\n1 error, 0 warnings\n");
    // No profile at all.
    const RunResult none = runTavupd(kit, {"-c"});
    EXPECT_EQ(none.exitCode, 1u);
    EXPECT_EQ(withoutCarriageReturns(none.out), "TAVUPD.DAT: error: the profile cannot be read\n1 error, 0 warnings\n");
    EXPECT_FALSE(exists("C:\\TAVRO"));
}
