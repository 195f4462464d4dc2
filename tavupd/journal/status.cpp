#include "journal/status.h"

#include "journal/reader.h"
#include "text/textkit.h"

namespace journal {

namespace {

struct Known {
    std::string patch;
    Waiting registration;
};

void addRegistration(std::vector<Known> &known, const std::string &patch, const ChangeRecord &r) {
    const change::Change &c = r.change;
    const std::string mechanism = r.entry || text::equalsNoCase(c.detail, kWininit) ? kWininit : kPendingName;
    known.push_back({patch, {mechanism, c.path, c.target}});
}

// The registrations every journal in the archive knows, and the patches
// whose journals they are.
std::vector<Known> knownRegistrations(platform::Platform &machine, const std::string &archive,
                                      std::vector<std::string> &patches) {
    std::vector<Known> known;
    const auto listed = machine.list(archive);
    if (!listed.ok()) return known;
    for (const platform::DirEntry &e : listed.value) {
        if (e.directory || e.name.size() < 4 || !text::equalsNoCase(e.name.substr(e.name.size() - 4), ".JNL")) continue;
        const auto bytes = machine.readAll(text::joinPath(archive, e.name));
        if (!bytes.ok()) continue;
        const Journal j = readJournal(bytes.value);
        std::string patch = e.name.substr(0, e.name.size() - 4);
        for (const Entry &entry : j.entries)
            if (const auto *b = std::get_if<Begin>(&entry.body)) {
                patch = b->patch;
                break;
            }
        patches.push_back(patch);
        for (const Entry &entry : j.entries) {
            if (const auto *r = std::get_if<ChangeRecord>(&entry.body)) {
                if (r->change.kind == change::Kind::RestartRegistered) addRegistration(known, patch, *r);
            } else if (const auto *d = std::get_if<UndoDeferral>(&entry.body)) {
                addRegistration(known, patch, d->registration);
            }
        }
    }
    return known;
}

bool sameTarget(const std::optional<std::string> &a, const std::optional<std::string> &b) {
    return a.has_value() == b.has_value() && (!a || text::equalsNoCase(*a, *b));
}

} // namespace

StatusReport gatherStatus(platform::Platform &machine, const StatusSetup &setup) {
    StatusReport report;
    report.productDirectory = setup.productDirectory;
    for (const std::string &name : installedPatches(machine, setup.systemIni))
        report.installed.push_back({name, exists(machine, journalOf(machine, setup.archive, name))});
    std::vector<std::string> journals;
    const std::vector<Known> known = knownRegistrations(machine, setup.archive, journals);
    for (const std::string &patch : journals) {
        bool recorded = false;
        for (const InstalledPatch &p : report.installed) recorded = recorded || text::equalsNoCase(p.name, patch);
        if (!recorded) report.unrecorded.push_back(patch);
    }
    for (const Waiting &w : waitingNow(machine, setup.windowsDirectory, setup.family)) {
        WaitingReplacement r{w, {}};
        for (const Known &k : known)
            if (k.registration.mechanism == w.mechanism && text::equalsNoCase(k.registration.source, w.source) &&
                sameTarget(k.registration.target, w.target))
                r.patch = k.patch;
        report.waiting.push_back(std::move(r));
    }
    return report;
}

} // namespace journal
