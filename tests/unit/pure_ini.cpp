// Line grammar, lookups and edits of the INI line table.
#include "tavupd_error.h"
#include "tvpprof_ini.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using ini::Table;
using Lines = std::vector<std::string>;

namespace {

Table read(const std::string &bytes) {
    Table t;
    t.read(bytes.data(), bytes.size());
    return t;
}

// A table read from the lines, each ended by CR LF.
Table tableOf(const Lines &lines) {
    std::string bytes;
    for (const std::string &line : lines) bytes += line + "\r\n";
    return read(bytes);
}

Lines split(const std::string &bytes) { return read(bytes).lines(); }

// Checks the invariant every edit keeps: more slots than lines, and no line
// served at or past the count.
void expectInvariant(const Table &t) {
    EXPECT_GT(t.capacity(), t.count());
    EXPECT_EQ(t.lineAt(static_cast<long>(t.count())), nullptr);
    EXPECT_EQ(t.lineAt(-1), nullptr);
}

} // namespace

// ---- reading lines ----------------------------------------------------------

TEST(IniRead, FinalLineWithAndWithoutLineEnd) {
    EXPECT_EQ(split("a\nb"), (Lines{"a", "b"}));
    EXPECT_EQ(split("a\r\nb\r\n"), (Lines{"a", "b"}));
    EXPECT_EQ(split(""), Lines{});
    EXPECT_EQ(split("\n"), Lines{""});
    EXPECT_EQ(split("\r\n\n"), (Lines{"", ""}));
    EXPECT_EQ(split("x\n\ny"), (Lines{"x", "", "y"}));
}

TEST(IniRead, LongPhysicalLinesAreKeptWhole) {
    std::string l300(300, 'q');
    for (size_t i = 0; i < l300.size(); ++i) l300[i] = static_cast<char>('a' + i % 26);
    EXPECT_EQ(split(l300 + "\r\nnext\r\n"), (Lines{l300, "next"}));

    // Lengths around the old 254-character read: no piece, no extra line.
    for (size_t n : {253u, 254u, 255u, 256u, 508u}) {
        SCOPED_TRACE(n);
        std::string line(n, 'z');
        EXPECT_EQ(split(line + "\r\nafter\r\n"), (Lines{line, "after"}));
        EXPECT_EQ(split(line), Lines{line});
        EXPECT_EQ(split(line + "\r\n"), Lines{line});
    }
    // A very long line.
    std::string huge(100000, 'h');
    Lines got = split("a\r\n" + huge + "\r\nb");
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[1].size(), huge.size());
}

TEST(IniRead, NulBytesStayInTheirLine) {
    std::string text("ab\0cd\r\nef\r\n", 11);
    Table t = read(text);
    ASSERT_EQ(t.count(), 2u);
    EXPECT_EQ(t.lines()[0], std::string("ab\0cd", 5));
    EXPECT_EQ(t.lines()[1], "ef");
    // Seen as text, the line ends at the NUL; written back, it is whole.
    EXPECT_STREQ(t.lineAt(0), "ab");
    EXPECT_EQ(t.bytes(), text);
}

TEST(IniRead, LineEndsAndLoneCarriageReturns) {
    // CR LF and LF both end a line; a CR anywhere else belongs to its line.
    Table t = read("[A]\r\nk=v\nlone\rcr\r\ncr\r\r\n\r\ntail");
    EXPECT_EQ(t.lines(), (Lines{"[A]", "k=v", "lone\rcr", "cr\r", "", "tail"}));
    EXPECT_STREQ(t.lookup("A", "k"), "v");
}

