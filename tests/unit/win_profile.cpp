// Profile on real files and registry keys, under Wine.
#include "harness.h"
#include "testing/fault.h"
#include "text/error.h"
#include "platform/platform.h"
#include "profile/profile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The replaced operators below pair malloc with free throughout; GCC cannot
// see that once they are inlined into library code.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

// Allocations of exactly this many bytes fail while it is not 0.
static std::size_t g_failAllocation = 0;

void *operator new(std::size_t size) {
    if (g_failAllocation != 0 && size == g_failAllocation) throw std::bad_alloc();
    if (void *p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }

namespace {

const std::string kDir = "C:\\PROFUNIT";
const char *const kRegBase = "SOFTWARE\\E2ETest\\ProfUnit";

std::string at(const std::string &name) { return kDir + "\\" + name; }

void writeBytes(const std::string &path, const std::string &bytes) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD done = 0;
    ASSERT_TRUE(::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr));
    ::CloseHandle(h);
}

std::optional<std::string> readBytes(const std::string &path) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string out;
    char buf[4096];
    DWORD got = 0;
    while (::ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
    ::CloseHandle(h);
    return out;
}

void setWriteTime(const std::string &path, WORD year, WORD month, WORD day) {
    SYSTEMTIME st = {};
    st.wYear = year;
    st.wMonth = month;
    st.wDay = day;
    st.wHour = 12;
    FILETIME ft;
    ASSERT_TRUE(::SystemTimeToFileTime(&st, &ft));
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(::SetFileTime(h, nullptr, nullptr, &ft));
    ::CloseHandle(h);
}

std::vector<std::string> dirEntries() {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = ::FindFirstFileA((kDir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (std::strcmp(fd.cFileName, ".") != 0 && std::strcmp(fd.cFileName, "..") != 0)
            names.push_back(fd.cFileName);
    } while (::FindNextFileA(h, &fd));
    ::FindClose(h);
    return names;
}

void emptyDir() {
    for (const std::string &name : dirEntries()) {
        std::string p = at(name);
        ::SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(p.c_str());
    }
}

// Runs `op`, which must raise Error 21 for `path` from the profile module.
void expectError21(const std::function<void()> &op, const std::string &path) {
    try {
        op();
        ADD_FAILURE() << "no Error raised";
    } catch (const Error &e) {
        EXPECT_EQ(e.number, 21);
        EXPECT_EQ(e.message, path);
        EXPECT_EQ(e.file, "tvpprof");
        EXPECT_EQ(e.size, 0);
        EXPECT_GT(e.line, 0);
    }
}

class ProfileFile : public ::testing::Test {
  protected:
    void SetUp() override {
        fault::resetFaults();
        ::CreateDirectoryA(kDir.c_str(), nullptr);
        emptyDir();
    }
    void TearDown() override {
        fault::resetFaults();
        emptyDir();
    }
    const std::string ini = at("TEST.INI");
    const std::string original = "; keep me\r\n[Patch]\r\nName=P1\r\nCount=12abc\r\n\r\n[Other]\r\nx=1\r\n";

    void expectOriginalIntact() {
        EXPECT_EQ(readBytes(ini).value_or("<missing>"), original);
        EXPECT_EQ(dirEntries(), std::vector<std::string>{"TEST.INI"});
    }
};

} // namespace

// ---- reading ---------------------------------------------------------------

TEST_F(ProfileFile, MissingFileReadsAsEmpty) {
    IniFile p(ini);
    EXPECT_FALSE(p.isRegistry());
    EXPECT_EQ(p.getString("Patch", "Name", "dflt"), "dflt");
    EXPECT_EQ(p.getInt("Patch", "Count", 42), 42);
    EXPECT_FALSE(readBytes(ini).has_value()); // reading creates nothing
}

TEST_F(ProfileFile, ReadsValues) {
    writeBytes(ini, "[patch] ; note\r\nKey = some value  \r\nCount=12abc\r\nNeg=-3\r\nBad=abc\r\n  [Next]\r\n"
                    "Patch10=x\r\nEmpty=\r\n[Last]\r\nz=9");
    IniFile p(ini);
    EXPECT_EQ(p.getString("Patch", "key", "d"), " some value  ");
    EXPECT_EQ(p.getInt("Patch", "Count", 0), 12);
    EXPECT_EQ(p.getInt("Patch", "Neg", 0), -3);
    EXPECT_EQ(p.getInt("Patch", "Bad", 7), 7);
    EXPECT_EQ(p.getInt("Patch", "Empty", 8), 8);
    EXPECT_EQ(p.getString("Patch", "Empty", "d"), "");
    EXPECT_EQ(p.getString("Patch", "Patch1", "d"), "d");
    EXPECT_EQ(p.getString("Patch", "Patch10", "d"), "x"); // indented header does not stop reads
    EXPECT_EQ(p.getString("Next", "Patch10", "d"), "d");
    EXPECT_EQ(p.getString("Last", "z", "d"), "9");          // last line without line end
    EXPECT_EQ(p.getString("Missing", "z", ""), "");
    EXPECT_FALSE(p.value("Missing", "z").has_value());
    EXPECT_EQ(p.value("Patch", "Empty").value_or("<none>"), "");
}

