// The driver's side of the journal: the sink a run's changes go through,
// the journal of a run that applies a patch, taking a patch back (-u) and
// where the machine stands (-s).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/nls.h"
#include "app/run.h"
#include "engine/change.h"
#include "journal/sink.h"

namespace app {

// The run's changes, passed on to every sink attached: the journal once the
// run knows its patch (the settings files are opened before the profile is
// read), and the report of a preview. A change one of them refuses is not
// made and is not passed on to the later ones. With none attached, nothing
// is recorded.
class RunChanges : public change::ChangeSink {
  public:
    void attach(change::ChangeSink &target) { targets_.push_back(&target); }
    bool needsOldState() const override {
        for (const change::ChangeSink *t : targets_)
            if (t->needsOldState()) return true;
        return false;
    }
    bool before(const change::Change &c) override {
        for (std::size_t i = 0; i < targets_.size(); ++i) {
            if (targets_[i]->before(c)) continue;
            // The ones told already learn that it was not made.
            for (std::size_t j = 0; j < i; ++j) targets_[j]->after(c, false);
            return false;
        }
        return true;
    }
    void after(const change::Change &c, bool made) override {
        for (change::ChangeSink *t : targets_) t->after(c, made);
    }

  private:
    std::vector<change::ChangeSink *> targets_;
};

// How many arguments ask for undo (second character u), and whether one asks
// for the status report (second character s). The path after a lone -p is
// no switch.
int undoSwitchCount(int argc, char **argv);
bool statusSwitchGiven(int argc, char **argv);

// The journal of a run that applies the patch `patch` (not empty).
std::unique_ptr<journal::JournalSink> openJournal(const RunConfig &config, const std::string &patch,
                                                  const std::string &profilePath);

// After a run: the message that the journal could not be written, when it
// could not; and after a critical error, the line that says how to take
// back what was done, when the journal holds anything to take back.
void reportJournalBroken(NLSClass &messages, const journal::JournalSink &sink);
void reportHowToUndo(NLSClass &messages, const journal::JournalSink &sink, const std::string &program,
                     const std::string &profileArgument);

// Takes back the patch `patch` (the profile's patch; empty: the last one
// recorded); `count` undo switches (2 or more: past changes made since).
// Prints its outcome; returns the exit status.
int runUndo(RunConfig &config, NLSClass &messages, const std::string &patch, int count);

// Prints where the machine stands, changing nothing; returns the exit status.
int runStatus(RunConfig &config, NLSClass &messages);

} // namespace app
