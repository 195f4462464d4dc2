// Which command lines ask TAVUPD.EXE for the check.
#include "app/check_switch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool given(std::vector<std::string> args) {
    args.insert(args.begin(), "TAVUPD.EXE");
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    return checkSwitchGiven(static_cast<int>(argv.size()), argv.data());
}

} // namespace

TEST(CheckSwitch, RecognisedByTheSecondCharacter) {
    EXPECT_TRUE(given({"-c"}));
    EXPECT_TRUE(given({"/C"}));
    EXPECT_TRUE(given({"-d", "ic"})); // as "id" turns on interactive and debug
    EXPECT_TRUE(given({"-pOTHER.DAT", "-c"}));
    EXPECT_TRUE(given({"-p", "X.DAT", "-c"}));
    EXPECT_FALSE(given({}));
    EXPECT_FALSE(given({"c", "-d", "i"}));
    // After a lone -p the next argument is the profile's path, not a switch.
    EXPECT_FALSE(given({"-p", "-c"}));
}
