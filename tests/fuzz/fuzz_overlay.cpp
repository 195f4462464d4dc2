// Random sequences of file, directory and registry operations, applied to an
// OverlayPlatform over a MemoryPlatform and, side by side, to a second
// MemoryPlatform that starts out the same (the reference). Every answer must
// agree, both must end up holding the same, and the overlay's machine must
// hold exactly what it held before.
#include "platform/overlay.h"
#include "testing/machine_snapshot.h"
#include "testing/memory_platform.h"
#include "text/textkit.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace platform;

namespace {

void require(bool ok, const char *what) {
    if (ok) return;
    std::fprintf(stderr, "overlay and reference disagree: %s\n", what);
    std::abort();
}

class Source {
  public:
    Source(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    bool empty() const { return at_ >= size_; }

  private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Few names, many spellings: collisions are what the test is about.
std::string filePath(Source &src) {
    static const char *const parts[] = {"A", "b", "C.TXT", "d.old"};
    const std::uint8_t how = src.byte();
    std::string path = (how & 0x80) ? "c:" : "C:";
    const int depth = how & 3;
    for (int i = 0; i < depth; ++i) {
        const std::uint8_t p = src.byte();
        path += (p & 0x10) ? '/' : '\\';
        if ((p & 0xC0) == 0xC0) path += (p & 0x20) ? ".\\" : "..\\A\\";
        std::string part = parts[p & 3];
        if (p & 0x04)
            for (char &c : part) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : static_cast<char>(c | 0x20);
        path += part;
    }
    if (depth == 0 || (how & 0x40)) path += '\\';
    if ((how & 0x3C) == 0x3C) path += '*'; // names no file
    return path;
}

std::string keyPath(Source &src) {
    static const char *const parts[] = {"Soft", "k1", "K2"};
    const std::uint8_t how = src.byte();
    std::string path;
    for (int i = 0; i < (how & 3); ++i) {
        if (!path.empty()) path += (how & 0x10) ? "\\\\" : "\\";
        std::string part = parts[src.byte() % 3];
        if (how & 0x40) part[0] = text::lower(part[0]);
        path += part;
    }
    if (how & 0x20) path += '\\';
    return path;
}

Root rootOf(Source &src) { return (src.byte() & 1) ? Root::CurrentUser : Root::LocalMachine; }

std::string bytesOf(Source &src) {
    const int n = src.byte() % 6;
    std::string out;
    for (int i = 0; i < n; ++i) out += static_cast<char>(src.byte());
    return out;
}

std::optional<DosTime> timeOf(Source &src) {
    const std::uint8_t b = src.byte();
    if (b & 1) return std::nullopt;
    return DosTime{static_cast<std::uint16_t>(((10 + (b >> 4)) << 9) | (1 << 5) | 1), static_cast<std::uint16_t>(b & 0x1e)};
}

const std::string *valueName(Source &src) {
    static const std::string names[] = {"v", "V2"};
    const int n = src.byte() % 3;
    return n == 2 ? nullptr : &names[n];
}

// One moment for every date the machines give to what they write.
std::uint64_t fixedMoment() { return 131000000000000000ull; }

struct Pair {
    MemoryPlatform base{fixedMoment};
    MemoryPlatform reference{fixedMoment};
    std::unique_ptr<OverlayPlatform> overlay;
    std::vector<std::pair<std::unique_ptr<Appender>, std::unique_ptr<Appender>>> appenders;
};

std::vector<DirEntry> sorted(std::vector<DirEntry> entries) {
    std::sort(entries.begin(), entries.end(),
              [](const DirEntry &a, const DirEntry &b) { return text::compareNoCase(a.name, b.name) < 0; });
    return entries;
}

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end(),
              [](const std::string &a, const std::string &b) { return text::compareNoCase(a, b) < 0; });
    return names;
}

bool sameEntries(const std::vector<DirEntry> &a, const std::vector<DirEntry> &b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].name != b[i].name || a[i].directory != b[i].directory) return false;
    return true;
}

bool sameValues(const std::vector<RegNamedValue> &a, const std::vector<RegNamedValue> &b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].name != b[i].name || a[i].value.type != b[i].value.type || a[i].value.data != b[i].value.data)
            return false;
    return true;
}

bool sameDos(const std::optional<DosTime> &a, const std::optional<DosTime> &b) {
    if (a.has_value() != b.has_value()) return false;
    return !a || (a->date == b->date && a->time == b->time);
}

