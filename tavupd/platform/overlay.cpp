#include "platform/overlay.h"

#include "text/textkit.h"

#include <algorithm>
#include <set>

namespace platform {

using names::FilePath;
using names::KeyPath;
using names::parseFile;
using names::parseKey;

namespace {

// The registry path of the first `count` components.
std::string keyText(const KeyPath &k, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count && i < k.parts.size(); ++i) {
        if (i > 0) out += '\\';
        out += k.parts[i];
    }
    return out;
}

KeyPath prefix(const KeyPath &k, std::size_t count) {
    KeyPath p = k;
    p.parts.resize(count);
    return p;
}

RegNamedValue *findValue(std::vector<RegNamedValue> &values, const std::string &name) {
    for (RegNamedValue &v : values)
        if (text::equalsNoCase(v.name, name)) return &v;
    return nullptr;
}

} // namespace

// Appends to a file of the overlay; the file is in use while it is open.
class OverlayPlatform::OverlayAppender : public Appender {
  public:
    OverlayAppender(OverlayPlatform &owner, std::string key) : owner_(owner), key_(std::move(key)) {}
    ~OverlayAppender() override { close(); }
    bool write(const std::string &bytes) override {
        Node *node = open_ ? file() : nullptr;
        if (node == nullptr) return false;
        if (node->content.use_count() > 1) node->content = std::make_shared<Content>(*node->content);
        node->content->bytes += bytes;
        node->written = owner_.clock_();
        node->dos = localDosTime(node->written);
        return true;
    }
    bool close() override {
        if (open_)
            if (Node *node = file()) --node->appenders;
        open_ = false;
        return true;
    }

  private:
    Node *file() {
        const auto it = owner_.nodes_.find(key_);
        if (it == owner_.nodes_.end() || it->second.kind != Kind::File || !it->second.content) return nullptr;
        return &it->second;
    }
    OverlayPlatform &owner_;
    std::string key_;
    bool open_ = true;
};

// Writes a file created by createNew in the overlay.
class OverlayPlatform::OverlayWriter : public Writer {
  public:
    OverlayWriter(OverlayPlatform &owner, std::string key) : owner_(owner), key_(std::move(key)) {}
    Code write(const char *data, std::size_t size) override {
        Node *node = file();
        if (node == nullptr) return kAccessDenied;
        if (node->content.use_count() > 1) node->content = std::make_shared<Content>(*node->content);
        node->content->bytes.append(data, size);
        return kOk;
    }
    Code setTime(const DosTime &time) override {
        Node *node = file();
        if (node == nullptr) return kAccessDenied;
        node->dos = time;
        node->written = fromLocalDosTime(time);
        return kOk;
    }
    Code close() override { return kOk; }

  private:
    Node *file() {
        const auto it = owner_.nodes_.find(key_);
        if (it == owner_.nodes_.end() || it->second.kind != Kind::File || !it->second.content) return nullptr;
        return &it->second;
    }
    OverlayPlatform &owner_;
    std::string key_;
};

OverlayPlatform::OverlayPlatform(Platform &base, AccessProbe &probe, Clock clock)
    : base_(base), probe_(probe), clock_(std::move(clock)) {}

OverlayPlatform::~OverlayPlatform() = default;

void OverlayPlatform::setClock(Clock clock) { clock_ = std::move(clock); }

// ---- where a name is ------------------------------------------------------------

OverlayPlatform::View OverlayPlatform::resolve(const FilePath &p, const std::string &asGiven) {
    View v;
    const auto it = nodes_.find(p.key());
    if (it != nodes_.end()) {
        if (it->second.kind != Kind::Gone) {
            v.where = Where::Node;
            v.node = &it->second;
            return v;
        }
        v.missing = kPathNotFound;
        if (!p.isRoot()) {
            const Facts parent = facts(p.parent(), p.parent().text());
            if (parent.code == kOk && parent.directory) v.missing = kFileNotFound;
        }
        return v;
    }
    FilePath at = p;
    for (std::size_t n = p.parts.size(); n-- > 0;) {
        at.parts.resize(n);
        const auto a = nodes_.find(at.key());
        if (a == nodes_.end()) continue;
        const Node &above = a->second;
        if (above.kind == Kind::Directory && above.origin) {
            v.where = Where::Base;
            v.basePath = *above.origin;
            for (std::size_t i = n; i < p.parts.size(); ++i) v.basePath += "\\" + p.parts[i];
            return v;
        }
        v.missing = above.kind == Kind::Directory && n + 1 == p.parts.size() ? kFileNotFound : kPathNotFound;
        return v;
    }
    v.where = Where::Base;
    v.basePath = asGiven;
    return v;
}

