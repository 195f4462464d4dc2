// The language file and the log through the platform: loading the catalog,
// its errors, and what print and write put on the console and in the log.
#include "app/nls.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

const std::string kReadErrorFor = "\a\nError reading NLS language file: ";

void writeFile(const std::string &path, const std::string &bytes) {
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
}

std::string readFile(const std::string &path, const char *mode = "r") {
    std::string text;
    FILE *f = std::fopen(path.c_str(), mode);
    if (!f) return "<missing>";
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
    return text;
}

// A language file of the given bytes in the current directory, removed at
// the end of the test.
class Catalog : public ::testing::Test {
  protected:
    std::string path_ = std::string("pure_nls_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                        ".msg";
    std::string log_ = std::string("pure_nls_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                       ".log";
    void TearDown() override {
        std::remove(path_.c_str());
        std::remove(log_.c_str());
    }
    // Loads the bytes; the standard error output of the load is kept.
    int load(NLSClass &nls, const std::string &bytes) {
        writeFile(path_, bytes);
        ::testing::internal::CaptureStderr();
        const int result = nls.load();
        loadErrors_ = ::testing::internal::GetCapturedStderr();
        return result;
    }
    std::string loadErrors_;
};

} // namespace

TEST_F(Catalog, MessagesByNumber) {
    NLSClass nls(path_);
    EXPECT_EQ(nls.languageFile(), path_);
    EXPECT_EQ(nls.count(), 0);
    ASSERT_EQ(load(nls, "First\nSecond message\n  Third %s %d\t\n"), 1);
    EXPECT_EQ(loadErrors_, "");
    EXPECT_EQ(nls.count(), 3);
    EXPECT_STREQ(nls.getMessage(1), "First");
    EXPECT_STREQ(nls.getMessage(2), "Second message");
    EXPECT_STREQ(nls.getMessage(3), "  Third %s %d\t");
    EXPECT_STREQ(nls.getMessage(0), "Second message");
    EXPECT_STREQ(nls.getMessage(-1), "Second message");
    EXPECT_STREQ(nls.getMessage(4), "Second message");
    EXPECT_STREQ(nls.getMessage(-2147483647 - 1), "Second message");
    EXPECT_STREQ(nls.getMessage(2147483647), "Second message");
}

TEST_F(Catalog, ListEndingLines) {
    struct Case {
        const char *bytes;
        int count;
    } cases[] = {
        {"\nA\nB\n", 0},
        {" \t \nA\n", 0},
        {"A\nB\n\nC\n", 2},
        {"A\nB\n   \nC\n", 2},
        {"A\nrem comment\nC\n", 1},
        {"A\n  REM comment\nC\n", 1},
        {"A\nReMark\nC\n", 1},
        {"A\nrem\n", 1},
        {"A\n\t; comment\nC\n", 1},
        {"A\n# comment\nC\n", 1},
        {"A\nB\nC\n; trailing comment\n# more\nrem more\n", 3},
        {"A\nre\nC\n", 3},
        {"A\nr;em\nx#\n", 3},
        {"", 0},
    };
    for (const Case &c : cases) {
        NLSClass nls(path_);
        ASSERT_EQ(load(nls, c.bytes), 1) << c.bytes;
        EXPECT_EQ(nls.count(), c.count) << c.bytes;
    }
}

TEST_F(Catalog, LastLineWithoutLineEnd) {
    NLSClass nls(path_);
    ASSERT_EQ(load(nls, "one\ntwo words "), 1);
    EXPECT_EQ(nls.count(), 2);
    EXPECT_STREQ(nls.getMessage(2), "two words ");
}

TEST_F(Catalog, FewerThanTwoMessages) {
    NLSClass none(path_);
    ASSERT_EQ(load(none, "\n"), 1);
    EXPECT_EQ(none.count(), 0);
    EXPECT_STREQ(none.getMessage(1), "");
    EXPECT_STREQ(none.getMessage(2), "");

    NLSClass one(path_);
    ASSERT_EQ(load(one, "only\n"), 1);
    EXPECT_STREQ(one.getMessage(1), "only");
    EXPECT_STREQ(one.getMessage(2), "");
    EXPECT_STREQ(one.getMessage(0), "");
}

TEST_F(Catalog, LongLineIsOneMessageCutAt510Characters) {
    const std::string full(510, 'x');
    NLSClass fits(path_);
    ASSERT_EQ(load(fits, full + "\nnext\n"), 1);
    ASSERT_EQ(fits.count(), 2);
    EXPECT_EQ(fits.getMessage(1), full);
    EXPECT_STREQ(fits.getMessage(2), "next");

    // 600 characters: one message of the first 510; the next line is the
    // next message.
    const std::string longLine = std::string(510, 'a') + std::string(90, 'b');
    NLSClass cut(path_);
    ASSERT_EQ(load(cut, longLine + "\r\nsecond\r\nthird\r\n"), 1);
    ASSERT_EQ(cut.count(), 3);
    EXPECT_EQ(cut.getMessage(1), std::string(510, 'a'));
    EXPECT_STREQ(cut.getMessage(2), "second");
    EXPECT_STREQ(cut.getMessage(3), "third");

    // A very long line without a line end at the end of the file.
    NLSClass huge(path_);
    ASSERT_EQ(load(huge, "first\n" + std::string(5000, 'z')), 1);
    EXPECT_EQ(huge.count(), 2);
    EXPECT_EQ(huge.getMessage(2), std::string(510, 'z'));
}

TEST_F(Catalog, NulAndCtrlZ) {
    // A NUL ends the message's text but not its line; a Ctrl-Z ends the file.
    NLSClass nls(path_);
    ASSERT_EQ(load(nls, std::string("ab\0cd\nnext\nlast\x1a" "after\n", 21)), 1);
    ASSERT_EQ(nls.count(), 3);
    EXPECT_STREQ(nls.getMessage(1), "ab");
    EXPECT_STREQ(nls.getMessage(2), "next");
    EXPECT_STREQ(nls.getMessage(3), "last");
}

TEST_F(Catalog, ReloadReplacesMessages) {
    NLSClass nls(path_);
    ASSERT_EQ(load(nls, "a\nb\nc\n"), 1);
    ASSERT_EQ(load(nls, "x\n"), 1);
    EXPECT_EQ(nls.count(), 1);
    EXPECT_STREQ(nls.getMessage(1), "x");
    EXPECT_STREQ(nls.getMessage(3), "");
}

TEST_F(Catalog, MissingFileIsReported) {
    NLSClass nls("no_such_dir_pure_nls/none.msg");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(nls.load(), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), kReadErrorFor + "no_such_dir_pure_nls/none.msg\n\n");
    EXPECT_EQ(nls.count(), 0);
    EXPECT_STREQ(nls.getMessage(2), "");
}

