// Every single platform call of a complete run made to fail in turn (the
// fault build): the run always ends with one of its documented statuses,
// never by a crash or a hang, and what it prints is well formed.
#include "harness.h"

#include <gtest/gtest.h>

#include <string>

using namespace e2e;

namespace {

// A product installed, and a patch directory whose profile applies on
// Windows 98, asks for a restart and names RB.BAT as reboot program.
void prepare(const PatchDir &patch) {
    patch.writeFile("RB.BAT", crlf("@echo off\necho ran>" + patch.path("RAN.TXT") + "\n"));
    patch.writeProfile("[Patch]\nPatch=FAULTS\nLogFile=" + patch.path("RUN.LOG") +
                       "\nReboot Program=RB\nCondition0=Apply,7,0,Tavro,root,x\n\n[Apply]\n"
                       "INI1=TAVRO,RESULT.INI,Result,Done,1\nREBOOT=1\n");
}

} // namespace

TEST(StartupFaults, EveryFailingCallEndsTheRunCleanly) {
    resetMachine();
    installProduct("C:\\TAVRO", 1);
    PatchDir patch("FAULTS", true);
    // Messages 3 and 7 of the shipped catalog.
    const std::string catalog = readFile(languageFile()).value_or("");
    auto message = [&](int n) {
        size_t start = 0;
        for (int i = 1; i < n; ++i) start = catalog.find('\n', start) + 1;
        return catalog.substr(start, catalog.find('\r', start) - start);
    };
    const std::string bannerLine = message(3) + " v2.00 Beta 6N\r\n";
    const std::string closingLine = message(7) + "\r\n";

    prepare(patch);

    const std::string countFile = patch.path("COUNT.TXT");
    RunResult clean = runTavupd(patch, {}, "win98", 60000, {"TAVUPD_CALL_COUNT_FILE=" + countFile});
    ASSERT_EQ(clean.exitCode, 0u) << clean.err;
    ASSERT_EQ(clean.out.compare(0, bannerLine.size(), bannerLine), 0) << clean.out;
    const unsigned long total = std::stoul(readFile(countFile).value_or("0"));
    ASSERT_GT(total, 10u);

    for (unsigned long k = 1; k <= total + 1; ++k) {
        SCOPED_TRACE("failing call " + std::to_string(k) + " of " + std::to_string(total));
        // A fresh machine state for every run: nothing recorded yet.
        resetMachine();
        installProduct("C:\\TAVRO", 1);
        // A directory of its own: the reboot program of the run before may
        // still be writing into the last one.
        PatchDir again("FAULTS" + std::to_string(k), true);
        prepare(again);
        RunResult r = runTavupd(again, {}, "win98", 30000, {"TAVUPD_FAULT_CALL=" + std::to_string(k)});
        EXPECT_FALSE(r.timedOut);
        // Applied (lines may have failed), not applied, or ended.
        EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 1 || r.exitCode == 1603 || r.exitCode == 1638 ||
                    r.exitCode == 1642 || r.exitCode == 3010)
            << r.exitCode << "\n" << r.err;
        // Standard output is empty (the run ended before the banner) or
        // begins with the banner.
        if (!r.out.empty()) {
            EXPECT_EQ(r.out.compare(0, bannerLine.size(), bannerLine), 0) << r.out;
        }
        if (r.exitCode == 0) {
            // The reboot program started, or a failing read lost the
            // restart request: either way the run finished.
            EXPECT_NE(r.out.find(closingLine), std::string::npos) << r.out;
        } else if (r.exitCode == 3010) {
            // Finished, but the reboot program did not start.
            EXPECT_NE(r.out.find(closingLine), std::string::npos) << r.out;
            EXPECT_FALSE(exists(again.path("RAN.TXT")));
        } else {
            // Interactive mode: a failed run always says why.
            EXPECT_NE(r.err, "") << r.out;
        }
    }
}
