#include "text/oldfields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Splits a line the way the engine does: the key at "=", then fields at ",".
// An absent field ends the list.
std::vector<std::string> split(const char *line, int escape = 1) {
    std::vector<std::string> out;
    const char *field = nextField(line, "=", escape);
    while (field) {
        out.emplace_back(field);
        field = nextField(nullptr, ",", escape);
    }
    return out;
}

using Fields = std::vector<std::string>;

} // namespace

TEST(NextField, KeyAndFields) {
    EXPECT_EQ(split("FILE1=WINDOWS,NEW.DLL,SYSTEM"), (Fields{"FILE1", "WINDOWS", "NEW.DLL", "SYSTEM"}));
    EXPECT_EQ(split("K=WINDOWS,,X"), (Fields{"K", "WINDOWS", "", "X"}));
    EXPECT_EQ(split("K=WINDOWS,X"), (Fields{"K", "WINDOWS", "X"}));
    EXPECT_EQ(split("K=WINDOWS,X,"), (Fields{"K", "WINDOWS", "X", ""}));
    EXPECT_EQ(split("K="), (Fields{"K", ""}));
    EXPECT_EQ(split("K=,"), (Fields{"K", "", ""}));
    EXPECT_EQ(split(""), (Fields{""}));
    // The last field is the rest of the line, "=" included.
    EXPECT_EQ(split("K=A=B,C=D"), (Fields{"K", "A=B", "C=D"}));
}

TEST(NextField, LineWithoutEquals) {
    EXPECT_EQ(split("REBOOT"), (Fields{"REBOOT"}));
    EXPECT_EQ(nextField("JUST,TEXT", "=", 1), std::string("JUST,TEXT"));
    EXPECT_EQ(nextField(nullptr, ",", 1), nullptr);
    EXPECT_EQ(nextField(nullptr, ",", 1), nullptr);
}

TEST(NextField, BlanksAreKept) {
    EXPECT_EQ(split("K= A , B ,C "), (Fields{"K", " A ", " B ", "C "}));
    EXPECT_EQ(split("K =V"), (Fields{"K ", "V"}));
}

TEST(NextField, BackslashEscapes) {
    // An escaped comma stays in the field.
    EXPECT_EQ(split("K=A\\,B,C"), (Fields{"K", "A,B", "C"}));
    // Doubled backslashes arrive single.
    EXPECT_EQ(split("K=C:\\\\DIR\\\\X.DLL"), (Fields{"K", "C:\\DIR\\X.DLL"}));
    // A single backslash is lost.
    EXPECT_EQ(split("K=C:\\DIR"), (Fields{"K", "C:DIR"}));
    // A backslash at the very end of the line is dropped, the line ends.
    EXPECT_EQ(split("K=A,B\\"), (Fields{"K", "A", "B"}));
    EXPECT_EQ(split("K=\\"), (Fields{"K", ""}));
    // An escaped "=" is no key end.
    EXPECT_EQ(split("A\\=B=C"), (Fields{"A=B", "C"}));
    // Marker of a substitution: two backslashes give one.
    EXPECT_EQ(split("K=\\\\TAVRO\\\\A.INI"), (Fields{"K", "\\TAVRO\\A.INI"}));
    // Four backslashes give two.
    EXPECT_EQ(split("K=C:\\\\\\\\WINDOWS"), (Fields{"K", "C:\\\\WINDOWS"}));
}

TEST(NextField, CharacterAfterAnEscapedOne) {
    // The character after an escaped one is looked at as a separator only.
    EXPECT_EQ(split("K=\\A,B"), (Fields{"K", "A", "B"}));
    // An escaped character right before a comma: the comma still separates.
    EXPECT_EQ(split("K=\\\\,B"), (Fields{"K", "\\", "B"}));
    // A backslash after an escaped character stays and escapes nothing:
    // three backslashes give two, and the comma after them separates.
    EXPECT_EQ(split("K=a\\\\\\,b"), (Fields{"K", "a\\\\", "b"}));
    EXPECT_EQ(split("K=\\x\\,y"), (Fields{"K", "x\\", "y"}));
    // The fourth backslash starts a new escape again.
    EXPECT_EQ(split("K=\\x\\y\\,z"), (Fields{"K", "x\\y,z"}));
}

TEST(NextField, EscapeOff) {
    EXPECT_EQ(split("K=C:\\DIR,A\\,B", 0), (Fields{"K", "C:\\DIR", "A\\", "B"}));
    EXPECT_EQ(split("K=X\\", 0), (Fields{"K", "X\\"}));
}

