#include "tvpfile_subst.h"

#include <gtest/gtest.h>

#include <string>

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