TEST_F(ProfileFile, LongPhysicalLinesAreKeptWholeAndWrittenBackByteForByte) {
    std::string l300;
    for (int i = 0; i < 300; ++i) l300 += static_cast<char>('a' + i % 26);
    std::string l254(254, 'z');
    std::string l5000(5000, 'w');
    const std::string before = "[boot]\r\nshell=x\r\n[386Enh]\r\ndevice=" + l300 + "\r\n" + l254 + "\r\n" + l5000 +
                               "\r\n\r\n[A]\r\nk=1\r\n";
    writeBytes(ini, before);
    {
        IniFile p(ini);
        EXPECT_EQ(p.getString("386Enh", "device", "d"), l300);
        p.set("A", "k", "2");
    }
    std::string expected = before;
    expected.replace(expected.find("k=1"), 3, "k=2");
    EXPECT_EQ(readBytes(ini).value(), expected);
}

TEST_F(ProfileFile, OddBytesOfUntouchedLinesSurviveASave) {
    // A NUL, a lone CR and a CR before the line end belong to their lines.
    static const char kBefore[] = "[A]\r\nbin=a\0b\r\nlone\rcr\r\ntail\r\r\n[B]\r\nk=1";
    static const char kAfter[] = "[A]\r\nbin=a\0b\r\nlone\rcr\r\ntail\r\r\n[B]\r\nk=2";
    const std::string before(kBefore, sizeof kBefore - 1);
    writeBytes(ini, before);
    IniFile p(ini);
    EXPECT_EQ(p.getString("A", "bin", "d"), "a"); // read as text, it ends at the NUL
    p.set("B", "k", "2");
    EXPECT_EQ(readBytes(ini).value(), std::string(kAfter, sizeof kAfter - 1));
}

TEST_F(ProfileFile, UnixLineEndsAndMissingFinalLineEnd) {
    // Every line keeps its own line end; new lines end like the first line.
    writeBytes(ini, "[A]\nx=1\n\n[B]\ny=2");
    IniFile p(ini);
    EXPECT_EQ(p.getString("B", "y", "d"), "2");
    p.set("B", "y", "3");
    EXPECT_EQ(readBytes(ini).value(), "[A]\nx=1\n\n[B]\ny=3");
    p.set("B", "z", "4");
    EXPECT_EQ(readBytes(ini).value(), "[A]\nx=1\n\n[B]\ny=3\nz=4\n");
}

TEST_F(ProfileFile, BytesAfterCtrlZAreKept) {
    const std::string before = "[A]\r\nX=1\r\n\x1a\r\n[B]\r\nY=2\r\n";
    writeBytes(ini, before);
    IniFile p(ini);
    EXPECT_EQ(p.getString("B", "Y", "d"), "d"); // the text ends at the Ctrl-Z
    p.set("A", "Z", "3");
    EXPECT_EQ(readBytes(ini).value(), "[A]\r\nX=1\r\nZ=3\r\n\x1a\r\n[B]\r\nY=2\r\n");
}

// ---- writing ---------------------------------------------------------------

TEST_F(ProfileFile, SettingAKeyCreatesTheFileWithTwoLines) {
    IniFile p(ini);
    p.set("Sec", "Key", "Val");
    EXPECT_EQ(readBytes(ini).value(), "[Sec]\r\nKey=Val\r\n");
    EXPECT_EQ(p.getString("sec", "key", "d"), "Val");
    EXPECT_EQ(dirEntries(), std::vector<std::string>{"TEST.INI"}); // no temporary file left
}

TEST_F(ProfileFile, DeleteOnMissingFileCreatesItEmpty) {
    {
        IniFile p(ini);
        p.deleteKey("Sec", "Key");
        EXPECT_EQ(readBytes(ini).value_or("<missing>"), "");
    }
    ::DeleteFileA(ini.c_str());
    IniFile q(ini);
    q.deleteSection("Sec");
    EXPECT_EQ(readBytes(ini).value_or("<missing>"), "");
}

TEST_F(ProfileFile, EditsFollowTheLineRules) {
    writeBytes(ini, "[A]\r\nSizeMax=1\r\nx=1\r\n\r\n[B]\r\n[C]\r\nc=1\r\n\r\n");
    IniFile p(ini);
    p.set("A", "Size", "5"); // a new line: SizeMax=1 is another key
    p.set("A", "new", "n");  // above the empty line closing [A]
    p.set("B", "b", "1");    // directly before [C]
    p.set("C", "k", "v");    // above the file's final empty line
    p.set("D", "d", "1");    // appended
    EXPECT_EQ(readBytes(ini).value(),
              "[A]\r\nSizeMax=1\r\nx=1\r\nSize=5\r\nnew=n\r\n\r\n[B]\r\nb=1\r\n[C]\r\nc=1\r\nk=v\r\n\r\n[D]\r\nd=1\r\n");
    EXPECT_EQ(p.getString("A", "SizeMax", "d"), "1");
    EXPECT_EQ(p.getString("A", "Size", "d"), "5");
    p.deleteKey("A", "x");
    p.deleteKey("A", "size");
    p.deleteSection("C");
    EXPECT_EQ(readBytes(ini).value(), "[A]\r\nSizeMax=1\r\nnew=n\r\n\r\n[B]\r\nb=1\r\n[D]\r\nd=1\r\n");
}

