// Section processing: the walk over a branch section, the keyword dispatch,
// the REBOOT action and the helpers every action shares.
#include "tvpdf.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <string>

#include "nls.h"
#include "tavupd.h"
#include "tvpdf_fields.h"
#include "tvpfile_subst.h"
#include "tvpprof.h"

namespace {

constexpr char kBell = 7;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Reads a decimal integer the way "%d" does: leading blanks, an optional
// sign, digits; anything after the digits is ignored. False when no digit
// follows. A value past the range of int is clamped to its limit.
bool parseDecimal(const char *text, int &out) {
    if (!text) return false;
    const char *p = text;
    while (isBlank(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    long long value = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : static_cast<long long>(INT_MAX);
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        if (value < limit) {
            value = value * 10 + (*p - '0');
            if (value > limit) value = limit;
        }
    }
    out = static_cast<int>(negative ? -value : value);
    return true;
}

// Points the DataFile's section list at a list for the duration of one
// processSection call, and clears it again however the call ends.
class SectionListScope {
  public:
    SectionListScope(SubstituteClass *&slot, SubstituteClass *list) : slot_(slot) { slot_ = list; }
    ~SectionListScope() { slot_ = nullptr; }
    SectionListScope(const SectionListScope &) = delete;
    SectionListScope &operator=(const SectionListScope &) = delete;

  private:
    SubstituteClass *&slot_;
};

} // namespace

std::string DataFile::lineKey(const std::string &line) { return line.substr(0, line.find('=')); }

void DataFile::trimLine(std::string &line) {
    size_t end = line.size();
    while (end > 0 && isBlank(line[end - 1])) --end;
    line.resize(end);
    size_t begin = 0;
    while (begin < line.size() && isBlank(line[begin])) ++begin;
    line.erase(0, begin);
}

bool DataFile::resolveLocation(const char *location, std::string &path) const {
    path.clear();
    if (!location) return false;
    if (equalsIgnoreCase(location, "WINDOWS")) {
        path = config_->windowsDirectory();
        return true;
    }
    if (equalsIgnoreCase(location, "TAVRO")) {
        path = config_->productDirectory();
        return true;
    }
    return false;
}

int DataFile::numericField(const char *field, int def) {
    int value = 0;
    if (!field || !*field) return def;
    return parseDecimal(field, value) ? value : def;
}

int DataFile::defaultForce() const { return config_->isForce() ? 1 : 0; }

int DataFile::defaultBackup() const { return config_->isBackup() ? 1 : 0; }

void DataFile::reportMessage(int number) {
    messages_->printTo(stderr, "\n%c%s\n", kBell, messages_->getMessage(number));
}

void DataFile::reportMessage(int number, const std::string &detail) {
    messages_->printTo(stderr, "\n%c%s: %s\n", kBell, messages_->getMessage(number), detail.c_str());
}

void DataFile::applyRestartRule() {
    if (config_->isReplacementPending()) {
        config_->setRebootNeeded(1);
        config_->setReplacementPending(0);
    }
}

void DataFile::actionReboot(const std::string &line) {
    nextField(line.c_str(), "=", 1);
    const char *valueField = nextField(nullptr, ",", 1);
    int value = 0;
    // A value that is absent or no number leaves the request as it was.
    const bool haveValue = parseDecimal(valueField, value);
    const char *programField = nextField(nullptr, ",", 1);
    if (haveValue) config_->setRebootNeeded(value);
    if (programField && *programField) config_->setRebootProgram(programField);
}

void DataFile::processSection(const char *name) {
    if (config_->isDebug()) messages_->print("Processing section: %s\n", orNull(name));

    const long header = name ? profile_->findSection(name) : -1;
    if (header < 0) {
        reportMessage(18);
        return;
    }

    SubstituteClass list('\\');
    list.add("TAVRO", config_->productDirectory());
    list.add("WINDOWS", config_->windowsDirectory());
    SectionListScope scope(sectionList_, &list);

    long index = header;
    const char *text = profile_->lineAt(index);
    if (text && Profile::isSectionLine(text)) text = profile_->lineAt(++index);
    for (; text && !Profile::isSectionLine(text); text = profile_->lineAt(++index)) {
        std::string line = text;
        trimLine(line);
        if (line.empty() || isCommentLine(line.c_str())) continue;
        // A line the engine cannot take whole is not carried out at all:
        // cut, it could mean something else.
        if (line.size() > kMaxSplitLine) {
            reportMessage(18, lineKey(line));
            continue;
        }

        const char *key = line.c_str();
        if (isActionKey(key, "INI")) {
            actionIni(line);
        } else if (isActionKey(key, "REG")) {
            if (config_->isDebug()) messages_->print("\tRegistry\n");
            processRegistry(line);
        } else if (isActionKey(key, "SUBST")) {
            actionSubst(line);
        } else if (isActionKey(key, "FILE")) {
            actionFile(line);
        } else if (isActionKey(key, "FINDFILE")) {
            actionFindFile(line);
        } else if (isActionKey(key, "RENAME")) {
            actionRename(line);
        } else if (isActionKey(key, "COPY")) {
            actionCopy(line);
        } else if (isActionKey(key, "ERASE")) {
            actionErase(line);
        } else if (isActionKey(key, "REBOOT")) {
            actionReboot(line);
        } else {
            reportMessage(18);
        }
    }
}
