// Expansion of \TAVRO and \WINDOWS in condition values and registry values,
// run by the real program with a long product directory: the expanded text
// is cut at its limit and the fields that follow it on the line keep their
// own text.
#include <gtest/gtest.h>

#include <string>

#include "harness.h"

using namespace e2e;

namespace {

const size_t kExpandedMax = 1023;

// "\\TAVRO" as written in a profile line, `count` times over.
std::string references(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += "\\\\TAVRO";
    return text;
}

std::string repeated(const std::string &text, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += text;
    return out;
}

} // namespace

TEST(Substitution, LongExpansionIsCutAndLeavesTheFollowingFieldWhole) {
    resetMachine();
    const std::string product = "C:\\TAVRO\\" + std::string(60, 'P');
    installProduct(product, 0, "\n[Bound]\nkey=D\n");
    PatchDir patch("SUBSTBOUND");

    // Mode 4: the value "D" must lie between the expanded range start (a text
    // beginning with "C:\") and the range end "E" that follows it.
    const int count = 20;
    const std::string full = repeated(product, count);
    ASSERT_GT(full.size(), kExpandedMax);
    const std::string cut = full.substr(0, kExpandedMax);
    patch.writeProfile("[Patch]\n"
                       "Condition0=Main,7,4,Bound,key," +
                       references(count) +
                       ",E\n"
                       "\n[Main]\n"
                       "REG1=HKLM,SOFTWARE\\\\E2ETest,Bound," +
                       references(count) +
                       "\n"
                       "REG2=HKLM,SOFTWARE\\\\E2ETest,After,\\\\WINDOWS\n");
    RunResult r = runTavupd(patch, {"-d"}, "win98");
    EXPECT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_NE(r.out.find("\trange s: " + cut + "\r\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\trange e: E\r\n"), std::string::npos) << r.out;

    // The branch ran: the registry value holds the expansion cut at its limit.
    const auto bound = regGetString("HKLM", "SOFTWARE\\E2ETest", "Bound");
    ASSERT_TRUE(bound.has_value());
    EXPECT_EQ(bound->size(), kExpandedMax);
    EXPECT_EQ(*bound, cut);
    EXPECT_EQ(regGetString("HKLM", "SOFTWARE\\E2ETest", "After"), std::optional<std::string>(windowsDir()));
}

TEST(Substitution, RangeEndAfterALongStartStillDecides) {
    resetMachine();
    const std::string product = "C:\\TAVRO\\" + std::string(60, 'P');
    installProduct(product, 0, "\n[Bound]\nkey=D\n");
    PatchDir patch("SUBSTEND");
    // The same start, with an end below the value: the set does not hold.
    patch.writeProfile("[Patch]\n"
                       "Condition0=Main,7,4,Bound,key," +
                       references(20) +
                       ",CZ\n"
                       "\n[Main]\n"
                       "REG1=HKLM,SOFTWARE\\\\E2ETest,Ran,1\n");
    RunResult r = runTavupd(patch, {}, "win98");
    EXPECT_EQ(r.exitCode, 1642u) << r.out << r.err;
    EXPECT_FALSE(regGetString("HKLM", "SOFTWARE\\E2ETest", "Ran").has_value());
}
