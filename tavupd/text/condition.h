// Evaluation of one condition line of the installation profile, free of the
// platform: the choice of the INI or registry form (made by the model), the
// OS and mode fields, trimming, the textual comparison and the mode table.
// What needs the machine (the test value from the registry or the system
// TAVRO.INI, trace output) comes in through ConditionHooks.
#pragma once

#include <optional>
#include <string>

#include "text/patchmodel.h"

class SubstituteClass;

namespace condition {

class ConditionHooks {
  public:
    virtual ~ConditionHooks() = default;
    // The fields after the range start was expanded (trace output).
    virtual void fieldsSplit(const patch::ConditionFields &) {}
    // The OS number of the line before it is compared (trace output).
    virtual void osCompared(int) {}
    // The value is about to be fetched (trace output).
    virtual void valueWanted() {}
    // The test value; nullopt when it cannot be had (already reported).
    virtual std::optional<std::string> fetchValue(const patch::ConditionFields &) = 0;
    // The trimmed, non-empty test value (trace output).
    virtual void valueTrimmed(const std::string &) {}
};

// Evaluates the fields of one condition line against the OS version code
// of this machine: true when the condition holds. `branch` receives the
// branch field once the line is complete enough to name one. `variables`
// expands the range start. Numeric fields are read as "%d" reads them
// (text::readDecimal): the OS field defaults to 0, the mode to 2 (also
// outside 0-4).
bool evaluate(patch::ConditionFields fields, int osVersion, const SubstituteClass &variables, ConditionHooks &hooks,
              std::string &branch);

} // namespace condition
