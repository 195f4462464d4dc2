// IniFile: an INI-format file held as a table of lines, read and saved
// through the platform.
#include "profile/profile.h"

#include <cctype>
#include <cstdint>
#include <new>
#include <optional>
#include <stdexcept>

#include "platform/platform.h"
#include "text/error.h"
#include "text/ini.h"
#include "text/textkit.h"

namespace {

const char *const kModule = "tvpprof";

// Names tried for a temporary file before giving up.
constexpr unsigned kTempAttempts = 64;

[[noreturn]] void cannotWrite(const std::string &path, int line) { throw Error(21, path.c_str(), kModule, line); }

// The directory part of a path, up to and including its last separator.
std::string directoryOf(const std::string &path) {
    const std::size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// Writes `bytes` to a new file with a name of its own ("~TVxxxx.TMP") in
// the directory of `path`; the name, or empty when none could be created.
std::string writeTempFile(const std::string &path, const std::string &bytes) {
    static unsigned counter = 0;
    static const char hex[] = "0123456789ABCDEF";
    platform::Platform &os = platform::current();
    const std::string dir = directoryOf(path);
    const unsigned seed = static_cast<unsigned>(os.processId());
    for (unsigned attempt = 0; attempt < kTempAttempts; ++attempt) {
        const unsigned tag = (seed * 31u + counter++) & 0xffffu;
        std::string name = dir + "~TV";
        for (int shift = 12; shift >= 0; shift -= 4) name += hex[(tag >> shift) & 0xfu];
        name += ".TMP";
        const platform::Code code = os.writeNew(name, bytes);
        if (code == platform::kOk) return name;
        if (code != platform::kFileExists && code != platform::kAlreadyExists) return std::string();
    }
    return std::string();
}

// Puts the finished temporary file in place of `path`. The original stays
// as it was when this fails.
bool replaceWith(const std::string &temp, const std::string &path) {
    platform::Platform &os = platform::current();
    const platform::Code replaced = os.replace(temp, path);
    if (replaced == platform::kOk) return true;
    if (replaced != platform::kCallNotImplemented) return false;

    // The Windows 95 family has no replacing move: set the original aside
    // under a name of its own, move the new file in, then drop the old one.
    if (!os.attributes(path).exists()) return os.move(temp, path) == platform::kOk;
    const std::string aside = writeTempFile(path, std::string());
    if (aside.empty()) return false;
    if (os.remove(aside) != platform::kOk) return false;
    if (os.move(path, aside) != platform::kOk) return false;
    if (os.move(temp, path) != platform::kOk) {
        os.move(aside, path);
        return false;
    }
    os.remove(aside);
    return true;
}

} // namespace

bool isIniWorkFileName(const std::string &name) {
    if (name.size() != 11 || name.compare(0, 3, "~TV") != 0 || !text::equalsNoCase(name.substr(7), ".TMP")) return false;
    for (std::size_t i = 3; i < 7; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
    return true;
}

struct IniFile::Impl {
    ini::Table table;
    // The file's bytes as this profile last read or wrote them, and whether
    // the file existed then: a read whose bytes equal them keeps the table.
    std::string disk;
    bool present = false;
    // The table holds what the file held at the last read or save.
    bool known = false;
    // The size and last-write time of the content this profile saved last
    // (taken from its own finished temporary file, before that replaced the
    // original), and the platform's count of file changes right after the
    // save. While both still hold, no one changed the file since: not this
    // process (the count) and, as far as any change test can tell, no one
    // else (the stamp), so the file need not be read again.
    std::optional<platform::FileInfo> saved;
    std::uint64_t changesAfterSave = 0;
    // What the change test found just now: stands for the attribute test
    // of the save that follows.
    std::optional<platform::Attributes> tested;
};

IniFile::IniFile(const std::string &path, change::ChangeSink &changes)
    : Profile(path.substr(0, text::kPathMax), changes), impl_(new Impl) {
    reload();
}

// Every change was saved when it was made: nothing is written here, so a
// file that was replaced or erased after the last change stays as it is.
IniFile::~IniFile() = default;

bool IniFile::unchangedSinceSave() {
    impl_->tested.reset();
    if (!impl_->known || !impl_->saved) return false;
    platform::Platform &os = platform::current();
    if (os.fileChanges() != impl_->changesAfterSave) return false;
    const platform::Result<platform::FileInfo> now = os.info(path_);
    if (!now.ok() || now.value.directory || now.value.size != impl_->saved->size ||
        now.value.written != impl_->saved->written)
        return false;
    platform::Attributes attributes;
    attributes.readOnly = now.value.readOnly;
    impl_->tested = attributes;
    return true;
}

bool IniFile::reload() {
    if (unchangedSinceSave()) return true;
    impl_->saved.reset();
    // The whole file as bytes, compared with what the table was made of:
    // any change by another writer, whatever it did to the file's size and
    // time, is seen.
    platform::Result<std::string> read;
    try {
        read = platform::current().readAll(path_);
    } catch (const std::bad_alloc &) {
        throw Error(1, 0, kModule, __LINE__);
    } catch (const std::length_error &) {
        throw Error(1, 0x7fffffff, kModule, __LINE__);
    }
    // A file that is there but cannot be read: the table keeps what it had
    // (for reads), and nothing may be written over the file.
    if (!read.ok() && !platform::isNotFound(read.code)) return false;
    const bool present = read.ok();
    if (impl_->known && present == impl_->present && read.value == impl_->disk) return true;
    impl_->known = false;
    if (present)
        impl_->table.read(read.value.data(), read.value.size());
    else
        impl_->table.clear();
    impl_->disk.swap(read.value);
    impl_->present = present;
    impl_->known = true;
    return true;
}

void IniFile::reloadForChange() {
    // The file as it is now: another writer's change is the base of this
    // one; content that cannot be read is not written over.
    if (!reload()) cannotWrite(path_, __LINE__);
}

void IniFile::save() {
    // Until the new content is in place, what is on disk is not known to
    // match the table: a save that fails leaves the next operation to read
    // the file again.
    impl_->known = false;
    impl_->saved.reset();
    platform::Platform &os = platform::current();
    std::optional<platform::Attributes> tested;
    tested.swap(impl_->tested);
    const platform::Attributes attributes = tested ? *tested : os.attributes(path_);
    if (attributes.exists() && (attributes.readOnly || attributes.directory)) cannotWrite(path_, __LINE__);

    // Every line with its own line end: the whole content in one write.
    std::string bytes;
    try {
        bytes = impl_->table.bytes();
    } catch (const std::bad_alloc &) {
        cannotWrite(path_, __LINE__);
    } catch (const std::length_error &) {
        cannotWrite(path_, __LINE__);
    }

    // The new content goes to a file of its own first; the original is only
    // replaced once all of it has been written.
    const std::string temp = writeTempFile(path_, bytes);
    if (temp.empty()) cannotWrite(path_, __LINE__);
    // The stamp of the new content, taken while the file is still this
    // profile's own: the rename keeps it.
    const platform::Result<platform::FileInfo> stamp = os.info(temp);
    if (!replaceWith(temp, path_)) {
        os.remove(temp);
        cannotWrite(path_, __LINE__);
    }
    impl_->disk.swap(bytes);
    impl_->present = true;
    impl_->known = true;
    // A last-write time in whole seconds may come from a file system that
    // keeps no finer times (FAT keeps two seconds): another write of the
    // same size could well get the same stamp there, so it is not trusted.
    constexpr std::uint64_t kSecond = 10000000; // in 100 ns units
    if (stamp.ok() && stamp.value.size == impl_->disk.size() && stamp.value.written % kSecond != 0) {
        impl_->saved = stamp.value;
        impl_->changesAfterSave = os.fileChanges();
    }
}

template <typename Edit> void IniFile::change(const change::Change &description, Edit edit) {
    if (!changes_.before(description)) cannotWrite(path_, __LINE__);
    try {
        edit(impl_->table);
        save();
    } catch (...) {
        changes_.after(description, false);
        throw;
    }
    changes_.after(description, true);
}

std::optional<std::string> IniFile::value(const std::string &section, const std::string &key) {
    // A file that cannot be read now is served as last read.
    reload();
    const char *found = impl_->table.lookup(section.c_str(), key.c_str());
    if (!found) return std::nullopt;
    return std::string(found);
}

namespace {

change::Change iniChange(change::Kind kind, const std::string &path, const std::string &section) {
    change::Change c;
    c.kind = kind;
    c.path = path;
    c.section = section;
    return c;
}


} // namespace

void IniFile::set(const std::string &section, const std::string &key, const std::string &value) {
    reloadForChange();
    change::Change c = iniChange(change::Kind::IniKeySet, path_, section);
    c.key = key;
    if (const char *old = impl_->table.lookup(section.c_str(), key.c_str())) c.before = std::string(old);
    c.after = value;
    change(c, [&](ini::Table &t) { t.setValue(section.c_str(), key.c_str(), value.c_str()); });
}

void IniFile::deleteKey(const std::string &section, const std::string &key) {
    reloadForChange();
    change::Change c = iniChange(change::Kind::IniKeyDeleted, path_, section);
    c.key = key;
    if (const char *old = impl_->table.lookup(section.c_str(), key.c_str())) c.before = std::string(old);
    // Saved even when the key is not there: a missing file is created empty.
    change(c, [&](ini::Table &t) { t.setValue(section.c_str(), key.c_str(), nullptr); });
}

void IniFile::deleteSection(const std::string &section) {
    reloadForChange();
    change::Change c = iniChange(change::Kind::IniSectionDeleted, path_, section);
    const long header = impl_->table.findSection(section.c_str());
    if (header >= 0) {
        for (long i = header; const char *line = impl_->table.lineAt(i); ++i) {
            if (i > header && ini::isSectionLine(line)) break;
            c.lines.emplace_back(impl_->table.lines()[static_cast<std::size_t>(i)]);
        }
    }
    change(c, [&](ini::Table &t) { t.setValue(section.c_str(), nullptr, nullptr); });
}

void IniFile::addValue(const std::string &section, const std::string &key, const std::string &value) {
    reloadForChange();
    if (!impl_->table.addValue(section.c_str(), key.c_str(), value.c_str())) return;
    save();
}
