// A text that describes everything a machine holds below the given drive
// roots and in its registry: every directory and file (name as listed, size,
// dates, read-only, bytes) and every key and value. Two machines that hold
// the same give the same text; entries are listed by name without case, so
// that the order a listing comes in does not matter.
#pragma once

#include "platform/platform.h"

#include <string>
#include <vector>

namespace platform {

std::string snapshot(Platform &machine, const std::vector<std::string> &driveRoots = {"C:\\"});

} // namespace platform
