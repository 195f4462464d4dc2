#include "testing/memory_platform.h"

#include "platform/names.h"
#include "text/textkit.h"

#include <chrono>
#include <stdexcept>

namespace platform {

std::uint64_t systemNow() {
    constexpr std::uint64_t kUnixEpoch = 116444736000000000ull; // 1970 in 100 ns units since 1601
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const auto units = std::chrono::duration_cast<std::chrono::microseconds>(since).count() * 10;
    return kUnixEpoch + static_cast<std::uint64_t>(units < 0 ? 0 : units);
}

using names::FilePath;
using names::KeyPath;
using names::parseFile;
using names::parseKey;

struct MemoryPlatform::FileData {
    std::string bytes;
    DosTime dos;
    std::uint64_t written = 0;
    int appenders = 0;
};

// Appends to a file of the machine; the file is in use while it is open.
class MemoryPlatform::MemoryAppender : public Appender {
  public:
    MemoryAppender(std::shared_ptr<FileData> data, Clock clock) : data_(std::move(data)), clock_(std::move(clock)) {
        ++data_->appenders;
    }
    ~MemoryAppender() override { close(); }
    bool write(const std::string &bytes) override {
        if (!open_) return false;
        data_->bytes += bytes;
        data_->written = clock_();
        data_->dos = localDosTime(data_->written);
        return true;
    }
    bool close() override {
        if (open_) --data_->appenders;
        open_ = false;
        return true;
    }

  private:
    std::shared_ptr<FileData> data_;
    Clock clock_;
    bool open_ = true;
};

// Writes a file created by createNew.
class MemoryPlatform::MemoryWriter : public Writer {
  public:
    explicit MemoryWriter(std::shared_ptr<FileData> data) : data_(std::move(data)) {}
    Code write(const char *data, std::size_t size) override {
        data_->bytes.append(data, size);
        return kOk;
    }
    Code setTime(const DosTime &time) override {
        data_->dos = time;
        data_->written = fromLocalDosTime(time);
        return kOk;
    }
    Code close() override { return kOk; }

