#include "engine/context.h"

#include "profile/profile.h"
#include "text/textkit.h"

namespace engine {

Context::Context(const Machine &m, const Options &o, Reporter &r, change::ChangeSink &c)
    : machine(m), options(o), report(r), changes(c), variables('\\') {
    variables.add("TAVRO", machine.productDirectory);
    variables.add("WINDOWS", machine.windowsDirectory);
    archiveDirectory = text::joinPath(machine.productDirectory, "ARCHIVE");
    tempDirectory = archiveDirectory + "\\TEMP";
    files.deferral = files::deferralFor(machine.osFamily);
    files.windowsDirectory = machine.windowsDirectory;
    files.tempDirectory = tempDirectory;
    files.debug = report.debug();
    files.changes = &changes;
    files.sweptDirectories = &sweptDirectories;
}

Context::~Context() = default;

std::optional<std::string> Context::directoryOf(patch::Location location) const {
    switch (location) {
    case patch::Location::Windows: return machine.windowsDirectory;
    case patch::Location::Tavro: return machine.productDirectory;
    case patch::Location::Unknown: break;
    }
    return std::nullopt;
}

bool Context::iniInRegistry() const { return systemIni != nullptr && systemIni->isRegistry(); }

} // namespace engine
