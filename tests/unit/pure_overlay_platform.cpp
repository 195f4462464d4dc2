// The overlay: reads see the machine and every earlier write, no write ever
// reaches the machine, and each operation answers as the machine would after
// the same writes.
#include "platform/overlay.h"
#include "testing/machine_snapshot.h"
#include "testing/memory_platform.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using namespace platform;

namespace {

// A machine whose every write fails the test; reads go to a MemoryPlatform,
// and the names whose bytes were read are kept.
class ReadOnlyMachine : public Platform, public AccessProbe {
  public:
    explicit ReadOnlyMachine(MemoryPlatform &m) : m_(m) {}
    std::set<std::string> bytesRead;

    Code probe(const std::string &p, Access a) override { return m_.probe(p, a); }
    Attributes attributes(const std::string &p) override { return m_.attributes(p); }
    Result<FileInfo> info(const std::string &p) override { return m_.info(p); }
    Result<DosTime> readableTime(const std::string &p) override { return m_.readableTime(p); }
    Result<std::string> readAll(const std::string &p) override {
        bytesRead.insert(p);
        return m_.readAll(p);
    }
    Code writeNew(const std::string &p, const std::string &, const std::optional<DosTime> &) override {
        return refused("writeNew " + p);
    }
    CopyOutcome copyNew(const std::string &s, const std::string &) override {
        return {refused("copyNew " + s), CopyStage::CreateTarget};
    }
    Code move(const std::string &f, const std::string &) override { return refused("move " + f); }
    Code replace(const std::string &f, const std::string &) override { return refused("replace " + f); }
    Code remove(const std::string &p) override { return refused("remove " + p); }
    Code makeDirectory(const std::string &p) override { return refused("makeDirectory " + p); }
    Code removeDirectory(const std::string &p) override { return refused("removeDirectory " + p); }
    Result<std::vector<DirEntry>> list(const std::string &d) override { return m_.list(d); }
    Code delayMove(const std::string &f, const std::optional<std::string> &) override {
        return refused("delayMove " + f);
    }
    std::unique_ptr<Appender> openAppender(const std::string &p, bool) override {
        refused("openAppender " + p);
        return nullptr;
    }
    Result<std::unique_ptr<Reader>> openRead(const std::string &p) override {
        bytesRead.insert(p);
        return m_.openRead(p);
    }
    Result<std::unique_ptr<Writer>> createNew(const std::string &p) override {
        return {refused("createNew " + p), nullptr};
    }
    std::uint64_t fileChanges() const override { return m_.fileChanges(); }
    std::optional<std::string> fullPathName(const std::string &p) override { return m_.fullPathName(p); }
    std::optional<std::string> shortPathName(const std::string &p) override { return m_.shortPathName(p); }
    Code regOpenable(Root r, const std::string &p, bool w) override { return m_.regOpenable(r, p, w); }
    Result<RegValue> regRead(Root r, const std::string &p, const std::string *n, std::size_t max,
                             RegStage *at) override {
        return m_.regRead(r, p, n, max, at);
    }
    RegOutcome regSet(Root, const std::string &p, const std::string *, const RegValue &) override {
        return {refused("regSet " + p), RegStage::Set};
    }
    RegOutcome regDeleteValue(Root, const std::string &p, const std::string &) override {
        return {refused("regDeleteValue " + p), RegStage::Delete};
    }
    Result<std::vector<std::string>> regSubkeys(Root r, const std::string &p, RegStage *at) override {
        return m_.regSubkeys(r, p, at);
    }
    Result<std::vector<RegNamedValue>> regValues(Root r, const std::string &p, RegStage *at) override {
        return m_.regValues(r, p, at);
    }
    RegOutcome regDeleteKey(Root, const std::string &p) override {
        return {refused("regDeleteKey " + p), RegStage::Delete};
    }
    std::optional<std::string> windowsDirectory() override { return m_.windowsDirectory(); }
    VersionInfo version() override { return m_.version(); }
    std::uint32_t processId() override { return m_.processId(); }
    std::optional<std::string> environment(const std::string &n) override { return m_.environment(n); }
    std::optional<std::string> moduleFileName() override { return m_.moduleFileName(); }
    bool startProcess(const std::string &a, const std::string &) override { return refused("start " + a) == kOk; }

