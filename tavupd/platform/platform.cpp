// The process-wide current platform.
#include "platform/platform.h"

#include <stdexcept>

namespace platform {
namespace {

Platform *installed = nullptr;

} // namespace

Platform &current() {
    // Every program installs its platform first; code that runs without one
    // is a defect of the program, not a state of the machine.
    if (!installed) throw std::logic_error("no platform installed");
    return *installed;
}

Install::Install(Platform &p) : previous_(installed) { installed = &p; }

Install::~Install() { installed = previous_; }

} // namespace platform
