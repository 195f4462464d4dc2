// The benchmark's machine-state comparison and call-trace reading: a broken
// comparison would let the benchmark time runs that did different work.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "harness.h"
#include "state.h"
#include "trace.h"

namespace {

using namespace tvbench;

const std::string kDir = "C:\\BENCHSTATE";
const std::string kSingle = "C:\\BENCHSTATE.INI";
const std::string kKey = "Software\\TavroBenchStateTest";

StateScope scope(unsigned long long freshAfter = 0) {
    StateScope s;
    s.trees = {kDir};
    s.files = {kSingle, "C:\\BENCHSTATE.MISSING"};
    s.registryTrees = {"HKCU\\" + kKey};
    s.registryValues = {{"HKCU\\" + kKey + "2", "Single"}};
    s.freshAfter = freshAfter;
    return s;
}

void clearState() {
    e2e::removeTree(kDir);
    e2e::removeTree(kSingle);
    e2e::removeTree("C:\\BENCHSTATE.MISSING");
    e2e::regDeleteTree("HKCU", kKey);
    e2e::regDeleteTree("HKCU", kKey + "2");
}

// The same state every time: two files with a date of the last century, an
// empty directory, an INI file beside the tree, a key with values and a
// subkey, and a single value elsewhere.
void buildState() {
    clearState();
    e2e::makeDirs(kDir + "\\SUB\\EMPTY");
    e2e::writeFile(kDir + "\\a.bin", e2e::blob("a", 1000));
    e2e::setDosTime(kDir + "\\a.bin", e2e::dosDate(1998, 3, 2), e2e::dosTime(10, 0, 0));
    e2e::writeFile(kDir + "\\SUB\\b.ini", "[S]\r\nk=v\r\n");
    e2e::setDosTime(kDir + "\\SUB\\b.ini", e2e::dosDate(1999, 6, 15), e2e::dosTime(12, 0, 0));
    e2e::writeFile(kSingle, "[Tavro]\r\nroot=C:\\TAVRO\r\n");
    e2e::setDosTime(kSingle, e2e::dosDate(1999, 6, 15), e2e::dosTime(12, 0, 0));
    e2e::regSetString("HKCU", kKey, "Name", "value");
    e2e::regSetString("HKCU", kKey, "", "default value");
    e2e::regSetDword("HKCU", kKey + "\\Sub", "Count", 7);
    e2e::regSetString("HKCU", kKey + "2", "Single", "one");
}

void setValue(const std::string &path, const std::string &name, DWORD type, const std::string &data) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE *>(data.c_str()),
                   static_cast<DWORD>(data.size() + 1));
    RegCloseKey(key);
}

class StateTest : public ::testing::Test {
  protected:
    void TearDown() override {
        SetFileAttributesA((kDir + "\\a.bin").c_str(), FILE_ATTRIBUTE_NORMAL);
        clearState();
    }
};

TEST_F(StateTest, TheSameStateTwiceIsEqualAndDescribesEveryEntry) {
    buildState();
    const Snapshot first = takeSnapshot(scope());
    buildState();
    const Snapshot second = takeSnapshot(scope());
    EXPECT_TRUE(compareSnapshots(first, second, "first", "second").empty());

    ASSERT_EQ(first.count(kDir + "\\a.bin"), 1u);
    EXPECT_NE(first.at(kDir + "\\a.bin").find("size=1000 "), std::string::npos);
    EXPECT_NE(first.at(kDir + "\\a.bin").find("written=1998-03-0"), std::string::npos);
    EXPECT_EQ(first.at(kDir + "\\SUB\\EMPTY").rfind("directory", 0), 0u);
    EXPECT_EQ(first.at("C:\\BENCHSTATE.MISSING"), "absent");
    EXPECT_EQ(first.at("HKCU\\" + kKey + "\\Sub"), "key");
    EXPECT_EQ(first.at("HKCU\\" + kKey + " : Name"), "value type=1 data=value\\x00");
    EXPECT_EQ(first.at("HKCU\\" + kKey + " : (default)"), "value type=1 data=default value\\x00");
    EXPECT_EQ(first.at("HKCU\\" + kKey + "\\Sub : Count"), "value type=4 data=\\x07\\x00\\x00\\x00");
    EXPECT_EQ(first.at("HKCU\\" + kKey + "2 : Single"), "value type=1 data=one\\x00");
    // Directories, files, keys and values: nothing else.
    EXPECT_EQ(first.size(), 13u);
}

