// Win32Platform: each operation of the seam through the table of raw calls.
#include "platform/win32.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "text/textkit.h"

namespace platform {
namespace {

BOOL WINAPI getDosFileTime(HANDLE file, WORD *dosDate, WORD *dosTime) {
    FILETIME utc, local;
    if (!::GetFileTime(file, nullptr, nullptr, &utc)) return FALSE;
    if (!::FileTimeToLocalFileTime(&utc, &local)) return FALSE;
    return ::FileTimeToDosDateTime(&local, dosDate, dosTime);
}

BOOL WINAPI setDosFileTime(HANDLE file, WORD dosDate, WORD dosTime) {
    FILETIME local, utc;
    if (!::DosDateTimeToFileTime(dosDate, dosTime, &local)) return FALSE;
    if (!::LocalFileTimeToFileTime(&local, &utc)) return FALSE;
    return ::SetFileTime(file, nullptr, nullptr, &utc);
}

// A last-write time as packed DOS date and time (local time), as
// getDosFileTime gives it for an open file.
std::optional<DosTime> dosTimeOf(const FILETIME &utc) {
    FILETIME local;
    DosTime t;
    if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToDosDateTime(&local, &t.date, &t.time))
        return std::nullopt;
    return t;
}

// The error of the call that just failed; never 0, so that a failure is
// never read as success.
Code lastError(Code fallback = kAccessDenied) {
    const DWORD e = ::GetLastError();
    return e != 0 ? e : fallback;
}

// Registry answers are their own error numbers.
Code regCode(LONG rc) { return static_cast<Code>(rc); }

// A registry read that failed at `stage`: the error as the result's code and,
// when asked for, the stage.
template <class T> Result<T> regFailed(LONG rc, RegStage stage, RegStage *failedAt) {
    Result<T> r;
    r.code = regCode(rc);
    if (failedAt) *failedAt = stage;
    return r;
}

HKEY rootKey(Root root) {
    switch (root) {
    case Root::LocalMachine: return HKEY_LOCAL_MACHINE;
    case Root::CurrentUser: return HKEY_CURRENT_USER;
    case Root::ClassesRoot: return HKEY_CLASSES_ROOT;
    case Root::Users: return HKEY_USERS;
    }
    return HKEY_LOCAL_MACHINE;
}

// Bytes moved per read or write call of a copy.
constexpr std::size_t kChunk = 64u * 1024u;
constexpr DWORD kMaxCall = 0xffffffffu;

// ---- owners -----------------------------------------------------------------

class Handle {
  public:
    Handle(const Win32Calls &calls, HANDLE h) : calls_(calls), h_(h) {}
    ~Handle() { close(); }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    // Closes now; false when the close failed.
    bool close() {
        if (!valid()) return true;
        const HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return calls_.CloseHandle(h) != FALSE;
    }

  private:
    const Win32Calls &calls_;
    HANDLE h_;
};

class FindHandle {
  public:
    FindHandle(const Win32Calls &calls, HANDLE h) : calls_(calls), h_(h) {}
    ~FindHandle() {
        if (valid()) calls_.FindClose(h_);
    }
    FindHandle(const FindHandle &) = delete;
    FindHandle &operator=(const FindHandle &) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }

  private:
    const Win32Calls &calls_;
    HANDLE h_;
};

class RegKey {
  public:
    explicit RegKey(const Win32Calls &calls) : calls_(calls) {}
    ~RegKey() {
        if (k_) calls_.RegCloseKey(k_);
    }
    RegKey(const RegKey &) = delete;
    RegKey &operator=(const RegKey &) = delete;
    HKEY get() const { return k_; }
    PHKEY put() { return &k_; }

  private:
    const Win32Calls &calls_;
    HKEY k_ = nullptr;
};

LONG openForReading(const Win32Calls &calls, HKEY root, const std::string &path, RegKey &key) {
    return calls.RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put());
}

// ---- open files ----------------------------------------------------------------

class Win32Reader : public Reader {
  public:
    Win32Reader(const Win32Calls &calls, HANDLE h) : calls_(calls), file_(calls, h) {}
    Result<std::size_t> read(char *buffer, std::size_t size) override {
        Result<std::size_t> r;
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, kMaxCall));
        if (!calls_.ReadFile(file_.get(), buffer, want, &got, nullptr)) {
            r.code = lastError();
            return r;
        }
        r.value = got;
        return r;
    }
    Result<DosTime> time() override {
        Result<DosTime> r;
        if (!calls_.GetDosFileTime(file_.get(), &r.value.date, &r.value.time)) r.code = lastError();
        return r;
    }

  private:
    const Win32Calls &calls_;
    Handle file_;
};

