// The field splitter of action and condition lines (text::splitLine), and
// how a line of a branch section is recognised: its key, comment lines,
// blanks.
#include "text/fields.h"

#include "text/patchmodel.h"
#include "text/textkit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The key and the fields of a line; an absent field ends the list.
std::vector<std::string> split(const std::string &line) {
    const text::SplitLine s = text::splitLine(line);
    std::vector<std::string> out{s.key};
    out.insert(out.end(), s.fields.begin(), s.fields.end());
    return out;
}

using Fields = std::vector<std::string>;

patch::ActionKind kindOf(const std::string &line) { return patch::decodeActionLine(line, 1).kind; }

} // namespace

TEST(SplitLine, KeyAndFields) {
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

TEST(SplitLine, LineWithoutEquals) {
    EXPECT_EQ(split("REBOOT"), (Fields{"REBOOT"}));
    const text::SplitLine s = text::splitLine("JUST,TEXT");
    EXPECT_EQ(s.key, "JUST,TEXT");
    EXPECT_FALSE(s.hasFields);
    EXPECT_EQ(s.field(0), std::nullopt);
}

TEST(SplitLine, BlanksAreKept) {
    EXPECT_EQ(split("K= A , B ,C "), (Fields{"K", " A ", " B ", "C "}));
    EXPECT_EQ(split("K =V"), (Fields{"K ", "V"}));
}

TEST(SplitLine, BackslashEscapes) {
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

TEST(SplitLine, CharacterAfterAnEscapedOne) {
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

TEST(ActionKey, KeywordDigitsThenEqualsOrEnd) {
    using K = patch::ActionKind;
    EXPECT_EQ(kindOf("FILE=X"), K::File);
    EXPECT_EQ(kindOf("file3=X"), K::File);
    EXPECT_EQ(kindOf("FILE12=X"), K::File);
    EXPECT_EQ(kindOf("FILE"), K::File);
    EXPECT_EQ(kindOf("FiLe007"), K::File);
    EXPECT_EQ(kindOf("REBOOT=1"), K::Reboot);
    EXPECT_EQ(kindOf("FILES=X"), K::Unknown);
    EXPECT_EQ(kindOf("FILE 1=X"), K::Unknown);
    EXPECT_EQ(kindOf("FILE-2=X"), K::Unknown);
    EXPECT_EQ(kindOf("FILE1 =X"), K::Unknown);
    EXPECT_EQ(kindOf("FIL"), K::Unknown);
    EXPECT_EQ(kindOf("FINDFILE2=X"), K::FindFile);
    EXPECT_EQ(kindOf("REGX=1"), K::Unknown);
    // The line is trimmed first: blanks around it do not matter.
    EXPECT_EQ(kindOf(" \tFILE=X \r"), K::File);
    EXPECT_EQ(kindOf(""), K::Blank);
    EXPECT_EQ(kindOf(" \t\v\f "), K::Blank);
}

TEST(CommentLine, SlashesOrSemicolon) {
    using K = patch::ActionKind;
    EXPECT_EQ(kindOf("; FILE1=TAVRO,A.DLL"), K::Comment);
    EXPECT_EQ(kindOf("//FILE1=TAVRO,A.DLL"), K::Comment);
    EXPECT_EQ(kindOf(";"), K::Comment);
    EXPECT_EQ(kindOf("//"), K::Comment);
    // After the trim a blank before ";" does not matter.
    EXPECT_EQ(kindOf(" ;x"), K::Comment);
    EXPECT_EQ(kindOf("/FILE1=TAVRO,A.DLL"), K::Unknown);
    EXPECT_EQ(kindOf("/"), K::Unknown);
    EXPECT_EQ(kindOf("#x"), K::Unknown);
}