TEST(IniRead, TextEndsAtCtrlZAndWhatFollowsIsKept) {
    const std::string bytes = "[A]\r\nX=1\r\n\x1a\r\n[B]\r\nY=2\r\n";
    Table t = read(bytes);
    EXPECT_EQ(t.lines(), (Lines{"[A]", "X=1"}));
    EXPECT_EQ(t.findSection("B"), -1);
    EXPECT_EQ(t.bytes(), bytes);
    // Lines go in before the Ctrl-Z; what follows it is written back as it was.
    EXPECT_TRUE(t.setValue("A", "Z", "3"));
    EXPECT_EQ(t.bytes(), "[A]\r\nX=1\r\nZ=3\r\n\x1a\r\n[B]\r\nY=2\r\n");
    EXPECT_TRUE(t.setValue("C", "c", "1"));
    EXPECT_EQ(t.bytes(), "[A]\r\nX=1\r\nZ=3\r\n\r\n[C]\r\nc=1\r\n\x1a\r\n[B]\r\nY=2\r\n");

    // A Ctrl-Z inside a line ends the line there.
    Table u = read("[A]\r\nX=1\x1a" "junk\r\n");
    EXPECT_EQ(u.lines(), (Lines{"[A]", "X=1"}));
    EXPECT_TRUE(u.setValue("A", "X", "2"));
    EXPECT_EQ(u.bytes(), "[A]\r\nX=2\x1a" "junk\r\n");
    EXPECT_TRUE(u.setValue("A", "Y", "3"));
    EXPECT_EQ(u.bytes(), "[A]\r\nX=2\r\nY=3\r\n\x1a" "junk\r\n");
}

TEST(IniWrite, UntouchedLinesKeepTheirOwnLineEnds) {
    // LF-only lines stay LF-only; lines the table adds end like the first.
    Table t = read("[A]\nx=1\r\nmixed=1\n\n[B]\ny=2");
    EXPECT_TRUE(t.setValue("B", "y", "3"));
    EXPECT_TRUE(t.setValue("A", "n", "4"));
    EXPECT_EQ(t.bytes(), "[A]\nx=1\r\nmixed=1\nn=4\n\n[B]\ny=3");
    EXPECT_TRUE(t.setValue("B", "z", "5"));
    EXPECT_EQ(t.bytes(), "[A]\nx=1\r\nmixed=1\nn=4\n\n[B]\ny=3\nz=5\n");

    Table crlf = read("[A]\r\nx=1");
    EXPECT_TRUE(crlf.setValue("A", "y", "2"));
    EXPECT_EQ(crlf.bytes(), "[A]\r\nx=1\r\ny=2\r\n");
    // Deleting keeps the neighbours' line ends.
    EXPECT_TRUE(crlf.setValue("A", "x", nullptr));
    EXPECT_EQ(crlf.bytes(), "[A]\r\ny=2\r\n");
    Table empty;
    EXPECT_TRUE(empty.setValue("S", "k", "v"));
    EXPECT_EQ(empty.bytes(), "[S]\r\nk=v\r\n");

    // A text ending in CR is ended by CR LF, so that it reads back whole.
    Table lf = read("[A]\nx=1\n");
    EXPECT_TRUE(lf.setValue("A", "x", "cr\r"));
    EXPECT_EQ(lf.bytes(), "[A]\nx=cr\r\r\n");
    EXPECT_EQ(read(lf.bytes()).lines(), lf.lines());
}

TEST(IniGrammar, SectionLines) {
    EXPECT_TRUE(ini::isSectionLine("[A]"));
    EXPECT_TRUE(ini::isSectionLine("["));
    EXPECT_TRUE(ini::isSectionLine("  \t[Patch]  "));
    EXPECT_TRUE(ini::isSectionLine("\v\f\r[x"));
    EXPECT_FALSE(ini::isSectionLine("a[b]"));
    EXPECT_FALSE(ini::isSectionLine(";[b]"));
    EXPECT_FALSE(ini::isSectionLine(""));
    EXPECT_FALSE(ini::isSectionLine("    "));
    EXPECT_FALSE(ini::isSectionLine(nullptr));
    // Only the first 255 characters count.
    EXPECT_TRUE(ini::isSectionLine((std::string(254, ' ') + "[x]").c_str()));
    EXPECT_FALSE(ini::isSectionLine((std::string(255, ' ') + "[x]").c_str()));
}

