// The executor: the patch loop over the installation profile read once
// (work directories, the installed-patch record, the condition sets), the
// walk over each matched branch section's actions in order, and what the
// run came to. It prints through the reporter and ends nothing itself: the
// driver ends the process and starts follow-on programs.
#pragma once

#include <optional>
#include <string>

#include "engine/context.h"
#include "engine/outcome.h"
#include "text/error.h"
#include "text/patchmodel.h"

namespace engine {

// Where the run ended.
enum class End {
    Applied,          // every matched section was processed (lines may have failed)
    AlreadyInstalled, // the patch is on record: nothing was done
    DoesNotApply,     // no condition set holds on this machine
    NoWorkDirectory,  // a work directory could not be made (message 12 when interactive)
    CriticalError,    // a failure that ends the run (RunState::error)
};

// The state the run hands to the driver.
struct RunState {
    End end = End::Applied;
    // The restart request: 1 asks for a restart (set by a line that waits
    // for it; any value a REBOOT line gives).
    int rebootNeeded = 0;
    // The reboot program (a REBOOT line may name another).
    std::string rebootProgram;
    int linesFailed = 0;
    std::optional<Error> error;
};

class Executor {
  public:
    Executor(Context &context, const patch::Model &model) : cx_(context), model_(model) {}

    // The whole run; `state` comes in with the reboot program of the
    // settings and goes out with what the run came to.
    void run(RunState &state);

    // Pieces of the run, also for tests.
    bool createWorkDirectories();
    // Whether the patch is on record in the system TAVRO.INI; `next`
    // receives the index of its record or of the first free one.
    bool isInstalled(const std::string &patchName, int &next);
    void recordInstalled(int index, const std::string &patchName);
    // Processes the branch section `name`; false when the run ends there.
    bool processSection(const std::string &name, RunState &state);
    // Carries out one line of a branch section.
    Outcome runLine(const patch::ActionLine &line);

  private:
    // Tests every condition set and processes each that holds; the number
    // of sets that held, or nothing when the run ended in a section.
    std::optional<int> checkConditions(RunState &state);
    // Applies what a line came to; false when it ends the run.
    bool apply(const Outcome &outcome, RunState &state);

    Context &cx_;
    const patch::Model &model_;
};

} // namespace engine
