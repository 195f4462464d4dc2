// The main function of the Windows unit tests: every test runs on the Win32
// platform over the fault table, so that any raw call can be made to fail
// and calls can be counted.
#include <gtest/gtest.h>

#include "testing/fault.h"

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    fault::Installed platform;
    return RUN_ALL_TESTS();
}