TEST_F(ProfileFile, IndentedKeyLineIsSetAndDeletedNotDuplicated) {
    writeBytes(ini, "[A]\r\n   Path = C:\\OLD\r\nx=1\r\n");
    IniFile p(ini);
    EXPECT_EQ(p.getString("A", "path", "d"), " C:\\OLD");
    p.set("A", "Path", "C:\\NEW");
    EXPECT_EQ(readBytes(ini).value(), "[A]\r\nPath=C:\\NEW\r\nx=1\r\n");
    EXPECT_EQ(p.getString("A", "path", "d"), "C:\\NEW");
    writeBytes(ini, "[A]\r\n\tPath =C:\\OLD\r\nx=1\r\n");
    IniFile q(ini);
    q.deleteKey("A", "PATH");
    EXPECT_EQ(readBytes(ini).value(), "[A]\r\nx=1\r\n");
    EXPECT_EQ(q.getString("A", "Path", "gone"), "gone");
}

TEST_F(ProfileFile, AddValueSavesOnlyWhenItAdds) {
    writeBytes(ini, "[rename]\r\nNUL=C:\\A.TMP\r\n\r\n[x]\r\n");
    setWriteTime(ini, 2001, 2, 3);
    IniFile p(ini);
    p.addValue("RENAME", "nul", "c:\\a.tmp");
    // Not rewritten: content and time stamp as they were.
    EXPECT_EQ(readBytes(ini).value(), "[rename]\r\nNUL=C:\\A.TMP\r\n\r\n[x]\r\n");
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(::GetFileAttributesExA(ini.c_str(), GetFileExInfoStandard, &data));
    SYSTEMTIME st;
    ::FileTimeToSystemTime(&data.ftLastWriteTime, &st);
    EXPECT_EQ(st.wYear, 2001);

    p.addValue("rename", "NUL", "C:\\B.TMP");
    EXPECT_EQ(readBytes(ini).value(), "[rename]\r\nNUL=C:\\A.TMP\r\nNUL=C:\\B.TMP\r\n\r\n[x]\r\n");
    p.addValue("wininit", "a", "b");
    EXPECT_EQ(readBytes(ini).value(), "[rename]\r\nNUL=C:\\A.TMP\r\nNUL=C:\\B.TMP\r\n\r\n[x]\r\n\r\n[wininit]\r\na=b\r\n");
}

// ---- stamps and several readers -------------------------------------------

TEST_F(ProfileFile, TwoProfilesSeeEachOthersWrites) {
    IniFile a(ini);
    IniFile b(ini);
    a.set("S", "k", "1");
    EXPECT_EQ(b.getString("S", "k", "d"), "1");
    b.set("S", "k", "22");
    EXPECT_EQ(a.getString("S", "k", "d"), "22");
    EXPECT_EQ(a.getInt("S", "k", 0), 22);
    b.set("S", "other", "x");
    a.set("S", "third", "y"); // a reads b's line first, so it keeps it
    EXPECT_EQ(readBytes(ini).value(), "[S]\r\nk=22\r\nother=x\r\nthird=y\r\n");
}

TEST_F(ProfileFile, OutsideChangeIsSeenWhateverItsSizeAndTime) {
    writeBytes(ini, "[A]\r\nk=1\r\n");
    setWriteTime(ini, 2000, 1, 1);
    IniFile p(ini);
    EXPECT_EQ(p.getString("A", "k", "d"), "1");

    writeBytes(ini, "[A]\r\nk=2\r\n"); // same size, same time: seen all the same
    setWriteTime(ini, 2000, 1, 1);
    EXPECT_EQ(p.getString("A", "k", "d"), "2");

    writeBytes(ini, "[A]\r\nk=33\r\n");
    EXPECT_EQ(p.getInt("A", "k", 0), 33);

    ::DeleteFileA(ini.c_str()); // gone: reads as empty
    EXPECT_EQ(p.getString("A", "k", "d"), "d");
    EXPECT_FALSE(p.value("A", "k").has_value());
}

TEST_F(ProfileFile, EditsAreMadeToTheFileAsItIsNow) {
    auto p = std::make_unique<IniFile>(ini);
    p->set("A", "k", "mine");
    // Another writer replaces the file within the same second, with the
    // same size: the next edit starts from that file.
    writeBytes(ini, "[A]\r\nk=them\r\n");
    p->set("A", "j", "1");
    EXPECT_EQ(readBytes(ini).value(), "[A]\r\nk=them\r\nj=1\r\n");
    writeBytes(ini, "[A]\r\nk=theirs\r\nextra=1\r\n");
    p->addValue("A", "add", "2");
    EXPECT_EQ(readBytes(ini).value(), "[A]\r\nk=theirs\r\nextra=1\r\nadd=2\r\n");

    // Released, it writes nothing: a newer file stays, an erased one stays away.
    writeBytes(ini, "[A]\r\nk=newest\r\n");
    p.reset();
    EXPECT_EQ(readBytes(ini).value(), "[A]\r\nk=newest\r\n");
}