// Every byte a Reader gives, and its time; the code of the first failure.
Result<std::string> drain(Result<std::unique_ptr<Reader>> opened, DosTime &time) {
    Result<std::string> r;
    r.code = opened.code;
    if (!opened.ok()) return r;
    const Result<DosTime> t = opened.value->time();
    time = t.value;
    char buffer[3];
    for (;;) {
        const Result<std::size_t> got = opened.value->read(buffer, sizeof buffer);
        if (!got.ok()) {
            r.code = got.code;
            return r;
        }
        if (got.value == 0) return r;
        r.value.append(buffer, got.value);
    }
}

// Seeds both machines the same way (the machine as it was before the run).
void seed(Pair &p, Source &src) {
    const int count = src.byte() % 12;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t what = src.byte() % 6;
        const std::string path = filePath(src);
        const std::string bytes = bytesOf(src);
        const std::optional<DosTime> time = timeOf(src);
        const Root root = rootOf(src);
        const std::string key = keyPath(src);
        const std::string *name = valueName(src);
        for (MemoryPlatform *m : {&p.base, &p.reference}) {
            try {
                if (what == 0) m->addDirectory(path);
                if (what == 1) m->addFile(path, bytes, time);
                if (what == 2) m->setInUse(path);
                if (what == 3) m->setReadOnly(path);
                if (what == 4) m->setValue(root, key, name, {kRegSz, bytes});
                if (what == 5 && (bytes.size() & 1)) m->setVersion({1, 4, 10, true});
            } catch (const std::invalid_argument &) {
                // A name the seeding refuses: nothing seeded on either.
            }
        }
    }
}

void fileOperation(Pair &p, Source &src, int op) {
    OverlayPlatform &o = *p.overlay;
    MemoryPlatform &r = p.reference;
    const std::string a = filePath(src), b = filePath(src);
    switch (op) {
    case 0: {
        const Attributes x = o.attributes(a), y = r.attributes(a);
        require(x.code == y.code && x.directory == y.directory && x.readOnly == y.readOnly, "attributes");
        const Result<FileInfo> i = o.info(a), j = r.info(a);
        require(i.code == j.code && i.value.size == j.value.size && i.value.written == j.value.written &&
                    i.value.directory == j.value.directory && i.value.readOnly == j.value.readOnly &&
                    sameDos(i.value.writtenDos, j.value.writtenDos),
                "info");
        break;
    }
    case 1: {
        const Result<DosTime> x = o.readableTime(a), y = r.readableTime(a);
        require(x.code == y.code && x.value.date == y.value.date && x.value.time == y.value.time, "readableTime");
        const Result<std::string> s = o.readAll(a), t = r.readAll(a);
        require(s.code == t.code && s.value == t.value, "readAll");
        break;
    }
    case 2: {
        const std::string bytes = bytesOf(src);
        const std::optional<DosTime> time = timeOf(src);
        require(o.writeNew(a, bytes, time) == r.writeNew(a, bytes, time), "writeNew");
        break;
    }
    case 3: {
        const CopyOutcome x = o.copyNew(a, b), y = r.copyNew(a, b);
        require(x.code == y.code && x.stage == y.stage, "copyNew");
        break;
    }
    case 4: require(o.move(a, b) == r.move(a, b), "move"); break;
    case 5: require(o.replace(a, b) == r.replace(a, b), "replace"); break;
    case 6: require(o.remove(a) == r.remove(a), "remove"); break;
    case 7: require(o.makeDirectory(a) == r.makeDirectory(a), "makeDirectory"); break;
    case 8: {
        const Result<std::vector<DirEntry>> x = o.list(a), y = r.list(a);
        require(x.code == y.code && sameEntries(sorted(x.value), sorted(y.value)), "list");
        break;
    }
    case 9: {
        const std::optional<std::string> to = (src.byte() & 1) ? std::optional<std::string>(b) : std::nullopt;
        require(o.delayMove(a, to) == r.delayMove(a, to), "delayMove");
        break;
    }
    case 10: {
        DosTime tx, ty;
        const Result<std::string> x = drain(o.openRead(a), tx), y = drain(r.openRead(a), ty);
        require(x.code == y.code && x.value == y.value && (!x.ok() || (tx.date == ty.date && tx.time == ty.time)),
                "openRead");
        break;
    }
    default: {
        Result<std::unique_ptr<Writer>> x = o.createNew(a), y = r.createNew(a);
        require(x.code == y.code, "createNew");
        if (!x.ok()) break;
        const std::string bytes = bytesOf(src);
        const std::optional<DosTime> time = timeOf(src);
        require(x.value->write(bytes.data(), bytes.size()) == y.value->write(bytes.data(), bytes.size()), "write");
        if (time) require(x.value->setTime(*time) == y.value->setTime(*time), "setTime");
        require(x.value->close() == y.value->close(), "close a written file");
        break;
    }
    }
}

