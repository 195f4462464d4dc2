// What one action line came to. Its messages are reported already; the
// executor applies the rest to the run.
#pragma once

#include <optional>
#include <string>

#include "text/error.h"

namespace engine {

struct Outcome {
    enum class Status {
        Done,     // carried out (kind: what was done, e.g. a copy's CopyResult)
        Deferred, // something waits for the next start of Windows
        Skipped,  // nothing to do, or the line does not apply
        Failed,   // reported; the run goes on unless `ending` is set
    };
    Status status = Status::Done;
    int kind = 0;
    // Something was registered for the next start of Windows: the run then
    // needs a restart (also when a later step of the line failed).
    bool waitsForRestart = false;
    // The failure ends the run with this critical error.
    std::optional<Error> ending;
    // REBOOT: the restart request and the program that asks for it.
    std::optional<int> restartRequest;
    std::optional<std::string> restartProgram;

    static Outcome done(int kind = 0) {
        Outcome o;
        o.kind = kind;
        return o;
    }
    static Outcome deferred(int kind = 0) {
        Outcome o = done(kind);
        o.status = Status::Deferred;
        o.waitsForRestart = true;
        return o;
    }
    static Outcome skipped() {
        Outcome o;
        o.status = Status::Skipped;
        return o;
    }
    static Outcome failed(bool waitsForRestart = false) {
        Outcome o;
        o.status = Status::Failed;
        o.waitsForRestart = waitsForRestart;
        return o;
    }
    static Outcome ends(const Error &error) {
        Outcome o = failed();
        o.ending = error;
        return o;
    }
    bool endsRun() const { return ending.has_value(); }
};

} // namespace engine