// A file this profile saved last is not read again while it still holds
// what was saved; but a change made by this process (another part of the
// run) counts even when the file keeps the very same size and time.
TEST_F(ProfileFile, ChangeByThisRunWithTheSameSizeAndTimeIsSeen) {
    platform::Platform &os = platform::current();
    IniFile p(ini);
    p.set("A", "k", "mine");
    p.set("A", "j", "1");
    ASSERT_EQ(readBytes(ini).value(), "[A]\r\nk=mine\r\nj=1\r\n");
    const platform::Result<platform::FileInfo> saved = os.info(ini);
    ASSERT_TRUE(saved.ok());

    ASSERT_EQ(os.writeNew(at("OTHER.TMP"), "[A]\r\nk=them\r\nj=1\r\n"), platform::kOk);
    ASSERT_EQ(os.replace(at("OTHER.TMP"), ini), platform::kOk);
    FILETIME same{};
    same.dwLowDateTime = static_cast<DWORD>(saved.value.written);
    same.dwHighDateTime = static_cast<DWORD>(saved.value.written >> 32);
    HANDLE h = ::CreateFileA(ini.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(::SetFileTime(h, nullptr, nullptr, &same));
    ::CloseHandle(h);
    const platform::Result<platform::FileInfo> now = os.info(ini);
    ASSERT_TRUE(now.ok());
    ASSERT_EQ(now.value.size, saved.value.size);
    ASSERT_EQ(now.value.written, saved.value.written);

    EXPECT_EQ(p.getString("A", "k", "d"), "them");
    p.set("A", "n", "2");
    EXPECT_EQ(readBytes(ini).value(), "[A]\r\nk=them\r\nj=1\r\nn=2\r\n");

    // An erase by the run is seen as well: the next edit makes a file of it alone.
    ASSERT_EQ(os.remove(ini), platform::kOk);
    p.set("B", "x", "y");
    EXPECT_EQ(readBytes(ini).value(), "[B]\r\nx=y\r\n");
}

TEST_F(ProfileFile, ErasedFileIsNotRecreatedOnRelease) {
    writeBytes(ini, "[A]\r\nk=1\r\n");
    {
        IniFile p(ini);
        p.set("A", "k", "2");
        ASSERT_TRUE(::DeleteFileA(ini.c_str()));
    }
    EXPECT_FALSE(readBytes(ini).has_value());
    // An edit after the erase makes a file of that edit alone.
    IniFile p(ini);
    p.set("A", "n", "3");
    EXPECT_EQ(readBytes(ini).value(), "[A]\r\nn=3\r\n");
}

TEST_F(ProfileFile, UnchangedProfileDoesNotSaveOnClose) {
    writeBytes(ini, "[A]\r\nk=1\r\n");
    auto p = std::make_unique<IniFile>(ini);
    EXPECT_EQ(p->getString("A", "k", "d"), "1");
    p->addValue("A", "K", "1"); // present: no change
    writeBytes(ini, "[A]\r\nk=outside\r\n");
    p.reset();
    EXPECT_EQ(readBytes(ini).value(), "[A]\r\nk=outside\r\n");
}

TEST_F(ProfileFile, ReturnedTextIsACopy) {
    writeBytes(ini, "[A]\r\nk=first\r\n");
    IniFile p(ini);
    std::string v = p.getString("A", "k", "d");
    p.set("A", "k", "second-and-longer");
    EXPECT_EQ(v, "first");
    EXPECT_EQ(p.getString("A", "k", "d"), "second-and-longer");
}

// ---- failures while saving --------------------------------------------------

TEST_F(ProfileFile, ReadOnlyFileRaisesError21AndStaysIntact) {
    writeBytes(ini, original);
    ASSERT_TRUE(::SetFileAttributesA(ini.c_str(), FILE_ATTRIBUTE_READONLY));
    IniFile p(ini);
    expectError21([&] { p.set("Patch", "Name", "P2"); }, ini);
    expectError21([&] { p.addValue("Patch", "Name", "P3"); }, ini);
    ::SetFileAttributesA(ini.c_str(), FILE_ATTRIBUTE_NORMAL);
    expectOriginalIntact();
}

TEST_F(ProfileFile, MissingDirectoryRaisesError21) {
    std::string path = at("NODIR\\X.INI");
    IniFile p(path);
    expectError21([&] { p.set("A", "k", "v"); }, path);
    EXPECT_EQ(dirEntries(), std::vector<std::string>{});
}

TEST_F(ProfileFile, DirectoryInPlaceOfTheFileRaisesError21) {
    std::string path = at("ADIR");
    ASSERT_TRUE(::CreateDirectoryA(path.c_str(), nullptr));
    {
        IniFile p(path);
        expectError21([&] { p.set("A", "k", "v"); }, path);
    }
    EXPECT_EQ(dirEntries(), std::vector<std::string>{"ADIR"});
    ::RemoveDirectoryA(path.c_str());
}

struct SaveFault {
    const char *name;
    fault::Call call;
    unsigned nth;
    DWORD error;
    bool shortWrite;
};

TEST_F(ProfileFile, EveryFailedStepOfSaveKeepsTheOriginal) {
    const SaveFault faults[] = {
        {"short write", fault::Call::WriteFile, 1, ERROR_DISK_FULL, true},
        {"failed write", fault::Call::WriteFile, 1, ERROR_DISK_FULL, false},
        {"failed close", fault::Call::CloseHandle, 2, ERROR_DISK_FULL, false},
        {"temporary file not created", fault::Call::CreateFileA, 2, ERROR_ACCESS_DENIED, false},
        {"replacing move refused", fault::Call::MoveFileExA, 1, ERROR_SHARING_VIOLATION, false},
    };
    for (const SaveFault &f : faults) {
        SCOPED_TRACE(f.name);
        writeBytes(ini, original);
        IniFile p(ini);
        ASSERT_EQ(p.getString("Patch", "Name", "d"), "P1");
        fault::resetFaults();
        fault::failCall(f.call, f.nth, f.error, f.shortWrite);
        expectError21([&] { p.set("Patch", "Name", "P2"); }, ini);
        EXPECT_TRUE(fault::faultFired());
        fault::resetFaults();
        expectOriginalIntact();
        // The change that failed is gone; the next edit is made to the file
        // as it is, and saved.
        EXPECT_EQ(p.getString("Patch", "Name", "d"), "P1");
        p.set("Patch", "Other", "1");
        EXPECT_EQ(readBytes(ini).value(),
                  "; keep me\r\n[Patch]\r\nName=P1\r\nCount=12abc\r\nOther=1\r\n\r\n[Other]\r\nx=1\r\n");
    }
}

TEST_F(ProfileFile, FaultSweepLeavesOldOrNewContentOnly) {
    const std::string updated = "; keep me\r\n[Patch]\r\nName=P2\r\nCount=12abc\r\n\r\n[Other]\r\nx=1\r\n";
    unsigned long calls = 0;
    {
        writeBytes(ini, original);
        IniFile p(ini);
        fault::resetFaults();
        p.set("Patch", "Name", "P2");
        calls = fault::callCount();
        ASSERT_EQ(readBytes(ini).value(), updated);
    }
    ASSERT_GT(calls, 5u);
    int raised = 0;
    for (unsigned long k = 1; k <= calls; ++k) {
        SCOPED_TRACE("failing call " + std::to_string(k));
        emptyDir();
        writeBytes(ini, original);
        IniFile p(ini);
        fault::resetFaults();
        fault::failNthCall(k);
        try {
            p.set("Patch", "Name", "P2");
        } catch (const Error &e) {
            EXPECT_EQ(e.number, 21);
            ++raised;
        }
        fault::resetFaults();
        std::string now = readBytes(ini).value_or("<missing>");
        EXPECT_TRUE(now == original || now == updated) << now;
        EXPECT_EQ(dirEntries(), std::vector<std::string>{"TEST.INI"});
    }
    EXPECT_GT(raised, 3);
}

TEST_F(ProfileFile, ReplacementWithoutReplacingMoveOnWindows95) {
    writeBytes(ini, original);
    IniFile p(ini);
    fault::resetFaults();
    fault::failCall(fault::Call::MoveFileExA, 1, ERROR_CALL_NOT_IMPLEMENTED);
    p.set("Other", "x", "2");
    EXPECT_EQ(readBytes(ini).value(), "; keep me\r\n[Patch]\r\nName=P1\r\nCount=12abc\r\n\r\n[Other]\r\nx=2\r\n");
    EXPECT_TRUE(fault::faultFired());
    EXPECT_EQ(dirEntries(), std::vector<std::string>{"TEST.INI"});

    // A new file is simply moved in.
    std::string fresh = at("NEW.INI");
    IniFile q(fresh);
    fault::resetFaults();
    fault::failCall(fault::Call::MoveFileExA, 1, ERROR_CALL_NOT_IMPLEMENTED);
    q.set("S", "k", "v");
    EXPECT_EQ(readBytes(fresh).value(), "[S]\r\nk=v\r\n");
    EXPECT_EQ(dirEntries(), (std::vector<std::string>{"NEW.INI", "TEST.INI"}));
    ::DeleteFileA(fresh.c_str());
}

TEST_F(ProfileFile, Windows95ReplacementRestoresTheOriginalOnFailure) {
    for (unsigned nth = 1; nth <= 2; ++nth) {
        SCOPED_TRACE(nth == 1 ? "original not moved aside" : "new file not moved in");
        writeBytes(ini, original);
        IniFile p(ini);
        fault::resetFaults();
        fault::failCall(fault::Call::MoveFileExA, 1, ERROR_CALL_NOT_IMPLEMENTED);
        fault::failCall(fault::Call::MoveFileA, nth, ERROR_ACCESS_DENIED);
        expectError21([&] { p.set("Other", "x", "2"); }, ini);
        fault::resetFaults();
        expectOriginalIntact();
    }
}

TEST_F(ProfileFile, UnreadableFileIsNotWrittenOver) {
    const SaveFault faults[] = {
        {"file not opened", fault::Call::CreateFileA, 1, ERROR_SHARING_VIOLATION, false},
        {"read fails", fault::Call::ReadFile, 1, ERROR_READ_FAULT, false},
    };
    for (const SaveFault &f : faults) {
        SCOPED_TRACE(f.name);
        writeBytes(ini, original);
        setWriteTime(ini, 2000, 1, 1);
        IniFile p(ini);
        setWriteTime(ini, 2000, 1, 2); // makes the next operation read again
        fault::resetFaults();
        fault::failCall(f.call, f.nth, f.error, f.shortWrite);
        expectError21([&] { p.set("Patch", "Name", "P2"); }, ini);
        EXPECT_TRUE(fault::faultFired());
        fault::resetFaults();
        EXPECT_EQ(readBytes(ini).value(), original);
        // Readable again: the next operation reads it and keeps every line.
        p.set("Patch", "Name", "P2");
        EXPECT_EQ(readBytes(ini).value(),
                  "; keep me\r\n[Patch]\r\nName=P2\r\nCount=12abc\r\n\r\n[Other]\r\nx=1\r\n");
    }
}

TEST_F(ProfileFile, NoMemoryForALineRaisesError1WithItsSize) {
    writeBytes(ini, "[A]\r\n" + std::string(200, 'v') + "\r\nk=1\r\n");
    g_failAllocation = 201;
    try {
        IniFile p(ini);
        g_failAllocation = 0;
        ADD_FAILURE() << "no Error raised";
    } catch (const Error &e) {
        g_failAllocation = 0;
        EXPECT_EQ(e.number, 1);
        EXPECT_EQ(e.size, 201);
        EXPECT_EQ(e.file, "tvpprof");
        EXPECT_EQ(e.message, "");
    }
    IniFile p(ini);
    EXPECT_EQ(p.getString("A", "k", "d"), "1");
}

// ---- registry mode ---------------------------------------------------------

namespace {


bool keyExists(const std::string &path) {
    HKEY key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

void createKey(const std::string &path) {
    HKEY key;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr),
              ERROR_SUCCESS)
        << path;
    ::RegCloseKey(key);
}

void rawSet(const std::string &path, const char *name, DWORD type, const void *data, DWORD size) {
    HKEY key;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExA(key, name, 0, type, static_cast<const BYTE *>(data), size), ERROR_SUCCESS);
    ::RegCloseKey(key);
}

