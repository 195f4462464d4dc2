// The journal's lines: every record reads back as written whatever bytes it
// holds, and a file of any shape is read without losing what it can tell.
#include "journal/format.h"
#include "journal/reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace journal;
using change::Kind;

namespace {

// Every byte value once, the separators of the syntax among them.
std::string allBytes() {
    std::string s;
    for (int b = 0; b < 256; ++b) s += static_cast<char>(b);
    return s + "\" x=\"y\" %41 ";
}

Entry roundTrip(const Entry &e) {
    const std::string line = formatEntry(e);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line.find('\r'), std::string::npos);
    ParsedLine p = parseLine(line);
    EXPECT_TRUE(p.entry.has_value()) << p.problem << "\n" << line;
    return p.entry.value_or(Entry{});
}

void expectSameChange(const change::Change &a, const change::Change &b) {
    EXPECT_EQ(a.kind, b.kind);
    EXPECT_EQ(a.path, b.path);
    EXPECT_EQ(a.target, b.target);
    EXPECT_EQ(a.from, b.from);
    EXPECT_EQ(a.detail, b.detail);
    EXPECT_EQ(a.section, b.section);
    EXPECT_EQ(a.key, b.key);
    EXPECT_EQ(a.before, b.before);
    EXPECT_EQ(a.after, b.after);
    EXPECT_EQ(a.lines, b.lines);
    EXPECT_EQ(a.name, b.name);
    ASSERT_EQ(a.regBefore.has_value(), b.regBefore.has_value());
    if (a.regBefore) {
        EXPECT_EQ(a.regBefore->type, b.regBefore->type);
        EXPECT_EQ(a.regBefore->data, b.regBefore->data);
    }
    ASSERT_EQ(a.regAfter.has_value(), b.regAfter.has_value());
    if (a.regAfter) {
        EXPECT_EQ(a.regAfter->data, b.regAfter->data);
    }
    ASSERT_EQ(a.tree.size(), b.tree.size());
    for (std::size_t i = 0; i < a.tree.size(); ++i) {
        EXPECT_EQ(a.tree[i].path, b.tree[i].path);
        ASSERT_EQ(a.tree[i].values.size(), b.tree[i].values.size());
        for (std::size_t k = 0; k < a.tree[i].values.size(); ++k) {
            EXPECT_EQ(a.tree[i].values[k].name, b.tree[i].values[k].name);
            EXPECT_EQ(a.tree[i].values[k].value.type, b.tree[i].values[k].value.type);
            EXPECT_EQ(a.tree[i].values[k].value.data, b.tree[i].values[k].value.data);
        }
    }
}

// A line as the writer ends it: " check=" and the CRC-32 of what precedes.
std::string checked(const std::string &line) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(crc32(line)));
    return line + " check=" + digits;
}

std::string journalOf(std::initializer_list<std::string> lines) {
    std::string out = headerLine() + "\r\n";
    for (const std::string &l : lines) out += l + "\r\n";
    return out;
}

std::string dirLine(std::uint64_t seq) {
    change::Change c;
    c.kind = Kind::DirectoryCreated;
    c.path = "C:\\TAVRO\\ARCHIVE";
    return formatEntry(Entry{seq, ChangeRecord{c, {}, {}, false, {}, false}});
}

std::string beginLine(std::uint64_t seq) { return formatEntry(Entry{seq, Begin{"TP2001", "A:\\T.DAT", "t", Family::NT, "C:\\T", "C:\\W", 0}}); }

} // namespace

// ---- lines -------------------------------------------------------------------

TEST(JournalLine, PathsReadAsThemselvesAndOddBytesAreEscaped) {
    change::Change c;
    c.kind = Kind::FileReplaced;
    c.path = "C:\\TAVRO\\TVVIEW.EXE";
    c.from = "A:\\Disk 1\\100%\"new\".EXE";
    const std::string line = formatEntry(Entry{7, ChangeRecord{c, {}, {}, false, {}, false}});
    EXPECT_EQ(line, checked("7 file-replaced path=\"C:\\TAVRO\\TVVIEW.EXE\" from=\"A:\\Disk 1\\100%25%22new%22.EXE\""));
}

