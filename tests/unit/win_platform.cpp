// Operations of the Win32 platform that do more than forward one Win32
// call, under Wine.
#include "platform/platform.h"
#include "platform/win32.h"
#include "testing/fault.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kDir = "C:\\SYSUNIT";

std::string at(const std::string &name) { return kDir + "\\" + name; }

void writeFile(const std::string &path, const std::string &bytes, const FILETIME &written) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD done = 0;
    ASSERT_TRUE(::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr));
    ASSERT_TRUE(::SetFileTime(h, nullptr, nullptr, &written));
    ::CloseHandle(h);
}

FILETIME fileTime(WORD year, WORD month, WORD day, WORD second) {
    SYSTEMTIME st = {};
    st.wYear = year;
    st.wMonth = month;
    st.wDay = day;
    st.wHour = 12;
    st.wSecond = second;
    FILETIME ft{};
    EXPECT_TRUE(::SystemTimeToFileTime(&st, &ft));
    return ft;
}

long long asNumber(const FILETIME &ft) {
    return static_cast<long long>((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

class PlatformInfo : public ::testing::Test {
  protected:
    void SetUp() override {
        fault::resetFaults();
        ::CreateDirectoryA(kDir.c_str(), nullptr);
    }
    void TearDown() override {
        fault::resetFaults();
        for (const char *name : {"A.INI", "B.INI", "SUB"}) {
            ::DeleteFileA(at(name).c_str());
            ::RemoveDirectoryA(at(name).c_str());
        }
        ::RemoveDirectoryA(kDir.c_str());
    }
};

} // namespace

TEST_F(PlatformInfo, GivesTheSizeAndLastWriteTimeOfAFile) {
    const FILETIME written = fileTime(1999, 6, 15, 10);
    writeFile(at("A.INI"), std::string(1234, 'x'), written);
    platform::Result<platform::FileInfo> r = platform::current().info(at("A.INI"));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value.size, 1234u);
    EXPECT_EQ(static_cast<long long>(r.value.written), asNumber(written));
    EXPECT_FALSE(r.value.directory);

    // One second later, one byte fewer: both numbers follow.
    writeFile(at("A.INI"), std::string(1233, 'x'), fileTime(1999, 6, 15, 11));
    r = platform::current().info(at("A.INI"));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value.size, 1233u);
    EXPECT_EQ(static_cast<long long>(r.value.written) - asNumber(written), 10000000); // 100-ns units

    writeFile(at("B.INI"), "", written);
    r = platform::current().info(at("B.INI"));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value.size, 0u);
}

TEST_F(PlatformInfo, FileHeldOpenWithoutSharingIsStillSeen) {
    writeFile(at("A.INI"), "[A]\r\n", fileTime(2001, 1, 1, 0));
    HANDLE held = ::CreateFileA(at("A.INI").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const platform::Result<platform::FileInfo> r = platform::current().info(at("A.INI"));
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.value.size, 5u);
    ::CloseHandle(held);
}

TEST_F(PlatformInfo, MissingOrWildcardNamesAreNoEntry) {
    writeFile(at("A.INI"), "[A]\r\n", fileTime(2001, 1, 1, 0));
    struct Case {
        std::string name;
        DWORD error;
    };
    const Case cases[] = {
        {at("MISSING.INI"), ERROR_FILE_NOT_FOUND},
        {kDir + "\\NODIR\\A.INI", ERROR_PATH_NOT_FOUND},
        // Each would find A.INI as a search pattern.
        {at("*.INI"), ERROR_INVALID_NAME},
        {at("?.INI"), ERROR_INVALID_NAME},
        {at("A.IN?"), ERROR_INVALID_NAME},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const platform::Result<platform::FileInfo> r = platform::current().info(c.name);
        EXPECT_FALSE(r.ok());
        EXPECT_EQ(r.code, c.error);
    }
}

TEST_F(PlatformInfo, ADirectoryIsAnEntryToo) {
    ASSERT_TRUE(::CreateDirectoryA(at("SUB").c_str(), nullptr));
    const platform::Result<platform::FileInfo> r = platform::current().info(at("SUB"));
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(r.value.directory);
    EXPECT_EQ(r.value.size, 0u);
    EXPECT_GT(r.value.written, 0u);
}

TEST_F(PlatformInfo, AnArmedFaultFailsTheCall) {
    writeFile(at("A.INI"), "[A]\r\n", fileTime(2001, 1, 1, 0));
    // This system answers with GetFileAttributesExA.
    fault::failCall(fault::Call::GetFileAttributesExA, 2, ERROR_NETWORK_BUSY);
    EXPECT_TRUE(platform::current().info(at("A.INI")).ok());
    const platform::Result<platform::FileInfo> r = platform::current().info(at("A.INI"));
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.code, static_cast<platform::Code>(ERROR_NETWORK_BUSY));
    EXPECT_TRUE(fault::faultFired());
}