OverlayPlatform::Facts OverlayPlatform::facts(const FilePath &p, const std::string &asGiven) {
    Facts f;
    f.view = resolve(p, asGiven);
    if (f.view.where == Where::Node) {
        f.directory = f.view.node->kind == Kind::Directory;
    } else if (f.view.where == Where::Missing) {
        f.code = f.view.missing;
    } else {
        const Attributes a = base_.attributes(f.view.basePath);
        f.code = a.code;
        f.directory = a.directory;
    }
    return f;
}

Code OverlayPlatform::parentReady(const FilePath &p) {
    if (p.isRoot()) return kPathNotFound;
    const FilePath parent = p.parent();
    const Facts f = facts(parent, parent.text());
    if (f.code == kOk) return f.directory ? kOk : kPathNotFound;
    return isNotFound(f.code) ? kPathNotFound : f.code;
}

Code OverlayPlatform::probeChange(const Facts &f, Access access) {
    if (f.view.where == Where::Base) return probe_.probe(f.view.basePath, access);
    const Node &node = *f.view.node;
    if (node.appenders > 0) return kSharingViolation;
    return node.origin ? probe_.probe(*node.origin, access) : kOk;
}

bool OverlayPlatform::appendersBelow(const std::string &key) const {
    for (auto it = nodes_.lower_bound(names::lowerBelow(key));
         it != nodes_.end() && it->first < names::upperBelow(key); ++it)
        if (it->second.appenders > 0) return true;
    return false;
}

Code OverlayPlatform::renameCheck(const Facts &f, const std::string &key) {
    if (const Code c = probeChange(f, Access::Rename)) return c;
    if (f.directory && appendersBelow(key)) return kAccessDenied;
    return kOk;
}

OverlayPlatform::Node OverlayPlatform::nodeOf(const Facts &f) const {
    if (f.view.where == Where::Node) return *f.view.node;
    Node node; // the machine's own: its name keeps the machine's spelling
    node.kind = f.directory ? Kind::Directory : Kind::File;
    node.origin = f.view.basePath;
    return node;
}

std::shared_ptr<OverlayPlatform::Content> OverlayPlatform::baseContent(const std::string &basePath, Code &code) {
    const Result<FileInfo> i = base_.info(basePath);
    code = i.code;
    auto content = std::make_shared<Content>();
    content->basePath = basePath;
    content->baseSize = i.value.size;
    return content;
}

// ---- reading ------------------------------------------------------------------------

template <typename R, typename OnMachine, typename OnNode>
R OverlayPlatform::read(const std::string &path, OnMachine onMachine, OnNode onNode) {
    const FilePath p = parseFile(path);
    if (!p.valid()) return onMachine(path);
    const View v = resolve(p, path);
    if (v.where == Where::Base) return onMachine(v.basePath);
    if (v.where == Where::Node) return onNode(*v.node);
    R missing;
    missing.code = v.missing;
    return missing;
}

namespace {
template <typename T> Result<T> failed(Code code) {
    Result<T> r;
    r.code = code;
    return r;
}
} // namespace

Attributes OverlayPlatform::attributes(const std::string &path) {
    return read<Attributes>(
        path, [&](const std::string &at) { return base_.attributes(at); },
        [&](const Node &n) {
            if (n.origin && !n.content) return base_.attributes(*n.origin);
            Attributes a;
            a.directory = n.kind == Kind::Directory;
            return a;
        });
}

Result<FileInfo> OverlayPlatform::info(const std::string &path) {
    return read<Result<FileInfo>>(
        path, [&](const std::string &at) { return base_.info(at); },
        [&](const Node &n) {
            if (n.origin && !n.content) return base_.info(*n.origin);
            Result<FileInfo> r;
            r.value.directory = n.kind == Kind::Directory;
            r.value.written = n.written;
            if (n.content) {
                r.value.size = n.content->baseSize + n.content->bytes.size();
                r.value.writtenDos = n.dos;
            }
            return r;
        });
}

