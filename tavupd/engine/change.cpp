#include "engine/change.h"

namespace change {

ChangeSink &noChanges() {
    static ChangeSink none;
    return none;
}

std::vector<Change> keysMadeBy(const ChangeSink &sink, platform::Platform &machine, platform::Root root,
                               const std::string &key) {
    std::vector<Change> made;
    if (!sink.needsOldState()) return made;
    for (std::string k = key; !k.empty() && platform::isNotFound(machine.regOpenable(root, k, false));) {
        Change c;
        c.kind = Kind::RegKeyCreated;
        c.root = root;
        c.path = k;
        made.insert(made.begin(), std::move(c));
        const std::size_t slash = k.find_last_of('\\');
        k.resize(slash == std::string::npos ? 0 : slash);
    }
    return made;
}

} // namespace change
