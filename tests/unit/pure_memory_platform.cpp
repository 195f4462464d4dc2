// The in-memory machine answers as Windows does: names under every spelling,
// the errors of each operation, moves of whole directories, the registry.
#include "testing/memory_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace platform;

namespace {

std::vector<std::string> listed(const Result<std::vector<DirEntry>> &r) {
    std::vector<std::string> out;
    for (const DirEntry &e : r.value) out.push_back(e.directory ? e.name + "\\" : e.name);
    return out;
}

const DosTime k1998{static_cast<std::uint16_t>((18 << 9) | (3 << 5) | 14), static_cast<std::uint16_t>(12 << 11)};

} // namespace

TEST(MemoryPlatform, FindsAFileUnderEverySpellingWindowsAccepts) {
    MemoryPlatform m;
    m.addFile("C:\\Tavro\\Bin\\TvCore.dll", "core", k1998);
    for (const char *spelling : {"c:\\tavro\\bin\\tvcore.dll", "C:/TAVRO/BIN/TVCORE.DLL", "C:\\Tavro\\\\Bin\\TvCore.dll",
                                 "C:\\Tavro\\.\\Docs\\..\\Bin\\TvCore.dll", "C:\\Tavro\\Bin\\TvCore.dll. ",
                                 "C:\\Tavro\\Bin\\TvCore.dll\\"}) {
        SCOPED_TRACE(spelling);
        const Result<std::string> r = m.readAll(spelling);
        EXPECT_EQ(r.code, kOk);
        EXPECT_EQ(r.value, "core");
    }
    EXPECT_EQ(m.readableTime("C:\\TAVRO\\BIN\\TVCORE.DLL").value.date, k1998.date);
    // The listing keeps the spelling the file was made with.
    EXPECT_EQ(listed(m.list("c:\\tavro\\bin")), (std::vector<std::string>{".\\", "..\\", "TvCore.dll"}));
    // A drive root lists no "." and "..".
    EXPECT_EQ(listed(m.list("C:\\")), (std::vector<std::string>{"Tavro\\", "WINDOWS\\"}));
}

TEST(MemoryPlatform, NamesThatNameNoFileAreRefused) {
    MemoryPlatform m;
    EXPECT_EQ(m.attributes("C:\\WINDOWS\\*.INI").code, kInvalidName);
    EXPECT_EQ(m.writeNew("C:\\A|B", "x"), kInvalidName);
    EXPECT_EQ(m.attributes("C:\\" + std::string(257, 'A')).code, names::kNameTooLong);
    EXPECT_EQ(m.attributes("").code, kPathNotFound);
    // Missing: the file alone, or its directory too.
    EXPECT_EQ(m.attributes("C:\\WINDOWS\\NONE.INI").code, kFileNotFound);
    EXPECT_EQ(m.attributes("C:\\NONE\\NONE.INI").code, kPathNotFound);
    EXPECT_EQ(m.attributes("D:\\").code, kPathNotFound);
}

TEST(MemoryPlatform, CreatesExclusivelyAndOnlyInADirectory) {
    MemoryPlatform m;
    EXPECT_EQ(m.writeNew("C:\\WINDOWS\\A.TXT", "one"), kOk);
    EXPECT_EQ(m.writeNew("c:\\windows\\a.txt", "two"), kFileExists);
    EXPECT_EQ(m.readAll("C:\\WINDOWS\\A.TXT").value, "one");
    EXPECT_EQ(m.writeNew("C:\\NONE\\A.TXT", "x"), kPathNotFound);
    EXPECT_EQ(m.writeNew("C:\\WINDOWS\\A.TXT\\B", "x"), kPathNotFound);
    EXPECT_EQ(m.makeDirectory("C:\\WINDOWS"), kAlreadyExists);
    EXPECT_EQ(m.makeDirectory("C:\\WINDOWS\\A.TXT"), kAlreadyExists);
    EXPECT_EQ(m.makeDirectory("C:\\NONE\\SUB"), kPathNotFound);
    EXPECT_EQ(m.makeDirectory("C:\\NONE"), kOk);
    EXPECT_TRUE(m.attributes("C:\\NONE").directory);

    // Reading a directory is refused as opening it would be.
    EXPECT_EQ(m.readAll("C:\\NONE").code, kAccessDenied);
    EXPECT_EQ(m.readableTime("C:\\NONE").code, kAccessDenied);
}