TEST(IniGrammar, HeaderFormattingIsBounded) {
    std::string out;
    ASSERT_TRUE(ini::formatHeader("Patch", out));
    EXPECT_EQ(out, "[Patch]");
    ASSERT_TRUE(ini::formatHeader(std::string(253, 's').c_str(), out));
    EXPECT_EQ(out.size(), 255u);
    EXPECT_FALSE(ini::formatHeader(std::string(254, 's').c_str(), out));
    EXPECT_FALSE(ini::formatHeader(nullptr, out));
}

TEST(IniGrammar, CaseFoldingIsAsciiOnly) {
    EXPECT_TRUE(ini::equalsPrefixNoCase("HeLLo world", "hello", 5));
    EXPECT_FALSE(ini::equalsPrefixNoCase("Hel", "hello", 5));
    EXPECT_TRUE(ini::equalsPrefixNoCase("abc", "ABC", 10));
    EXPECT_FALSE(ini::equalsPrefixNoCase("\xC4x", "\xE4x", 2));
    EXPECT_TRUE(ini::equalsNoCase("A=B", "a=b"));
    EXPECT_FALSE(ini::equalsNoCase("A=B", "a=b "));
}

TEST(IniGrammar, IntegersReadLikePercentD) {
    int v = 99;
    ASSERT_TRUE(ini::parseInt("12abc", v));
    EXPECT_EQ(v, 12);
    ASSERT_TRUE(ini::parseInt("-3", v));
    EXPECT_EQ(v, -3);
    ASSERT_TRUE(ini::parseInt(" \t+7 ", v));
    EXPECT_EQ(v, 7);
    ASSERT_TRUE(ini::parseInt("0", v));
    EXPECT_EQ(v, 0);
    ASSERT_TRUE(ini::parseInt("2147483647", v));
    EXPECT_EQ(v, INT_MAX);
    ASSERT_TRUE(ini::parseInt("-2147483648", v));
    EXPECT_EQ(v, INT_MIN);
    ASSERT_TRUE(ini::parseInt("4294967295", v));
    EXPECT_EQ(v, -1);
    ASSERT_TRUE(ini::parseInt("99999999999999999999999999", v)); // wraps, never undefined
    v = 5;
    EXPECT_FALSE(ini::parseInt("", v));
    EXPECT_FALSE(ini::parseInt("abc", v));
    EXPECT_FALSE(ini::parseInt("-", v));
    EXPECT_FALSE(ini::parseInt("- 3", v));
    EXPECT_FALSE(ini::parseInt(nullptr, v));
    EXPECT_EQ(v, 5);
}

// ---- finding sections and keys ----------------------------------------------

TEST(IniLookup, SectionsAreFoundInTheFirstColumnIgnoringCase) {
    Table t = tableOf({"  [Patch]", "a=0", "[patch] ; note", "a=1", "[Patch]", "a=2", "[Pat", "[Patch2]"});
    EXPECT_EQ(t.findSection("Patch"), 2);
    EXPECT_EQ(t.findSection("PATCH"), 2);
    EXPECT_EQ(t.findSection("Patch2"), 7);
    EXPECT_EQ(t.findSection("Pat"), -1);
    EXPECT_EQ(t.findSection("Other"), -1);
    EXPECT_EQ(t.findSection(nullptr), -1);
    EXPECT_STREQ(t.lookup("patch", "a"), "1");
    Table none;
    EXPECT_EQ(none.findSection("Patch"), -1);
    EXPECT_EQ(none.lookup("Patch", "a"), nullptr);
}

TEST(IniLookup, KeyValueRules) {
    Table t = tableOf({"[S]", "Key = some value  ", "Patch10=x", "  Indented=yes", ";Hidden=1", "Empty=",
                       "NoEquals", "Count=12abc", "[T]", "Other=1"});
    EXPECT_STREQ(t.lookup("s", "key"), " some value  ");
    EXPECT_EQ(t.lookup("S", "Patch1"), nullptr);
    EXPECT_STREQ(t.lookup("S", "Patch10"), "x");
    EXPECT_STREQ(t.lookup("S", "indented"), "yes");
    EXPECT_EQ(t.lookup("S", "Hidden"), nullptr);
    EXPECT_STREQ(t.lookup("S", ";Hidden"), "1");
    EXPECT_STREQ(t.lookup("S", "Empty"), "");
    EXPECT_EQ(t.lookup("S", "NoEquals"), nullptr);
    EXPECT_EQ(t.lookup("S", "Other"), nullptr); // the section ends at "[T]"
    EXPECT_STREQ(t.lookup("T", "Other"), "1");
    EXPECT_EQ(t.lookup("S", nullptr), nullptr);
}