struct Change {
    const char *what;
    std::function<void()> apply;
    std::vector<std::string> entries; // the entries that must be reported, and only those
};

TEST_F(StateTest, EveryKindOfChangeIsReportedAtItsEntry) {
    const std::string a = kDir + "\\a.bin";
    const std::vector<Change> changes = {
        {"one byte, same size and date",
         [&] {
             std::string bytes = e2e::blob("a", 1000);
             bytes[500] ^= 1;
             e2e::writeFile(a, bytes);
             e2e::setDosTime(a, e2e::dosDate(1998, 3, 2), e2e::dosTime(10, 0, 0));
         },
         {a}},
        {"the last byte of a file whose size is no multiple of eight",
         [&] {
             std::string bytes = e2e::blob("a", 1000);
             bytes[999] ^= 0x40;
             e2e::writeFile(a, bytes);
             e2e::setDosTime(a, e2e::dosDate(1998, 3, 2), e2e::dosTime(10, 0, 0));
         },
         {a}},
        {"date two seconds later", [&] { e2e::setDosTime(a, e2e::dosDate(1998, 3, 2), e2e::dosTime(10, 0, 2)); },
         {a}},
        {"read-only", [&] { SetFileAttributesA(a.c_str(), FILE_ATTRIBUTE_READONLY); }, {a}},
        {"a file more", [&] { e2e::writeFile(kDir + "\\SUB\\b.OLD", "x"); }, {kDir + "\\SUB\\b.OLD"}},
        {"a file less", [&] { DeleteFileA((kDir + "\\SUB\\b.ini").c_str()); }, {kDir + "\\SUB\\b.ini"}},
        {"a directory less", [&] { RemoveDirectoryA((kDir + "\\SUB\\EMPTY").c_str()); }, {kDir + "\\SUB\\EMPTY"}},
        {"a name in other case",
         [&] {
             DeleteFileA((kDir + "\\SUB\\b.ini").c_str());
             e2e::writeFile(kDir + "\\SUB\\B.INI", "[S]\r\nk=v\r\n");
             e2e::setDosTime(kDir + "\\SUB\\B.INI", e2e::dosDate(1999, 6, 15), e2e::dosTime(12, 0, 0));
         },
         {kDir + "\\SUB\\B.INI", kDir + "\\SUB\\b.ini"}},
        {"the single file's bytes",
         [&] {
             e2e::writeFile(kSingle, "[Tavro]\r\nroot=C:\\TAVRX\r\n");
             e2e::setDosTime(kSingle, e2e::dosDate(1999, 6, 15), e2e::dosTime(12, 0, 0));
         },
         {kSingle}},
        {"a missing single file appears", [&] { e2e::writeFile("C:\\BENCHSTATE.MISSING", ""); },
         {"C:\\BENCHSTATE.MISSING"}},
        {"a value's data", [&] { e2e::regSetString("HKCU", kKey, "Name", "valuE"); }, {"HKCU\\" + kKey + " : Name"}},
        {"a value's type", [&] { setValue(kKey, "Name", REG_EXPAND_SZ, "value"); }, {"HKCU\\" + kKey + " : Name"}},
        {"a value more", [&] { e2e::regSetString("HKCU", kKey + "\\Sub", "New", ""); },
         {"HKCU\\" + kKey + "\\Sub : New"}},
        {"a key more", [&] { e2e::regSetString("HKCU", kKey + "\\Sub\\Deeper", "", "x"); },
         {"HKCU\\" + kKey + "\\Sub\\Deeper", "HKCU\\" + kKey + "\\Sub\\Deeper : (default)"}},
        {"the single value", [&] { e2e::regSetString("HKCU", kKey + "2", "Single", "two"); },
         {"HKCU\\" + kKey + "2 : Single"}},
        {"the single value gone", [&] { e2e::regDeleteTree("HKCU", kKey + "2"); }, {"HKCU\\" + kKey + "2 : Single"}},
    };
    for (const Change &change : changes) {
        SCOPED_TRACE(change.what);
        buildState();
        const Snapshot before = takeSnapshot(scope());
        buildState();
        change.apply();
        const Snapshot after = takeSnapshot(scope());
        SetFileAttributesA(a.c_str(), FILE_ATTRIBUTE_NORMAL);

        const std::vector<std::string> differences = compareSnapshots(before, after, "before", "after");
        ASSERT_EQ(differences.size(), change.entries.size());
        for (size_t i = 0; i < differences.size(); ++i) {
            // Each line names the entry, then both sides.
            EXPECT_EQ(differences[i].rfind(change.entries[i] + "\n    before: ", 0), 0u) << differences[i];
            EXPECT_NE(differences[i].find("\n    after: "), std::string::npos);
        }
    }
}

