// What both forms of an INI profile share: reads with defaults.
#include "profile/profile.h"

#include "text/textkit.h"

std::string Profile::getString(const std::string &section, const std::string &key, const std::string &def) {
    return value(section, key).value_or(def);
}

int Profile::getInt(const std::string &section, const std::string &key, int def) {
    return number(section, key).value_or(def);
}

std::optional<int> Profile::number(const std::string &section, const std::string &key) {
    const std::optional<std::string> written = value(section, key);
    if (!written) return std::nullopt;
    return text::readDecimal(*written);
}