TEST(MemoryPlatform, CopyKeepsTheSourceDateAndNamesTheFailingStage) {
    MemoryPlatform m;
    m.addFile("C:\\KIT\\NEW.DLL", "new bytes", k1998);
    const CopyOutcome ok = m.copyNew("C:\\KIT\\NEW.DLL", "C:\\WINDOWS\\NEW.DLL");
    EXPECT_TRUE(ok.ok());
    EXPECT_EQ(m.readAll("C:\\WINDOWS\\NEW.DLL").value, "new bytes");
    EXPECT_EQ(m.readableTime("C:\\WINDOWS\\NEW.DLL").value.time, k1998.time);
    EXPECT_EQ(m.info("C:\\WINDOWS\\NEW.DLL").value.written, m.info("C:\\KIT\\NEW.DLL").value.written);

    const CopyOutcome taken = m.copyNew("C:\\KIT\\NEW.DLL", "C:\\WINDOWS\\NEW.DLL");
    EXPECT_EQ(taken.code, kFileExists);
    EXPECT_EQ(taken.stage, CopyStage::CreateTarget);
    const CopyOutcome missing = m.copyNew("C:\\KIT\\NONE.DLL", "C:\\NONE\\X.DLL");
    EXPECT_EQ(missing.code, kFileNotFound);
    EXPECT_EQ(missing.stage, CopyStage::OpenSource);
    m.setInUse("C:\\KIT\\NEW.DLL");
    EXPECT_EQ(m.copyNew("C:\\KIT\\NEW.DLL", "C:\\X.DLL").code, kSharingViolation);
    EXPECT_TRUE(m.attributes("C:\\KIT\\NEW.DLL").exists()); // in use, still there
}

TEST(MemoryPlatform, MoveReplaceAndRemoveFollowTheRulesOfTheSystem) {
    MemoryPlatform m;
    m.addFile("C:\\T\\A.DLL", "a");
    m.addFile("C:\\T\\B.DLL", "b");
    EXPECT_EQ(m.move("C:\\T\\A.DLL", "C:\\T\\B.DLL"), kAlreadyExists);
    EXPECT_EQ(m.move("C:\\T\\NONE.DLL", "C:\\T\\C.DLL"), kFileNotFound);
    EXPECT_EQ(m.move("C:\\T\\A.DLL", "C:\\NONE\\A.DLL"), kPathNotFound);
    EXPECT_EQ(m.replace("C:\\T\\A.DLL", "C:\\T\\B.DLL"), kOk);
    EXPECT_EQ(m.readAll("C:\\T\\B.DLL").value, "a");
    EXPECT_EQ(m.attributes("C:\\T\\A.DLL").code, kFileNotFound);
    // A new spelling of the same name.
    EXPECT_EQ(m.move("C:\\T\\B.DLL", "c:\\t\\b.dll"), kOk);
    EXPECT_EQ(listed(m.list("C:\\T")), (std::vector<std::string>{".\\", "..\\", "b.dll"}));

    m.addFile("C:\\T\\RO.INI", "r");
    m.setReadOnly("C:\\T\\RO.INI");
    EXPECT_EQ(m.remove("C:\\T\\RO.INI"), kAccessDenied);
    EXPECT_EQ(m.replace("C:\\T\\b.dll", "C:\\T\\RO.INI"), kAccessDenied);
    EXPECT_EQ(m.move("C:\\T\\RO.INI", "C:\\T\\RO.OLD"), kOk); // renaming a read-only file is allowed
    EXPECT_EQ(m.remove("C:\\T"), kAccessDenied);
    EXPECT_EQ(m.remove("C:\\T\\NONE"), kFileNotFound);

    m.setInUse("C:\\T\\b.dll");
    EXPECT_EQ(m.remove("C:\\T\\b.dll"), kSharingViolation);
    EXPECT_EQ(m.move("C:\\T\\b.dll", "C:\\T\\C.DLL"), kSharingViolation);
    EXPECT_EQ(m.readAll("C:\\T\\b.dll").code, kSharingViolation);
    EXPECT_TRUE(m.info("C:\\T\\b.dll").ok()); // its directory entry still reads

    // The 95 family has no replacing rename.
    m.setVersion({1, 4, 10, true});
    EXPECT_EQ(m.replace("C:\\T\\RO.OLD", "C:\\T\\X"), kCallNotImplemented);
}

