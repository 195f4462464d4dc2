// The splitter's escape rule, and what it reports about the line beyond
// the fields.
#include "text/fields.h"

#include "text/patchmodel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Pieces = std::vector<std::string>;

Pieces split(const std::string &line) {
    const text::SplitLine s = text::splitLine(line);
    Pieces out{s.key};
    out.insert(out.end(), s.fields.begin(), s.fields.end());
    return out;
}

} // namespace

TEST(Splitter, EscapesLikeTheEngine) {
    EXPECT_EQ(split("K=WINDOWS,X,"), (Pieces{"K", "WINDOWS", "X", ""}));
    EXPECT_EQ(split("REBOOT"), (Pieces{"REBOOT"}));
    // After an escaped character a backslash stays and escapes nothing, so
    // the comma behind it separates.
    EXPECT_EQ(split("K=a\\,\\,b"), (Pieces{"K", "a,\\", "b"}));
    // Four backslashes arrive as two; three too.
    EXPECT_EQ(split("K=\\\\\\\\W"), (Pieces{"K", "\\\\W"}));
    EXPECT_EQ(split("K=\\\\\\W"), (Pieces{"K", "\\\\W"}));
}

TEST(Splitter, ConditionLinesAreSplitWithoutTheirTrailingBlanks) {
    // The registry form when the fourth field names a root: a path field more.
    const patch::ConditionLine reg = patch::decodeConditionLine("Condition0=B,1,4,HKLMx,P\\\\Q,N,a,b", 1, 0);
    EXPECT_TRUE(reg.fields.registry());
    EXPECT_EQ(reg.fields.path, std::optional<std::string>("P\\Q"));
    EXPECT_EQ(reg.fields.key, std::optional<std::string>("N"));
    EXPECT_EQ(reg.fields.rangeEnd, std::optional<std::string>("b"));
    const patch::ConditionLine ini = patch::decodeConditionLine("Condition0=B,1,4,Tavro,K,a,b", 1, 0);
    EXPECT_FALSE(ini.fields.registry());
    EXPECT_EQ(ini.fields.path, std::nullopt);
    EXPECT_EQ(ini.fields.key, std::optional<std::string>("K"));
    // A last field of blanks only is empty, as the engine trims the line
    // before it splits it: mode 4 then has no range end.
    const patch::ConditionLine blanks = patch::decodeConditionLine("Condition0=B,7,4,Tavro,K,a,   \t", 1, 0);
    EXPECT_EQ(blanks.fields.rangeEnd, std::optional<std::string>(""));
    EXPECT_TRUE(blanks.alwaysFails);
    EXPECT_EQ(blanks.text, "Condition0=B,7,4,Tavro,K,a,   \t");
    const patch::ConditionLine trailing = patch::decodeConditionLine("Condition0=B,7,1,Tavro,K,a  ", 1, 0);
    EXPECT_EQ(trailing.fields.rangeStart, std::optional<std::string>("a"));
}

TEST(Splitter, ReportsWhereEachPieceWasWritten) {
    const std::string line = "REG1=HKLM,SOFT\\WARE\\\\X,,V\\";
    const text::SplitLine s = text::splitLine(line);
    ASSERT_TRUE(s.hasFields);
    EXPECT_EQ(line.substr(s.keySpan.begin, s.keySpan.length), "REG1");
    ASSERT_EQ(s.fields.size(), 4u);
    EXPECT_EQ(line.substr(s.fieldSpans[1].begin, s.fieldSpans[1].length), "SOFT\\WARE\\\\X");
    EXPECT_EQ(s.fields[1], "SOFTWARE\\X");
    EXPECT_EQ(s.fieldSpans[2].length, 0u);
    // A backslash that ends the line belongs to the last field's span.
    EXPECT_EQ(line.substr(s.fieldSpans[3].begin, s.fieldSpans[3].length), "V\\");
    EXPECT_EQ(s.removedBackslashes, (std::vector<std::size_t>{14, 19, line.size() - 1}));
    EXPECT_EQ(s.field(4), std::nullopt);
    EXPECT_FALSE(text::splitLine("no key here").hasFields);
}
