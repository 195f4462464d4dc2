// The INI action: sets or deletes one key, or deletes a whole section, of an
// INI file in the Windows or the product directory (or of its registry form).
#include "engine/datafile.h"

#include <cctype>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "app/nls.h"
#include "app/run.h"
#include "text/error.h"
#include "text/oldfields.h"
#include "text/subst.h"
#include "profile/profile.h"

namespace {

constexpr size_t kPathMax = 259; // characters of a path the engine builds


} // namespace

void DataFile::actionIni(const std::string &line) {
    nextField(line.c_str(), "=", 1);
    const Field location = takeField();
    const Field fileName = takeField();
    const Field section = takeField();
    const Field key = takeField();
    Field value = takeField();

    if (value) {
        if (SubstituteClass *list = sectionList()) {
            list->substitute(*value);
        } else {
            SubstituteClass local('\\');
            local.add("TAVRO", config()->productDirectory());
            local.add("WINDOWS", config()->windowsDirectory());
            local.substitute(*value);
        }
    }

    if (!isFilled(fileName) || !isFilled(section)) {
        reportMessage(18);
        return;
    }

    const bool windows = location && equalsIgnoreCase(location->c_str(), "WINDOWS");
    const bool product = location && equalsIgnoreCase(location->c_str(), "TAVRO");
    const bool registry = windows && config()->iniInRegistry() == 1;

    std::string path;
    if (registry)
        path = kProductRegistryPrefix;
    else if (windows)
        path = config()->windowsDirectory();
    else if (product)
        path = config()->productDirectory();
    else {
        // No directory for this location: nothing is written anywhere.
        reportMessage(18);
        return;
    }
    if (path.empty() || path.back() != '\\') path += '\\';
    if (path.size() + fileName->size() > kPathMax) {
        reportMessage(18);
        return;
    }
    path += *fileName;

    if (config()->isDebug()) {
        messages()->print("\tINI\n");
        messages()->print("\t\tfilename : %s\n", path.c_str());
        messages()->print("\t\tsection  : %s\n", section->c_str());
        messages()->print("\t\tkey      : %s\n", orNull(fieldText(key)));
        messages()->print("\t\tvalue    : %s\n", orNull(fieldText(value)));
    }

    const bool settingsFile = equalsIgnoreCase(fileName->c_str(), "TAVRO.INI");
    Profile *open = nullptr;
    if (settingsFile && windows)
        open = config()->systemIni();
    else if (settingsFile && product)
        open = config()->productIni();
    if (open) {
        open->setValue(section->c_str(), fieldText(key), fieldText(value));
        return;
    }

    std::unique_ptr<Profile> target;
    try {
        target = std::make_unique<Profile>(path, registry ? Profile::RegistryMode : Profile::FileMode);
    } catch (Error &) {
        reportMessage(15, path);
        return;
    } catch (std::bad_alloc &) {
        reportMessage(15, path);
        return;
    }
    // A file that cannot be written raises Error here; it ends the run.
    target->setValue(section->c_str(), fieldText(key), fieldText(value));
}