TEST(MemoryPlatform, ADirectoryMovesWithEverythingBelowIt) {
    MemoryPlatform m;
    m.addFile("C:\\APP\\PLUGINS\\F.DLL", "f");
    m.addFile("C:\\APP\\PLUGINS\\SUB\\G.DLL", "g");
    EXPECT_EQ(m.move("C:\\APP\\PLUGINS", "C:\\APP\\PLUGINS\\SUB\\X"), kSharingViolation);
    EXPECT_EQ(m.move("C:\\APP\\PLUGINS", "C:\\APP\\OLDPLUG"), kOk);
    EXPECT_EQ(m.readAll("C:\\APP\\OLDPLUG\\SUB\\G.DLL").value, "g");
    EXPECT_EQ(m.attributes("C:\\APP\\PLUGINS\\F.DLL").code, kPathNotFound);
    // A directory holding a file in use cannot be renamed.
    m.setInUse("C:\\APP\\OLDPLUG\\F.DLL");
    EXPECT_EQ(m.move("C:\\APP\\OLDPLUG", "C:\\APP\\P2"), kAccessDenied);
}

TEST(MemoryPlatform, AnAppendedFileGrowsAndIsInUseWhileOpen) {
    MemoryPlatform m;
    std::uint64_t now = 5000000000000000ull;
    m.setClock([&] { return now; });
    {
        std::unique_ptr<Appender> log = m.openAppender("C:\\WINDOWS\\RUN.LOG", false);
        ASSERT_NE(log, nullptr);
        EXPECT_TRUE(log->write("one\r\n"));
        now += 10000000;
        EXPECT_TRUE(log->write("two\r\n"));
        EXPECT_EQ(m.readAll("C:\\WINDOWS\\RUN.LOG").value, "one\r\ntwo\r\n");
        EXPECT_EQ(m.info("C:\\WINDOWS\\RUN.LOG").value.written, now);
        EXPECT_EQ(m.remove("C:\\WINDOWS\\RUN.LOG"), kSharingViolation);
        EXPECT_EQ(m.openAppender("C:\\WINDOWS\\RUN.LOG", false), nullptr);
        EXPECT_TRUE(log->close());
        EXPECT_TRUE(log->close());
        EXPECT_FALSE(log->write("late"));
    }
    std::unique_ptr<Appender> again = m.openAppender("C:\\WINDOWS\\RUN.LOG", true);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(m.readAll("C:\\WINDOWS\\RUN.LOG").value, "");
    again.reset();
    EXPECT_EQ(m.remove("C:\\WINDOWS\\RUN.LOG"), kOk);
    EXPECT_EQ(m.openAppender("C:\\NONE\\RUN.LOG", false), nullptr);
    EXPECT_EQ(m.openAppender("C:\\WINDOWS", false), nullptr);
}

TEST(MemoryPlatform, RestartRegistrationsAndProgramsAreRecordedNotCarriedOut) {
    MemoryPlatform m;
    m.addFile("C:\\T\\A.DLL", "a");
    EXPECT_EQ(m.delayMove("C:\\T\\A.DLL", std::string("C:\\T\\B.DLL")), kOk);
    EXPECT_EQ(m.delayMove("C:\\T\\A.DLL", std::nullopt), kOk);
    EXPECT_EQ(m.pendingMoves(), (std::vector<PendingMove>{{"C:\\T\\A.DLL", std::string("C:\\T\\B.DLL")},
                                                          {"C:\\T\\A.DLL", std::nullopt}}));
    EXPECT_EQ(m.readAll("C:\\T\\A.DLL").value, "a");
    m.setVersion({1, 4, 0, true});
    EXPECT_EQ(m.delayMove("C:\\T\\A.DLL", std::nullopt), kCallNotImplemented);
    EXPECT_EQ(m.pendingMoves().size(), 2u);

    EXPECT_TRUE(m.startProcess("C:\\KIT\\RESTARTER.EXE", "RESTARTER.EXE /q"));
    EXPECT_EQ(m.startedProcesses(), (std::vector<StartedProcess>{{"C:\\KIT\\RESTARTER.EXE", "RESTARTER.EXE /q"}}));
    m.setEnvironment("Temp", std::string("C:\\TEMP"));
    EXPECT_EQ(m.environment("TEMP"), std::optional<std::string>("C:\\TEMP"));
    EXPECT_EQ(m.environment("TMP"), std::nullopt);
}