class Win32Writer : public Writer {
  public:
    Win32Writer(const Win32Calls &calls, HANDLE h) : calls_(calls), file_(calls, h) {}
    Code write(const char *data, std::size_t size) override {
        if (size == 0) return kOk;
        if (size > kMaxCall) return kDiskFull;
        DWORD put = 0;
        if (!calls_.WriteFile(file_.get(), data, static_cast<DWORD>(size), &put, nullptr)) return lastError(kDiskFull);
        return put == size ? kOk : kDiskFull;
    }
    Code setTime(const DosTime &time) override {
        return calls_.SetDosFileTime(file_.get(), time.date, time.time) ? kOk : lastError();
    }
    Code close() override { return file_.close() ? kOk : lastError(kDiskFull); }

  private:
    const Win32Calls &calls_;
    Handle file_;
};

class Win32Appender : public Appender {
  public:
    Win32Appender(const Win32Calls &calls, HANDLE h) : calls_(calls), file_(calls, h) {}
    bool write(const std::string &bytes) override {
        if (!file_.valid()) return false;
        if (bytes.empty()) return true;
        if (bytes.size() > kMaxCall) return false;
        DWORD put = 0;
        return calls_.WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
               put == bytes.size();
    }
    bool close() override { return file_.close(); }

  private:
    const Win32Calls &calls_;
    Handle file_;
};

// Asks a call that fills a buffer with a path and answers with the length
// it wrote, or with the size it needs when the buffer is too small.
template <typename Call> std::optional<std::string> askForPath(Call call) {
    std::string buffer(MAX_PATH + 1, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD n = call(&buffer[0], static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::nullopt;
        if (n < buffer.size()) return buffer.substr(0, n);
        buffer.assign(static_cast<std::size_t>(n) + 1, '\0');
    }
    return std::nullopt;
}

} // namespace

namespace {

// GetFileAttributesExA of the running system, or null where it has none.
// Looked up rather than imported, so that the program still starts there.
decltype(Win32Calls::GetFileAttributesExA) systemGetFileAttributesEx() {
    const HMODULE kernel = ::GetModuleHandleA("KERNEL32.DLL");
    if (kernel == nullptr) return nullptr;
    return reinterpret_cast<decltype(Win32Calls::GetFileAttributesExA)>(
        reinterpret_cast<void (*)()>(::GetProcAddress(kernel, "GetFileAttributesExA")));
}

} // namespace

const Win32Calls &realWin32Calls() {
    static const Win32Calls calls = {
        ::CreateFileA,      ::ReadFile,          ::WriteFile,          ::CloseHandle,      ::SetFilePointer,
        getDosFileTime,     setDosFileTime,      ::MoveFileA,          ::MoveFileExA,      ::DeleteFileA,
        ::GetFileAttributesA, ::CreateDirectoryA, ::RemoveDirectoryA, ::FindFirstFileA,    ::FindNextFileA,    ::FindClose,
        ::GetWindowsDirectoryA, ::GetVersionExA,  ::GetCurrentProcessId, ::GetEnvironmentVariableA,
        ::CreateProcessA,   ::GetModuleFileNameA, ::GetFullPathNameA,  ::GetShortPathNameA, ::RegOpenKeyExA,
        ::RegQueryValueExA, ::RegCreateKeyExA,   ::RegSetValueExA,     ::RegDeleteValueA,  ::RegDeleteKeyA,
        ::RegEnumKeyExA,    ::RegEnumValueA,     ::RegQueryInfoKeyA,   ::RegCloseKey,
        systemGetFileAttributesEx(),
    };
    return calls;
}

// ---- files and directories -------------------------------------------------------

Attributes Win32Platform::attributes(const std::string &path) {
    Attributes a;
    const DWORD bits = calls_.GetFileAttributesA(path.c_str());
    if (bits == INVALID_FILE_ATTRIBUTES) {
        a.code = lastError(kFileNotFound);
        return a;
    }
    a.directory = (bits & FILE_ATTRIBUTE_DIRECTORY) != 0;
    a.readOnly = (bits & FILE_ATTRIBUTE_READONLY) != 0;
    return a;
}

