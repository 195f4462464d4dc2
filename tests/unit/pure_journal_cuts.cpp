// A power cut anywhere, on a machine in memory of either family: a journaled
// run that begins by making the archive directory, cut before each of its
// calls on the machine and then undone, leaves the machine as it was before
// the patch; so does undo cut before each of its calls and run again.
#include "engine/change.h"
#include "journal/machine_ops.h"
#include "journal/sink.h"
#include "journal/undo.h"
#include "testing/machine_snapshot.h"
#include "testing/memory_platform.h"
#include "text/ini.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

using namespace platform;

namespace {

const std::string kProduct = "C:\\TAVRO";
const std::string kArchive = "C:\\TAVRO\\ARCHIVE";
const std::string kSystemIni = "C:\\WINDOWS\\TAVRO.INI";
const std::string kKey = "SOFTWARE\\Tavro";
const std::string kVersionName = "Version";
const std::string kPendingValue = journal::kPendingName;
constexpr std::uint32_t kRegMultiSz = 7;

struct PowerCut {};

// Passes every call on to the machine; the call numbered `cutAt` (from 1)
// is not made: the power goes. Closing a file is no call (the system closes
// what a process leaves open).
class CuttingPlatform : public Platform {
  public:
    CuttingPlatform(MemoryPlatform &m, unsigned long cutAt) : m_(m), cutAt_(cutAt) {}
    unsigned long calls() const { return calls_; }

    Attributes attributes(const std::string &p) override { return tick(), m_.attributes(p); }
    Result<FileInfo> info(const std::string &p) override { return tick(), m_.info(p); }
    Result<DosTime> readableTime(const std::string &p) override { return tick(), m_.readableTime(p); }
    Result<std::string> readAll(const std::string &p) override { return tick(), m_.readAll(p); }
    Code writeNew(const std::string &p, const std::string &b, const std::optional<DosTime> &t) override {
        return tick(), m_.writeNew(p, b, t);
    }
    CopyOutcome copyNew(const std::string &s, const std::string &t) override { return tick(), m_.copyNew(s, t); }
    Code move(const std::string &f, const std::string &t) override { return tick(), m_.move(f, t); }
    Code replace(const std::string &f, const std::string &t) override { return tick(), m_.replace(f, t); }
    Code remove(const std::string &p) override { return tick(), m_.remove(p); }
    Code removeDirectory(const std::string &p) override { return tick(), m_.removeDirectory(p); }
    Code makeDirectory(const std::string &p) override { return tick(), m_.makeDirectory(p); }
    Result<std::vector<DirEntry>> list(const std::string &d) override { return tick(), m_.list(d); }
    Code delayMove(const std::string &f, const std::optional<std::string> &t) override {
        return tick(), m_.delayMove(f, t);
    }
    std::unique_ptr<Appender> openAppender(const std::string &p, bool truncate) override {
        tick();
        std::unique_ptr<Appender> inner = m_.openAppender(p, truncate);
        return inner ? std::make_unique<CuttingAppender>(*this, std::move(inner)) : nullptr;
    }
    Result<std::unique_ptr<Reader>> openRead(const std::string &p) override { return tick(), m_.openRead(p); }
    Result<std::unique_ptr<Writer>> createNew(const std::string &p) override { return tick(), m_.createNew(p); }
    std::uint64_t fileChanges() const override { return m_.fileChanges(); }
    Code regOpenable(Root r, const std::string &p, bool w) override { return tick(), m_.regOpenable(r, p, w); }
    Result<RegValue> regRead(Root r, const std::string &p, const std::string *n, std::size_t max,
                             RegStage *at) override {
        return tick(), m_.regRead(r, p, n, max, at);
    }
    RegOutcome regSet(Root r, const std::string &p, const std::string *n, const RegValue &v) override {
        return tick(), m_.regSet(r, p, n, v);
    }
    RegOutcome regDeleteValue(Root r, const std::string &p, const std::string &n) override {
        return tick(), m_.regDeleteValue(r, p, n);
    }
    Result<std::vector<std::string>> regSubkeys(Root r, const std::string &p, RegStage *at) override {
        return tick(), m_.regSubkeys(r, p, at);
    }
    Result<std::vector<RegNamedValue>> regValues(Root r, const std::string &p, RegStage *at) override {
        return tick(), m_.regValues(r, p, at);
    }
    RegOutcome regDeleteKey(Root r, const std::string &p) override { return tick(), m_.regDeleteKey(r, p); }
    std::optional<std::string> windowsDirectory() override { return tick(), m_.windowsDirectory(); }
    VersionInfo version() override { return tick(), m_.version(); }
    std::uint32_t processId() override { return tick(), m_.processId(); }
    std::optional<std::string> environment(const std::string &n) override { return tick(), m_.environment(n); }
    std::optional<std::string> moduleFileName() override { return tick(), m_.moduleFileName(); }
    bool startProcess(const std::string &a, const std::string &c) override { return tick(), m_.startProcess(a, c); }
    std::optional<std::string> fullPathName(const std::string &p) override { return tick(), m_.fullPathName(p); }
    std::optional<std::string> shortPathName(const std::string &p) override { return tick(), m_.shortPathName(p); }

