#include "tvpfile_subst.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

SubstituteClass engineList(const std::string &product = "C:\\TAVRO", const std::string &windows = "C:\\WINDOWS") {
    SubstituteClass list('\\');
    list.add("TAVRO", product);
    list.add("WINDOWS", windows);
    return list;
}

std::string expand(const SubstituteClass &list, std::string text) {
    list.substitute(text);
    return text;
}

} // namespace

TEST(Substitute, Variables) {
    const SubstituteClass list = engineList();
    EXPECT_EQ(expand(list, "\\WINDOWS\\SYSTEM"), "C:\\WINDOWS\\SYSTEM");
    EXPECT_EQ(expand(list, "\\windows\\system"), "C:\\WINDOWS\\system");
    EXPECT_EQ(expand(list, "\\TAVRO\\A.INI"), "C:\\TAVRO\\A.INI");
    EXPECT_EQ(expand(list, "\\WINDOWS\\SYSTEM\\X.DRV"), "C:\\WINDOWS\\SYSTEM\\X.DRV");
    EXPECT_EQ(expand(list, "x=\\TaVrO;y=\\WINDOWS"), "x=C:\\TAVRO;y=C:\\WINDOWS");
    // Nothing is required after the name.
    EXPECT_EQ(expand(list, "\\WINDOWSX"), "C:\\WINDOWSX");
    // A full path is expanded too: its backslash is a marker.
    EXPECT_EQ(expand(list, "C:\\WINDOWS\\SYSTEM"), "C:C:\\WINDOWS\\SYSTEM");
    EXPECT_EQ(expand(list, ""), "");
    EXPECT_EQ(expand(list, "no markers here"), "no markers here");
}

TEST(Substitute, DoubledMarkers) {
    const SubstituteClass list = engineList();
    EXPECT_EQ(expand(list, "C:\\\\WINDOWS\\SYSTEM"), "C:\\WINDOWS\\SYSTEM");
    EXPECT_EQ(expand(list, "a\\\\b"), "a\\b");
    EXPECT_EQ(expand(list, "a\\\\\\\\b"), "a\\\\b");
    // Three: the first two give one, the third is a marker of its own.
    EXPECT_EQ(expand(list, "\\\\\\TAVRO"), "\\C:\\TAVRO");
    EXPECT_EQ(expand(list, "\\\\"), "\\");
}

TEST(Substitute, UnknownNamesAndEndMarker) {
    const SubstituteClass list = engineList();
    EXPECT_EQ(expand(list, "\\SYSTEM\\X"), "\\SYSTEM\\X");
    EXPECT_EQ(expand(list, "END\\"), "END\\");
    EXPECT_EQ(expand(list, "\\"), "\\");
    EXPECT_EQ(expand(list, "\\WINDOW"), "\\WINDOW");
    EXPECT_EQ(expand(list, "\\TAV"), "\\TAV");
    SubstituteClass empty('\\');
    EXPECT_EQ(expand(empty, "\\\\WINDOWS\\TAVRO"), "\\WINDOWS\\TAVRO");
}

TEST(Substitute, ValuesAreNotExpandedAgain) {
    const SubstituteClass list = engineList("\\WINDOWS\\\\X", "D:\\W");
    EXPECT_EQ(expand(list, "\\TAVRO\\WINDOWS"), "\\WINDOWS\\\\XD:\\W");
    SubstituteClass self('\\');
    self.add("A", "\\A");
    EXPECT_EQ(expand(self, "\\A\\A"), "\\A\\A");
}

TEST(Substitute, FirstMatchInListOrderWins) {
    SubstituteClass list('\\');
    list.add("WIN", "short");
    list.add("WINDOWS", "long");
    EXPECT_EQ(expand(list, "\\WINDOWS"), "shortDOWS");
    SubstituteClass other('\\');
    other.add("WINDOWS", "long");
    other.add("WIN", "short");
    EXPECT_EQ(expand(other, "\\WINDOWS|\\WIN"), "long|short");
}

TEST(Substitute, OtherMarker) {
    SubstituteClass list('%');
    list.add("HOME", "/h");
    EXPECT_EQ(expand(list, "%home%%x\\HOME%"), "/h%x\\HOME%");
}

TEST(Substitute, LongValuesStayWhole) {
    const std::string windows = "C:\\" + std::string(150, 'W');
    const SubstituteClass list = engineList("C:\\T", windows);
    EXPECT_EQ(expand(list, "\\WINDOWS\\SYSTEM"), windows + "\\SYSTEM");

    SubstituteClass cut('\\');
    cut.add(std::string(100, 'N'), std::string(300, 'v'));
    SubstituteEntry entry;
    ASSERT_EQ(cut.firstEntry(entry), 1);
    EXPECT_EQ(entry.name, std::string(SubstituteClass::kNameMax, 'N'));
    EXPECT_EQ(entry.value, std::string(SubstituteClass::kValueMax, 'v'));
    EXPECT_EQ(SubstituteClass::kNameMax, 80u);
    EXPECT_EQ(SubstituteClass::kValueMax, 259u);
    // The cut name is what matches.
    EXPECT_EQ(expand(cut, "\\" + std::string(100, 'N')), std::string(259, 'v') + std::string(20, 'N'));
}