TEST(JournalLine, EveryChangeFieldRoundTripsEveryByte) {
    const std::string odd = allBytes();
    change::Change c;
    c.kind = Kind::RegTreeDeleted;
    c.path = odd;
    c.target = odd + "t";
    c.from = "";
    c.detail = odd;
    c.section = odd;
    c.key = "";
    c.before = odd;
    c.after = "";
    c.lines = {odd, "", "[S]"};
    c.root = platform::Root::Users;
    c.name = odd;
    c.regBefore = platform::RegValue{7, std::string("a\0b\0\0", 5)};
    c.regAfter = platform::RegValue{0x12345678, odd};
    c.tree = {{"K", {{"", {1, std::string("x\0", 2)}}, {odd, {3, odd}}}}, {"K\\Empty", {}}};
    ChangeRecord r{c, {{odd, odd + "c", FileState::of(odd)}, {"gone", std::nullopt, FileState::absent()}},
                   "X=Y", true, std::nullopt, false};
    Entry back = roundTrip(Entry{42, r});
    EXPECT_EQ(back.seq, 42u);
    const ChangeRecord &b = std::get<ChangeRecord>(back.body);
    expectSameChange(c, b.change);
    ASSERT_EQ(b.saved.size(), 2u);
    EXPECT_EQ(b.saved[0].original, odd);
    EXPECT_EQ(b.saved[0].copy, odd + "c");
    EXPECT_TRUE(b.saved[0].state.sameAs(FileState::of(odd)));
    EXPECT_FALSE(b.saved[1].copy.has_value());
    EXPECT_EQ(b.saved[1].state.is, FileState::Is::Absent);
    EXPECT_EQ(b.entry, "X=Y");
    EXPECT_TRUE(b.entryAdded);
}

TEST(JournalLine, AbsentValuesAndDefaultNamesAreToldApartFromEmptyOnes) {
    change::Change set;
    set.kind = Kind::IniKeySet;
    set.path = "C:\\TAVRO\\TAVRO.INI";
    set.section = "Help";
    set.key = "HelpFile";
    set.after = "";
    EXPECT_NE(formatEntry(Entry{1, ChangeRecord{set, {}, {}, false, {}, false}}).find(" before=absent"),
              std::string::npos);
    EXPECT_FALSE(std::get<ChangeRecord>(roundTrip(Entry{1, ChangeRecord{set, {}, {}, false, {}, false}}).body)
                     .change.before.has_value());
    set.before = "";
    EXPECT_EQ(std::get<ChangeRecord>(roundTrip(Entry{1, ChangeRecord{set, {}, {}, false, {}, false}}).body)
                  .change.before,
              std::string());

    change::Change reg;
    reg.kind = Kind::RegValueSet;
    reg.path = "SOFTWARE\\X";
    reg.regAfter = platform::RegValue{4, std::string("\1\0\0\0", 4)};
    const std::string line = formatEntry(Entry{2, ChangeRecord{reg, {}, {}, false, {}, false}});
    EXPECT_NE(line.find(" name=default"), std::string::npos);
    EXPECT_NE(line.find(" old=absent"), std::string::npos);
    EXPECT_NE(line.find(" new-type=REG_DWORD new=\"%01%00%00%00\""), std::string::npos);
    const change::Change back = std::get<ChangeRecord>(roundTrip(Entry{2, ChangeRecord{reg, {}, {}, false, {}, false}}).body).change;
    EXPECT_FALSE(back.name.has_value());
    EXPECT_FALSE(back.regBefore.has_value());
    reg.name = "";
    EXPECT_EQ(std::get<ChangeRecord>(roundTrip(Entry{2, ChangeRecord{reg, {}, {}, false, {}, false}}).body).change.name,
              std::string());
}