Result<FileInfo> Win32Platform::info(const std::string &path) {
    Result<FileInfo> r;
    // A name with a wildcard names no entry; as a search pattern it would.
    if (path.find_first_of("*?") != std::string::npos) {
        r.code = kInvalidName;
        return r;
    }
    // One question that opens nothing where the system can answer it.
    if (calls_.GetFileAttributesExA != nullptr) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (calls_.GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
            r.value.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
            r.value.written = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                              data.ftLastWriteTime.dwLowDateTime;
            r.value.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            r.value.readOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
            r.value.writtenDos = dosTimeOf(data.ftLastWriteTime);
            return r;
        }
        r.code = lastError(kFileNotFound);
        if (r.code != kCallNotImplemented) return r;
        r.code = kOk;
    }
    WIN32_FIND_DATAA data{};
    FindHandle find(calls_, calls_.FindFirstFileA(path.c_str(), &data));
    if (!find.valid()) {
        r.code = lastError(kFileNotFound);
        return r;
    }
    r.value.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    r.value.written = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                      data.ftLastWriteTime.dwLowDateTime;
    r.value.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    r.value.readOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    r.value.writtenDos = dosTimeOf(data.ftLastWriteTime);
    return r;
}

Result<std::unique_ptr<Reader>> Win32Platform::openRead(const std::string &path) {
    Result<std::unique_ptr<Reader>> r;
    const HANDLE h = calls_.CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        r.code = lastError(kFileNotFound);
        return r;
    }
    r.value = std::make_unique<Win32Reader>(calls_, h);
    return r;
}

std::uint64_t Win32Platform::localNow() {
    FILETIME utc, local;
    ::GetSystemTimeAsFileTime(&utc);
    if (!::FileTimeToLocalFileTime(&utc, &local)) local = utc;
    return (static_cast<std::uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
}

Code Win32Platform::probe(const std::string &path, Access access) {
    const Attributes a = attributes(path);
    if (!a.exists()) return a.code;
    if (a.directory) return access == Access::Rename ? kOk : kAccessDenied;
    // Appending writes: any system lets it when no holder refuses writers.
    // Renaming, replacing or deleting: the NT family asks for deletion,
    // which a holder that does not share it refuses; the Windows 95 family
    // refuses all three while anyone holds the file open, which only an
    // open that shares nothing tells.
    DWORD wanted = GENERIC_WRITE;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    if (access != Access::Append) {
        const VersionInfo v = version();
        if (v.known && v.platformId == VER_PLATFORM_WIN32_NT) {
            wanted = DELETE;
        } else {
            wanted = GENERIC_READ;
            share = 0;
        }
    }
    const HANDLE h = calls_.CreateFileA(path.c_str(), wanted, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                       nullptr);
    if (h == INVALID_HANDLE_VALUE) return lastError();
    Handle opened(calls_, h);
    return kOk;
}

Result<std::unique_ptr<Writer>> Win32Platform::createNew(const std::string &path) {
    ++fileChanges_;
    Result<std::unique_ptr<Writer>> r;
    const HANDLE h = calls_.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        r.code = lastError();
        return r;
    }
    r.value = std::make_unique<Win32Writer>(calls_, h);
    return r;
}

Result<DosTime> Win32Platform::readableTime(const std::string &path) {
    Result<DosTime> r;
    auto file = openRead(path);
    if (!file.ok()) {
        r.code = file.code;
        return r;
    }
    return file.value->time();
}

Result<std::string> Win32Platform::readAll(const std::string &path) {
    Result<std::string> r;
    auto file = openRead(path);
    if (!file.ok()) {
        r.code = file.code;
        return r;
    }
    std::size_t used = 0;
    for (;;) {
        r.value.resize(used + kChunk);
        const Result<std::size_t> got = file.value->read(&r.value[used], kChunk);
        if (!got.ok()) {
            r.code = got.code;
            r.value.clear();
            return r;
        }
        used += got.value;
        // A disk file gives fewer bytes than asked only at its end.
        if (got.value < kChunk) break;
    }
    r.value.resize(used);
    return r;
}