TEST(IniLookup, ReadsStopOnlyAtABracketInTheFirstColumn) {
    Table t = tableOf({"[A]", "x=1", "  [B]", "y=2", "[C]", "z=3"});
    EXPECT_STREQ(t.lookup("A", "y"), "2"); // the indented header does not end it
    EXPECT_EQ(t.lookup("A", "z"), nullptr);
    EXPECT_EQ(t.lookup("B", "y"), nullptr); // an indented header is not found
}

TEST(IniLookup, FirstMatchWins) {
    Table t = tableOf({"[A]", "k=first", "k=second", "[A]", "j=other"});
    EXPECT_STREQ(t.lookup("A", "k"), "first");
    EXPECT_EQ(t.lookup("A", "j"), nullptr); // the second copy is never seen
}

// ---- setting and deleting ----------------------------------------------------

TEST(IniSet, IntoEmptyTableGivesHeaderAndLine) {
    Table t;
    EXPECT_TRUE(t.setValue("Sec", "Key", "Val"));
    EXPECT_EQ(t.lines(), (Lines{"[Sec]", "Key=Val"}));
    expectInvariant(t);
    EXPECT_EQ(t.bytes(), "[Sec]\r\nKey=Val\r\n");
}

TEST(IniSet, ReplacesTheKeysLine) {
    Table t = tableOf({"[S]", "a=1", "KEY=old", "b=2"});
    EXPECT_TRUE(t.setValue("s", "Key", "new"));
    EXPECT_EQ(t.lines(), (Lines{"[S]", "a=1", "Key=new", "b=2"}));
}

TEST(IniSet, ALongerKeyIsNotTheKeysLine) {
    Table t = tableOf({"[S]", "SizeMax=1", "Size=5"});
    EXPECT_TRUE(t.setValue("S", "Size", "9"));
    EXPECT_EQ(t.lines(), (Lines{"[S]", "SizeMax=1", "Size=9"}));

    Table u = tableOf({"[S]", "SizeMax=1", "", "[T]"});
    EXPECT_TRUE(u.setValue("S", "Size", "9"));
    EXPECT_EQ(u.lines(), (Lines{"[S]", "SizeMax=1", "Size=9", "", "[T]"}));
    EXPECT_STREQ(u.lookup("S", "SizeMax"), "1");
    EXPECT_STREQ(u.lookup("S", "Size"), "9");

    // Deleting the shorter key leaves the longer one alone.
    EXPECT_TRUE(u.setValue("S", "size", nullptr));
    EXPECT_EQ(u.lines(), (Lines{"[S]", "SizeMax=1", "", "[T]"}));
    EXPECT_FALSE(u.setValue("S", "Size", nullptr));
    EXPECT_EQ(u.lines(), (Lines{"[S]", "SizeMax=1", "", "[T]"}));
    expectInvariant(u);
}

TEST(IniSet, KeyLineIsFoundByTheRuleOfReads) {
    EXPECT_STREQ(ini::valueOfKey("  Key  = v", "key"), " v");
    EXPECT_STREQ(ini::valueOfKey("\tKEY=", "Key"), "");
    EXPECT_EQ(ini::valueOfKey("KeyName=x", "Key"), nullptr);
    EXPECT_EQ(ini::valueOfKey("Key x=1", "Key"), nullptr);
    EXPECT_EQ(ini::valueOfKey(";Key=1", "Key"), nullptr);
    EXPECT_EQ(ini::valueOfKey("Ke", "Key"), nullptr);
    EXPECT_STREQ(ini::valueOfKey("=1", ""), "1");
    EXPECT_EQ(ini::valueOfKey("x=1", ""), nullptr);
    EXPECT_EQ(ini::valueOfKey(nullptr, "k"), nullptr);
}