TEST(JournalLine, RunAndUndoRecordsRoundTrip) {
    Begin b{"TP 2001", "A:\\TAVUPD.DAT", "1999-04-12 10:31:07", Family::Win95, "C:\\TAVRO", "C:\\WINDOWS", 3};
    Begin bb = std::get<Begin>(roundTrip(Entry{1, b}).body);
    EXPECT_EQ(bb.patch, b.patch);
    EXPECT_EQ(bb.time, b.time);
    EXPECT_EQ(bb.family, Family::Win95);
    EXPECT_EQ(bb.nextPatch, 3u);
    b.nextPatch.reset();
    EXPECT_FALSE(std::get<Begin>(roundTrip(Entry{1, b}).body).nextPatch.has_value());

    Left l{9, false, {{"C:\\A", FileState::of("abc")}, {"C:\\B", FileState::absent()}, {"C:\\C", FileState::unknown()}}};
    Left ll = std::get<Left>(roundTrip(Entry{10, l}).body);
    EXPECT_EQ(ll.of, 9u);
    EXPECT_FALSE(ll.made);
    ASSERT_EQ(ll.files.size(), 3u);
    EXPECT_TRUE(ll.files[0].state.sameAs(FileState::of("abc")));
    EXPECT_EQ(ll.files[1].state.is, FileState::Is::Absent);
    EXPECT_EQ(ll.files[2].state.is, FileState::Is::Unknown);

    UndoStep s{12, std::vector<std::string>{"TP1", "", "TP3"}};
    EXPECT_EQ(std::get<UndoStep>(roundTrip(Entry{11, s}).body).want, s.want);
    UndoStep empty{12, std::vector<std::string>{}};
    EXPECT_EQ(std::get<UndoStep>(roundTrip(Entry{11, empty}).body).want, std::vector<std::string>{});
    EXPECT_FALSE(std::get<UndoStep>(roundTrip(Entry{11, UndoStep{12, {}}}).body).want.has_value());

    Undone u{12, true, std::string("C:\\X changed")};
    Undone uu = std::get<Undone>(roundTrip(Entry{13, u}).body);
    EXPECT_TRUE(uu.deferred);
    EXPECT_EQ(uu.skipped, u.skipped);

    change::Change reg;
    reg.kind = Kind::RestartRegistered;
    reg.path = "C:\\TAVRO\\~U00000C.TMP";
    reg.target = "C:\\TAVRO\\TVVIEW.EXE";
    reg.detail = "PendingFileRenameOperations";
    UndoDeferral d{12, ChangeRecord{reg, {}, {}, false, 4u, true}};
    UndoDeferral dd = std::get<UndoDeferral>(roundTrip(Entry{14, d}).body);
    EXPECT_EQ(dd.of, 12u);
    expectSameChange(reg, dd.registration.change);
    EXPECT_EQ(dd.registration.pairsBefore, 4u);
    EXPECT_TRUE(dd.registration.pendingValueExisted);
    EXPECT_TRUE(std::holds_alternative<UndoFinished>(roundTrip(Entry{15, UndoFinished{}}).body));
    EXPECT_TRUE(std::get<UndoBegin>(roundTrip(Entry{16, UndoBegin{"t", true}}).body).forced);
}

TEST(JournalLine, BrokenLinesAreRefusedWithAReason) {
    for (const char *line : {"", "x file-created path=\"C:\\A\"", "1", "1 file-created path=C:\\A",
                             "1 file-created path=\"C:\\A", "1 file-created path=\"C:\\A\"x=1",
                             "1 file-created path=\"%4\"", "1 file-created path=\"\x01\"", "1 file-moved path=\"A\"",
                             "1 file-created", "1 reg-set root=HKXX path=\"K\"", "1 reg-set path=\"K\" old=\"x\"",
                             "1 left made=yes", "1 left of=1 size=3", "1 undone", "1 begin family=98",
                             "1 left of=99999999999999999999", "1 file-created path=\"A\" saved=\"A\" crc=12",
                             "1 undo-step of=1 want=\"A\"", "1 undo-step of=1 want-count=2 want=\"A\""}) {
        SCOPED_TRACE(line);
        ParsedLine p = parseLine(checked(line));
        EXPECT_FALSE(p.entry.has_value());
        EXPECT_FALSE(p.problem.empty());
        EXPECT_FALSE(p.unknownKind);
    }
    ParsedLine unknown = parseLine(checked("3 file-teleported path=\"A\""));
    EXPECT_TRUE(unknown.unknownKind);
    EXPECT_NE(unknown.problem.find("file-teleported"), std::string::npos);
}

TEST(JournalLine, ALineCutShortOrAlteredIsNoRecord) {
    const std::string whole = dirLine(3);
    ASSERT_TRUE(parseLine(whole).entry.has_value());
    for (std::size_t n = 0; n < whole.size(); ++n) EXPECT_FALSE(parseLine(whole.substr(0, n)).entry.has_value()) << n;
    std::string altered = whole;
    altered[4] = altered[4] == 'i' ? 'x' : 'i';
    EXPECT_FALSE(parseLine(altered).entry.has_value());
    EXPECT_FALSE(parseLine(whole + " ").entry.has_value());
}

TEST(JournalLine, UnknownFieldsArePassedOver) {
    ParsedLine p = parseLine(checked("5 file-created path=\"C:\\A\" note=\"for people\" colour=blue"));
    ASSERT_TRUE(p.entry.has_value());
    EXPECT_EQ(std::get<ChangeRecord>(p.entry->body).change.path, "C:\\A");
}

// ---- names -------------------------------------------------------------------