Code Win32Platform::writeNew(const std::string &path, const std::string &bytes, const std::optional<DosTime> &time) {
    ++fileChanges_;
    const HANDLE h =
        calls_.CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return lastError();
    Win32Writer file(calls_, h);
    // The whole content in one write.
    Code code = file.write(bytes.data(), bytes.size());
    if (code == kOk && time) code = file.setTime(*time);
    const Code closed = file.close();
    if (code == kOk) code = closed;
    if (code != kOk) calls_.DeleteFileA(path.c_str());
    return code;
}

CopyOutcome Win32Platform::copyNew(const std::string &source, const std::string &target) {
    ++fileChanges_;
    CopyOutcome out;
    auto fail = [&out](Code code, CopyStage stage) {
        out.code = code;
        out.stage = stage;
        return out;
    };
    auto in = openRead(source);
    if (!in.ok()) return fail(in.code, CopyStage::OpenSource);
    const Result<DosTime> time = in.value->time();
    if (!time.ok()) return fail(time.code, CopyStage::SourceTime);
    auto made = createNew(target);
    if (!made.ok()) return fail(made.code, CopyStage::CreateTarget);
    Writer &writer = *made.value;
    std::string buffer(kChunk, '\0');
    CopyStage failedAt = CopyStage::None;
    Code code = kOk;
    for (;;) {
        const Result<std::size_t> got = in.value->read(&buffer[0], buffer.size());
        if (!got.ok()) {
            code = got.code;
            failedAt = CopyStage::Read;
            break;
        }
        if (got.value == 0) break;
        code = writer.write(buffer.data(), got.value);
        if (code != kOk) {
            failedAt = CopyStage::Write;
            break;
        }
    }
    if (code == kOk) {
        code = writer.setTime(time.value);
        if (code != kOk) failedAt = CopyStage::SetTime;
    }
    const Code closed = writer.close();
    if (code == kOk && closed != kOk) {
        code = closed;
        failedAt = CopyStage::Close;
    }
    if (code != kOk) {
        calls_.DeleteFileA(target.c_str());
        return fail(code, failedAt);
    }
    return out;
}

Code Win32Platform::move(const std::string &from, const std::string &to) {
    ++fileChanges_;
    return calls_.MoveFileA(from.c_str(), to.c_str()) ? kOk : lastError();
}

Code Win32Platform::replace(const std::string &from, const std::string &to) {
    ++fileChanges_;
    return calls_.MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) ? kOk : lastError();
}

Code Win32Platform::remove(const std::string &path) {
    ++fileChanges_;
    return calls_.DeleteFileA(path.c_str()) ? kOk : lastError();
}

Code Win32Platform::makeDirectory(const std::string &path) {
    ++fileChanges_;
    return calls_.CreateDirectoryA(path.c_str(), nullptr) ? kOk : lastError();
}

Code Win32Platform::removeDirectory(const std::string &path) {
    ++fileChanges_;
    return calls_.RemoveDirectoryA(path.c_str()) ? kOk : lastError();
}

