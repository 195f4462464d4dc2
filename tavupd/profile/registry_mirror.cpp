// RegistryMirror: the registry form of an INI file under HKEY_LOCAL_MACHINE.
#include "profile/profile.h"

#include <cstdint>

#include "platform/platform.h"
#include "profile/regtree.h"
#include "text/error.h"
#include "text/textkit.h"

namespace {

const char *const kModule = "tvpprof";
constexpr platform::Root kRoot = platform::Root::LocalMachine;

// A section's key path is built in a 256-character buffer.
constexpr std::size_t kMaxKeyPath = text::kLineMax;
// Values are read into a buffer of this many bytes.
constexpr std::size_t kValueBuffer = 256;

[[noreturn]] void cannotWrite(const std::string &path, int line) { throw Error(21, path.c_str(), kModule, line); }

// The bytes of a value up to its first NUL, whatever its type.
std::string textOf(const platform::RegValue &value) { return std::string(value.data.c_str()); }

// Remembers the first failure of a section's deletion; a section that is
// not there needs no deleting.
class SectionDeletion : public regtree::Observer {
  public:
    explicit SectionDeletion(const std::string &key) : key_(key) {}
    void failed(regtree::Failure failure, platform::Code code, const std::string &path,
                const std::string *name) override {
        if (failure == regtree::Failure::Open && !name && path == key_ && platform::isNotFound(code)) {
            missing_ = true;
            return;
        }
        failed_ = true;
    }
    bool missing() const { return missing_; }
    bool failedToDelete() const { return failed_; }

  private:
    const std::string &key_;
    bool missing_ = false;
    bool failed_ = false;
};

change::Change mirrorChange(change::Kind kind, const std::string &path, const std::string &section) {
    change::Change c;
    c.kind = kind;
    c.path = path;
    c.section = section;
    return c;
}

} // namespace

RegistryMirror::RegistryMirror(const std::string &keyPath, change::ChangeSink &changes)
    : Profile(keyPath.substr(0, text::kPathMax) + "\\", changes) {}

std::optional<std::string> RegistryMirror::sectionKey(const std::string &section) const {
    if (path_.size() + section.size() > kMaxKeyPath) return std::nullopt;
    return path_ + section;
}

std::optional<std::string> RegistryMirror::value(const std::string &section, const std::string &key) {
    const std::optional<std::string> keyPath = sectionKey(section);
    if (!keyPath) return std::nullopt;
    auto read = platform::current().regRead(kRoot, *keyPath, &key, kValueBuffer);
    if (!read.ok()) return std::nullopt;
    return textOf(read.value);
}

std::optional<int> RegistryMirror::number(const std::string &section, const std::string &key) {
    const std::optional<std::string> keyPath = sectionKey(section);
    if (!keyPath) return std::nullopt;
    auto read = platform::current().regRead(kRoot, *keyPath, &key, kValueBuffer);
    if (!read.ok()) return std::nullopt;
    if (read.value.type == platform::kRegDword && read.value.data.size() == 4) {
        const auto *b = reinterpret_cast<const unsigned char *>(read.value.data.data());
        const std::uint32_t bits = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
        return bits <= 0x7fffffffu ? static_cast<int>(bits) : -static_cast<int>(~bits) - 1;
    }
    return text::readDecimal(textOf(read.value));
}

void RegistryMirror::set(const std::string &section, const std::string &key, const std::string &value) {
    // What cannot be written fails as a file that cannot be written does,
    // naming the section's key.
    const std::optional<std::string> keyPath = sectionKey(section);
    if (!keyPath) cannotWrite(path_ + section, __LINE__);
    change::Change c = mirrorChange(change::Kind::IniKeySet, path_, section);
    c.key = key;
    if (changes_.needsOldState()) c.before = this->value(section, key);
    c.after = value;
    // A section that is not there yet is made with its key.
    platform::Platform &machine = platform::current();
    const platform::RegValue data{platform::kRegSz, value + '\0'};
    const platform::Code made =
        change::applyWith(changes_, change::keysMadeBy(changes_, machine, kRoot, *keyPath), c,
                          [&] { return machine.regSet(kRoot, *keyPath, &key, data).code; });
    if (made != platform::kOk) cannotWrite(*keyPath, __LINE__);
}

void RegistryMirror::deleteKey(const std::string &section, const std::string &key) {
    // What is already missing needs no deleting.
    const std::optional<std::string> keyPath = sectionKey(section);
    if (!keyPath) cannotWrite(path_ + section, __LINE__);
    change::Change c = mirrorChange(change::Kind::IniKeyDeleted, path_, section);
    c.key = key;
    if (changes_.needsOldState()) c.before = this->value(section, key);
    if (!changes_.before(c)) cannotWrite(*keyPath, __LINE__);
    const platform::RegOutcome deleted = platform::current().regDeleteValue(kRoot, *keyPath, key);
    const bool made = deleted.ok() || platform::isNotFound(deleted.code);
    changes_.after(c, made);
    if (!made) cannotWrite(*keyPath, __LINE__);
}

void RegistryMirror::deleteSection(const std::string &section) {
    const std::optional<std::string> keyPath = sectionKey(section);
    if (!keyPath) cannotWrite(path_ + section, __LINE__);
    change::Change c = mirrorChange(change::Kind::IniSectionDeleted, path_, section);
    if (changes_.needsOldState()) {
        if (platform::current().regOpenable(kRoot, *keyPath, false) == platform::kOk) {
            std::optional<std::vector<change::RegKeySnapshot>> tree = regtree::snapshot(kRoot, *keyPath);
            // What cannot be read could not be put back.
            if (!tree) cannotWrite(*keyPath, __LINE__);
            c.tree = std::move(*tree);
            for (const platform::RegNamedValue &v : c.tree.front().values)
                c.lines.push_back(v.name + "=" + textOf(v.value));
        }
    }
    if (!changes_.before(c)) cannotWrite(*keyPath, __LINE__);
    SectionDeletion observer(*keyPath);
    regtree::Options options;
    options.nameMax = 255;
    options.stopAtFirstFailure = true;
    const bool deleted = regtree::deleteTree(kRoot, *keyPath, options, observer);
    const bool made = deleted || (observer.missing() && !observer.failedToDelete());
    changes_.after(c, made);
    if (!made) cannotWrite(*keyPath, __LINE__);
}
