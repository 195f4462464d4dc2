// The REG action: creates or changes a string value, deletes a value, or
// deletes a key with everything below it.
#include "engine/datafile.h"

#include <cctype>
#include <cstring>
#include <optional>
#include <string>

#include "app/nls.h"
#include "platform/sys.h"
#include "app/run.h"
#include "text/oldfields.h"
#include "text/subst.h"

namespace {

constexpr char kBell = 7;
constexpr DWORD kNameBuffer = 50; // subkey names of up to 49 characters


HKEY rootFor(const std::string &root) {
    if (equalsIgnoreCase(root.c_str(), "HKLM")) return HKEY_LOCAL_MACHINE;
    if (equalsIgnoreCase(root.c_str(), "HKCU")) return HKEY_CURRENT_USER;
    if (equalsIgnoreCase(root.c_str(), "HKCR")) return HKEY_CLASSES_ROOT;
    if (equalsIgnoreCase(root.c_str(), "HKU")) return HKEY_USERS;
    return nullptr;
}

// "message:\n\tpath\name"
void reportKeyAndName(NLSClass *messages, int number, const char *path, const char *name) {
    messages->printTo(stderr, "\n%c%s:\n\t%s\\%s\n", kBell, messages->getMessage(number), orNull(path), orNull(name));
}

// "message:\n\tpath"
void reportKey(NLSClass *messages, int number, const char *path) {
    messages->printTo(stderr, "\n%c%s:\n\t%s\n", kBell, messages->getMessage(number), orNull(path));
}

} // namespace

int DataFile::processRegistry(const std::string &line) {
    const bool debug = config()->isDebug();
    if (debug) messages()->print("Entered processRegistry\n");

    nextField(line.c_str(), "=", 1);
    const Field rootField = takeField();
    Field path = takeField();
    Field name = takeField();
    Field value = takeField();

    if (value) {
        SubstituteClass list('\\');
        list.add("TAVRO", config()->productDirectory());
        list.add("WINDOWS", config()->windowsDirectory());
        list.substitute(*value);
    }

    if (debug) {
        messages()->print("\tsection: %s\n", orNull(fieldText(rootField)));
        messages()->print("\tpath:    %s\n", orNull(fieldText(path)));
        messages()->print("\tkey:     %s\n", orNull(fieldText(name)));
        messages()->print("\tvalue:   %s\n", orNull(fieldText(value)));
    }

    if (!rootField || rootField->empty()) {
        reportMessage(18);
        return 0;
    }
    if (path && path->empty()) path.reset();
    if (name && name->empty()) name.reset();

    const HKEY root = rootFor(*rootField);
    if (!root) {
        reportMessage(18);
        return 0;
    }
    // Without a path or a value name the line would address the root key
    // itself, and its deletion would empty the whole root: refused.
    if (!path && !name) {
        reportMessage(18);
        return 0;
    }
    const char *subKey = path ? path->c_str() : "";

    if (value) {
        if (debug) messages()->print("Creating/Changing a registry key\n");
        sys::RegKey key;
        DWORD disposition = 0;
        if (sys::RegCreateKeyExA(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                 key.put(), &disposition) != ERROR_SUCCESS) {
            reportKeyAndName(messages(), 21, fieldText(path), fieldText(name));
            return 0;
        }
        if (sys::RegSetValueExA(key.get(), fieldText(name), 0, REG_SZ, reinterpret_cast<const BYTE *>(value->c_str()),
                                static_cast<DWORD>(value->size() + 1)) != ERROR_SUCCESS) {
            key.reset();
            reportKeyAndName(messages(), 24, fieldText(path), fieldText(name));
            return 0;
        }
        return 1;
    }

    if (name) {
        if (debug) messages()->print("Deleting a registry value\n");
        sys::RegKey key;
        if (sys::RegOpenKeyExA(root, subKey, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) {
            reportKeyAndName(messages(), 19, fieldText(path), fieldText(name));
            return 0;
        }
        if (sys::RegDeleteValueA(key.get(), name->c_str()) != ERROR_SUCCESS) {
            key.reset();
            reportKeyAndName(messages(), 25, fieldText(path), fieldText(name));
            return 0;
        }
        return 1;
    }

    sys::RegKey key;
    if (sys::RegOpenKeyExA(root, subKey, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) {
        reportKeyAndName(messages(), 19, fieldText(path), nullptr);
        return 0;
    }
    if (debug) messages()->print("Deleting a registry subtree\n");
    if (!deleteRegistrySubtree(key.get(), *path)) return 0;
    if (sys::RegDeleteKeyA(key.get(), "") != ERROR_SUCCESS) {
        key.reset();
        reportKey(messages(), 22, path->c_str());
        return 0;
    }
    return 1;
}

int DataFile::deleteRegistrySubtree(HKEY key, const std::string &path) {
    DWORD subKeys = 0;
    if (sys::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr) != ERROR_SUCCESS) {
        reportKey(messages(), 26, path.c_str());
        return 0;
    }
    if (subKeys == 0) return 1;

    for (;;) {
        char nameBuffer[kNameBuffer] = {};
        DWORD nameSize = kNameBuffer;
        const LONG rc = sys::RegEnumKeyExA(key, 0, nameBuffer, &nameSize, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) return 1;
        if (rc != ERROR_SUCCESS || nameSize >= kNameBuffer) {
            reportKey(messages(), 23, path.c_str());
            return 0;
        }
        const std::string name(nameBuffer, strnlen(nameBuffer, nameSize));

        sys::RegKey sub;
        if (sys::RegOpenKeyExA(key, name.c_str(), 0, KEY_ALL_ACCESS, sub.put()) != ERROR_SUCCESS) {
            reportKeyAndName(messages(), 19, path.c_str(), name.c_str());
            return 0;
        }
        std::string subPath = path;
        if (subPath.empty() || subPath.back() != '\\') subPath += '\\';
        subPath += name;

        DWORD grandChildren = 0;
        if (sys::RegQueryInfoKeyA(sub.get(), nullptr, nullptr, nullptr, &grandChildren, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            sub.reset();
            reportKey(messages(), 26, subPath.c_str());
            return 0;
        }
        // A failure below is reported there; deleting this key then fails
        // too and is reported as well.
        if (grandChildren != 0) deleteRegistrySubtree(sub.get(), subPath);

        if (sys::RegDeleteKeyA(sub.get(), "") != ERROR_SUCCESS) {
            sub.reset();
            reportKey(messages(), 22, subPath.c_str());
            return 0;
        }
    }
}