TEST_F(Catalog, PathLongerThan80IsRefused) {
    // A file exists under the first 80 characters of the path: it must not
    // be taken for the language file.
    const std::string shortPath = std::string(76, 'p') + ".msg";
    ASSERT_EQ(shortPath.size(), NLSClass::kLanguageFileMax);
    writeFile(shortPath, "from the wrong file\nB\n");
    const std::string longPath = shortPath + "X";

    NLSClass tooLong(longPath);
    EXPECT_EQ(tooLong.languageFile(), shortPath);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(tooLong.load(), 0);
    // The error says why the file is not read.
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "\a\nError reading NLS language file (the path is longer than 80 characters): " + longPath + "\n\n");
    EXPECT_EQ(tooLong.count(), 0);

    // Exactly 80 characters is fine.
    NLSClass exact(shortPath);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(exact.load(), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_STREQ(exact.getMessage(1), "from the wrong file");
    std::remove(shortPath.c_str());
}

TEST_F(Catalog, CrLfLineEnds) {
    NLSClass nls(path_);
    ASSERT_EQ(load(nls, "one\r\ntwo\r\n\r\nthree\r\n"), 1);
    EXPECT_EQ(nls.count(), 2);
    EXPECT_STREQ(nls.getMessage(1), "one");
    EXPECT_STREQ(nls.getMessage(2), "two");
    // A CR elsewhere belongs to the message.
    NLSClass lone(path_);
    ASSERT_EQ(load(lone, "a\rb\r\nc\r\r\n"), 1);
    EXPECT_STREQ(lone.getMessage(1), "a\rb");
    EXPECT_STREQ(lone.getMessage(2), "c\r");
}