Result<DosTime> OverlayPlatform::readableTime(const std::string &path) {
    return read<Result<DosTime>>(
        path, [&](const std::string &at) { return base_.readableTime(at); },
        [&](const Node &n) {
            if (n.kind == Kind::Directory) return failed<DosTime>(kAccessDenied);
            if (!n.content) return base_.readableTime(*n.origin);
            Result<DosTime> r;
            r.value = n.dos;
            return r;
        });
}

Result<std::string> OverlayPlatform::readAll(const std::string &path) {
    return read<Result<std::string>>(
        path, [&](const std::string &at) { return base_.readAll(at); },
        [&](const Node &n) {
            if (n.kind == Kind::Directory) return failed<std::string>(kAccessDenied);
            if (!n.content) return base_.readAll(*n.origin);
            const Content &c = *n.content;
            Result<std::string> r;
            if (c.basePath) {
                r = base_.readAll(*c.basePath);
                if (!r.ok()) return r;
                r.value.resize(std::min<std::size_t>(r.value.size(), c.baseSize));
            }
            r.value += c.bytes;
            return r;
        });
}

void OverlayPlatform::mergeEntries(const std::string &key, std::vector<DirEntry> &entries) {
    std::vector<DirEntry> merged;
    std::set<std::string> seen;
    for (const DirEntry &e : entries) {
        const auto it = e.name == "." || e.name == ".." ? nodes_.end() : nodes_.find(key + "\\" + names::upperCase(e.name));
        if (it == nodes_.end()) {
            merged.push_back(e);
            continue;
        }
        seen.insert(it->first);
        if (it->second.kind == Kind::Gone) continue;
        const std::string &name = it->second.name.empty() ? e.name : it->second.name;
        merged.push_back({name, it->second.kind == Kind::Directory});
    }
    for (auto it = nodes_.lower_bound(names::lowerBelow(key));
         it != nodes_.end() && it->first < names::upperBelow(key); ++it) {
        if (!names::isChild(it->first, key) || it->second.kind == Kind::Gone || seen.count(it->first) != 0) continue;
        merged.push_back({it->second.name, it->second.kind == Kind::Directory});
    }
    entries.swap(merged);
}

Result<std::vector<DirEntry>> OverlayPlatform::list(const std::string &directory) {
    const FilePath p = parseFile(directory);
    if (!p.valid()) return base_.list(directory);
    const View v = resolve(p, directory);
    Result<std::vector<DirEntry>> r;
    if (v.where == Where::Base) {
        r = base_.list(v.basePath);
    } else if (v.where == Where::Missing || v.node->kind != Kind::Directory) {
        r.code = kPathNotFound;
    } else if (v.node->origin) {
        r = base_.list(*v.node->origin);
    } else {
        r.value = {{".", true}, {"..", true}};
    }
    if (r.ok()) mergeEntries(p.key(), r.value);
    return r;
}

// ---- writing --------------------------------------------------------------------------

Code OverlayPlatform::writeNew(const std::string &path, const std::string &bytes, const std::optional<DosTime> &time) {
    ++fileChanges_;
    const FilePath p = parseFile(path);
    if (!p.valid()) return p.code;
    const Facts f = facts(p, path);
    if (f.code == kOk) return kFileExists;
    if (!isNotFound(f.code)) return f.code;
    if (const Code c = parentReady(p)) return c;
    Node node;
    node.kind = Kind::File;
    node.name = p.leaf();
    node.content = std::make_shared<Content>();
    node.content->bytes = bytes;
    node.written = time ? fromLocalDosTime(*time) : clock_();
    node.dos = time ? *time : localDosTime(node.written);
    nodes_[p.key()] = std::move(node);
    return kOk;
}

