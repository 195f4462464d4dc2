#include "engine/change.h"

namespace change {

ChangeSink &noChanges() {
    static ChangeSink none;
    return none;
}

} // namespace change