TEST_F(Catalog, PrintGoesToConsoleAndLog) {
    NLSClass nls(path_);
    ASSERT_EQ(load(nls, "Banner\nOther\n"), 1);

    // Before a log is open, the console only.
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(nls.print("%s\n", "early"), 6);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "early\n");
    EXPECT_FALSE(nls.logOpen());

    nls.setLogFile(log_.c_str(), 0);
    ASSERT_TRUE(nls.logOpen());
    EXPECT_EQ(nls.logFileName(), log_);

    ::testing::internal::CaptureStdout();
    EXPECT_EQ(nls.print("%s\n", nls.getMessage(1)), 7);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Banner\n");
    ::testing::internal::CaptureStderr();
    nls.write(engine::Stream::Err, std::string("\n\a") + nls.getMessage(2) + ": C:\\X\n", true);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "\n\aOther: C:\\X\n");
    // The log is flushed after each write: readable while still open.
    EXPECT_EQ(readFile(log_), "Banner\n\n\aOther: C:\\X\n");
#ifdef _WIN32
    EXPECT_EQ(readFile(log_, "rb"), "Banner\r\n\r\n\aOther: C:\\X\r\n");
#endif

    // Long formatted texts arrive whole.
    const std::string big(10000, 'q');
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(nls.print("%s%s\n", big.c_str(), orNull(nullptr)), 10007);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), big + "(null)\n");

    // Closing the log stops logging.
    nls.setLogFile(nullptr, 0);
    EXPECT_FALSE(nls.logOpen());
    EXPECT_EQ(nls.logFileName(), "");
    ::testing::internal::CaptureStdout();
    nls.print("after\n");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "after\n");
    EXPECT_EQ(readFile(log_), "Banner\n\n\aOther: C:\\X\n" + big + "(null)\n");
}

TEST_F(Catalog, AppendOrTruncateLog) {
    writeFile(log_, "old run\n");
    {
        NLSClass nls(path_);
        nls.setLogFile(log_.c_str(), 1);
        ASSERT_TRUE(nls.logOpen());
        ::testing::internal::CaptureStdout();
        nls.print("new run\n");
        ::testing::internal::GetCapturedStdout();
    }
    EXPECT_EQ(readFile(log_), "old run\nnew run\n");
    {
        NLSClass nls(path_);
        nls.setLogFile(log_.c_str(), 0);
        ASSERT_TRUE(nls.logOpen());
        EXPECT_EQ(readFile(log_), "");
        ::testing::internal::CaptureStdout();
        nls.print("third\n");
        ::testing::internal::GetCapturedStdout();
        // Switching to another log closes the first.
        nls.setLogFile(path_.c_str(), 0);
        ASSERT_TRUE(nls.logOpen());
        ::testing::internal::CaptureStdout();
        nls.print("elsewhere\n");
        ::testing::internal::GetCapturedStdout();
    }
    EXPECT_EQ(readFile(log_), "third\n");
    EXPECT_EQ(readFile(path_), "elsewhere\n");
}

TEST_F(Catalog, LogThatCannotBeOpened) {
    NLSClass nls(path_);
    nls.setLogFile(log_.c_str(), 0);
    ASSERT_TRUE(nls.logOpen());

    nls.setLogFile("no_such_dir_pure_nls/x.log", 1);
    EXPECT_FALSE(nls.logOpen());
    EXPECT_EQ(nls.logFileName(), "no_such_dir_pure_nls/x.log");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(nls.print("%d\n", 42), 3);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "42\n");
    EXPECT_EQ(readFile(log_), "");

    nls.setLogFile("", 1);
    EXPECT_FALSE(nls.logOpen());
    EXPECT_EQ(nls.logFileName(), "");

    // A name longer than 259 characters is not opened: a file under its
    // first 259 characters stays as it was.
    std::string cutName;
    while (cutName.size() + 20 < NLSClass::kLogFileMax) cutName += "./";
    cutName += "pure_nls_cut";
    cutName.resize(NLSClass::kLogFileMax, 'L');
    writeFile(cutName, "not a log");
    nls.setLogFile((cutName + "X").c_str(), 0);
    EXPECT_FALSE(nls.logOpen());
    EXPECT_EQ(readFile(cutName), "not a log");
    std::remove(cutName.c_str());
}