CopyOutcome OverlayPlatform::copyNew(const std::string &source, const std::string &target) {
    ++fileChanges_;
    const FilePath s = parseFile(source);
    if (!s.valid()) return {s.code, CopyStage::OpenSource};
    const Facts from = facts(s, source);
    if (from.code != kOk) return {from.code, CopyStage::OpenSource};
    if (from.directory) return {kAccessDenied, CopyStage::OpenSource};
    Node copy = nodeOf(from);
    if (!copy.content) {
        const Result<DosTime> time = base_.readableTime(*copy.origin);
        if (!time.ok()) return {time.code, CopyStage::OpenSource};
        Code c = kOk;
        copy.content = baseContent(*copy.origin, c);
        if (c != kOk) return {c, CopyStage::SourceTime};
        copy.dos = time.value;
        copy.written = base_.info(*copy.origin).value.written;
    }
    const FilePath t = parseFile(target);
    if (!t.valid()) return {t.code, CopyStage::CreateTarget};
    const Facts to = facts(t, target);
    if (to.code == kOk) return {kFileExists, CopyStage::CreateTarget};
    if (!isNotFound(to.code)) return {to.code, CopyStage::CreateTarget};
    if (const Code c = parentReady(t)) return {c, CopyStage::CreateTarget};
    copy.name = t.leaf();
    copy.origin.reset(); // a new file, not the source itself
    copy.appenders = 0;
    nodes_[t.key()] = std::move(copy);
    return {};
}

void OverlayPlatform::rekey(const std::string &fromKey, const std::string &toKey, Node moving) {
    std::vector<std::pair<std::string, Node>> below;
    const auto first = nodes_.lower_bound(names::lowerBelow(fromKey));
    auto last = first;
    for (; last != nodes_.end() && last->first < names::upperBelow(fromKey); ++last)
        below.emplace_back(toKey + last->first.substr(fromKey.size()), std::move(last->second));
    nodes_.erase(first, last);
    nodes_.erase(nodes_.lower_bound(names::lowerBelow(toKey)), nodes_.lower_bound(names::upperBelow(toKey)));
    nodes_[toKey] = std::move(moving);
    for (auto &entry : below) nodes_[entry.first] = std::move(entry.second);
    Node gone;
    nodes_[fromKey] = gone;
}

Code OverlayPlatform::moveChecked(const std::string &from, const std::string &to, bool replacing) {
    ++fileChanges_;
    const FilePath f = parseFile(from);
    if (!f.valid()) return f.code;
    const Facts source = facts(f, from);
    if (source.code != kOk) return source.code;
    if (f.isRoot()) return kAccessDenied;
    if (const Code c = renameCheck(source, f.key())) return c;
    const FilePath t = parseFile(to);
    if (!t.valid()) return t.code;
    Node moving = nodeOf(source);
    moving.name = t.leaf();
    if (t.key() == f.key()) {
        nodes_[f.key()] = std::move(moving);
        return kOk;
    }
    const Facts target = facts(t, to);
    if (target.code == kOk) {
        if (!replacing) return kAlreadyExists;
        if (target.directory || source.directory) return kAccessDenied;
        if (const Code c = probeChange(target, Access::Overwrite)) return c;
    } else if (!isNotFound(target.code)) {
        return target.code;
    } else if (const Code c = parentReady(t)) {
        return c;
    }
    if (source.directory && names::isBelow(t.key(), f.key())) return kSharingViolation;
    rekey(f.key(), t.key(), std::move(moving));
    return kOk;
}

Code OverlayPlatform::move(const std::string &from, const std::string &to) { return moveChecked(from, to, false); }

Code OverlayPlatform::replace(const std::string &from, const std::string &to) {
    if (lacksReplacingRename(base_.version())) return kCallNotImplemented;
    return moveChecked(from, to, true);
}

Code OverlayPlatform::remove(const std::string &path) {
    ++fileChanges_;
    const FilePath p = parseFile(path);
    if (!p.valid()) return p.code;
    const Facts f = facts(p, path);
    if (f.code != kOk) return f.code;
    if (f.directory) return kAccessDenied;
    if (const Code c = probeChange(f, Access::Remove)) return c;
    nodes_[p.key()] = Node();
    return kOk;
}

Code OverlayPlatform::removeDirectory(const std::string &path) {
    ++fileChanges_;
    const FilePath p = parseFile(path);
    if (!p.valid()) return p.code;
    if (p.isRoot()) return kAccessDenied;
    const Facts f = facts(p, path);
    if (f.code != kOk) return f.code;
    if (!f.directory) return kNotADirectory;
    const Result<std::vector<DirEntry>> entries = list(path);
    if (!entries.ok()) return entries.code;
    for (const DirEntry &e : entries.value)
        if (e.name != "." && e.name != "..") return kDirNotEmpty;
    nodes_[p.key()] = Node();
    return kOk;
}