TEST(IniSet, NewKeyGoesAboveTheEmptyLineClosingTheSection) {
    Table t = tableOf({"[A]", "x=1", "", "[B]", "y=2"});
    t.setValue("A", "k", "v");
    EXPECT_EQ(t.lines(), (Lines{"[A]", "x=1", "k=v", "", "[B]", "y=2"}));
}

TEST(IniSet, NewKeyGoesDirectlyBeforeTheNextHeader) {
    Table t = tableOf({"[A]", "[B]", "y=2"});
    t.setValue("A", "k", "v");
    EXPECT_EQ(t.lines(), (Lines{"[A]", "k=v", "[B]", "y=2"}));
}

TEST(IniSet, LastSectionWithFinalEmptyLine) {
    Table t = tableOf({"[B]", "y=2", "[A]", "x=1", ""});
    t.setValue("A", "k", "v");
    EXPECT_EQ(t.lines(), (Lines{"[B]", "y=2", "[A]", "x=1", "k=v", ""}));
}

TEST(IniSet, OnlyOneEmptyLineIsStepped) {
    Table t = tableOf({"[A]", "x=1", "", "", "[B]"});
    t.setValue("A", "k", "v");
    EXPECT_EQ(t.lines(), (Lines{"[A]", "x=1", "", "k=v", "", "[B]"}));
}

TEST(IniSet, ALineOfBlanksIsNotEmpty) {
    Table t = tableOf({"[A]", "x=1", "  ", "[B]"});
    t.setValue("A", "k", "v");
    EXPECT_EQ(t.lines(), (Lines{"[A]", "x=1", "  ", "k=v", "[B]"}));
}

TEST(IniSet, IndentedHeaderEndsTheSectionForEdits) {
    Table t = tableOf({"[A]", "x=1", "  [B]", "k=old"});
    t.setValue("A", "k", "new");
    EXPECT_EQ(t.lines(), (Lines{"[A]", "x=1", "k=new", "  [B]", "k=old"}));
}

TEST(IniSet, IndentedKeyLineIsFoundByEdits) {
    Table t = tableOf({"[A]", "  k=old", "x=1"});
    EXPECT_TRUE(t.setValue("A", "k", "new"));
    EXPECT_EQ(t.lines(), (Lines{"[A]", "k=new", "x=1"}));
    EXPECT_STREQ(t.lookup("A", "k"), "new");

    Table u = tableOf({"[A]", "\tk  =  old", "x=1"});
    EXPECT_TRUE(u.setValue("A", "K", "new"));
    EXPECT_EQ(u.lines(), (Lines{"[A]", "K=new", "x=1"}));
    // Deleting finds it too: no hidden line is left for reads.
    Table w = tableOf({"[A]", "   k = old", "x=1"});
    EXPECT_TRUE(w.setValue("A", "k", nullptr));
    EXPECT_EQ(w.lines(), (Lines{"[A]", "x=1"}));
    EXPECT_EQ(w.lookup("A", "k"), nullptr);
}

TEST(IniSet, MissingSectionIsAppendedAfterAnEmptyLine) {
    Table t = tableOf({"[A]", "x=1"});
    t.setValue("New", "k", "v");
    EXPECT_EQ(t.lines(), (Lines{"[A]", "x=1", "", "[New]", "k=v"}));
    Table u = tableOf({"[A]", "x=1", ""});
    u.setValue("New", "k", "v");
    EXPECT_EQ(u.lines(), (Lines{"[A]", "x=1", "", "[New]", "k=v"}));
    expectInvariant(u);
}

TEST(IniSet, DeleteKey) {
    Table t = tableOf({"[A]", "x=1", "k=2", "y=3", "[B]", "k=4"});
    EXPECT_TRUE(t.setValue("A", "K", nullptr));
    EXPECT_EQ(t.lines(), (Lines{"[A]", "x=1", "y=3", "[B]", "k=4"}));
    EXPECT_FALSE(t.setValue("A", "k", nullptr)); // the one in [B] is out of reach
    EXPECT_FALSE(t.setValue("Missing", "k", nullptr));
    EXPECT_EQ(t.lines(), (Lines{"[A]", "x=1", "y=3", "[B]", "k=4"}));
    expectInvariant(t);
}