TEST(NextField, SeveralSeparatorsAndNoSeparators) {
    EXPECT_EQ(nextField("A;B,C", ",;", 1), std::string("A"));
    EXPECT_EQ(nextField(nullptr, ",;", 1), std::string("B"));
    EXPECT_EQ(nextField(nullptr, ",;", 1), std::string("C"));
    EXPECT_EQ(nextField(nullptr, ",;", 1), nullptr);
    EXPECT_EQ(nextField("A,B", "", 1), std::string("A,B"));
    EXPECT_EQ(nextField(nullptr, "", 1), nullptr);
    EXPECT_EQ(nextField("A,B", nullptr, 1), std::string("A,B"));
    EXPECT_EQ(nextField(nullptr, nullptr, 1), nullptr);
}

TEST(NextField, FieldsStayValidUntilTheNextLine) {
    const char *key = nextField("KEY=ONE,TWO", "=", 1);
    const char *one = nextField(nullptr, ",", 1);
    const char *two = nextField(nullptr, ",", 1);
    ASSERT_NE(two, nullptr);
    EXPECT_STREQ(key, "KEY");
    EXPECT_STREQ(one, "ONE");
    EXPECT_STREQ(two, "TWO");
    EXPECT_EQ(nextField(nullptr, ",", 1), nullptr);
    // A new line starts over after an exhausted one.
    EXPECT_STREQ(nextField("X=Y", "=", 1), "X");
    EXPECT_STREQ(nextField(nullptr, ",", 1), "Y");
}

TEST(NextField, LongLinesAreCutAt255) {
    std::string line = "K=" + std::string(400, 'v');
    std::vector<std::string> fields = split(line.c_str());
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(fields[1], std::string(253, 'v'));

    // A separator beyond character 255 is not seen.
    std::string late = std::string(255, 'a') + ",b";
    EXPECT_EQ(split(late.c_str()), (Fields{std::string(255, 'a')}));
    // A line of exactly 255 characters is kept whole.
    std::string exact = "K=" + std::string(252, 'x') + "y";
    fields = split(exact.c_str());
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(fields[1].back(), 'y');
}

TEST(ActionKey, KeywordDigitsThenEqualsOrEnd) {
    EXPECT_TRUE(isActionKey("FILE=X", "FILE"));
    EXPECT_TRUE(isActionKey("file3=X", "FILE"));
    EXPECT_TRUE(isActionKey("FILE12=X", "FILE"));
    EXPECT_TRUE(isActionKey("FILE", "FILE"));
    EXPECT_TRUE(isActionKey("FiLe007", "FILE"));
    EXPECT_TRUE(isActionKey("REBOOT=1", "REBOOT"));
    EXPECT_FALSE(isActionKey("FILES=X", "FILE"));
    EXPECT_FALSE(isActionKey("FILE 1=X", "FILE"));
    EXPECT_FALSE(isActionKey("FILE-2=X", "FILE"));
    EXPECT_FALSE(isActionKey("FILE1 =X", "FILE"));
    EXPECT_FALSE(isActionKey("FIL", "FILE"));
    EXPECT_FALSE(isActionKey("", "FILE"));
    EXPECT_FALSE(isActionKey("FINDFILE2=X", "FILE"));
    EXPECT_TRUE(isActionKey("FINDFILE2=X", "FINDFILE"));
    EXPECT_FALSE(isActionKey("REBOOT=1", "REG"));
    EXPECT_FALSE(isActionKey(" FILE=X", "FILE"));
    EXPECT_FALSE(isActionKey(nullptr, "FILE"));
    EXPECT_FALSE(isActionKey("FILE", nullptr));
}

TEST(CommentLine, SlashesOrSemicolon) {
    EXPECT_TRUE(isCommentLine("; FILE1=TAVRO,A.DLL"));
    EXPECT_TRUE(isCommentLine("//FILE1=TAVRO,A.DLL"));
    EXPECT_TRUE(isCommentLine(";"));
    EXPECT_TRUE(isCommentLine("//"));
    EXPECT_FALSE(isCommentLine("/FILE1=TAVRO,A.DLL"));
    EXPECT_FALSE(isCommentLine("/"));
    EXPECT_FALSE(isCommentLine(""));
    EXPECT_FALSE(isCommentLine(" ;x"));
    EXPECT_FALSE(isCommentLine("#x"));
    EXPECT_FALSE(isCommentLine(nullptr));
}

TEST(TrimBlanks, BothEnds) {
    std::string text = " \t\r\n\v\fFILE1 = X \t\r\n\v\f";
    trimBlanks(text);
    EXPECT_EQ(text, "FILE1 = X");
    text = " \t \n";
    trimBlanks(text);
    EXPECT_EQ(text, "");
    text = "";
    trimBlanks(text);
    EXPECT_EQ(text, "");
    text = "ABC";
    trimBlanks(text);
    EXPECT_EQ(text, "ABC");
    text = "\x01 A \x7f";
    trimBlanks(text);
    EXPECT_EQ(text, "\x01 A \x7f");
}