TEST(MemoryPlatform, RegistryKeysAndValues) {
    MemoryPlatform m;
    const std::string version = "Version";
    const RegValue v21{kRegSz, std::string("2.1\0", 4)};
    EXPECT_TRUE(m.regSet(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro", &version, v21).ok());
    EXPECT_EQ(m.regOpenable(Root::LocalMachine, "software\\korvek", true), kOk);
    EXPECT_EQ(m.regOpenable(Root::CurrentUser, "SOFTWARE\\Korvek", false), kFileNotFound);

    RegStage stage = RegStage::Set;
    const std::string lower = "version";
    Result<RegValue> r = m.regRead(Root::LocalMachine, "SOFTWARE\\KORVEK\\TAVRO", &lower, 100, &stage);
    EXPECT_EQ(r.code, kOk);
    EXPECT_EQ(r.value.data, v21.data);
    EXPECT_EQ(stage, RegStage::None);
    r = m.regRead(Root::LocalMachine, "SOFTWARE\\KORVEK\\TAVRO", &lower, 3, &stage);
    EXPECT_EQ(r.code, kMoreData);
    EXPECT_EQ(r.value.type, kRegSz);
    EXPECT_EQ(stage, RegStage::Read);
    r = m.regRead(Root::LocalMachine, "SOFTWARE\\KORVEK\\TAVRO", nullptr, 100, &stage);
    EXPECT_EQ(r.code, kFileNotFound);
    EXPECT_EQ(stage, RegStage::Read);
    r = m.regRead(Root::LocalMachine, "SOFTWARE\\NONE", &lower, 100, &stage);
    EXPECT_EQ(r.code, kFileNotFound);
    EXPECT_EQ(stage, RegStage::Open);

    // Values keep the order they were first set in; setting again keeps the place.
    const std::string build = "Build", dir = "InstallDir";
    m.setValue(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro", &build, {kRegDword, std::string(4, '\x01')});
    m.setValue(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro", &dir, {kRegSz, "C:\\TAVRO"});
    m.setValue(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro", &lower, {kRegSz, "2.2"});
    const auto values = m.regValues(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro");
    ASSERT_EQ(values.value.size(), 3u);
    EXPECT_EQ(values.value[0].name, "Version");
    EXPECT_EQ(values.value[0].value.data, "2.2");
    EXPECT_EQ(values.value[2].name, "InstallDir");
    EXPECT_EQ(m.regDeleteValue(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro", "NONE").stage, RegStage::Delete);
    EXPECT_TRUE(m.regDeleteValue(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro", "BUILD").ok());

    // Subkeys by name without case; only an empty key is deleted.
    m.addKey(Root::LocalMachine, "SOFTWARE\\Korvek\\alpha");
    m.addKey(Root::LocalMachine, "SOFTWARE\\Korvek\\Beta\\Deep");
    EXPECT_EQ(m.regSubkeys(Root::LocalMachine, "SOFTWARE\\Korvek").value,
              (std::vector<std::string>{"alpha", "Beta", "Tavro"}));
    EXPECT_EQ(m.regSubkeys(Root::LocalMachine, "").value, (std::vector<std::string>{"SOFTWARE"}));
    RegOutcome d = m.regDeleteKey(Root::LocalMachine, "SOFTWARE\\Korvek\\Beta");
    EXPECT_EQ(d.code, kAccessDenied);
    EXPECT_EQ(d.stage, RegStage::Delete);
    EXPECT_TRUE(m.regDeleteKey(Root::LocalMachine, "SOFTWARE\\Korvek\\Beta\\Deep").ok());
    EXPECT_TRUE(m.regDeleteKey(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro").ok()); // values go with it
    d = m.regDeleteKey(Root::LocalMachine, "SOFTWARE\\Korvek\\Tavro");
    EXPECT_EQ(d.stage, RegStage::Delete);
    EXPECT_EQ(m.regDeleteKey(Root::LocalMachine, "SOFTWARE\\None\\X").stage, RegStage::Open);
    EXPECT_EQ(m.regDeleteKey(Root::LocalMachine, "").code, kAccessDenied);
}

TEST(MachineTime, DosDatesAndMomentsConvertBothWays) {
    // 1999-06-15 12:00:00 and a leap day, to the second (DOS keeps even seconds).
    for (const DosTime t : {DosTime{static_cast<std::uint16_t>((19 << 9) | (6 << 5) | 15), static_cast<std::uint16_t>(12 << 11)},
                            DosTime{static_cast<std::uint16_t>((20 << 9) | (2 << 5) | 29),
                                    static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29)}}) {
        const DosTime back = localDosTime(fromLocalDosTime(t));
        EXPECT_EQ(back.date, t.date);
        EXPECT_EQ(back.time, t.time);
    }
    // 2000-01-01 00:00:00 is 946684800 seconds after 1970.
    const std::uint64_t y2k = 116444736000000000ull + 946684800ull * 10000000ull;
    EXPECT_EQ(fromLocalDosTime(DosTime{static_cast<std::uint16_t>((20 << 9) | (1 << 5) | 1), 0}), y2k);
    // An odd second rounds down; before 1980 is 1980-01-01.
    EXPECT_EQ(localDosTime(y2k + 3 * 10000000ull).time, 1);
    EXPECT_EQ(localDosTime(0).date, (1 << 5) | 1);
}