TEST(IniSet, DeleteKeyDoesNotTakeTheClosingEmptyLine) {
    Table t = tableOf({"[A]", "x=1", "", "[B]"});
    EXPECT_FALSE(t.setValue("A", "k", nullptr));
    EXPECT_EQ(t.lines(), (Lines{"[A]", "x=1", "", "[B]"}));
}

TEST(IniSet, DeleteSectionTakesCommentsAndEmptyLinesUpToTheNextHeader) {
    Table t = tableOf({"; top", "[A]", "x=1", "; note", "", "  [B]", "y=2", "[C]"});
    EXPECT_TRUE(t.setValue("a", nullptr, "ignored"));
    EXPECT_EQ(t.lines(), (Lines{"; top", "  [B]", "y=2", "[C]"}));
    EXPECT_TRUE(t.setValue("C", nullptr, nullptr));
    EXPECT_EQ(t.lines(), (Lines{"; top", "  [B]", "y=2"}));
    EXPECT_FALSE(t.setValue("Z", nullptr, nullptr));
    expectInvariant(t);
}

TEST(IniSet, EmptyKeyTakesOnlyALineWithoutName) {
    Table t = tableOf({"[A]", "x=1"});
    t.setValue("A", "", "v");
    EXPECT_EQ(t.lines(), (Lines{"[A]", "x=1", "=v"}));
    t.setValue("A", "", "w");
    EXPECT_EQ(t.lines(), (Lines{"[A]", "x=1", "=w"}));
}

TEST(IniSet, OverlongSectionIsRefused) {
    std::string longName(254, 'n');
    Table t = tableOf({"[A]"});
    EXPECT_FALSE(t.setValue(longName.c_str(), "k", "v"));
    EXPECT_EQ(t.lines(), Lines{"[A]"});
    std::string fits(253, 'n');
    EXPECT_TRUE(t.setValue(fits.c_str(), "k", "v"));
    EXPECT_EQ(t.findSection(fits.c_str()), 2);
}

TEST(IniSet, LongValuesAreKeptWhole) {
    std::string value(600, 'v');
    Table t;
    t.setValue("A", "k", value.c_str());
    EXPECT_EQ(t.lines()[1], "k=" + value);
}

TEST(IniSet, GrowsInStepsOfTen) {
    Table t;
    for (int i = 0; i < 45; ++i) {
        std::string key = "k" + std::to_string(i);
        t.setValue("A", key.c_str(), "v");
        expectInvariant(t);
        EXPECT_EQ(t.capacity() % 10, 0u);
    }
    EXPECT_EQ(t.count(), 46u);
    EXPECT_STREQ(t.lookup("A", "k44"), "v");
    EXPECT_STREQ(t.lineAt(45), "k44=v");
}

TEST(IniSet, ReadTableIsSizedToLinesPlusTen) {
    Table t = tableOf(Lines(25, "x"));
    EXPECT_EQ(t.capacity(), 35u);
    t.read("y\ny\ny\n", 6); // large enough already: kept
    EXPECT_EQ(t.capacity(), 35u);
    expectInvariant(t);
}

// ---- adding lines ------------------------------------------------------------

TEST(IniAdd, DuplicateInAnyCaseChangesNothing) {
    Table t = tableOf({"[rename]", "NUL=C:\\A.TMP", "", "[other]"});
    EXPECT_FALSE(t.addValue("Rename", "nul", "c:\\a.tmp"));
    EXPECT_EQ(t.lines(), (Lines{"[rename]", "NUL=C:\\A.TMP", "", "[other]"}));
}

TEST(IniAdd, DuplicateTestReachesPastTheSection) {
    Table t = tableOf({"[A]", "x=1", "[B]", "k=v"});
    EXPECT_FALSE(t.addValue("A", "K", "V"));
    EXPECT_EQ(t.count(), 4u);
    // Lines above the header do not count.
    Table u = tableOf({"k=v", "[A]"});
    EXPECT_TRUE(u.addValue("A", "k", "v"));
    EXPECT_EQ(u.lines(), (Lines{"k=v", "[A]", "k=v"}));
}