// Windows 95 and NT 3.51 have no GetFileAttributesExA: there info() asks
// FindFirstFileA, and must give the same answers.
TEST_F(PlatformInfo, SystemsWithoutGetFileAttributesExGiveTheSameAnswers) {
    const FILETIME written = fileTime(1998, 3, 4, 20);
    writeFile(at("A.INI"), std::string(777, 'x'), written);
    ASSERT_TRUE(::CreateDirectoryA(at("SUB").c_str(), nullptr));
    ASSERT_TRUE(::SetFileAttributesA(at("A.INI").c_str(), FILE_ATTRIBUTE_READONLY));

    platform::Win32Calls oldest = fault::faultCalls();
    oldest.GetFileAttributesExA = nullptr;
    platform::Win32Platform oldSystem(oldest);
    const std::string names[] = {at("A.INI"), at("SUB"), at("MISSING.INI"), kDir + "\\NODIR\\A.INI", at("*.INI")};
    for (const std::string &name : names) {
        const platform::Result<platform::FileInfo> now = platform::current().info(name);
        platform::Result<platform::FileInfo> old;
        {
            platform::Install on(oldSystem);
            old = platform::current().info(name);
        }
        EXPECT_EQ(old.code, now.code) << name;
        EXPECT_EQ(old.value.size, now.value.size) << name;
        EXPECT_EQ(old.value.written, now.value.written) << name;
        EXPECT_EQ(old.value.directory, now.value.directory) << name;
        EXPECT_EQ(old.value.readOnly, now.value.readOnly) << name;
        EXPECT_EQ(old.value.writtenDos.has_value(), now.value.writtenDos.has_value()) << name;
        if (old.value.writtenDos && now.value.writtenDos) {
            EXPECT_EQ(old.value.writtenDos->date, now.value.writtenDos->date) << name;
            EXPECT_EQ(old.value.writtenDos->time, now.value.writtenDos->time) << name;
        }
    }
    const platform::Result<platform::FileInfo> file = platform::current().info(at("A.INI"));
    EXPECT_EQ(file.value.size, 777u);
    EXPECT_EQ(static_cast<long long>(file.value.written), asNumber(written));
    EXPECT_TRUE(file.value.readOnly);
    // The DOS date and time are those a reader of the open file gets.
    const platform::Result<platform::DosTime> opened = platform::current().readableTime(at("A.INI"));
    ASSERT_TRUE(opened.ok());
    ASSERT_TRUE(file.value.writtenDos.has_value());
    EXPECT_EQ(file.value.writtenDos->date, opened.value.date);
    EXPECT_EQ(file.value.writtenDos->time, opened.value.time);

    // There a fault of FindFirstFileA fails the question.
    fault::failCall(fault::Call::FindFirstFileA, 1, ERROR_NETWORK_BUSY);
    platform::Install on(oldSystem);
    EXPECT_EQ(platform::current().info(at("A.INI")).code, static_cast<platform::Code>(ERROR_NETWORK_BUSY));
    ::SetFileAttributesA(at("A.INI").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// What the preview's overlay asks the machine before changing one of its
// files: answered by opening the file, which changes nothing.
TEST_F(PlatformInfo, TheChangeProbeSeesAFileHeldOpenAndChangesNothing) {
    platform::Win32Platform machine(fault::faultCalls());
    const FILETIME written = fileTime(1999, 6, 15, 10);
    writeFile(at("A.INI"), "[A]\r\nX=1\r\n", written);
    ::CreateDirectoryA(at("SUB").c_str(), nullptr);
    using platform::Access;
    for (Access a : {Access::Remove, Access::Rename, Access::Overwrite, Access::Append})
        EXPECT_EQ(machine.probe(at("A.INI"), a), platform::kOk);
    EXPECT_EQ(machine.probe(at("NONE.INI"), Access::Remove), platform::kFileNotFound);
    EXPECT_EQ(machine.probe(at("SUB"), Access::Rename), platform::kOk);
    EXPECT_EQ(machine.probe(at("SUB"), Access::Remove), platform::kAccessDenied);
    {
        HANDLE held = ::CreateFileA(at("A.INI").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        for (Access a : {Access::Remove, Access::Rename, Access::Overwrite, Access::Append})
            EXPECT_EQ(machine.probe(at("A.INI"), a), platform::kSharingViolation);
        ::CloseHandle(held);
    }
    const platform::Result<platform::FileInfo> after = machine.info(at("A.INI"));
    ASSERT_TRUE(after.ok());
    EXPECT_EQ(after.value.size, 10u);
    EXPECT_EQ(static_cast<long long>(after.value.written), asNumber(written));
    EXPECT_EQ(machine.fileChanges(), 0u);
}