void appenderOperation(Pair &p, Source &src) {
    const std::uint8_t how = src.byte();
    if (how % 3 == 0 && p.appenders.size() < 3) {
        const std::string path = filePath(src);
        const bool truncate = (how & 8) != 0;
        std::unique_ptr<Appender> x = p.overlay->openAppender(path, truncate);
        std::unique_ptr<Appender> y = p.reference.openAppender(path, truncate);
        require((x == nullptr) == (y == nullptr), "openAppender");
        if (x) p.appenders.emplace_back(std::move(x), std::move(y));
    } else if (!p.appenders.empty()) {
        auto &pair = p.appenders[src.byte() % p.appenders.size()];
        if (how % 3 == 1) {
            const std::string bytes = bytesOf(src);
            require(pair.first->write(bytes) == pair.second->write(bytes), "append");
        } else {
            require(pair.first->close() == pair.second->close(), "close");
        }
    }
}

void registryOperation(Pair &p, Source &src, int op) {
    OverlayPlatform &o = *p.overlay;
    MemoryPlatform &r = p.reference;
    const Root root = rootOf(src);
    const std::string key = keyPath(src);
    const std::string *name = valueName(src);
    switch (op) {
    case 0: require(o.regOpenable(root, key, true) == r.regOpenable(root, key, true), "regOpenable"); break;
    case 1: {
        const std::size_t max = src.byte() % 6;
        RegStage sx = RegStage::Set, sy = RegStage::Set;
        const Result<RegValue> x = o.regRead(root, key, name, max, &sx), y = r.regRead(root, key, name, max, &sy);
        require(x.code == y.code && sx == sy && x.value.type == y.value.type && x.value.data == y.value.data,
                "regRead");
        break;
    }
    case 2: {
        const RegValue v{static_cast<std::uint32_t>(1 + src.byte() % 4), bytesOf(src)};
        const RegOutcome x = o.regSet(root, key, name, v), y = r.regSet(root, key, name, v);
        require(x.code == y.code && x.stage == y.stage, "regSet");
        break;
    }
    case 3: {
        const std::string n = name != nullptr ? *name : std::string();
        const RegOutcome x = o.regDeleteValue(root, key, n), y = r.regDeleteValue(root, key, n);
        require(x.code == y.code && x.stage == y.stage, "regDeleteValue");
        break;
    }
    case 4: {
        RegStage sx = RegStage::Set, sy = RegStage::Set;
        const auto x = o.regSubkeys(root, key, &sx), y = r.regSubkeys(root, key, &sy);
        require(x.code == y.code && sx == sy && sorted(x.value) == sorted(y.value), "regSubkeys");
        const auto v = o.regValues(root, key, &sx), w = r.regValues(root, key, &sy);
        require(v.code == w.code && sx == sy && sameValues(v.value, w.value), "regValues");
        break;
    }
    default: {
        const RegOutcome x = o.regDeleteKey(root, key), y = r.regDeleteKey(root, key);
        require(x.code == y.code && x.stage == y.stage, "regDeleteKey");
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size > 4096) return 0;
    Source src(data, size);
    Pair p;
    seed(p, src);
    const std::string before = snapshot(p.base);
    p.overlay = std::make_unique<OverlayPlatform>(p.base, p.base, fixedMoment);
    p.overlay->setClock(fixedMoment);

    for (int step = 0; step < 64 && !src.empty(); ++step) {
        const std::uint8_t op = src.byte() % 19;
        if (op < 12)
            fileOperation(p, src, op);
        else if (op < 18)
            registryOperation(p, src, op - 12);
        else
            appenderOperation(p, src);
    }
    require(snapshot(*p.overlay) == snapshot(p.reference), "what the machines hold");
    require(p.overlay->pendingMoves() == p.reference.pendingMoves(), "restart registrations");
    require(p.overlay->fileChanges() == p.reference.fileChanges(), "changes counted");
    p.appenders.clear();
    require(snapshot(p.base) == before, "the overlay changed its machine");
    require(p.base.pendingMoves().empty(), "the overlay registered a restart on its machine");
    return 0;
}
