// Condition sets against the machine.
#pragma once

#include <string>

#include "engine/context.h"
#include "text/patchmodel.h"

namespace engine {

// Tests one condition line; `branch` receives the line's branch once the
// required fields are present. True when the line holds.
bool testCondition(Context &context, const patch::ConditionLine &line, std::string &branch);

// Tests the lines of a set in order, up to the first that fails: true when
// every one holds; `branch` receives the first line's branch. An overlong
// line is reported (message 18 with its key) and fails the set.
bool setHolds(Context &context, const patch::ConditionSet &set, std::string &branch);

} // namespace engine