struct RawValue {
    LONG rc = 0;
    DWORD type = 0;
    std::string data;
};

RawValue rawGet(const std::string &path, const char *name) {
    RawValue v;
    HKEY key;
    v.rc = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
    if (v.rc != ERROR_SUCCESS) return v;
    char buf[1024];
    DWORD size = sizeof buf;
    v.rc = ::RegQueryValueExA(key, name, nullptr, &v.type, reinterpret_cast<BYTE *>(buf), &size);
    if (v.rc == ERROR_SUCCESS) v.data.assign(buf, size);
    ::RegCloseKey(key);
    return v;
}

// Every key the profile opened or created was closed again.
void expectKeysBalanced() {
    EXPECT_EQ(fault::callCount(fault::Call::RegCloseKey),
              fault::callCount(fault::Call::RegOpenKeyExA) + fault::callCount(fault::Call::RegCreateKeyExA));
}

class ProfileRegistry : public ::testing::Test {
  protected:
    void SetUp() override {
        fault::resetFaults();
        e2e::deleteKeyTree(HKEY_LOCAL_MACHINE, kRegBase);
        ::CreateDirectoryA(kDir.c_str(), nullptr);
        emptyDir();
    }
    void TearDown() override {
        fault::resetFaults();
        e2e::deleteKeyTree(HKEY_LOCAL_MACHINE, kRegBase);
        emptyDir();
    }
    const std::string prefix = std::string(kRegBase) + "\\TAVRO.INI\\";
    std::string section(const std::string &name) const { return prefix + name; }
};

} // namespace