TEST(IniAdd, NewLineGoesAboveAllClosingEmptyLines) {
    Table t = tableOf({"[rename]", "NUL=a", "", "", "[B]"});
    EXPECT_TRUE(t.addValue("rename", "NUL", "b"));
    EXPECT_EQ(t.lines(), (Lines{"[rename]", "NUL=a", "NUL=b", "", "", "[B]"}));
    EXPECT_TRUE(t.addValue("rename", "NUL", "c"));
    EXPECT_EQ(t.lines(), (Lines{"[rename]", "NUL=a", "NUL=b", "NUL=c", "", "", "[B]"}));
}

TEST(IniAdd, SameKeyMayOccurManyTimes) {
    Table t = tableOf({"[rename]", "NUL=a", "  [next]"});
    EXPECT_TRUE(t.addValue("rename", "NUL", "b"));
    EXPECT_EQ(t.lines(), (Lines{"[rename]", "NUL=a", "NUL=b", "  [next]"}));
}

TEST(IniAdd, MissingSectionIsAppended) {
    Table t;
    EXPECT_TRUE(t.addValue("rename", "NUL", "x"));
    EXPECT_EQ(t.lines(), (Lines{"[rename]", "NUL=x"}));
    Table u = tableOf({"[A]"});
    EXPECT_TRUE(u.addValue("rename", "NUL", "x"));
    EXPECT_EQ(u.lines(), (Lines{"[A]", "", "[rename]", "NUL=x"}));
}

TEST(IniAdd, OverlongLineOrHeaderIsRefused) {
    Table t = tableOf({"[A]"});
    std::string v253(253, 'v'); // "k=" + 253 = 255 characters: fits
    EXPECT_TRUE(t.addValue("A", "k", v253.c_str()));
    std::string v254(254, 'v');
    EXPECT_FALSE(t.addValue("A", "k", v254.c_str()));
    EXPECT_FALSE(t.addValue(std::string(254, 's').c_str(), "k", "v"));
    EXPECT_EQ(t.lines(), (Lines{"[A]", "k=" + v253}));
}

// ---- whole files ---------------------------------------------------------------

TEST(IniRoundTrip, WrittenAndReadBackKeepsEveryLine) {
    Lines lines{"; comment", "", "[A]", "  x = 1 ", "\tweird", "[B] trailing", "k=v\r"};
    Table t = tableOf(lines);
    std::string bytes = t.bytes();
    EXPECT_EQ(bytes, "; comment\r\n\r\n[A]\r\n  x = 1 \r\n\tweird\r\n[B] trailing\r\nk=v\r\r\n");
    EXPECT_EQ(split(bytes), lines);
}

TEST(IniRoundTrip, LongLinesSurviveSavingByteForByte) {
    std::string l300(300, 'q');
    for (size_t i = 0; i < l300.size(); ++i) l300[i] = static_cast<char>('A' + i % 26);
    std::string l254(254, 'z');
    std::string disk = "[boot]\r\nshell=x\r\n" + l300 + "\r\n" + l254 + "\r\n\r\n[386Enh]\r\ndevice=a\r\n";
    Table t = read(disk);
    ASSERT_EQ(t.count(), 7u);
    EXPECT_EQ(t.lines()[2], l300);
    EXPECT_EQ(t.lines()[3], l254);
    // A change elsewhere writes every other line back as it was.
    EXPECT_TRUE(t.setValue("386Enh", "device", "b"));
    std::string expected = disk;
    expected.replace(expected.find("device=a"), 8, "device=b");
    EXPECT_EQ(t.bytes(), expected);

    // A long value set by the program is one line when read back.
    Table u;
    std::string value(300, 'v');
    u.setValue("A", "k", value.c_str());
    Lines back = split(u.bytes());
    EXPECT_EQ(back, (Lines{"[A]", "k=" + value}));
}