TEST_F(StateTest, TimesWrittenDuringARunCompareEqualOnlyWhenMarkedFresh) {
    FILETIME t;
    GetSystemTimeAsFileTime(&t);
    const unsigned long long start = ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime);

    buildState();
    e2e::writeFile(kDir + "\\SUB\\b.ini", "[S]\r\nk=new\r\n"); // written now, as a run writes
    const Snapshot exactFirst = takeSnapshot(scope());
    const Snapshot freshFirst = takeSnapshot(scope(start));
    Sleep(50);
    buildState();
    e2e::writeFile(kDir + "\\SUB\\b.ini", "[S]\r\nk=new\r\n");
    const Snapshot exactSecond = takeSnapshot(scope());
    const Snapshot freshSecond = takeSnapshot(scope(start));

    EXPECT_EQ(compareSnapshots(exactFirst, exactSecond, "first", "second").size(), 1u);
    EXPECT_TRUE(compareSnapshots(freshFirst, freshSecond, "first", "second").empty());
    EXPECT_NE(freshFirst.at(kDir + "\\SUB\\b.ini").find("written=fresh"), std::string::npos);
    // A date of the past stays exact, so a file a run failed to write is seen.
    EXPECT_NE(freshFirst.at(kDir + "\\a.bin").find("written=1998"), std::string::npos);
}

TEST(ContentHash, EverySingleByteChangeAndEveryLengthGivesAnotherHash) {
    std::string bytes = e2e::blob("hash", 67);
    const unsigned long long base = contentHash(bytes.data(), bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            std::string changed = bytes;
            changed[i] = static_cast<char>(changed[i] ^ (1 << bit));
            EXPECT_NE(contentHash(changed.data(), changed.size()), base) << "byte " << i << " bit " << bit;
        }
    }
    const std::string zeros(16, '\0');
    for (size_t n = 0; n < zeros.size(); ++n)
        EXPECT_NE(contentHash(zeros.data(), n), contentHash(zeros.data(), n + 1)) << "length " << n;
}

TEST(CallTrace, ReadsCountsAndRefusesAnIncompleteTrace) {
    CallTrace trace;
    std::string error;
    ASSERT_TRUE(parseCallTrace("1 stat\n2 stat\r\n3 CreateFileA\n4 ReadFile\n5 stat\n", trace, error)) << error;
    EXPECT_EQ(trace.calls.size(), 5u);
    EXPECT_EQ(trace.perName.at("stat"), 3);
    EXPECT_EQ(trace.perName.at("CreateFileA"), 1);
    EXPECT_EQ(callSequence(trace), "stat x2, CreateFileA, ReadFile, stat");

    EXPECT_FALSE(parseCallTrace("1 stat\n3 stat\n", trace, error)); // a call missing
    EXPECT_NE(error.find("call 3 where call 2 was due"), std::string::npos);
    EXPECT_FALSE(parseCallTrace("2 stat\n", trace, error)); // the start missing
    EXPECT_NE(error.find("starts at call 2"), std::string::npos);
    EXPECT_FALSE(parseCallTrace("1 stat\n1 stat\n", trace, error)); // two runs in one file
    EXPECT_FALSE(parseCallTrace("0 stat\n1 stat\n0 stat\n", trace, error));
    EXPECT_FALSE(parseCallTrace("1 stat\n2\n", trace, error)); // a line without a name
    EXPECT_FALSE(parseCallTrace("1 stat\n2 3\n", trace, error));
    EXPECT_FALSE(parseCallTrace("1 stat\n2 (C:\\X)\n", trace, error));
    EXPECT_FALSE(parseCallTrace("1 stat\nReadFile\n", trace, error)); // numbered and unnumbered mixed
    EXPECT_NE(error.find("mixed"), std::string::npos);
    EXPECT_FALSE(parseCallTrace("ReadFile\n1 stat\n", trace, error));
}

