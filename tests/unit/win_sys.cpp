// Calls of the platform seam that do more than forward one Win32 call, under
// Wine.
#include "sys.h"

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

class FileSizeAndTime : public ::testing::Test {
  protected:
    void SetUp() override {
        sys::resetFaults();
        ::CreateDirectoryA(kDir.c_str(), nullptr);
    }
    void TearDown() override {
        sys::resetFaults();
        for (const char *name : {"A.INI", "B.INI", "SUB"}) {
            ::DeleteFileA(at(name).c_str());
            ::RemoveDirectoryA(at(name).c_str());
        }
        ::RemoveDirectoryA(kDir.c_str());
    }
};

} // namespace

TEST_F(FileSizeAndTime, GivesTheSizeAndLastWriteTimeOfAFile) {
    const FILETIME written = fileTime(1999, 6, 15, 10);
    writeFile(at("A.INI"), std::string(1234, 'x'), written);
    long long size = -1, time = -1;
    ASSERT_TRUE(sys::GetFileSizeAndTime(at("A.INI").c_str(), &size, &time));
    EXPECT_EQ(size, 1234);
    EXPECT_EQ(time, asNumber(written));

    // One second later, one byte fewer: both numbers follow.
    writeFile(at("A.INI"), std::string(1233, 'x'), fileTime(1999, 6, 15, 11));
    ASSERT_TRUE(sys::GetFileSizeAndTime(at("A.INI").c_str(), &size, &time));
    EXPECT_EQ(size, 1233);
    EXPECT_EQ(time - asNumber(written), 10000000); // 100-ns units

    writeFile(at("B.INI"), "", written);
    ASSERT_TRUE(sys::GetFileSizeAndTime(at("B.INI").c_str(), &size, &time));
    EXPECT_EQ(size, 0);
}

TEST_F(FileSizeAndTime, FileHeldOpenWithoutSharingIsStillSeen) {
    writeFile(at("A.INI"), "[A]\r\n", fileTime(2001, 1, 1, 0));
    HANDLE held = ::CreateFileA(at("A.INI").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    long long size = -1, time = -1;
    EXPECT_TRUE(sys::GetFileSizeAndTime(at("A.INI").c_str(), &size, &time));
    EXPECT_EQ(size, 5);
    ::CloseHandle(held);
}

TEST_F(FileSizeAndTime, MissingOrWildcardNamesAreNoEntryAndLeaveTheOutputs) {
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
        long long size = 7, time = 8;
        ::SetLastError(0);
        EXPECT_FALSE(sys::GetFileSizeAndTime(c.name.c_str(), &size, &time));
        EXPECT_EQ(::GetLastError(), c.error);
        EXPECT_EQ(size, 7);
        EXPECT_EQ(time, 8);
    }
}

TEST_F(FileSizeAndTime, ADirectoryIsAnEntryToo) {
    ASSERT_TRUE(::CreateDirectoryA(at("SUB").c_str(), nullptr));
    long long size = -1, time = -1;
    EXPECT_TRUE(sys::GetFileSizeAndTime(at("SUB").c_str(), &size, &time));
    EXPECT_EQ(size, 0);
    EXPECT_GT(time, 0);
}

TEST_F(FileSizeAndTime, AnArmedFaultFailsTheCall) {
    writeFile(at("A.INI"), "[A]\r\n", fileTime(2001, 1, 1, 0));
    sys::failCall(sys::Call::GetFileSizeAndTime, 2, ERROR_NETWORK_BUSY);
    long long size = -1, time = -1;
    EXPECT_TRUE(sys::GetFileSizeAndTime(at("A.INI").c_str(), &size, &time));
    size = -1;
    ::SetLastError(0);
    EXPECT_FALSE(sys::GetFileSizeAndTime(at("A.INI").c_str(), &size, &time));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NETWORK_BUSY));
    EXPECT_EQ(size, -1);
    EXPECT_TRUE(sys::faultFired());
}