TEST_F(ProfileRegistry, PathGetsABackslashAndNothingIsRead) {
    RegistryMirror p(std::string(kRegBase) + "\\TAVRO.INI");
    EXPECT_TRUE(p.isRegistry());
    EXPECT_EQ(p.path(), prefix);
    RegistryMirror q(prefix);
    EXPECT_EQ(q.path(), prefix + "\\");
    EXPECT_FALSE(keyExists(kRegBase));
}

TEST_F(ProfileRegistry, SetCreatesKeysAndStringValues) {
    RegistryMirror p(std::string(kRegBase) + "\\TAVRO.INI");
    EXPECT_EQ(p.getString("Tavro", "root", "dflt"), "dflt");
    fault::resetFaults();
    p.set("Tavro", "root", "C:\\TAVRO");
    RawValue v = rawGet(section("Tavro"), "root");
    ASSERT_EQ(v.rc, ERROR_SUCCESS);
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(v.data, std::string("C:\\TAVRO\0", 9)); // with its terminator
    EXPECT_EQ(p.getString("tavro", "ROOT", "d"), "C:\\TAVRO");
    EXPECT_EQ(p.getString("Tavro", "missing", "d"), "d");
    EXPECT_EQ(p.getInt("Tavro", "root", 5), 5);

    p.set("Tavro", "empty", "");
    EXPECT_EQ(p.getString("Tavro", "empty", "d"), "");
    EXPECT_EQ(rawGet(section("Tavro"), "empty").data, std::string("\0", 1));

    // Deleting a section deletes its key with every value, as in a file.
    p.deleteSection("Tavro");
    EXPECT_FALSE(keyExists(section("Tavro")));
    EXPECT_EQ(p.getString("Tavro", "root", "d"), "d");
}

// The same calls mean the same on a file and on its registry mirror:
// numbers are read from both ([Patch] Interactive of the system TAVRO.INI
// among them), deleting a section removes everything it holds.
TEST_F(ProfileRegistry, SameCallsMeanTheSameAsOnAFile) {
    RegistryMirror reg(std::string(kRegBase) + "\\TAVRO.INI");
    IniFile file(at("TAVRO.INI"));
    for (Profile *p : {static_cast<Profile *>(&reg), static_cast<Profile *>(&file)}) {
        SCOPED_TRACE(p->isRegistry() ? "registry" : "file");
        p->set("Patch", "Interactive", "0");
        p->set("Patch", "Count", "12abc");
        p->set("Patch", "Big", "99999999999");
        p->set("Other", "x", "1");
        EXPECT_EQ(p->getInt("Patch", "Interactive", 1), 0);
        EXPECT_EQ(p->getInt("Patch", "Count", 0), 12);
        EXPECT_EQ(p->getInt("Patch", "Missing", 7), 7);
        EXPECT_EQ(p->getInt("Patch", "Big", 0), 2147483647); // clamped, never wrapped
        p->deleteKey("Patch", "Count");
        EXPECT_FALSE(p->value("Patch", "Count").has_value());
        p->deleteSection("Patch");
        EXPECT_FALSE(p->value("Patch", "Interactive").has_value());
        EXPECT_EQ(p->getInt("Patch", "Interactive", 1), 1);
        EXPECT_EQ(p->getString("Other", "x", "d"), "1");
        p->deleteSection("Nowhere"); // nothing to delete: no failure
        p->deleteKey("Nowhere", "k");
    }
    EXPECT_FALSE(keyExists(section("Patch")));
    EXPECT_EQ(readBytes(at("TAVRO.INI")).value_or("<missing>"), "[Other]\r\nx=1\r\n");

    // A number the registry holds as a REG_DWORD reads as that number.
    DWORD zero = 0;
    rawSet(section("Patch"), "Interactive", REG_DWORD, &zero, sizeof zero);
    EXPECT_EQ(reg.getInt("Patch", "Interactive", 1), 0);
    DWORD five = 5;
    rawSet(section("Patch"), "Interactive", REG_DWORD, &five, sizeof five);
    EXPECT_EQ(reg.getInt("Patch", "Interactive", 1), 5);
}