  private:
    Code refused(const std::string &what) {
        ADD_FAILURE() << "the machine was changed: " << what;
        return kAccessDenied;
    }
    MemoryPlatform &m_;
};

const DosTime kOlder{static_cast<std::uint16_t>((17 << 9) | (5 << 5) | 2), 0};
const DosTime kNewer{static_cast<std::uint16_t>((19 << 9) | (1 << 5) | 20), 0};

std::vector<std::string> listed(Platform &p, const std::string &dir) {
    std::vector<std::string> out;
    for (const DirEntry &e : p.list(dir).value) out.push_back(e.directory ? e.name + "\\" : e.name);
    return out;
}

struct Machines {
    MemoryPlatform memory;
    ReadOnlyMachine machine{memory};
    std::string before;
    std::unique_ptr<OverlayPlatform> overlay;

    Machines() {
        memory.addFile("C:\\TAVRO\\TVCORE.DLL", "old core", kOlder);
        memory.addFile("C:\\TAVRO\\TAVRO.INI", "[Tavro]\r\nVersion=2.0\r\n", kOlder);
        memory.addFile("C:\\TAVRO\\PLUGINS\\TVFILTER.DLL", "filter", kOlder);
        memory.addFile("C:\\TAVRO\\TAVRO.LOG", "earlier run\r\n", kOlder);
        memory.addFile("C:\\KIT\\TVCORE.DLL", "new core", kNewer);
        const std::string version = "Version", build = "Build";
        memory.setValue(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro", &version, {kRegSz, "2.0"});
        memory.setValue(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro", &build, {kRegSz, "0400"});
        memory.setValue(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro\\Filters\\Main", &build, {kRegDword, "\x01"});
        before = snapshot(memory);
        overlay = std::make_unique<OverlayPlatform>(machine, machine, systemNow);
    }
    // The machine holds what it held before.
    void expectMachineUnchanged() { EXPECT_EQ(snapshot(memory), before); }
};

} // namespace

TEST(OverlayPlatform, LaterReadsSeeEarlierWritesAndTheMachineNeverChanges) {
    Machines m;
    OverlayPlatform &o = *m.overlay;
    // Installed by way of a work file: copy, then the work file into place.
    EXPECT_TRUE(o.copyNew("C:\\KIT\\TVCORE.DLL", "C:\\TAVRO\\~C0a.b12").ok());
    EXPECT_EQ(o.move("C:\\TAVRO\\TVCORE.DLL", "C:\\TAVRO\\TVCORE.OLD"), kOk);
    EXPECT_EQ(o.move("C:\\TAVRO\\~C0a.b12", "C:\\TAVRO\\TVCORE.DLL"), kOk);
    EXPECT_EQ(o.readAll("c:/tavro/tvcore.dll").value, "new core");
    EXPECT_EQ(o.readableTime("C:\\TAVRO\\TVCORE.DLL").value.date, kNewer.date);
    EXPECT_EQ(o.readAll("C:\\TAVRO\\TVCORE.OLD").value, "old core");
    EXPECT_EQ(o.readableTime("C:\\TAVRO\\TVCORE.OLD").value.date, kOlder.date);
    // A rename, then the erase of the renamed file.
    EXPECT_EQ(o.move("C:\\TAVRO\\TAVRO.INI", "C:\\TAVRO\\TAVRO.BAK"), kOk);
    EXPECT_EQ(o.remove("C:\\TAVRO\\TAVRO.BAK"), kOk);
    EXPECT_EQ(o.attributes("C:\\TAVRO\\TAVRO.BAK").code, kFileNotFound);
    EXPECT_EQ(o.attributes("C:\\TAVRO\\TAVRO.INI").code, kFileNotFound);
    // An INI file saved through a temporary file.
    EXPECT_EQ(o.writeNew("C:\\TAVRO\\TAVRO.TMP", "[Tavro]\r\nVersion=2.1\r\n"), kOk);
    EXPECT_EQ(o.move("C:\\TAVRO\\TAVRO.TMP", "C:\\TAVRO\\TAVRO.INI"), kOk);
    EXPECT_EQ(o.readAll("C:\\TAVRO\\TAVRO.INI").value, "[Tavro]\r\nVersion=2.1\r\n");
    EXPECT_EQ(o.makeDirectory("C:\\TAVRO\\ARCHIVE"), kOk);
    EXPECT_EQ(o.delayMove("C:\\TAVRO\\TVCORE.DLL", std::nullopt), kOk);
    // Nothing starts; the answer says whether the program is there to start.
    EXPECT_FALSE(o.startProcess("C:\\KIT\\RESTARTER.EXE", "RESTARTER.EXE"));
    EXPECT_TRUE(o.startProcess("C:\\TAVRO\\TVCORE.OLD", "TVCORE.OLD"));

    // The machine's entries keep their places, new ones follow by name.
    EXPECT_EQ(listed(o, "C:\\TAVRO"), (std::vector<std::string>{".\\", "..\\", "PLUGINS\\", "TAVRO.INI", "TAVRO.LOG",
                                                                "TVCORE.DLL", "ARCHIVE\\", "TVCORE.OLD"}));
    EXPECT_EQ(o.pendingMoves(), (std::vector<PendingMove>{{"C:\\TAVRO\\TVCORE.DLL", std::nullopt}}));
    EXPECT_EQ(o.startedProcesses().size(), 2u);
    m.expectMachineUnchanged();
    EXPECT_TRUE(m.memory.pendingMoves().empty());
}

TEST(OverlayPlatform, ACopyOfAMachineFileHoldsNoBytesUntilItIsRead) {
    Machines m;
    const std::string big(64u << 20, 'x');
    m.memory.addFile("C:\\KIT\\BIG.CAB", big, kNewer);
    OverlayPlatform &o = *m.overlay;
    ASSERT_TRUE(o.copyNew("C:\\KIT\\BIG.CAB", "C:\\TAVRO\\BIG.CAB").ok());
    ASSERT_TRUE(o.copyNew("C:\\TAVRO\\BIG.CAB", "C:\\TAVRO\\BIG2.CAB").ok());
    EXPECT_TRUE(m.machine.bytesRead.empty());
    EXPECT_EQ(o.info("C:\\TAVRO\\BIG2.CAB").value.size, big.size());
    EXPECT_EQ(o.readableTime("C:\\TAVRO\\BIG2.CAB").value.date, kNewer.date);
    EXPECT_EQ(o.info("C:\\TAVRO\\BIG2.CAB").value.written, m.memory.info("C:\\KIT\\BIG.CAB").value.written);
    // Read when the copy is read: from the machine's file.
    EXPECT_EQ(o.readAll("C:\\TAVRO\\BIG2.CAB").value.size(), big.size());
    EXPECT_EQ(m.machine.bytesRead, (std::set<std::string>{"C:\\KIT\\BIG.CAB"}));
}

TEST(OverlayPlatform, NamesAreTakenAndMissingAsOnTheMachine) {
    Machines m;
    OverlayPlatform &o = *m.overlay;
    EXPECT_EQ(o.move("C:\\KIT\\TVCORE.DLL", "C:\\TAVRO\\TVCORE.DLL"), kAlreadyExists);
    EXPECT_EQ(o.writeNew("c:\\tavro\\tvcore.dll", "x"), kFileExists);
    EXPECT_EQ(o.copyNew("C:\\KIT\\TVCORE.DLL", "C:\\TAVRO\\TVCORE.DLL").code, kFileExists);
    EXPECT_EQ(o.makeDirectory("C:\\TAVRO\\PLUGINS\\"), kAlreadyExists);
    EXPECT_EQ(o.makeDirectory("C:\\TAVRO\\NONE\\SUB"), kPathNotFound);
    EXPECT_EQ(o.writeNew("C:\\TAVRO\\NONE\\A.TXT", "x"), kPathNotFound);
    EXPECT_EQ(o.remove("C:\\TAVRO\\PLUGINS"), kAccessDenied);
    EXPECT_EQ(o.remove("C:\\TAVRO\\NONE.DLL"), kFileNotFound);
    EXPECT_EQ(o.readAll("C:\\TAVRO\\PLUGINS").code, kAccessDenied);
    EXPECT_EQ(o.list("C:\\TAVRO\\TVCORE.DLL").code, kPathNotFound);
    EXPECT_EQ(o.copyNew("C:\\KIT\\NONE.DLL", "C:\\TAVRO\\X.DLL").stage, CopyStage::OpenSource);
    EXPECT_EQ(o.replace("C:\\KIT\\TVCORE.DLL", "C:\\TAVRO\\PLUGINS"), kAccessDenied);

    // A removed name is missing, and free again.
    EXPECT_EQ(o.remove("C:\\TAVRO\\TVCORE.DLL"), kOk);
    EXPECT_EQ(o.readAll("C:\\TAVRO\\TVCORE.DLL").code, kFileNotFound);
    EXPECT_EQ(o.remove("C:\\TAVRO\\TVCORE.DLL"), kFileNotFound);
    EXPECT_EQ(o.writeNew("C:\\TAVRO\\TvCore.dll", "again", kNewer), kOk);
    EXPECT_EQ(o.readAll("C:\\TAVRO\\TVCORE.DLL").value, "again");
    EXPECT_EQ(o.info("C:\\TAVRO\\TVCORE.DLL").value.size, 5u);
    EXPECT_EQ(listed(o, "C:\\TAVRO"),
              (std::vector<std::string>{".\\", "..\\", "PLUGINS\\", "TAVRO.INI", "TAVRO.LOG", "TvCore.dll"}));

    // replace replaces; on the 95 family it is missing.
    EXPECT_EQ(o.replace("C:\\KIT\\TVCORE.DLL", "C:\\TAVRO\\TVCORE.DLL"), kOk);
    EXPECT_EQ(o.readAll("C:\\TAVRO\\TVCORE.DLL").value, "new core");
    EXPECT_EQ(o.attributes("C:\\KIT\\TVCORE.DLL").code, kFileNotFound);
    m.memory.setVersion({1, 4, 10, true});
    EXPECT_EQ(o.replace("C:\\TAVRO\\TVCORE.DLL", "C:\\TAVRO\\TAVRO.INI"), kCallNotImplemented);
    EXPECT_EQ(o.delayMove("C:\\TAVRO\\TVCORE.DLL", std::nullopt), kCallNotImplemented);
    m.expectMachineUnchanged();
}

TEST(OverlayPlatform, AFileTheMachineHoldsOpenOrReadOnlyIsRefusedAsTheMachineWould) {
    Machines m;
    m.memory.setInUse("C:\\TAVRO\\TVCORE.DLL");
    m.memory.setReadOnly("C:\\TAVRO\\TAVRO.INI");
    m.before = snapshot(m.memory);
    OverlayPlatform &o = *m.overlay;
    EXPECT_EQ(o.remove("C:\\TAVRO\\TVCORE.DLL"), kSharingViolation);
    EXPECT_EQ(o.move("C:\\TAVRO\\TVCORE.DLL", "C:\\TAVRO\\TVCORE.OLD"), kSharingViolation);
    EXPECT_EQ(o.replace("C:\\KIT\\TVCORE.DLL", "C:\\TAVRO\\TVCORE.DLL"), kSharingViolation);
    EXPECT_EQ(o.copyNew("C:\\TAVRO\\TVCORE.DLL", "C:\\KIT\\X.DLL").code, kSharingViolation);
    EXPECT_EQ(o.move("C:\\TAVRO", "C:\\TAVRO2"), kAccessDenied); // a file in it is in use
    EXPECT_EQ(o.remove("C:\\TAVRO\\TAVRO.INI"), kAccessDenied);
    EXPECT_EQ(o.openAppender("C:\\TAVRO\\TAVRO.INI", false), nullptr);
    // A read-only file may be renamed, and stays read-only under its new name.
    EXPECT_EQ(o.move("C:\\TAVRO\\TAVRO.INI", "C:\\TAVRO\\TAVRO.OLD"), kOk);
    EXPECT_TRUE(o.attributes("C:\\TAVRO\\TAVRO.OLD").readOnly);
    EXPECT_EQ(o.remove("C:\\TAVRO\\TAVRO.OLD"), kAccessDenied);
    m.expectMachineUnchanged();
}

TEST(OverlayPlatform, AMovedDirectoryShowsTheMachineEntriesUnderItsNewName) {
    Machines m;
    OverlayPlatform &o = *m.overlay;
    EXPECT_EQ(o.move("C:\\TAVRO\\PLUGINS", "C:\\TAVRO\\PLUGINS.OLD"), kOk);
    EXPECT_EQ(o.readAll("C:\\TAVRO\\PLUGINS.OLD\\TVFILTER.DLL").value, "filter");
    EXPECT_EQ(o.attributes("C:\\TAVRO\\PLUGINS\\TVFILTER.DLL").code, kPathNotFound);
    EXPECT_EQ(o.makeDirectory("C:\\TAVRO\\PLUGINS"), kOk);
    EXPECT_EQ(listed(o, "C:\\TAVRO\\PLUGINS"), (std::vector<std::string>{".\\", "..\\"}));
    EXPECT_EQ(o.attributes("C:\\TAVRO\\PLUGINS\\TVFILTER.DLL").code, kFileNotFound);
    EXPECT_EQ(o.move("C:\\TAVRO\\PLUGINS.OLD\\TVFILTER.DLL", "C:\\TAVRO\\PLUGINS\\TVFILTER.DLL"), kOk);
    EXPECT_EQ(o.writeNew("C:\\TAVRO\\PLUGINS.OLD\\NOTE.TXT", "n"), kOk);
    EXPECT_EQ(listed(o, "C:\\TAVRO\\PLUGINS.OLD"), (std::vector<std::string>{".\\", "..\\", "NOTE.TXT"}));
    EXPECT_EQ(o.readAll("C:\\TAVRO\\PLUGINS\\TVFILTER.DLL").value, "filter");
    EXPECT_EQ(o.move("C:\\TAVRO", "C:\\TAVRO\\PLUGINS\\X"), kSharingViolation);
    m.expectMachineUnchanged();
}

TEST(OverlayPlatform, TheLogOfAPreviewStaysInMemory) {
    Machines m;
    OverlayPlatform &o = *m.overlay;
    std::unique_ptr<Appender> log = o.openAppender("C:\\TAVRO\\TAVRO.LOG", false);
    ASSERT_NE(log, nullptr);
    EXPECT_TRUE(log->write("this run\r\n"));
    EXPECT_EQ(o.readAll("C:\\TAVRO\\TAVRO.LOG").value, "earlier run\r\nthis run\r\n");
    EXPECT_EQ(o.remove("C:\\TAVRO\\TAVRO.LOG"), kSharingViolation); // open, shared for reading only
    EXPECT_EQ(o.move("C:\\TAVRO", "C:\\T2"), kAccessDenied);
    EXPECT_TRUE(log->close());
    EXPECT_FALSE(log->write("late"));
    std::unique_ptr<Appender> fresh = o.openAppender("C:\\TAVRO\\NEW.LOG", true);
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(fresh->write("x"));
    EXPECT_EQ(o.readAll("C:\\TAVRO\\NEW.LOG").value, "x");
    EXPECT_EQ(o.openAppender("C:\\NONE\\NEW.LOG", true), nullptr);
    m.expectMachineUnchanged();
}

TEST(OverlayPlatform, RegistryWritesAreHeldAndDeletedKeysHideTheMachineTree) {
    Machines m;
    OverlayPlatform &o = *m.overlay;
    const std::string version = "Version", build = "Build", fresh = "Fresh";
    EXPECT_TRUE(o.regSet(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro", &version, {kRegSz, "2.1"}).ok());
    EXPECT_TRUE(o.regSet(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro", &fresh, {kRegSz, "f"}).ok());
    EXPECT_TRUE(o.regSet(Root::LocalMachine, "SOFTWARE\\Korvek\\New\\Deeper", nullptr, {kRegSz, "d"}).ok());
    EXPECT_EQ(o.regRead(Root::LocalMachine, "software\\korvek\\tavro", &version, 10).value.data, "2.1");
    const auto values = o.regValues(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro").value;
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[1].name, "Build"); // the machine's order, new values after
    EXPECT_EQ(values[2].name, "Fresh");
    RegStage stage = RegStage::None;
    EXPECT_EQ(o.regRead(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro", &fresh, 0, &stage).code, kMoreData);
    EXPECT_EQ(stage, RegStage::Read);
    EXPECT_EQ(o.regSubkeys(Root::LocalMachine, "SOFTWARE\\Korvek").value,
              (std::vector<std::string>{"Tavro", "New"}));

    // A tree goes key by key; a key with subkeys stays.
    EXPECT_EQ(o.regDeleteKey(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro").code, kAccessDenied);
    EXPECT_TRUE(o.regDeleteKey(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro\\Filters\\Main").ok());
    EXPECT_TRUE(o.regDeleteKey(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro\\Filters").ok());
    EXPECT_TRUE(o.regDeleteKey(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro").ok());
    EXPECT_EQ(o.regOpenable(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro", false), kFileNotFound);
    EXPECT_EQ(o.regRead(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro\\Filters\\Main", &build, 10, &stage).code,
              kFileNotFound);
    EXPECT_EQ(stage, RegStage::Open);
    // Made again, it is empty: nothing of the machine's key shows.
    EXPECT_TRUE(o.regSet(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro", &version, {kRegSz, "3"}).ok());
    EXPECT_EQ(o.regValues(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro").value.size(), 1u);
    EXPECT_TRUE(o.regSubkeys(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro").value.empty());
    EXPECT_EQ(o.regDeleteValue(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro", "Build").stage, RegStage::Delete);
    EXPECT_TRUE(o.regDeleteValue(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro", "VERSION").ok());
    EXPECT_EQ(o.regDeleteValue(Root::LocalMachine, "SOFTWARE\\None", "X").stage, RegStage::Open);
    m.expectMachineUnchanged();
}