TEST(SubstituteList, Iteration) {
    SubstituteClass list('\\');
    SubstituteEntry entry;
    EXPECT_EQ(list.first(), 0);
    EXPECT_EQ(list.last(), 0);
    EXPECT_EQ(list.next(), 0);
    EXPECT_EQ(list.current(entry), 0);
    EXPECT_EQ(list.firstEntry(entry), 0);
    EXPECT_EQ(list.lastEntry(entry), 0);
    EXPECT_EQ(list.nextEntry(entry), 0);

    EXPECT_EQ(list.add("A", "1"), 1);
    EXPECT_EQ(list.next(), 0); // no cursor yet
    EXPECT_EQ(list.addEntry(SubstituteEntry{"B", "2"}), 1);
    EXPECT_EQ(list.add("C", "3"), 1);

    ASSERT_EQ(list.firstEntry(entry), 1);
    EXPECT_EQ(entry.name, "A");
    EXPECT_EQ(entry.value, "1");
    ASSERT_EQ(list.nextEntry(entry), 1);
    EXPECT_EQ(entry.name, "B");
    EXPECT_EQ(entry.value, "2");
    ASSERT_EQ(list.nextEntry(entry), 1);
    EXPECT_EQ(entry.name, "C");
    // On the last node next fails and the cursor stays.
    entry = SubstituteEntry{};
    EXPECT_EQ(list.nextEntry(entry), 0);
    EXPECT_EQ(entry.name, "");
    ASSERT_EQ(list.current(entry), 1);
    EXPECT_EQ(entry.name, "C");

    ASSERT_EQ(list.lastEntry(entry), 1);
    EXPECT_EQ(entry.value, "3");
    ASSERT_EQ(list.first(), 1);
    ASSERT_EQ(list.current(entry), 1);
    EXPECT_EQ(entry.name, "A");
    ASSERT_EQ(list.last(), 1);
    ASSERT_EQ(list.current(entry), 1);
    EXPECT_EQ(entry.name, "C");

    // Appending after the cursor reached the end makes next move again.
    EXPECT_EQ(list.add("D", "4"), 1);
    ASSERT_EQ(list.nextEntry(entry), 1);
    EXPECT_EQ(entry.name, "D");
}

TEST(SubstituteList, CopiesKeepTheirOwnCursor) {
    SubstituteClass list('\\');
    list.add("A", "1");
    list.add("B", "2");
    list.first();
    list.next();
    SubstituteClass copy(list);
    SubstituteEntry entry;
    ASSERT_EQ(copy.current(entry), 1);
    EXPECT_EQ(entry.name, "B");
    copy.add("C", "3");
    EXPECT_EQ(list.next(), 0); // the original has no third node
    ASSERT_EQ(copy.nextEntry(entry), 1);
    EXPECT_EQ(entry.name, "C");

    SubstituteClass assigned('%');
    assigned = copy;
    ASSERT_EQ(assigned.current(entry), 1);
    EXPECT_EQ(entry.name, "C");
    EXPECT_EQ(expand(assigned, "\\A\\B\\C"), "123");
    SubstituteClass &alias = assigned;
    assigned = alias;
    EXPECT_EQ(expand(assigned, "\\c"), "3");
}

namespace {

// The expansion built without a bound, the plain way, for the engine's list.
std::string unbounded(const std::string &product, const std::string &windows, const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            i += 2;
        } else if (text.compare(i, 6, "\\TAVRO") == 0) {
            out += product;
            i += 6;
        } else if (text.compare(i, 8, "\\WINDOWS") == 0) {
            out += windows;
            i += 8;
        } else {
            out += text[i++];
        }
    }
    return out;
}

} // namespace

TEST(SubstituteBound, ResultIsCutAtTheDefaultLimit) {
    EXPECT_EQ(SubstituteClass::kTextMax, 1023u);
    const std::string product = "C:\\" + std::string(200, 'P');
    const std::string windows = "C:\\WINDOWS";
    const SubstituteClass list = engineList(product, windows);

    std::string text;
    for (int i = 0; i < 40; ++i) text += "\\TAVRO;\\WINDOWS;";
    const std::string full = unbounded(product, windows, text);
    ASSERT_GT(full.size(), 1023u);
    const std::string got = expand(list, text);
    EXPECT_EQ(got.size(), 1023u);
    EXPECT_EQ(got, full.substr(0, 1023));

    // A text that fits exactly is kept whole, one more character is cut.
    std::string fits = std::string(1023 - product.size(), 'x') + "\\TAVRO";
    EXPECT_EQ(expand(list, fits), std::string(1023 - product.size(), 'x') + product);
    fits += "y";
    EXPECT_EQ(expand(list, fits).size(), 1023u);
    EXPECT_EQ(expand(list, fits).back(), 'P');

    // A plain text longer than the limit is cut too.
    EXPECT_EQ(expand(list, std::string(5000, 'z')), std::string(1023, 'z'));
}