TEST_F(ProfileRegistry, DeletesOfMissingThingsChangeNothing) {
    RegistryMirror p(std::string(kRegBase) + "\\TAVRO.INI");
    fault::resetFaults();
    p.deleteKey("Nowhere", "k");
    p.deleteSection("Nowhere");
    EXPECT_FALSE(keyExists(kRegBase));

    fault::resetFaults();

    p.set("S", "a", "1");
    p.set("S", "b", "2");
    p.deleteKey("S", "missing");
    p.deleteKey("S", "a");
    EXPECT_EQ(rawGet(section("S"), "a").rc, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(p.getString("S", "b", "d"), "2");
    expectKeysBalanced();
}

TEST_F(ProfileRegistry, ValuesOfOtherTypesComeBackAsTheirBytes) {
    RegistryMirror p(std::string(kRegBase) + "\\TAVRO.INI");
    DWORD number = 0x00434241;
    rawSet(section("T"), "dword", REG_DWORD, &number, sizeof number);
    EXPECT_EQ(p.getString("T", "dword", "d"), "ABC");
    DWORD full = 0x44434241; // no NUL within its four bytes
    rawSet(section("T"), "dword4", REG_DWORD, &full, sizeof full);
    EXPECT_EQ(p.getString("T", "dword4", "d"), "ABCD");
    rawSet(section("T"), "bin", REG_BINARY, "hi\0there", 8);
    EXPECT_EQ(p.getString("T", "bin", "d"), "hi");
    rawSet(section("T"), "nothing", REG_BINARY, "", 0);
    EXPECT_EQ(p.getString("T", "nothing", "d"), "");
}

TEST_F(ProfileRegistry, TheValueBufferHolds256Bytes) {
    RegistryMirror p(std::string(kRegBase) + "\\TAVRO.INI");
    std::string s255(255, 'a');
    rawSet(section("L"), "fits", REG_SZ, s255.c_str(), 256);
    EXPECT_EQ(p.getString("L", "fits", "d"), s255);
    std::string s256(256, 'b');
    rawSet(section("L"), "tooLong", REG_SZ, s256.c_str(), 257);
    EXPECT_EQ(p.getString("L", "tooLong", "d"), "d");
    // Exactly 256 bytes without a terminator: all of them and nothing beyond,
    // or the default where the system wants room for a terminator it adds.
    rawSet(section("L"), "unterminated", REG_SZ, s256.data(), 256);
    std::string got = p.getString("L", "unterminated", "d");
    EXPECT_TRUE(got == s256 || got == "d") << got.size();
    std::string bin(256, 'c');
    rawSet(section("L"), "bin256", REG_BINARY, bin.data(), 256);
    EXPECT_EQ(p.getString("L", "bin256", "d"), bin);
    rawSet(section("L"), "bin300", REG_BINARY, std::string(300, 'e').data(), 300);
    EXPECT_EQ(p.getString("L", "bin300", "d"), "d");
}

TEST_F(ProfileRegistry, SectionKeyPathIsBoundedBy255Characters) {
    RegistryMirror p(std::string(kRegBase) + "\\TAVRO.INI");
    std::string fits(255 - prefix.size(), 's');
    std::string tooLong(256 - prefix.size(), 's');
    // A section whose key path does not fit cannot be written: as a file
    // that cannot be written, Error 21 names it.
    expectError21([&] { p.set(tooLong.c_str(), "k", "v"); }, section(tooLong));
    EXPECT_FALSE(keyExists(section(tooLong)));
    EXPECT_FALSE(keyExists(kRegBase));
    p.set(fits.c_str(), "k", "v");
    EXPECT_TRUE(keyExists(section(fits)));
    EXPECT_EQ(p.getString(fits.c_str(), "k", "d"), "v");
    rawSet(section(tooLong), "k", REG_SZ, "v", 2);
    EXPECT_EQ(p.getString(tooLong.c_str(), "k", "d"), "d");
    expectError21([&] { p.deleteSection(tooLong); }, section(tooLong));
    expectError21([&] { p.deleteKey(tooLong, "k"); }, section(tooLong));
    EXPECT_TRUE(keyExists(section(tooLong)));
}

TEST_F(ProfileRegistry, DeletingASectionRemovesItsWholeTree) {
    RegistryMirror p(std::string(kRegBase) + "\\TAVRO.INI");
    createKey(section("Deep\\a\\b\\c\\d\\e"));
    createKey(section("Deep\\a\\y"));
    createKey(section("Deep\\x"));
    createKey(section("Deep\\" + std::string(49, 'n')));
    rawSet(section("Deep\\a\\b"), "v", REG_SZ, "1", 2);
    rawSet(section("Deep"), "v", REG_SZ, "1", 2);
    createKey(section("Keep"));
    fault::resetFaults();
    p.deleteSection("Deep");
    expectKeysBalanced();
    EXPECT_FALSE(keyExists(section("Deep\\a\\b\\c\\d\\e")));
    EXPECT_FALSE(keyExists(section("Deep")));
    EXPECT_TRUE(keyExists(section("Keep")));

    // A section without subkeys.
    p.deleteSection("Keep");
    EXPECT_FALSE(keyExists(section("Keep")));
    EXPECT_TRUE(keyExists(prefix));
}

TEST_F(ProfileRegistry, SubkeyNamesOfAnyLengthAreDeleted) {
    RegistryMirror p(std::string(kRegBase) + "\\TAVRO.INI");
    const std::string long60 = "b" + std::string(59, 'n');
    const std::string long200(200, 'm');
    createKey(section("S\\a"));
    createKey(section("S\\" + long60 + "\\inner"));
    createKey(section("S\\" + long200));
    createKey(section("S\\c"));
    createKey(section("Keep"));
    fault::resetFaults();
    p.deleteSection("S");
    expectKeysBalanced();
    EXPECT_FALSE(keyExists(section("S")));
    EXPECT_TRUE(keyExists(section("Keep")));
}

TEST_F(ProfileRegistry, FailuresRaiseError21AndCloseEveryKey) {
    RegistryMirror p(std::string(kRegBase) + "\\TAVRO.INI");
    struct Case {
        const char *name;
        fault::Call call;
        unsigned nth;
    } cases[] = {
        {"open of the section", fault::Call::RegOpenKeyExA, 1},
        {"info of the section", fault::Call::RegQueryInfoKeyA, 1},
        {"info of a subkey", fault::Call::RegQueryInfoKeyA, 3},
        {"enumeration", fault::Call::RegEnumKeyExA, 2},
        {"open of a subkey", fault::Call::RegOpenKeyExA, 3},
        {"delete of a subkey", fault::Call::RegDeleteKeyA, 1},
        {"delete of the section", fault::Call::RegDeleteKeyA, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        createKey(section("T\\a\\b"));
        createKey(section("T\\c"));
        fault::resetFaults();
        fault::failCall(c.call, c.nth);
        expectError21([&] { p.deleteSection("T"); }, section("T"));
        EXPECT_TRUE(fault::faultFired());
        // Failed opens leave nothing to close.
        unsigned failedOpens = c.call == fault::Call::RegOpenKeyExA ? 1 : 0;
        EXPECT_EQ(fault::callCount(fault::Call::RegCloseKey), fault::callCount(fault::Call::RegOpenKeyExA) - failedOpens);
        EXPECT_TRUE(keyExists(section("T")));
        fault::resetFaults();
        e2e::deleteKeyTree(HKEY_LOCAL_MACHINE, section("T"));
    }

    // Reads that fail fall back to the default; writes and deletes that
    // fail raise Error 21 and change nothing.
    p.set("U", "k", "v");
    fault::resetFaults();
    fault::failCall(fault::Call::RegQueryValueExA);
    EXPECT_EQ(p.getString("U", "k", "d"), "d");
    expectKeysBalanced();
    fault::resetFaults();
    fault::failCall(fault::Call::RegSetValueExA);
    expectError21([&] { p.set("U", "k", "w"); }, section("U"));
    expectKeysBalanced();
    EXPECT_EQ(p.getString("U", "k", "d"), "v");
    fault::resetFaults();
    fault::failCall(fault::Call::RegDeleteValueA);
    expectError21([&] { p.deleteKey("U", "k"); }, section("U"));
    expectKeysBalanced();
    EXPECT_EQ(p.getString("U", "k", "d"), "v");
    fault::resetFaults();
    fault::failCall(fault::Call::RegCreateKeyExA);
    expectError21([&] { p.set("V", "k", "v"); }, section("V"));
    EXPECT_EQ(fault::callCount(fault::Call::RegCloseKey), 0u);
    EXPECT_FALSE(keyExists(section("V")));
}

TEST_F(ProfileRegistry, NoFileIsTouchedInRegistryMode) {
    std::string path = at("REG.INI");
    {
        RegistryMirror p(path);
        EXPECT_EQ(p.getString("rename", "NUL", "d"), "d");
        EXPECT_EQ(p.getInt("rename", "NUL", 3), 3);
    }
    EXPECT_EQ(dirEntries(), std::vector<std::string>{});
}

// The work file of a save is told from every other name, so that undo can
// remove one a cut run left without touching anything else.
TEST(IniWorkFileName, OnlyTheNamesASaveWritesTo) {
    EXPECT_TRUE(isIniWorkFileName("~TV0A1F.TMP"));
    EXPECT_TRUE(isIniWorkFileName("~TVFFFF.tmp"));
    EXPECT_FALSE(isIniWorkFileName("~TV0A1G.TMP")); // no hexadecimal digit
    EXPECT_FALSE(isIniWorkFileName("~TV0A1.TMP"));
    EXPECT_FALSE(isIniWorkFileName("~TV0A1FF.TMP"));
    EXPECT_FALSE(isIniWorkFileName("~TU0A1F.TMP"));
    EXPECT_FALSE(isIniWorkFileName("~TV0A1F.INI"));
    EXPECT_FALSE(isIniWorkFileName("TAVRO.INI"));
    EXPECT_FALSE(isIniWorkFileName("~C0k.h40"));
}