Code OverlayPlatform::makeDirectory(const std::string &path) {
    ++fileChanges_;
    const FilePath p = parseFile(path);
    if (!p.valid()) return p.code;
    const Facts f = facts(p, path);
    if (f.code == kOk) return kAlreadyExists;
    if (!isNotFound(f.code)) return f.code;
    if (const Code c = parentReady(p)) return c;
    Node node;
    node.kind = Kind::Directory;
    node.name = p.leaf();
    node.written = clock_();
    nodes_[p.key()] = std::move(node);
    return kOk;
}

Code OverlayPlatform::delayMove(const std::string &from, const std::optional<std::string> &to) {
    ++fileChanges_;
    if (lacksReplacingRename(base_.version())) return kCallNotImplemented;
    const FilePath f = parseFile(from);
    if (!f.valid()) return f.code;
    if (to) {
        const FilePath t = parseFile(*to);
        if (!t.valid()) return t.code;
    }
    pendingMoves_.push_back({from, to});
    return kOk;
}

Code OverlayPlatform::prepareAppend(const FilePath &p, const std::string &path, bool truncate) {
    const Facts f = facts(p, path);
    if (f.code != kOk && !isNotFound(f.code)) return f.code;
    Node node;
    if (f.code == kOk) {
        if (f.directory) return kAccessDenied;
        if (const Code c = probeChange(f, Access::Append)) return c;
        node = nodeOf(f);
    } else {
        if (const Code c = parentReady(p)) return c;
        node.kind = Kind::File;
        node.name = p.leaf();
        truncate = true;
    }
    if (truncate) {
        node.content = std::make_shared<Content>();
        node.written = clock_();
        node.dos = localDosTime(node.written);
    } else if (!node.content) {
        Code c = kOk;
        node.content = baseContent(*node.origin, c);
        if (c != kOk) return c;
        node.written = base_.info(*node.origin).value.written;
        const Result<DosTime> time = base_.readableTime(*node.origin);
        node.dos = time.ok() ? time.value : localDosTime(node.written);
    }
    nodes_[p.key()] = std::move(node);
    return kOk;
}

std::unique_ptr<Appender> OverlayPlatform::openAppender(const std::string &path, bool truncate) {
    const FilePath p = parseFile(path);
    if (!p.valid() || prepareAppend(p, path, truncate) != kOk) return nullptr;
    ++nodes_[p.key()].appenders;
    return std::make_unique<OverlayAppender>(*this, p.key());
}

Result<std::unique_ptr<Reader>> OverlayPlatform::openRead(const std::string &path) {
    return read<Result<std::unique_ptr<Reader>>>(
        path, [&](const std::string &at) { return base_.openRead(at); },
        [&](const Node &n) {
            if (n.kind == Kind::Directory) return failed<std::unique_ptr<Reader>>(kAccessDenied);
            if (!n.content) return base_.openRead(*n.origin);
            const DosTime time = n.dos;
            Result<std::string> bytes = readAll(path);
            Result<std::unique_ptr<Reader>> r;
            r.code = bytes.code;
            if (r.ok()) r.value = bytesReader(std::move(bytes.value), time);
            return r;
        });
}

Result<std::unique_ptr<Writer>> OverlayPlatform::createNew(const std::string &path) {
    Result<std::unique_ptr<Writer>> r;
    r.code = writeNew(path, std::string());
    if (r.ok()) r.value = std::make_unique<OverlayWriter>(*this, parseFile(path).key());
    return r;
}

// ---- registry ---------------------------------------------------------------------------

OverlayPlatform::RegNode *OverlayPlatform::regNode(Root root, const std::string &key) {
    const auto it = regs_.find(RegId(static_cast<int>(root), key));
    return it == regs_.end() ? nullptr : &it->second;
}

bool OverlayPlatform::baseShows(Root root, const KeyPath &k) {
    for (std::size_t n = 0; n <= k.parts.size(); ++n) {
        const RegNode *node = regNode(root, prefix(k, n).key());
        if (node != nullptr && (node->deleted || node->fresh)) return false;
    }
    return true;
}

Code OverlayPlatform::keyState(Root root, const KeyPath &k) {
    if (const RegNode *node = regNode(root, k.key())) return node->deleted ? kFileNotFound : kOk;
    if (!baseShows(root, k)) return kFileNotFound;
    return base_.regOpenable(root, keyText(k, k.parts.size()), false);
}

