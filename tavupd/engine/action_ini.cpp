// The INI action: sets or deletes one key, or deletes a whole section, of an
// INI file in the Windows or the product directory (or of its registry form).
#include <memory>
#include <new>

#include "engine/actions.h"
#include "profile/profile.h"
#include "text/textkit.h"

namespace engine {
namespace {

// No key: the section goes; no value: the key goes; else the key is set.
// An Error (the file or key cannot be written) ends the run.
Outcome change(Profile &profile, const patch::IniAction &a, const text::Field &value) {
    try {
        if (!a.key)
            profile.deleteSection(*a.section);
        else if (!value)
            profile.deleteKey(*a.section, *a.key);
        else
            profile.set(*a.section, *a.key, *value);
    } catch (const Error &e) {
        return Outcome::ends(e);
    }
    return Outcome::done();
}

// The INI file's path (or its registry form's key), or nothing when the
// line names no place that may be written.
std::optional<std::string> targetPath(const Context &cx, const patch::IniAction &a, bool registry) {
    std::string path;
    if (registry)
        path = kProductRegistryPrefix;
    else if (const std::optional<std::string> dir = cx.directoryOf(a.where))
        path = *dir;
    else
        return std::nullopt;
    text::appendBackslash(path);
    if (path.size() + a.file->size() > text::kPathMax) return std::nullopt;
    return path + *a.file;
}

// The run's profile of the INI file at `path`, opened (read) when no INI
// action used it before. May throw what opening it throws.
Profile &openIniFile(Context &cx, const std::string &path) {
    std::string key = path;
    for (char &c : key) c = text::upper(c);
    const auto known = cx.iniFiles.find(key);
    if (known != cx.iniFiles.end()) return *known->second;
    std::unique_ptr<Profile> opened = std::make_unique<IniFile>(path, cx.changes);
    Profile &file = *opened;
    cx.iniFiles.emplace(std::move(key), std::move(opened));
    return file;
}

void traceIni(Context &cx, const std::string &path, const patch::IniAction &a, const text::Field &value) {
    cx.report.trace("\tINI\n");
    cx.report.trace("\t\tfilename : %s\n", path.c_str());
    cx.report.trace("\t\tsection  : %s\n", a.section->c_str());
    cx.report.trace("\t\tkey      : %s\n", a.key ? a.key->c_str() : "(null)");
    cx.report.trace("\t\tvalue    : %s\n", value ? value->c_str() : "(null)");
}

} // namespace

Outcome runIni(Context &cx, const patch::IniAction &a) {
    text::Field value = a.value;
    if (value) cx.variables.substitute(*value);

    if (!text::isFilled(a.file) || !text::isFilled(a.section)) {
        cx.report.message(18);
        return Outcome::failed();
    }
    const bool windows = a.where == patch::Location::Windows;
    const bool product = a.where == patch::Location::Tavro;
    const bool registry = windows && cx.iniInRegistry();
    // No directory for this location: nothing is written anywhere.
    const std::optional<std::string> path = targetPath(cx, a, registry);
    if (!path) {
        cx.report.message(18);
        return Outcome::failed();
    }
    if (cx.debug()) traceIni(cx, *path, a, value);

    // The settings files are open for the whole run.
    const bool settingsFile = text::equalsNoCase(*a.file, "TAVRO.INI");
    Profile *open = nullptr;
    if (settingsFile && windows)
        open = cx.systemIni;
    else if (settingsFile && product)
        open = cx.productIni;
    if (open) return change(*open, a, value);

    std::unique_ptr<Profile> mirror;
    Profile *target = nullptr;
    try {
        if (registry) {
            mirror = std::make_unique<RegistryMirror>(*path, cx.changes);
            target = mirror.get();
        } else {
            target = &openIniFile(cx, *path);
        }
    } catch (const Error &) {
        cx.report.message(15, *path);
        return Outcome::failed();
    } catch (const std::bad_alloc &) {
        cx.report.message(15, *path);
        return Outcome::failed();
    }
    return change(*target, a, value);
}

} // namespace engine