TEST(JournalNames, PlainPatchNamesAreKeptOthersAreMadeSafeAndDistinct) {
    EXPECT_EQ(fileStem("TP2001"), "TP2001");
    EXPECT_EQ(journalPath("C:\\TAVRO\\ARCHIVE", "TP2001"), "C:\\TAVRO\\ARCHIVE\\TP2001.JNL");
    EXPECT_EQ(copyDirectory("C:\\TAVRO\\ARCHIVE\\", "TP2001"), "C:\\TAVRO\\ARCHIVE\\UNDO\\TP2001");
    const std::string a = fileStem("TP:1"), b = fileStem("TP*1"), c = fileStem(std::string(100, 'A'));
    EXPECT_EQ(a.substr(0, 5), "TP_1~");
    EXPECT_NE(a, b);
    EXPECT_EQ(a.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-~"), std::string::npos);
    EXPECT_EQ(c.size(), 64u + 9u);
    EXPECT_NE(fileStem(""), "");
    EXPECT_TRUE(isRegistryIni("SOFTWARE\\Korvek\\KorvekDSP\\TAVRO.INI\\"));
    EXPECT_FALSE(isRegistryIni("C:\\WINDOWS\\TAVRO.INI"));
}

TEST(JournalCrc, IsTheCommonCrc32) {
    EXPECT_EQ(crc32(""), 0u);
    EXPECT_EQ(crc32("123456789"), 0xCBF43926u);
    EXPECT_FALSE(FileState::unknown().sameAs(FileState::unknown()));
    EXPECT_TRUE(FileState::absent().sameAs(FileState::absent()));
    EXPECT_FALSE(FileState::of("ab").sameAs(FileState::of("ba")));
}

// ---- files -------------------------------------------------------------------

TEST(JournalFile, ReadsRecordsInOrder) {
    Journal j = readJournal(journalOf({beginLine(1), dirLine(2)}));
    EXPECT_TRUE(j.isJournal);
    EXPECT_EQ(j.version, 1);
    EXPECT_TRUE(j.problems.empty());
    ASSERT_EQ(j.entries.size(), 2u);
    EXPECT_EQ(j.lastSeq, 2u);
    EXPECT_FALSE(j.damaged());
    EXPECT_FALSE(j.endsCut);
}

TEST(JournalFile, ACutLastLineIsIgnoredAtEveryByte) {
    const std::string whole = journalOf({beginLine(1), dirLine(2), dirLine(3)});
    for (std::size_t n = 0; n < whole.size(); ++n) {
        SCOPED_TRACE(n);
        Journal j = readJournal(whole.substr(0, n));
        EXPECT_TRUE(j.isJournal);
        EXPECT_FALSE(j.damaged());
        // Only the records whose whole line (with its LF) is there count.
        std::size_t complete = 0;
        for (std::size_t i = 0; i < n; ++i) complete += whole[i] == '\n';
        EXPECT_EQ(j.entries.size(), complete > 0 ? complete - 1 : 0);
        EXPECT_EQ(j.endsCut, n > 0 && whole[n - 1] != '\n');
    }
}

TEST(JournalFile, AFragmentEndedByTheNextRunIsHarmlessOtherDamageIsNot) {
    const std::string fragment = dirLine(3).substr(0, 12);
    Journal ended = readJournal(journalOf({beginLine(1), dirLine(2), fragment, beginLine(4), dirLine(5)}));
    EXPECT_FALSE(ended.damaged());
    EXPECT_EQ(ended.entries.size(), 4u);
    ASSERT_EQ(ended.problems.size(), 1u);
    EXPECT_EQ(ended.problems[0].line, 4u);

    Journal middle = readJournal(journalOf({beginLine(1), fragment, dirLine(4)}));
    EXPECT_TRUE(middle.damaged());
    EXPECT_EQ(middle.entries.size(), 2u);

    Journal unknown = readJournal(journalOf({beginLine(1), checked("2 file-teleported path=\"A\""), dirLine(3)}));
    EXPECT_TRUE(unknown.damaged());
    EXPECT_EQ(unknown.entries.size(), 2u);
    ASSERT_EQ(unknown.problems.size(), 1u);
    EXPECT_EQ(unknown.problems[0].line, 3u);

    Journal backwards = readJournal(journalOf({beginLine(5), dirLine(5)}));
    EXPECT_TRUE(backwards.damaged());
    EXPECT_EQ(backwards.entries.size(), 1u);
}

TEST(JournalFile, OtherFilesAndLaterVersionsAreNotRead) {
    Journal other = readJournal("[rename]\r\nNUL=C:\\X\r\n");
    EXPECT_FALSE(other.isJournal);
    EXPECT_TRUE(other.damaged());
    Journal later = readJournal(std::string(kMagic) + " 2\r\n" + dirLine(1) + "\r\n");
    EXPECT_TRUE(later.isJournal);
    EXPECT_EQ(later.version, 2);
    EXPECT_TRUE(later.entries.empty());
    EXPECT_TRUE(later.damaged());
    Journal empty = readJournal("");
    EXPECT_TRUE(empty.isJournal);
    EXPECT_FALSE(empty.damaged());
}