// The nearest key at or above `k` that exists must let a key be made or a
// value be set in it.
Code OverlayPlatform::writableFrom(Root root, const KeyPath &k) {
    for (std::size_t n = k.parts.size() + 1; n-- > 0;) {
        const KeyPath at = prefix(k, n);
        const Code state = keyState(root, at);
        if (isNotFound(state)) continue;
        if (state != kOk) return state;
        return baseShows(root, at) ? base_.regOpenable(root, keyText(at, n), true) : kOk;
    }
    return kOk;
}

// The key's values held in the overlay, copied from the machine on first use.
Code OverlayPlatform::materialize(Root root, const KeyPath &k, RegNode **node) {
    RegNode *held = regNode(root, k.key());
    if (held == nullptr || !held->values) {
        const Result<std::vector<RegNamedValue>> values = base_.regValues(root, keyText(k, k.parts.size()));
        if (!values.ok()) return values.code;
        held = &regs_[RegId(static_cast<int>(root), k.key())];
        held->values = values.value;
    }
    *node = held;
    return kOk;
}

Code OverlayPlatform::regOpenable(Root root, const std::string &path, bool forWriting) {
    const KeyPath k = parseKey(path);
    if (const Code c = keyState(root, k)) return c;
    if (forWriting && baseShows(root, k)) return base_.regOpenable(root, path, true);
    return kOk;
}

Result<RegValue> OverlayPlatform::regRead(Root root, const std::string &path, const std::string *name,
                                          std::size_t maxBytes, RegStage *failedAt) {
    const KeyPath k = parseKey(path);
    Result<RegValue> r;
    RegStage stage = RegStage::Open;
    r.code = keyState(root, k);
    RegNode *node = regNode(root, k.key());
    if (r.ok() && (node == nullptr || !node->values)) return base_.regRead(root, path, name, maxBytes, failedAt);
    if (r.ok()) {
        stage = RegStage::Read;
        const RegNamedValue *found = findValue(*node->values, name != nullptr ? *name : std::string());
        if (found == nullptr) {
            r.code = kFileNotFound;
        } else if (found->value.data.size() > maxBytes) {
            r.code = kMoreData;
            r.value.type = found->value.type;
        } else {
            r.value = found->value;
            stage = RegStage::None;
        }
    }
    if (failedAt != nullptr) *failedAt = stage;
    return r;
}

RegOutcome OverlayPlatform::regSet(Root root, const std::string &path, const std::string *name,
                                   const RegValue &value) {
    const KeyPath k = parseKey(path);
    if (const Code c = writableFrom(root, k)) return {c, RegStage::Create};
    for (std::size_t n = 1; n <= k.parts.size(); ++n) {
        const KeyPath at = prefix(k, n);
        if (!isNotFound(keyState(root, at))) continue;
        RegNode made;
        made.fresh = true;
        made.name = at.leaf();
        made.values.emplace();
        regs_[RegId(static_cast<int>(root), at.key())] = std::move(made);
    }
    RegNode *node = nullptr;
    if (const Code c = materialize(root, k, &node)) return {c, RegStage::Create};
    const std::string wanted = name != nullptr ? *name : std::string();
    if (RegNamedValue *found = findValue(*node->values, wanted))
        found->value = value;
    else
        node->values->push_back({wanted, value});
    return {};
}

RegOutcome OverlayPlatform::regDeleteValue(Root root, const std::string &path, const std::string &name) {
    const KeyPath k = parseKey(path);
    if (const Code c = keyState(root, k)) return {c, RegStage::Open};
    if (baseShows(root, k))
        if (const Code c = base_.regOpenable(root, path, true)) return {c, RegStage::Open};
    RegNode *node = nullptr;
    if (const Code c = materialize(root, k, &node)) return {c, RegStage::Open};
    std::vector<RegNamedValue> &values = *node->values;
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (text::equalsNoCase(it->name, name)) {
            values.erase(it);
            return {};
        }
    }
    return {kFileNotFound, RegStage::Delete};
}