// The fault build may write more about each call, number from 0, or name
// the calls by their module: the counts stay the same.
TEST(CallTrace, DetailsAroundTheNumberAndNameAreIgnored) {
    CallTrace trace;
    std::string error;
    ASSERT_TRUE(parseCallTrace("# trace of TAVUPD.EXE\n"
                               "0: fs::CreateFileA(C:\\TAVRO\\A.INI, read) -> 0x40\n"
                               "\n"
                               "1.\tfs::ReadFile 512 bytes\r\n"
                               "  2   fs::CloseHandle,ok\n"
                               "3 file.open C:\\TAVRO\\B.INI\n",
                               trace, error))
        << error;
    EXPECT_EQ(callSequence(trace), "fs::CreateFileA, fs::ReadFile, fs::CloseHandle, file.open");
    EXPECT_FALSE(parseCallTrace("0 stat\n2 stat\n", trace, error));

    ASSERT_TRUE(parseCallTrace("GetFileAttributesA\nGetFileAttributesA C:\\X\nMoveFileA\n", trace, error)) << error;
    EXPECT_EQ(trace.perName.at("GetFileAttributesA"), 2);
    EXPECT_EQ(trace.perName.at("MoveFileA"), 1);
    ASSERT_TRUE(parseCallTrace("", trace, error));
    EXPECT_TRUE(trace.calls.empty());
}

TEST(CallTrace, CallsPerUnitIsTheDifferenceOverTheUnits) {
    CallTrace small, large;
    std::string error;
    ASSERT_TRUE(parseCallTrace("1 stat\n2 CreateFileA\n3 RegOpenKeyExA\n", small, error));
    ASSERT_TRUE(parseCallTrace("1 stat\n2 CreateFileA\n3 CreateFileA\n4 CreateFileA\n5 MoveFileA\n6 MoveFileA\n"
                               "7 RegOpenKeyExA\n",
                               large, error));
    const std::map<std::string, double> perUnit = callsPerUnit(small, large, 2);
    EXPECT_DOUBLE_EQ(perUnit.at("CreateFileA"), 1.0);
    EXPECT_DOUBLE_EQ(perUnit.at("MoveFileA"), 1.0);
    EXPECT_DOUBLE_EQ(perUnit.at("stat"), 0.0);
    EXPECT_TRUE(callsPerUnit(small, large, 0).empty());
}

TEST(CallTrace, ExtraCallsAreWhatTheRunWithOneActionMoreMadeInBetween) {
    CallTrace one, two;
    std::string error;
    ASSERT_TRUE(parseCallTrace("1 GetVersionExA\n2 MoveFileA\n3 CopyFile\n4 CloseHandle\n", one, error));
    ASSERT_TRUE(parseCallTrace("1 GetVersionExA\n2 MoveFileA\n3 CopyFile\n4 MoveFileA\n5 CopyFile\n"
                               "6 CloseHandle\n",
                               two, error));
    const CallTrace extra = extraCalls(one, two);
    EXPECT_EQ(callSequence(extra), "MoveFileA, CopyFile");
    EXPECT_EQ(extra.perName.at("MoveFileA"), 1);
    // Start and end never overlap, however alike the two runs are.
    ASSERT_TRUE(parseCallTrace("1 stat\n", one, error));
    ASSERT_TRUE(parseCallTrace("1 stat\n2 stat\n3 stat\n", two, error));
    EXPECT_EQ(callSequence(extraCalls(one, two)), "stat x2");
    EXPECT_TRUE(extraCalls(two, two).calls.empty());
}

} // namespace
