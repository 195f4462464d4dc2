// What a run tells an observer besides the changes it describes: each
// condition set tested, where each action line starts and how it ended, and
// what the date rule decided for each file an install copies. The preview
// report is such an observer; the run itself needs none (Context::observer
// is null).
#pragma once

#include <string>

#include "engine/outcome.h"

namespace engine {

class RunObserver {
  public:
    virtual ~RunObserver() = default;
    // A condition set tested: `line` and `key` of the line that decided
    // (the first when the set holds, the one that failed otherwise);
    // `section` is the branch when it holds, `why` says which test failed.
    virtual void conditionTested(int line, const std::string &key, bool holds, const std::string &section,
                                 const std::string &why) = 0;
    virtual void actionStarts(int line, const std::string &key) = 0;
    // A file an install copied, with its files::CopyResult.
    virtual void fileCopied(const std::string &destination, int copyResult) = 0;
    virtual void actionEnds(const Outcome &outcome) = 0;
};

} // namespace engine