Result<std::vector<std::string>> OverlayPlatform::regSubkeys(Root root, const std::string &path,
                                                             RegStage *failedAt) {
    const KeyPath k = parseKey(path);
    const std::string key = k.key();
    Result<std::vector<std::string>> r;
    if (failedAt != nullptr) *failedAt = RegStage::None;
    r.code = keyState(root, k);
    if (!r.ok()) {
        if (failedAt != nullptr) *failedAt = RegStage::Open;
        return r;
    }
    if (baseShows(root, k)) {
        r = base_.regSubkeys(root, path, failedAt);
        if (!r.ok()) return r;
    }
    std::vector<std::string> merged;
    std::set<std::string> seen;
    for (const std::string &name : r.value) {
        const std::string child = key.empty() ? names::upperCase(name) : key + "\\" + names::upperCase(name);
        const RegNode *node = regNode(root, child);
        seen.insert(child);
        if (node == nullptr || !node->deleted) merged.push_back(node != nullptr && node->fresh ? node->name : name);
    }
    const int id = static_cast<int>(root);
    for (auto it = regs_.lower_bound(RegId(id, key)); it != regs_.end() && it->first.first == id; ++it) {
        if (!key.empty() && it->first.second >= names::upperBelow(key)) break;
        if (!names::isKeyChild(it->first.second, key) || it->second.deleted || seen.count(it->first.second) != 0)
            continue;
        merged.push_back(it->second.name);
    }
    r.value.swap(merged);
    return r;
}

Result<std::vector<RegNamedValue>> OverlayPlatform::regValues(Root root, const std::string &path,
                                                              RegStage *failedAt) {
    const KeyPath k = parseKey(path);
    Result<std::vector<RegNamedValue>> r;
    if (failedAt != nullptr) *failedAt = RegStage::None;
    r.code = keyState(root, k);
    if (!r.ok()) {
        if (failedAt != nullptr) *failedAt = RegStage::Open;
        return r;
    }
    const RegNode *node = regNode(root, k.key());
    if (node == nullptr || !node->values) return base_.regValues(root, path, failedAt);
    r.value = *node->values;
    return r;
}

RegOutcome OverlayPlatform::regDeleteKey(Root root, const std::string &path) {
    const KeyPath k = parseKey(path);
    if (k.isRoot()) return {kAccessDenied, RegStage::Delete};
    if (const Code c = keyState(root, k.parent())) return {c, RegStage::Open};
    if (const Code c = keyState(root, k)) return {c, RegStage::Delete};
    RegStage listed = RegStage::None;
    const Result<std::vector<std::string>> below = regSubkeys(root, path, &listed);
    if (!below.ok()) return {below.code, listed};
    if (!below.value.empty()) return {kAccessDenied, RegStage::Delete};
    if (baseShows(root, k))
        if (const Code c = base_.regOpenable(root, path, true)) return {c, RegStage::Delete};
    const int id = static_cast<int>(root);
    const std::string key = k.key();
    regs_.erase(regs_.lower_bound(RegId(id, names::lowerBelow(key))),
                regs_.lower_bound(RegId(id, names::upperBelow(key))));
    RegNode gone;
    gone.deleted = true;
    regs_[RegId(id, key)] = std::move(gone);
    return {};
}

// ---- system -------------------------------------------------------------------------------

std::optional<std::string> OverlayPlatform::windowsDirectory() { return base_.windowsDirectory(); }
VersionInfo OverlayPlatform::version() { return base_.version(); }
std::uint32_t OverlayPlatform::processId() { return base_.processId(); }
std::optional<std::string> OverlayPlatform::environment(const std::string &name) { return base_.environment(name); }
std::optional<std::string> OverlayPlatform::moduleFileName() { return base_.moduleFileName(); }

std::optional<std::string> OverlayPlatform::fullPathName(const std::string &path) { return base_.fullPathName(path); }

std::optional<std::string> OverlayPlatform::shortPathName(const std::string &path) {
    const FilePath p = parseFile(path);
    if (!p.valid()) return base_.shortPathName(path);
    const View v = resolve(p, path);
    if (v.where == Where::Base) return base_.shortPathName(v.basePath);
    if (v.where == Where::Missing) return std::nullopt;
    return p.text();
}

// Nothing is started: the program is recorded, and the answer is whether
// it is there to be started.
bool OverlayPlatform::startProcess(const std::string &application, const std::string &commandLine) {
    started_.push_back({application, commandLine});
    const Attributes a = attributes(application);
    return a.exists() && !a.directory;
}

} // namespace platform