TEST(SubstituteBound, GivenLimitCutsInsideAValueOrAMarker) {
    const SubstituteClass list = engineList("D:\\PRODUCT", "C:\\WINDOWS");
    auto cut = [&](std::string text, size_t limit) {
        list.substitute(text, limit);
        return text;
    };
    EXPECT_EQ(cut("ab\\TAVRO\\SUB", 6), "abD:\\P");
    EXPECT_EQ(cut("ab\\TAVRO\\SUB", 12), "abD:\\PRODUCT");
    EXPECT_EQ(cut("ab\\TAVRO\\SUB", 13), "abD:\\PRODUCT\\");
    EXPECT_EQ(cut("a\\\\\\\\b", 2), "a\\");
    EXPECT_EQ(cut("a\\\\\\\\b", 3), "a\\\\");
    EXPECT_EQ(cut("anything", 0), "");
    // The doubled marker before a name still keeps it literal at the edge.
    EXPECT_EQ(cut("\\\\WINDOWS", 8), "\\WINDOWS");
    // A limit beyond the result changes nothing.
    EXPECT_EQ(cut("\\WINDOWS\\X", 100000), "C:\\WINDOWS\\X");
}

// Expanding in a copy leaves the fields that follow in the same line
// untouched, however much the value grows.
TEST(SubstituteBound, LaterFieldsOfALineAreNotTouched) {
    const std::string product = "C:\\" + std::string(250, 'Q');
    const SubstituteClass list = engineList(product, "C:\\WINDOWS");
    std::vector<std::string> fields = {"", "END", "\\TAVRO"};
    for (int i = 0; i < 30; ++i) fields[0] += "\\TAVRO\\WINDOWS";
    list.substitute(fields[0]);
    EXPECT_EQ(fields[0].size(), 1023u);
    EXPECT_EQ(fields[1], "END");
    EXPECT_EQ(fields[2], "\\TAVRO");
    list.substitute(fields[2]);
    EXPECT_EQ(fields[2], product);
}

// ---- line expansion of a file's bytes -------------------------------------------

namespace {

// The whole text through a LineExpander, in pieces of the given size.
std::string expandLines(const SubstituteClass &list, const std::string &text, size_t piece) {
    LineExpander expander(list);
    std::string out;
    for (size_t at = 0; at < text.size(); at += piece)
        expander.feed(text.data() + at, std::min(piece, text.size() - at), out);
    expander.finish(out);
    return out;
}

} // namespace

TEST(LineExpansion, EveryByteOutsideAReferenceIsKept) {
    const SubstituteClass list = engineList("D:\\P", "C:\\W");
    const std::string text = std::string("Dir=\\TAVRO\r\nAB") + '\0' + "CD=\\WINDOWS\r\nnext\r\n\x1a\r\nafter=\\TAVRO" +
                             "\nlone\rcr\n\xff\x80\\\\TAVRO";
    const std::string expected = std::string("Dir=D:\\P\r\nAB") + '\0' + "CD=C:\\W\r\nnext\r\n\x1a\r\nafter=D:\\P" +
                                 "\nlone\rcr\n\xff\x80\\TAVRO";
    for (size_t piece : {size_t{1}, size_t{2}, size_t{7}, size_t{1000}}) {
        SCOPED_TRACE(piece);
        EXPECT_EQ(expandLines(list, text, piece), expected);
    }
    EXPECT_EQ(expandLines(list, "", 1), "");
}

// A line is expanded whole, never cut, however long it is and however its
// bytes arrive; a reference never reaches across a line end.
TEST(LineExpansion, LongLinesAreExpandedWhole) {
    const std::string product = "C:\\" + std::string(250, 'P');
    const SubstituteClass list = engineList(product, "C:\\WINDOWS");
    std::string line = std::string(506, 'x') + "\\TAVRO";
    std::string expected = std::string(506, 'x') + product;
    for (int i = 0; i < 400; ++i) {
        line += "\\TAVRO;";
        expected += product + ";";
    }
    ASSERT_GT(expected.size(), 100000u);
    const std::string text = line + "\r\n" + line;
    for (size_t piece : {size_t{3}, size_t{511}, size_t{65536}})
        EXPECT_TRUE(expandLines(list, text, piece) == expected + "\r\n" + expected) << piece;
    // The marker at the end of a line and the name at the start of the next
    // are no reference.
    EXPECT_EQ(expandLines(list, "a\\\nTAVRO\\\r\nWINDOWS", 4), "a\\\nTAVRO\\\r\nWINDOWS");
}
