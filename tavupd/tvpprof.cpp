// Profile: an INI-format file held as a table of lines (file mode), or a
// registry key under HKEY_LOCAL_MACHINE that mirrors an INI file (registry
// mode). Every platform call goes through the sys seam.
#include "tvpprof.h"

#include "sys.h"
#include "tavupd_error.h"
#include "tvpprof_ini.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

namespace {

const char *const kModule = "tvpprof";

// Longest path the profile keeps (a 260-character field with its NUL).
constexpr std::size_t kMaxPath = 259;
// A section's registry key path is built in a 256-character buffer.
constexpr std::size_t kMaxKeyPath = 255;
// Registry values are read into a buffer of this many bytes.
constexpr DWORD kValueBuffer = 256;
// Subkey names are enumerated into a buffer of this size: a registry key
// name holds at most 255 characters.
constexpr DWORD kNameBuffer = 256;
// Names tried for a temporary file before giving up.
constexpr unsigned kTempAttempts = 64;

[[noreturn]] void cannotWrite(const std::string &path, int line) {
    throw Error(21, path.c_str(), kModule, line);
}

// The directory part of a path, up to and including its last separator.
std::string directoryOf(const std::string &path) {
    std::size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// A new file of a name of its own, open for writing.
struct TempFile {
    std::string name;
    sys::FileHandle file;
};

// Creates a new, empty file with a name of its own in the directory of
// `path` and returns it open; the name is empty when none could be created.
TempFile createTempFile(const std::string &path) {
    static unsigned counter = 0;
    const std::string dir = directoryOf(path);
    const unsigned seed = static_cast<unsigned>(sys::GetCurrentProcessId());
    static const char hex[] = "0123456789ABCDEF";
    for (unsigned attempt = 0; attempt < kTempAttempts; ++attempt) {
        unsigned tag = (seed * 31u + counter++) & 0xffffu;
        std::string name = dir + "~TV";
        for (int shift = 12; shift >= 0; shift -= 4) name += hex[(tag >> shift) & 0xfu];
        name += ".TMP";
        sys::FileHandle file(sys::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) return TempFile{std::move(name), std::move(file)};
        DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return TempFile{};
    }
    return TempFile{};
}

// Puts the finished temporary file in place of `path`. The original stays
// as it was when this fails.
bool replaceWith(const std::string &temp, const std::string &path) {
    if (sys::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    if (::GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;

    // The Windows 95 family has no replacing move: set the original aside
    // under a name of its own, move the new file in, then drop the old one.
    if (sys::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return sys::MoveFileA(temp.c_str(), path.c_str()) != FALSE;
    std::string aside;
    {
        TempFile taken = createTempFile(path);
        if (taken.name.empty()) return false;
        aside = std::move(taken.name);
    }
    if (!sys::DeleteFileA(aside.c_str())) return false;
    if (!sys::MoveFileA(path.c_str(), aside.c_str())) return false;
    if (!sys::MoveFileA(temp.c_str(), path.c_str())) {
        sys::MoveFileA(aside.c_str(), path.c_str());
        return false;
    }
    sys::DeleteFileA(aside.c_str());
    return true;
}

enum class ReadResult { Done, NotFound, Failed };

// Reads every byte of the file. NotFound: there is no such file; Failed: it
// could not be opened or read, and `out` holds no usable content.
ReadResult readWhole(const std::string &path, std::string &out) {
    out.clear();
    sys::FileHandle file(sys::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadResult::NotFound
                                                                              : ReadResult::Failed;
    }
    constexpr std::size_t kChunk = 64 * 1024;
    std::size_t used = 0;
    for (;;) {
        std::size_t room = used + kChunk;
        try {
            out.resize(room);
        } catch (const std::bad_alloc &) {
            throw Error(1, room > 0x7fffffffu ? 0x7fffffff : static_cast<int>(room), kModule, __LINE__);
        } catch (const std::length_error &) {
            throw Error(1, 0x7fffffff, kModule, __LINE__);
        }
        const DWORD want = static_cast<DWORD>(room - used);
        DWORD got = 0;
        if (!sys::ReadFile(file.get(), &out[used], want, &got, nullptr)) return ReadResult::Failed;
        used += got;
        // A disk file gives fewer bytes than asked only at its end.
        if (got < want) break;
    }
    out.resize(used);
    return ReadResult::Done;
}

// Empties and deletes every subkey below `key`, depth first. False when any
// step fails; what was deleted until then stays deleted.
bool deleteSubkeys(HKEY key) {
    for (;;) {
        char name[kNameBuffer];
        DWORD nameSize = kNameBuffer;
        FILETIME written;
        LONG rc = sys::RegEnumKeyExA(key, 0, name, &nameSize, nullptr, nullptr, nullptr, &written);
        if (rc == ERROR_NO_MORE_ITEMS) return true;
        if (rc != ERROR_SUCCESS) return false;
        // The buffer is always terminated by a successful call; make sure.
        name[kNameBuffer - 1] = '\0';

        sys::RegKey sub;
        if (sys::RegOpenKeyExA(key, name, 0, KEY_ALL_ACCESS, sub.put()) != ERROR_SUCCESS) return false;
        DWORD subKeys = 0;
        if (sys::RegQueryInfoKeyA(sub.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return false;
        if (subKeys > 0 && !deleteSubkeys(sub.get())) return false;
        if (sys::RegDeleteKeyA(sub.get(), "") != ERROR_SUCCESS) return false;
    }
}

// Deletes an open key with everything below it. False when any step fails.
bool deleteKeyTree(HKEY key) {
    DWORD subKeys = 0;
    if (sys::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    if (subKeys > 0 && !deleteSubkeys(key)) return false;
    return sys::RegDeleteKeyA(key, "") == ERROR_SUCCESS;
}

// A registry answer that means "there is no such key or value".
bool isMissing(LONG rc) { return rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND; }

} // namespace

struct Profile::Impl {
    ini::Table table;
    // The file's bytes as this profile last read or wrote them, and whether
    // the file existed then: a read whose bytes equal them keeps the table.
    std::string disk;
    bool present = false;
    // The table holds what the file held at the last read or save.
    bool known = false;
};

Profile::Profile(const std::string &path, int mode)
    : impl_(new Impl), path_(path.substr(0, kMaxPath)), mode_(mode == RegistryMode ? RegistryMode : FileMode) {
    if (mode_ == RegistryMode) {
        path_ += '\\';
        return;
    }
    reload();
}

// Every change was saved when it was made: nothing is written here, so a
// file that was replaced or erased after the last change stays as it is.
Profile::~Profile() = default;

bool Profile::reload() {
    // The whole file as bytes, compared with what the table was made of:
    // any change by another writer, whatever it did to the file's size and
    // time, is seen.
    std::string bytes;
    const ReadResult result = readWhole(path_, bytes);
    if (result == ReadResult::Failed) {
        // A file that is there but cannot be read: the table keeps what it
        // had (for reads), and nothing may be written over the file.
        return false;
    }
    const bool present = result == ReadResult::Done;
    if (impl_->known && present == impl_->present && bytes == impl_->disk) return true;
    impl_->known = false;
    if (present) {
        impl_->table.read(bytes.data(), bytes.size());
    } else {
        impl_->table.clear();
    }
    impl_->disk.swap(bytes);
    impl_->present = present;
    impl_->known = true;
    return true;
}

void Profile::save() {
    // Until the new content is in place, what is on disk is not known to
    // match the table: a save that fails leaves the next operation to read
    // the file again.
    impl_->known = false;
    DWORD attributes = sys::GetFileAttributesA(path_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        cannotWrite(path_, __LINE__);

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
    TempFile temp = createTempFile(path_);
    if (temp.name.empty()) cannotWrite(path_, __LINE__);
    bool written = bytes.size() <= 0xffffffffu;
    if (written && !bytes.empty()) {
        DWORD done = 0;
        written = sys::WriteFile(temp.file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
                  done == bytes.size();
    }
    if (!sys::CloseHandle(temp.file.release())) written = false;
    if (!written || !replaceWith(temp.name, path_)) {
        sys::DeleteFileA(temp.name.c_str());
        cannotWrite(path_, __LINE__);
    }
    impl_->disk.swap(bytes);
    impl_->present = true;
    impl_->known = true;
}

bool Profile::sectionKey(const char *section, std::string &out) const {
    if (!section) return false;
    std::size_t length = path_.size() + std::strlen(section);
    if (length > kMaxKeyPath) return false;
    out.assign(path_).append(section);
    return true;
}

std::string Profile::getString(const char *section, const char *key, const char *def) {
    const std::string fallback = def ? def : "";
    if (mode_ == RegistryMode) {
        std::string keyPath;
        if (!sectionKey(section, keyPath)) return fallback;
        sys::RegKey regKey;
        if (sys::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, regKey.put()) != ERROR_SUCCESS)
            return fallback;
        unsigned char data[kValueBuffer] = {};
        DWORD size = kValueBuffer;
        DWORD type = 0;
        if (sys::RegQueryValueExA(regKey.get(), key, nullptr, &type, data, &size) != ERROR_SUCCESS) return fallback;
        // Whatever the type, the bytes up to the first NUL or the end of the
        // data, never past the buffer.
        std::size_t limit = std::min<std::size_t>(size, kValueBuffer);
        const char *text = reinterpret_cast<const char *>(data);
        std::size_t length = 0;
        while (length < limit && text[length] != '\0') ++length;
        return std::string(text, length);
    }
    // A file that cannot be read now is served as last read.
    reload();
    const char *value = impl_->table.lookup(section, key);
    return value ? std::string(value) : fallback;
}

int Profile::getInt(const char *section, const char *key, int def) {
    // The registry side holds no line table: the lookup finds nothing there.
    if (mode_ == RegistryMode) return def;
    reload();
    int value = 0;
    if (ini::parseInt(impl_->table.lookup(section, key), value)) return value;
    return def;
}

void Profile::setValue(const char *section, const char *key, const char *value) {
    if (mode_ == RegistryMode) {
        setRegistryValue(section, key, value);
        return;
    }
    // The file as it is now: another writer's change is the base of this
    // one; content that cannot be read is not written over.
    if (!reload()) cannotWrite(path_, __LINE__);
    impl_->table.setValue(section, key, value);
    save();
}

void Profile::setRegistryValue(const char *section, const char *key, const char *value) {
    // What cannot be written fails as a file that cannot be written does,
    // naming the section's key; what is already missing needs no deleting.
    std::string keyPath;
    if (!sectionKey(section, keyPath)) cannotWrite(path_ + (section ? section : ""), __LINE__);
    sys::RegKey regKey;
    if (value) {
        DWORD disposition = 0;
        if (sys::RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_ALL_ACCESS, nullptr, regKey.put(), &disposition) != ERROR_SUCCESS)
            cannotWrite(keyPath, __LINE__);
        const std::size_t length = std::strlen(value) + 1;
        if (length > 0xffffffffu ||
            sys::RegSetValueExA(regKey.get(), key, 0, REG_SZ, reinterpret_cast<const BYTE *>(value),
                                static_cast<DWORD>(length)) != ERROR_SUCCESS)
            cannotWrite(keyPath, __LINE__);
        return;
    }
    const LONG opened = sys::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_ALL_ACCESS, regKey.put());
    if (isMissing(opened)) return;
    if (opened != ERROR_SUCCESS) cannotWrite(keyPath, __LINE__);
    if (key) {
        const LONG deleted = sys::RegDeleteValueA(regKey.get(), key);
        if (deleted != ERROR_SUCCESS && !isMissing(deleted)) cannotWrite(keyPath, __LINE__);
    } else if (!deleteKeyTree(regKey.get())) {
        cannotWrite(keyPath, __LINE__);
    }
}

void Profile::addValue(const char *section, const char *key, const char *value) {
    // Only a file has a line table to add to.
    if (mode_ == RegistryMode) return;
    if (!reload()) cannotWrite(path_, __LINE__);
    if (!impl_->table.addValue(section, key, value)) return;
    save();
}

long Profile::findSection(const char *section) const { return impl_->table.findSection(section); }

bool Profile::isSectionLine(const char *line) { return ini::isSectionLine(line); }

const char *Profile::lineAt(long index) const { return impl_->table.lineAt(index); }

long Profile::lineCount() const { return static_cast<long>(impl_->table.count()); }
