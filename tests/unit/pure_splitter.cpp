// The stateless splitter against the engine's nextField, and what it
// reports about the line beyond the fields.
#include "text/fields.h"

#include "tvpdf_condeval.h"
#include "tvpdf_fields.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Pieces = std::vector<std::string>;

// The key and fields the way the engine splits them.
Pieces engineSplit(const std::string &line) {
    Pieces out;
    for (const char *f = nextField(line.c_str(), "=", 1); f; f = nextField(nullptr, ",", 1)) out.emplace_back(f);
    return out;
}

Pieces split(const std::string &line) {
    const text::SplitLine s = text::splitLine(line);
    Pieces out{s.key};
    out.insert(out.end(), s.fields.begin(), s.fields.end());
    return out;
}

// Lines made of the characters that matter to the splitter.
std::string randomLine(std::mt19937 &rng, std::size_t maxLength) {
    static const char alphabet[] = "\\\\\\,,,==aK ";
    std::uniform_int_distribution<std::size_t> length(0, maxLength);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    std::string line(length(rng), ' ');
    for (char &c : line) c = alphabet[pick(rng)];
    return line;
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

TEST(Splitter, AgreesWithNextFieldOnRandomLines) {
    std::mt19937 rng(20240611);
    for (int i = 0; i < 20000; ++i) {
        const std::string line = randomLine(rng, 40);
        ASSERT_EQ(split(line), engineSplit(line)) << "line: " << line;
    }
    // Lines up to the engine's limit of 255 characters.
    for (int i = 0; i < 300; ++i) {
        const std::string line = randomLine(rng, 255);
        ASSERT_EQ(split(line), engineSplit(line)) << "line: " << line;
    }
}

TEST(Splitter, ConditionFieldsAgreeWithTheEngine) {
    std::mt19937 rng(7);
    for (int i = 0; i < 3000; ++i) {
        std::string line = "Condition0=B,1,2,";
        static const char *const fourth[] = {"HKLM", "hkcux", "HKU", "hku2", "Tavro", "", "HKCR\\,"};
        line += fourth[i % 7];
        line += randomLine(rng, 30);
        const condeval::ConditionFields engine = condeval::splitCondition(line);
        const text::SplitLine s = text::splitLine(line);
        const bool registry = engine.registry();
        ASSERT_EQ(engine.branch, s.field(0)) << line;
        ASSERT_EQ(engine.section, s.field(3)) << line;
        ASSERT_EQ(engine.path, registry ? s.field(4) : std::nullopt) << line;
        ASSERT_EQ(engine.key, s.field(registry ? 5 : 4)) << line;
        ASSERT_EQ(engine.rangeStart, s.field(registry ? 6 : 5)) << line;
        ASSERT_EQ(engine.rangeEnd, s.field(registry ? 7 : 6)) << line;
    }
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