Result<std::vector<DirEntry>> Win32Platform::list(const std::string &directory) {
    Result<std::vector<DirEntry>> r;
    const std::string pattern = text::joinPath(directory, "*.*");
    WIN32_FIND_DATAA data{};
    FindHandle find(calls_, calls_.FindFirstFileA(pattern.c_str(), &data));
    if (!find.valid()) {
        r.code = lastError(kFileNotFound);
        return r;
    }
    do {
        data.cFileName[sizeof data.cFileName - 1] = '\0';
        r.value.push_back(DirEntry{data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (calls_.FindNextFileA(find.get(), &data));
    return r;
}

Code Win32Platform::delayMove(const std::string &from, const std::optional<std::string> &to) {
    ++fileChanges_;
    return calls_.MoveFileExA(from.c_str(), to ? to->c_str() : nullptr,
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)
               ? kOk
               : lastError();
}

std::unique_ptr<Appender> Win32Platform::openAppender(const std::string &path, bool truncate) {
    const HANDLE h = calls_.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, truncate ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    auto appender = std::make_unique<Win32Appender>(calls_, h);
    if (!truncate) {
        // Written at the start, the log would overwrite what it holds.
        ::SetLastError(0);
        if (calls_.SetFilePointer(h, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER && ::GetLastError() != 0)
            return nullptr;
    }
    return appender;
}

// ---- registry ----------------------------------------------------------------------

Code Win32Platform::regOpenable(Root root, const std::string &path, bool forWriting) {
    RegKey key(calls_);
    return regCode(calls_.RegOpenKeyExA(rootKey(root), path.c_str(), 0, forWriting ? KEY_ALL_ACCESS : KEY_READ,
                                        key.put()));
}

Result<RegValue> Win32Platform::regRead(Root root, const std::string &path, const std::string *name,
                                        std::size_t maxBytes, RegStage *failedAt) {
    auto fail = [failedAt](LONG rc, RegStage stage) { return regFailed<RegValue>(rc, stage, failedAt); };
    RegKey key(calls_);
    const LONG opened = openForReading(calls_, rootKey(root), path, key);
    if (opened != ERROR_SUCCESS) return fail(opened, RegStage::Open);
    const char *valueName = name ? name->c_str() : nullptr;
    DWORD size = 0;
    DWORD type = 0;
    if (maxBytes > kChunk) {
        // A value of any size: asked for its size first.
        const LONG asked = calls_.RegQueryValueExA(key.get(), valueName, nullptr, &type, nullptr, &size);
        if (asked != ERROR_SUCCESS) return fail(asked, RegStage::Read);
        if (size > maxBytes) return fail(ERROR_MORE_DATA, RegStage::Read);
    } else {
        size = static_cast<DWORD>(maxBytes);
    }
    std::string data(size, '\0');
    const LONG got = calls_.RegQueryValueExA(key.get(), valueName, nullptr, &type,
                                             reinterpret_cast<BYTE *>(data.empty() ? nullptr : &data[0]), &size);
    if (got != ERROR_SUCCESS) return fail(got, RegStage::Read);
    data.resize(std::min<std::size_t>(size, data.size()));
    if (failedAt) *failedAt = RegStage::None;
    Result<RegValue> r;
    r.value = RegValue{type, std::move(data)};
    return r;
}

RegOutcome Win32Platform::regSet(Root root, const std::string &path, const std::string *name,
                                 const RegValue &value) {
    RegOutcome out;
    RegKey key(calls_);
    DWORD disposition = 0;
    const LONG created = calls_.RegCreateKeyExA(rootKey(root), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                KEY_ALL_ACCESS, nullptr, key.put(), &disposition);
    if (created != ERROR_SUCCESS) return RegOutcome{regCode(created), RegStage::Create};
    if (value.data.size() > kMaxCall) return RegOutcome{kMoreData, RegStage::Set};
    const LONG set = calls_.RegSetValueExA(key.get(), name ? name->c_str() : nullptr, 0, value.type,
                                           reinterpret_cast<const BYTE *>(value.data.data()),
                                           static_cast<DWORD>(value.data.size()));
    if (set != ERROR_SUCCESS) return RegOutcome{regCode(set), RegStage::Set};
    return out;
}

RegOutcome Win32Platform::regDeleteValue(Root root, const std::string &path, const std::string &name) {
    RegKey key(calls_);
    const LONG opened = calls_.RegOpenKeyExA(rootKey(root), path.c_str(), 0, KEY_ALL_ACCESS, key.put());
    if (opened != ERROR_SUCCESS) return RegOutcome{regCode(opened), RegStage::Open};
    const LONG deleted = calls_.RegDeleteValueA(key.get(), name.c_str());
    if (deleted != ERROR_SUCCESS) return RegOutcome{regCode(deleted), RegStage::Delete};
    return RegOutcome{};
}

Result<std::vector<std::string>> Win32Platform::regSubkeys(Root root, const std::string &path, RegStage *failedAt) {
    auto fail = [failedAt](LONG rc, RegStage stage) { return regFailed<std::vector<std::string>>(rc, stage, failedAt); };
    Result<std::vector<std::string>> r;
    RegKey key(calls_);
    const LONG opened = openForReading(calls_, rootKey(root), path, key);
    if (opened != ERROR_SUCCESS) return fail(opened, RegStage::Open);
    DWORD count = 0;
    const LONG queried = calls_.RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                                                 nullptr, nullptr, nullptr, nullptr, nullptr);
    if (queried != ERROR_SUCCESS) return fail(queried, RegStage::Query);
    if (count == 0) return r;
    for (DWORD index = 0;; ++index) {
        // A key name holds at most 255 characters.
        char name[256];
        DWORD size = sizeof name;
        const LONG rc = calls_.RegEnumKeyExA(key.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) return fail(rc, RegStage::Enumerate);
        r.value.emplace_back(name, std::min<std::size_t>(size, sizeof name - 1));
    }
    if (failedAt) *failedAt = RegStage::None;
    return r;
}

Result<std::vector<RegNamedValue>> Win32Platform::regValues(Root root, const std::string &path,
                                                            RegStage *failedAt) {
    auto fail = [failedAt](LONG rc, RegStage stage) { return regFailed<std::vector<RegNamedValue>>(rc, stage, failedAt); };
    Result<std::vector<RegNamedValue>> r;
    RegKey key(calls_);
    const LONG opened = openForReading(calls_, rootKey(root), path, key);
    if (opened != ERROR_SUCCESS) return fail(opened, RegStage::Open);
    DWORD count = 0, nameMax = 0, dataMax = 0;
    const LONG queried = calls_.RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                 &count, &nameMax, &dataMax, nullptr, nullptr);
    if (queried != ERROR_SUCCESS) return fail(queried, RegStage::Query);
    for (DWORD index = 0; index < count; ++index) {
        std::string name(static_cast<std::size_t>(nameMax) + 1, '\0');
        std::string data(std::max<DWORD>(dataMax, 1), '\0');
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG rc = calls_.RegEnumValueA(key.get(), index, &name[0], &nameSize, nullptr, &type,
                                             reinterpret_cast<BYTE *>(&data[0]), &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) return fail(rc, RegStage::Enumerate);
        name.resize(std::min<std::size_t>(nameSize, name.size()));
        data.resize(std::min<std::size_t>(dataSize, data.size()));
        r.value.push_back(RegNamedValue{std::move(name), RegValue{type, std::move(data)}});
    }
    if (failedAt) *failedAt = RegStage::None;
    return r;
}

RegOutcome Win32Platform::regDeleteKey(Root root, const std::string &path) {
    const LONG rc = calls_.RegDeleteKeyA(rootKey(root), path.c_str());
    if (rc != ERROR_SUCCESS) return RegOutcome{regCode(rc), RegStage::Delete};
    return RegOutcome{};
}

// ---- system ---------------------------------------------------------------------------

std::optional<std::string> Win32Platform::windowsDirectory() {
    char buffer[MAX_PATH] = {};
    const UINT n = calls_.GetWindowsDirectoryA(buffer, MAX_PATH);
    // Nothing, or an answer that does not fit the buffer, is no directory.
    if (n == 0 || n >= MAX_PATH) return std::nullopt;
    return std::string(buffer, n);
}

VersionInfo Win32Platform::version() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    VersionInfo v;
    if (!calls_.GetVersionExA(&info)) return v;
    v.platformId = info.dwPlatformId;
    v.major = info.dwMajorVersion;
    v.minor = info.dwMinorVersion;
    v.known = true;
    return v;
}

std::uint32_t Win32Platform::processId() { return calls_.GetCurrentProcessId(); }

std::optional<std::string> Win32Platform::environment(const std::string &name) {
    std::string buffer(MAX_PATH, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD n = calls_.GetEnvironmentVariableA(name.c_str(), &buffer[0], static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::nullopt;
        if (n < buffer.size()) return buffer.substr(0, n);
        buffer.assign(n + 1, '\0'); // n is the size needed, terminator included
    }
    return std::nullopt;
}

std::optional<std::string> Win32Platform::moduleFileName() {
    std::string buffer(MAX_PATH + 1, '\0');
    const DWORD n = calls_.GetModuleFileNameA(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::nullopt;
    // A name that fills the buffer is given as far as it fits.
    return buffer.substr(0, std::min<std::size_t>(n, buffer.size() - 1));
}

bool Win32Platform::startProcess(const std::string &application, const std::string &commandLine) {
    std::string command = commandLine;
    command.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!calls_.CreateProcessA(application.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &process))
        return false;
    // Not waited for: the handles are only closed.
    Handle thread(calls_, process.hThread);
    Handle child(calls_, process.hProcess);
    return true;
}

std::optional<std::string> Win32Platform::fullPathName(const std::string &path) {
    return askForPath([&](char *buffer, DWORD size) {
        return calls_.GetFullPathNameA(path.c_str(), size, buffer, nullptr);
    });
}

std::optional<std::string> Win32Platform::shortPathName(const std::string &path) {
    return askForPath([&](char *buffer, DWORD size) { return calls_.GetShortPathNameA(path.c_str(), buffer, size); });
}

} // namespace platform