  private:
    std::shared_ptr<FileData> data_;
};

namespace {

FilePath parsed(const std::string &path) {
    FilePath p = parseFile(path);
    if (!p.valid()) throw std::invalid_argument("names no file: " + path);
    return p;
}

} // namespace

MemoryPlatform::MemoryPlatform(Clock clock) : clock_(std::move(clock)) {
    version_.platformId = 2;
    version_.major = 4;
    version_.minor = 0;
    version_.known = true;
    windowsDirectory_ = "C:\\WINDOWS";
    addDirectory("C:\\WINDOWS");
    for (Root r : {Root::LocalMachine, Root::CurrentUser, Root::ClassesRoot, Root::Users})
        keys_[KeyId(static_cast<int>(r), "")] = Key{};
}

MemoryPlatform::~MemoryPlatform() = default;

// ---- seeding ----------------------------------------------------------------

MemoryPlatform::Entry &MemoryPlatform::seedDirectories(const std::string &path) {
    const FilePath p = parsed(path);
    FilePath at = p;
    at.parts.clear();
    Entry *entry = nullptr;
    for (std::size_t i = 0; i <= p.parts.size(); ++i) {
        if (i > 0) at.parts.push_back(p.parts[i - 1]);
        entry = find(at.key());
        if (entry == nullptr) {
            entry = &files_[at.key()];
            entry->name = i == 0 ? at.root : at.leaf();
            entry->directory = true;
            entry->written = clock_();
        } else if (!entry->directory) {
            throw std::invalid_argument("a file stands where a directory is due: " + at.text());
        }
    }
    return *entry;
}

void MemoryPlatform::addDirectory(const std::string &path) { seedDirectories(path); }

void MemoryPlatform::addFile(const std::string &path, const std::string &bytes, const std::optional<DosTime> &time) {
    const FilePath p = parsed(path);
    if (p.isRoot()) throw std::invalid_argument("a root is no file: " + path);
    seedDirectories(p.parent().text());
    Entry &e = files_[p.key()];
    if (e.directory) throw std::invalid_argument("a directory of that name exists: " + path);
    e.name = p.leaf();
    e.data = std::make_shared<FileData>();
    e.data->bytes = bytes;
    e.data->written = time ? fromLocalDosTime(*time) : clock_();
    e.data->dos = time ? *time : localDosTime(e.data->written);
}

void MemoryPlatform::setReadOnly(const std::string &path, bool readOnly) {
    Entry *e = find(parsed(path).key());
    if (e == nullptr) throw std::invalid_argument("no such file: " + path);
    e->readOnly = readOnly;
}

void MemoryPlatform::setInUse(const std::string &path, bool inUse) {
    Entry *e = find(parsed(path).key());
    if (e == nullptr) throw std::invalid_argument("no such file: " + path);
    e->inUse = inUse;
}

void MemoryPlatform::addKey(Root root, const std::string &path) {
    const KeyPath k = parseKey(path);
    KeyPath at;
    for (const std::string &part : k.parts) {
        at.parts.push_back(part);
        Key &key = keys_[KeyId(static_cast<int>(root), at.key())];
        if (key.name.empty()) key.name = part;
    }
}

void MemoryPlatform::setValue(Root root, const std::string &path, const std::string *name, const RegValue &value) {
    regSet(root, path, name, value);
}

void MemoryPlatform::setVersion(const VersionInfo &version) { version_ = version; }
void MemoryPlatform::setWindowsDirectory(const std::optional<std::string> &path) { windowsDirectory_ = path; }
void MemoryPlatform::setProcessId(std::uint32_t id) { processId_ = id; }
void MemoryPlatform::setModuleFileName(const std::optional<std::string> &path) { moduleFileName_ = path; }
void MemoryPlatform::setClock(Clock clock) { clock_ = std::move(clock); }

void MemoryPlatform::setEnvironment(const std::string &name, const std::optional<std::string> &value) {
    for (auto it = environment_.begin(); it != environment_.end(); ++it) {
        if (text::equalsNoCase(it->first, name)) {
            environment_.erase(it);
            break;
        }
    }
    if (value) environment_.emplace_back(name, *value);
}

// ---- lookups ----------------------------------------------------------------

MemoryPlatform::Entry *MemoryPlatform::find(const std::string &key) {
    const auto it = files_.find(key);
    return it == files_.end() ? nullptr : &it->second;
}

Code MemoryPlatform::absentCode(const FilePath &p) {
    if (p.isRoot()) return kPathNotFound;
    const Entry *parent = find(p.parentKey());
    return parent != nullptr && parent->directory ? kFileNotFound : kPathNotFound;
}

Code MemoryPlatform::directoryReady(const FilePath &p) {
    if (p.isRoot()) return kPathNotFound;
    const Entry *parent = find(p.parentKey());
    return parent != nullptr && parent->directory ? kOk : kPathNotFound;
}

bool MemoryPlatform::busy(const Entry &e) const { return e.inUse || (e.data && e.data->appenders > 0); }

bool MemoryPlatform::holdsBusy(const std::string &dirKey) const {
    for (auto it = files_.lower_bound(names::lowerBelow(dirKey));
         it != files_.end() && it->first < names::upperBelow(dirKey); ++it)
        if (busy(it->second)) return true;
    return false;
}

Code MemoryPlatform::readable(const std::string &path, Entry **found) {
    const FilePath p = parseFile(path);
    if (!p.valid()) return p.code;
    Entry *e = find(p.key());
    if (e == nullptr) return absentCode(p);
    if (e->directory) return kAccessDenied;
    if (e->inUse) return kSharingViolation;
    *found = e;
    return kOk;
}

Code MemoryPlatform::probe(const std::string &path, Access access) {
    const FilePath p = parseFile(path);
    if (!p.valid()) return p.code;
    const Entry *e = find(p.key());
    if (e == nullptr) return absentCode(p);
    if (access == Access::Rename) {
        if (busy(*e)) return kSharingViolation;
        if (e->directory && holdsBusy(p.key())) return kAccessDenied;
        return kOk;
    }
    if (e->directory) return kAccessDenied;
    if (busy(*e)) return kSharingViolation;
    if (e->readOnly) return kAccessDenied;
    return kOk;
}

// ---- files --------------------------------------------------------------------

Attributes MemoryPlatform::attributes(const std::string &path) {
    Attributes a;
    const FilePath p = parseFile(path);
    const Entry *e = p.valid() ? find(p.key()) : nullptr;
    if (!p.valid()) {
        a.code = p.code;
    } else if (e == nullptr) {
        a.code = absentCode(p);
    } else {
        a.directory = e->directory;
        a.readOnly = e->readOnly;
    }
    return a;
}

Result<FileInfo> MemoryPlatform::info(const std::string &path) {
    Result<FileInfo> r;
    const Attributes a = attributes(path);
    if (!a.exists()) {
        r.code = a.code;
        return r;
    }
    const Entry &e = *find(parseFile(path).key());
    r.value.directory = e.directory;
    r.value.readOnly = e.readOnly;
    r.value.size = e.data ? e.data->bytes.size() : 0;
    r.value.written = e.data ? e.data->written : e.written;
    if (e.data) r.value.writtenDos = e.data->dos;
    return r;
}

Result<DosTime> MemoryPlatform::readableTime(const std::string &path) {
    Result<DosTime> r;
    Entry *e = nullptr;
    r.code = readable(path, &e);
    if (r.ok()) r.value = e->data->dos;
    return r;
}

Result<std::string> MemoryPlatform::readAll(const std::string &path) {
    Result<std::string> r;
    Entry *e = nullptr;
    r.code = readable(path, &e);
    if (r.ok()) r.value = e->data->bytes;
    return r;
}

Code MemoryPlatform::writeNew(const std::string &path, const std::string &bytes, const std::optional<DosTime> &time) {
    ++fileChanges_;
    const FilePath p = parseFile(path);
    if (!p.valid()) return p.code;
    if (find(p.key()) != nullptr) return kFileExists;
    if (const Code c = directoryReady(p)) return c;
    Entry &e = files_[p.key()];
    e.name = p.leaf();
    e.data = std::make_shared<FileData>();
    e.data->bytes = bytes;
    e.data->written = time ? fromLocalDosTime(*time) : clock_();
    e.data->dos = time ? *time : localDosTime(e.data->written);
    return kOk;
}

CopyOutcome MemoryPlatform::copyNew(const std::string &source, const std::string &target) {
    ++fileChanges_;
    Entry *from = nullptr;
    if (const Code c = readable(source, &from)) return {c, CopyStage::OpenSource};
    const FilePath t = parseFile(target);
    if (!t.valid()) return {t.code, CopyStage::CreateTarget};
    if (find(t.key()) != nullptr) return {kFileExists, CopyStage::CreateTarget};
    if (const Code c = directoryReady(t)) return {c, CopyStage::CreateTarget};
    const FileData copy = *from->data;
    Entry &e = files_[t.key()];
    e.name = t.leaf();
    e.data = std::make_shared<FileData>(copy);
    e.data->appenders = 0;
    return {};
}

void MemoryPlatform::rekey(const std::string &fromKey, const std::string &toKey, const std::string &name) {
    std::vector<std::string> below;
    for (auto it = files_.lower_bound(names::lowerBelow(fromKey));
         it != files_.end() && it->first < names::upperBelow(fromKey); ++it)
        below.push_back(it->first);
    auto top = files_.extract(fromKey);
    top.key() = toKey;
    top.mapped().name = name;
    files_.insert(std::move(top));
    for (const std::string &key : below) {
        auto node = files_.extract(key);
        node.key() = toKey + key.substr(fromKey.size());
        files_.insert(std::move(node));
    }
}

Code MemoryPlatform::moveChecked(const std::string &from, const std::string &to, bool replacing) {
    ++fileChanges_;
    const FilePath f = parseFile(from);
    if (!f.valid()) return f.code;
    Entry *source = find(f.key());
    if (source == nullptr) return absentCode(f);
    if (f.isRoot()) return kAccessDenied;
    if (const Code c = probe(from, Access::Rename)) return c;
    const FilePath t = parseFile(to);
    if (!t.valid()) return t.code;
    if (t.key() == f.key()) {
        source->name = t.leaf();
        return kOk;
    }
    Entry *target = find(t.key());
    if (target != nullptr) {
        if (!replacing) return kAlreadyExists;
        if (target->directory || source->directory) return kAccessDenied;
        if (const Code c = probe(to, Access::Overwrite)) return c;
    } else if (const Code c = directoryReady(t)) {
        return c;
    }
    if (source->directory && names::isBelow(t.key(), f.key())) return kSharingViolation;
    if (target != nullptr) files_.erase(t.key());
    rekey(f.key(), t.key(), t.leaf());
    return kOk;
}

Code MemoryPlatform::move(const std::string &from, const std::string &to) { return moveChecked(from, to, false); }

Code MemoryPlatform::replace(const std::string &from, const std::string &to) {
    if (lacksReplacingRename(version_)) return kCallNotImplemented;
    return moveChecked(from, to, true);
}

Code MemoryPlatform::remove(const std::string &path) {
    ++fileChanges_;
    if (const Code c = probe(path, Access::Remove)) return c;
    files_.erase(parseFile(path).key());
    return kOk;
}

Code MemoryPlatform::removeDirectory(const std::string &path) {
    ++fileChanges_;
    const FilePath p = parseFile(path);
    if (!p.valid()) return p.code;
    if (p.isRoot()) return kAccessDenied;
    const Entry *dir = find(p.key());
    if (dir == nullptr) return kFileNotFound;
    if (!dir->directory) return kNotADirectory;
    const std::string key = p.key();
    for (auto it = files_.lower_bound(names::lowerBelow(key));
         it != files_.end() && it->first < names::upperBelow(key); ++it)
        if (names::isChild(it->first, key)) return kDirNotEmpty;
    files_.erase(key);
    return kOk;
}

Code MemoryPlatform::makeDirectory(const std::string &path) {
    ++fileChanges_;
    const FilePath p = parseFile(path);
    if (!p.valid()) return p.code;
    if (find(p.key()) != nullptr) return kAlreadyExists;
    if (const Code c = directoryReady(p)) return c;
    Entry &e = files_[p.key()];
    e.name = p.leaf();
    e.directory = true;
    e.written = clock_();
    return kOk;
}

Result<std::vector<DirEntry>> MemoryPlatform::list(const std::string &directory) {
    Result<std::vector<DirEntry>> r;
    const FilePath p = parseFile(directory);
    if (!p.valid()) {
        r.code = p.code;
        return r;
    }
    const Entry *dir = find(p.key());
    if (dir == nullptr || !dir->directory) {
        r.code = kPathNotFound;
        return r;
    }
    if (!p.isRoot()) r.value = {{".", true}, {"..", true}};
    const std::string key = p.key();
    for (auto it = files_.lower_bound(names::lowerBelow(key));
         it != files_.end() && it->first < names::upperBelow(key); ++it)
        if (names::isChild(it->first, key)) r.value.push_back({it->second.name, it->second.directory});
    return r;
}

Code MemoryPlatform::delayMove(const std::string &from, const std::optional<std::string> &to) {
    ++fileChanges_;
    if (lacksReplacingRename(version_)) return kCallNotImplemented;
    const FilePath f = parseFile(from);
    if (!f.valid()) return f.code;
    if (to) {
        const FilePath t = parseFile(*to);
        if (!t.valid()) return t.code;
    }
    pendingMoves_.push_back({from, to});
    return kOk;
}

std::unique_ptr<Appender> MemoryPlatform::openAppender(const std::string &path, bool truncate) {
    const FilePath p = parseFile(path);
    if (!p.valid()) return nullptr;
    Entry *e = find(p.key());
    if (e != nullptr) {
        if (probe(path, Access::Append) != kOk) return nullptr;
        if (truncate) {
            e->data->bytes.clear();
            e->data->written = clock_();
            e->data->dos = localDosTime(e->data->written);
        }
    } else {
        if (directoryReady(p) != kOk) return nullptr;
        e = &files_[p.key()];
        e->name = p.leaf();
        e->data = std::make_shared<FileData>();
        e->data->written = clock_();
        e->data->dos = localDosTime(e->data->written);
    }
    return std::make_unique<MemoryAppender>(e->data, clock_);
}

Result<std::unique_ptr<Reader>> MemoryPlatform::openRead(const std::string &path) {
    Result<std::unique_ptr<Reader>> r;
    Entry *e = nullptr;
    r.code = readable(path, &e);
    if (r.ok()) r.value = bytesReader(e->data->bytes, e->data->dos);
    return r;
}

Result<std::unique_ptr<Writer>> MemoryPlatform::createNew(const std::string &path) {
    Result<std::unique_ptr<Writer>> r;
    r.code = writeNew(path, std::string());
    if (r.ok()) r.value = std::make_unique<MemoryWriter>(find(parseFile(path).key())->data);
    return r;
}

// ---- registry -----------------------------------------------------------------

MemoryPlatform::Key *MemoryPlatform::findKey(Root root, const std::string &key) {
    const auto it = keys_.find(KeyId(static_cast<int>(root), key));
    return it == keys_.end() ? nullptr : &it->second;
}

Code MemoryPlatform::regOpenable(Root root, const std::string &path, bool) {
    return findKey(root, parseKey(path).key()) != nullptr ? kOk : kFileNotFound;
}

Result<RegValue> MemoryPlatform::regRead(Root root, const std::string &path, const std::string *name,
                                         std::size_t maxBytes, RegStage *failedAt) {
    Result<RegValue> r;
    RegStage stage = RegStage::None;
    const Key *key = findKey(root, parseKey(path).key());
    const std::string wanted = name != nullptr ? *name : std::string();
    const RegNamedValue *found = nullptr;
    if (key != nullptr)
        for (const RegNamedValue &v : key->values)
            if (text::equalsNoCase(v.name, wanted)) found = &v;
    if (key == nullptr) {
        r.code = kFileNotFound;
        stage = RegStage::Open;
    } else if (found == nullptr) {
        r.code = kFileNotFound;
        stage = RegStage::Read;
    } else if (found->value.data.size() > maxBytes) {
        r.code = kMoreData;
        r.value.type = found->value.type;
        stage = RegStage::Read;
    } else {
        r.value = found->value;
    }
    if (failedAt != nullptr) *failedAt = stage;
    return r;
}

RegOutcome MemoryPlatform::regSet(Root root, const std::string &path, const std::string *name,
                                  const RegValue &value) {
    const KeyPath k = parseKey(path);
    addKey(root, path);
    Key &key = *findKey(root, k.key());
    const std::string wanted = name != nullptr ? *name : std::string();
    for (RegNamedValue &v : key.values) {
        if (text::equalsNoCase(v.name, wanted)) {
            v.value = value;
            return {};
        }
    }
    key.values.push_back({wanted, value});
    return {};
}

RegOutcome MemoryPlatform::regDeleteValue(Root root, const std::string &path, const std::string &name) {
    Key *key = findKey(root, parseKey(path).key());
    if (key == nullptr) return {kFileNotFound, RegStage::Open};
    for (auto it = key->values.begin(); it != key->values.end(); ++it) {
        if (text::equalsNoCase(it->name, name)) {
            key->values.erase(it);
            return {};
        }
    }
    return {kFileNotFound, RegStage::Delete};
}

Result<std::vector<std::string>> MemoryPlatform::regSubkeys(Root root, const std::string &path,
                                                            RegStage *failedAt) {
    Result<std::vector<std::string>> r;
    const std::string parent = parseKey(path).key();
    if (failedAt != nullptr) *failedAt = RegStage::None;
    if (findKey(root, parent) == nullptr) {
        r.code = kFileNotFound;
        if (failedAt != nullptr) *failedAt = RegStage::Open;
        return r;
    }
    const int id = static_cast<int>(root);
    for (auto it = keys_.lower_bound(KeyId(id, parent)); it != keys_.end() && it->first.first == id; ++it) {
        if (!parent.empty() && it->first.second >= names::upperBelow(parent)) break;
        if (names::isKeyChild(it->first.second, parent)) r.value.push_back(it->second.name);
    }
    return r;
}

Result<std::vector<RegNamedValue>> MemoryPlatform::regValues(Root root, const std::string &path,
                                                             RegStage *failedAt) {
    Result<std::vector<RegNamedValue>> r;
    if (failedAt != nullptr) *failedAt = RegStage::None;
    const Key *key = findKey(root, parseKey(path).key());
    if (key == nullptr) {
        r.code = kFileNotFound;
        if (failedAt != nullptr) *failedAt = RegStage::Open;
        return r;
    }
    r.value = key->values;
    return r;
}

RegOutcome MemoryPlatform::regDeleteKey(Root root, const std::string &path) {
    const KeyPath k = parseKey(path);
    if (k.isRoot()) return {kAccessDenied, RegStage::Delete};
    if (findKey(root, k.parentKey()) == nullptr) return {kFileNotFound, RegStage::Open};
    if (findKey(root, k.key()) == nullptr) return {kFileNotFound, RegStage::Delete};
    const Result<std::vector<std::string>> below = regSubkeys(root, path);
    if (!below.value.empty()) return {kAccessDenied, RegStage::Delete};
    keys_.erase(KeyId(static_cast<int>(root), k.key()));
    return {};
}

// ---- system -------------------------------------------------------------------

std::optional<std::string> MemoryPlatform::windowsDirectory() { return windowsDirectory_; }
VersionInfo MemoryPlatform::version() { return version_; }
std::uint32_t MemoryPlatform::processId() { return processId_; }
std::optional<std::string> MemoryPlatform::moduleFileName() { return moduleFileName_; }

std::optional<std::string> MemoryPlatform::environment(const std::string &name) {
    for (const auto &entry : environment_)
        if (text::equalsNoCase(entry.first, name)) return entry.second;
    return std::nullopt;
}

std::optional<std::string> MemoryPlatform::fullPathName(const std::string &path) {
    const FilePath p = parseFile(path);
    if (!p.valid()) return std::nullopt;
    return p.text();
}

std::optional<std::string> MemoryPlatform::shortPathName(const std::string &path) {
    if (!attributes(path).exists()) return std::nullopt;
    return parseFile(path).text();
}

bool MemoryPlatform::startProcess(const std::string &application, const std::string &commandLine) {
    started_.push_back({application, commandLine});
    return true;
}

} // namespace platform