  private:
    class CuttingAppender : public Appender {
      public:
        CuttingAppender(CuttingPlatform &owner, std::unique_ptr<Appender> inner)
            : owner_(owner), inner_(std::move(inner)) {}
        bool write(const std::string &bytes) override { return owner_.tick(), inner_->write(bytes); }
        bool close() override { return inner_->close(); }

      private:
        CuttingPlatform &owner_;
        std::unique_ptr<Appender> inner_;
    };

    void tick() {
        if (++calls_ == cutAt_) throw PowerCut{};
    }

    MemoryPlatform &m_;
    unsigned long cutAt_;
    unsigned long calls_ = 0;
};

RegValue text(const std::string &s) { return RegValue{kRegSz, s}; }

// The product before the patch: no archive directory yet, no WININIT.INI.
void seed(MemoryPlatform &m, journal::Family family) {
    const DosTime then{0x2842, 0x6000}; // 2 Feb 2000
    if (family == journal::Family::Win95) m.setVersion(VersionInfo{1, 4, 10, true});
    else m.addKey(Root::LocalMachine, journal::kSessionManager);
    m.addFile(kProduct + "\\VIEW.EXE", "old viewer", then);
    m.addFile(kProduct + "\\LIB.DLL", "old library", then);
    m.addFile(kProduct + "\\OLD.TXT", "obsolete", then);
    m.addFile(kSystemIni, "[Tavro]\r\nVersion=2.0\r\n\r\n[Install]\r\n", then);
    const std::string name = kVersionName;
    m.setValue(Root::LocalMachine, kKey, &name, text("2.0"));
}

change::Change described(change::Kind kind, const std::string &path) {
    change::Change c;
    c.kind = kind;
    c.path = path;
    return c;
}

// Registers the replacement of `target` by `source` for the next start of
// Windows, as the family does it.
Code registerAtRestart(Platform &machine, journal::Family family, const std::string &source,
                       const std::string &target) {
    if (family == journal::Family::NT) {
        // As the system keeps it: a pair of names appended to a list of
        // strings, the list ended by an empty one.
        const Result<RegValue> old =
            machine.regRead(Root::LocalMachine, journal::kSessionManager, &kPendingValue, 1u << 16);
        std::string data = old.ok() ? old.value.data : std::string();
        if (!data.empty()) data.pop_back();
        data += "\\??\\" + source + '\0' + "!\\??\\" + target + '\0' + '\0';
        return machine.regSet(Root::LocalMachine, journal::kSessionManager, &kPendingValue, RegValue{kRegMultiSz, data})
            .code;
    }
    const std::string wininit = "C:\\WINDOWS\\WININIT.INI";
    const Result<std::string> bytes = machine.readAll(wininit);
    ini::Table t;
    if (bytes.ok()) t.read(bytes.value.data(), bytes.value.size());
    t.addValue("rename", target.c_str(), source.c_str());
    return journal::writeInPlace(machine, wininit, t.bytes(), journal::workName(wininit, 'W', 1),
                                 journal::workName(wininit, 'X', 1));
}

// A small patch through the journal: the work directories, a replaced
// program with its backup, a new file, an erased one, a library replaced at
// the next start of Windows, an INI key, a registry value and the
// installed-patch record.
void runPatch(Platform &machine, journal::Family family) {
    journal::RunInfo run;
    run.archive = kArchive;
    run.begin.patch = "TP1";
    run.begin.profile = "A:\\TAVUPD.DAT";
    run.begin.family = family;
    run.begin.product = kProduct;
    run.begin.windows = "C:\\WINDOWS";
    run.begin.nextPatch = 0;
    journal::JournalSink sink(machine, run);

    for (const std::string &dir : {kArchive, kArchive + "\\TEMP"})
        change::apply(sink, described(change::Kind::DirectoryCreated, dir), [&] { return machine.makeDirectory(dir); });

    change::Change backup = described(change::Kind::FileMoved, kProduct + "\\VIEW.EXE");
    backup.target = kProduct + "\\VIEW.OLD";
    change::apply(sink, backup, [&] { return machine.move(backup.path, *backup.target); });
    for (const auto &file : {std::pair<std::string, std::string>{"VIEW.EXE", "new viewer"}, {"NEW.DAT", "data"}}) {
        change::Change created = described(change::Kind::FileCreated, kProduct + "\\" + file.first);
        created.from = "A:\\" + file.first;
        change::apply(sink, created,
                      [&] { return machine.writeNew(created.path, file.second, DosTime{0x2a21, 0x6000}); });
    }
    change::apply(sink, described(change::Kind::FileRemoved, kProduct + "\\OLD.TXT"),
         [&] { return machine.remove(kProduct + "\\OLD.TXT"); });

    const std::string staged = kProduct + "\\~C000001.TMP";
    change::Change stage = described(change::Kind::FileCreated, staged);
    stage.from = "A:\\LIB.DLL";
    change::apply(sink, stage, [&] { return machine.writeNew(staged, "new library", DosTime{0x2a21, 0x6000}); });
    change::Change later = described(change::Kind::RestartRegistered, staged);
    later.target = kProduct + "\\LIB.DLL";
    later.detail = family == journal::Family::NT ? journal::kPendingName : journal::kWininit;
    change::apply(sink, later, [&] { return registerAtRestart(machine, family, staged, *later.target); });

    change::Change key = described(change::Kind::IniKeySet, kSystemIni);
    key.section = "Tavro";
    key.key = "Version";
    key.before = "2.0";
    key.after = "2.1";
    change::apply(sink, key, [&] {
        return journal::writeInPlace(machine, kSystemIni, "[Tavro]\r\nVersion=2.1\r\n\r\n[Install]\r\n",
                                     journal::workName(kSystemIni, 'T', 1), journal::workName(kSystemIni, 'A', 1));
    });

    change::Change value = described(change::Kind::RegValueSet, kKey);
    value.name = kVersionName;
    value.regBefore = text("2.0");
    value.regAfter = text("2.1");
    change::apply(sink, value,
                  [&] { return machine.regSet(Root::LocalMachine, kKey, &kVersionName, *value.regAfter).code; });

    change::Change record = described(change::Kind::PatchRecorded, kSystemIni);
    record.section = "Install";
    record.key = "Patch0";
    record.after = "TP1";
    change::apply(sink, record, [&] {
        return journal::writeInPlace(machine, kSystemIni,
                                     "[Tavro]\r\nVersion=2.1\r\n\r\n[Install]\r\nPatch0=TP1\r\n",
                                     journal::workName(kSystemIni, 'T', 2), journal::workName(kSystemIni, 'A', 2));
    });
}

journal::UndoOutcome undo(Platform &machine, journal::Family family) {
    journal::UndoSetup setup;
    setup.archive = kArchive;
    setup.patch = "TP1";
    setup.systemIni = kSystemIni;
    setup.windowsDirectory = "C:\\WINDOWS";
    setup.family = family;
    setup.isWorkFileName = [](const std::string &name) {
        return name.size() == 12 && name[0] == '~' && name.compare(8, 4, ".TMP") == 0;
    };
    const journal::UndoPlan plan = journal::planUndo(machine, setup);
    if (plan.status == journal::PlanStatus::NothingToUndo) return journal::UndoOutcome::NothingToUndo;
    EXPECT_EQ(plan.status, journal::PlanStatus::Ready);
    return journal::applyUndo(machine, setup, plan).outcome;
}

bool undone(journal::UndoOutcome o) {
    return o == journal::UndoOutcome::Undone || o == journal::UndoOutcome::NothingToUndo;
}

// Dates of what is written without one are all the same moment, so that
// the snapshots compare the bytes, names and dates the patch gave.
std::unique_ptr<MemoryPlatform> productMachine(journal::Family family) {
    auto m = std::make_unique<MemoryPlatform>([] { return std::uint64_t{1} << 40; });
    seed(*m, family);
    return m;
}

class JournalCuts : public ::testing::TestWithParam<journal::Family> {
  protected:
    journal::Family family = GetParam();
    std::unique_ptr<MemoryPlatform> productMachine() const { return ::productMachine(family); }
    void runPatch(Platform &machine) const { ::runPatch(machine, family); }
    journal::UndoOutcome undo(Platform &machine) const { return ::undo(machine, family); }
};

// The calls `work` makes on the machine.
unsigned long callsOf(const std::function<void(Platform &)> &work, MemoryPlatform &m) {
    CuttingPlatform counting(m, 0);
    work(counting);
    return counting.calls();
}

TEST_P(JournalCuts, TheRunDoesWhatItSaysAndUndoTakesItBack) {
    auto m = productMachine();
    const std::string before = snapshot(*m);
    runPatch(*m);
    EXPECT_EQ(m->readAll(kProduct + "\\VIEW.EXE").value, "new viewer");
    EXPECT_EQ(m->readAll(kProduct + "\\VIEW.OLD").value, "old viewer");
    EXPECT_FALSE(m->attributes(kProduct + "\\OLD.TXT").exists());
    EXPECT_TRUE(m->attributes(journal::journalPath(kArchive, "TP1")).exists());
    EXPECT_FALSE(m->attributes(journal::besideJournalPath(kArchive, "TP1")).exists());
    if (family == journal::Family::NT)
        EXPECT_TRUE(m->regRead(Root::LocalMachine, journal::kSessionManager, &kPendingValue, 1u << 16).ok());
    else
        EXPECT_TRUE(m->attributes("C:\\WINDOWS\\WININIT.INI").exists());
    EXPECT_EQ(undo(*m), journal::UndoOutcome::Undone);
    EXPECT_EQ(snapshot(*m), before);
}

TEST_P(JournalCuts, ARunCutAtAnyCallIsUndone) {
    auto probe = productMachine();
    const unsigned long calls = callsOf([&](Platform &p) { runPatch(p); }, *probe);
    ASSERT_GT(calls, 20u);
    for (unsigned long k = 1; k <= calls; ++k) {
        auto m = productMachine();
        const std::string before = snapshot(*m);
        CuttingPlatform cut(*m, k);
        EXPECT_THROW(runPatch(cut), PowerCut) << "call " << k;
        const journal::UndoOutcome outcome = undo(*m);
        EXPECT_TRUE(undone(outcome)) << "run cut at call " << k << " of " << calls;
        EXPECT_EQ(snapshot(*m), before) << "run cut at call " << k << " of " << calls;
    }
}

TEST_P(JournalCuts, UndoCutAtAnyCallAndRunAgainIsUndone) {
    auto probe = productMachine();
    runPatch(*probe);
    const unsigned long calls = callsOf([&](Platform &p) { undo(p); }, *probe);
    ASSERT_GT(calls, 20u);
    for (unsigned long k = 1; k <= calls; ++k) {
        auto m = productMachine();
        const std::string before = snapshot(*m);
        runPatch(*m);
        CuttingPlatform cut(*m, k);
        EXPECT_THROW(undo(cut), PowerCut) << "call " << k;
        EXPECT_TRUE(undone(undo(*m))) << "undo cut at call " << k << " of " << calls;
        EXPECT_EQ(snapshot(*m), before) << "undo cut at call " << k << " of " << calls;
    }
}

// A run that cannot begin its journal makes nothing: no archive directory
// and no journal beside it.
TEST_P(JournalCuts, AJournalThatCannotBeginLeavesNothing) {
    auto m = productMachine();
    m->addDirectory(journal::besideJournalPath(kArchive, "TP1")); // the journal's first place is taken
    const std::string blocked = snapshot(*m);
    runPatch(*m);
    EXPECT_EQ(snapshot(*m), blocked);
    EXPECT_FALSE(m->attributes(kArchive).exists());
}

INSTANTIATE_TEST_SUITE_P(BothFamilies, JournalCuts,
                         ::testing::Values(journal::Family::Win95, journal::Family::NT),
                         [](const ::testing::TestParamInfo<journal::Family> &info) {
                             return std::string(info.param == journal::Family::NT ? "NT" : "Windows95");
                         });

} // namespace
