// The line rules of the language file and the lookup of a message by number.
#include "text/catalog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Messages = std::vector<std::string>;

// The messages 1..n of the bytes.
Messages parse(const std::string &bytes) {
    Messages all = catalog::parseMessages(bytes);
    EXPECT_FALSE(all.empty());
    EXPECT_EQ(all.front(), "") << "entry 0 holds nothing";
    return Messages(all.begin() + 1, all.end());
}

} // namespace

TEST(CatalogLines, EachLineIsOneMessageUpToItsLineEnd) {
    EXPECT_EQ(parse("one\r\ntwo\nthree"), (Messages{"one", "two", "three"}));
    // A CR elsewhere belongs to the message.
    EXPECT_EQ(parse("a\rb\r\nc\r\r\n"), (Messages{"a\rb", "c\r"}));
    // A NUL ends the message's text but not its line; a Ctrl-Z ends the file.
    EXPECT_EQ(parse(std::string("ab\0cd\nnext\nlast\x1a" "after\n", 21)), (Messages{"ab", "next", "last"}));
}

TEST(CatalogLines, ListEndsAtABlankLineOrAComment) {
    EXPECT_EQ(parse("A\nB\n   \nC\n"), (Messages{"A", "B"}));
    EXPECT_EQ(parse("A\n  REM comment\nC\n"), (Messages{"A"}));
    EXPECT_EQ(parse("A\nReMark\nC\n"), (Messages{"A"}));
    EXPECT_EQ(parse("A\n\t; comment\nC\n"), (Messages{"A"}));
    EXPECT_EQ(parse("A\n# comment\nC\n"), (Messages{"A"}));
    EXPECT_EQ(parse("A\nre\nr;em\nx#\n"), (Messages{"A", "re", "r;em", "x#"}));
    EXPECT_EQ(parse(""), Messages{});
    EXPECT_EQ(parse("\nA\n"), Messages{});
}

TEST(CatalogLines, LongLineIsOneMessageCutAt510Characters) {
    const std::string longLine = std::string(510, 'a') + std::string(90, 'b');
    EXPECT_EQ(parse(longLine + "\r\nsecond\r\n"), (Messages{std::string(510, 'a'), "second"}));
    EXPECT_EQ(parse("first\n" + std::string(5000, 'z')), (Messages{"first", std::string(510, 'z')}));
}

TEST(CatalogLookup, OtherNumbersStandForMessageTwo) {
    const catalog::Catalog messages(catalog::parseMessages("First\nSecond\nThird\n"));
    EXPECT_EQ(messages.count(), 3);
    EXPECT_STREQ(messages.message(1), "First");
    EXPECT_STREQ(messages.message(3), "Third");
    for (int n : {0, -1, 4, -2147483647 - 1, 2147483647}) EXPECT_STREQ(messages.message(n), "Second") << n;

    const catalog::Catalog one(catalog::parseMessages("only\n"));
    EXPECT_STREQ(one.message(1), "only");
    EXPECT_STREQ(one.message(2), "");
    EXPECT_STREQ(catalog::Catalog().message(1), "");
}

TEST(CatalogFormat, FormatsWholeTextsOfAnyLength) {
    const std::string big(10000, 'q');
    EXPECT_EQ(catalog::format("%s%s %d\n", big.c_str(), orNull(nullptr), -7), big + "(null) -7\n");
    EXPECT_EQ(catalog::format("%c%s", 7, "x"), "\ax");
}
