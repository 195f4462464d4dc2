#include "paths.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string take(std::string &(*helper)(std::string &), const std::string &path) {
    std::string text = path;
    std::string &result = helper(text);
    EXPECT_EQ(&result, &text) << "helpers change their argument and return it";
    return text;
}

uint16_t dosDate(int year, int month, int day) {
    return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}
uint16_t dosTime(int hour, int minute, int second) {
    return static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

} // namespace

TEST(SplitPath, FourParts) {
    PathParts p = splitPath("C:\\WINDOWS\\SYSTEM\\X.DLL");
    EXPECT_EQ(p.drive, "C:");
    EXPECT_EQ(p.directory, "\\WINDOWS\\SYSTEM\\");
    EXPECT_EQ(p.name, "X");
    EXPECT_EQ(p.extension, ".DLL");

    p = splitPath("X.TAR.GZ");
    EXPECT_EQ(p.drive, "");
    EXPECT_EQ(p.directory, "");
    EXPECT_EQ(p.name, "X.TAR");
    EXPECT_EQ(p.extension, ".GZ");

    p = splitPath("C:X");
    EXPECT_EQ(p.drive, "C:");
    EXPECT_EQ(p.directory, "");
    EXPECT_EQ(p.name, "X");
    EXPECT_EQ(p.extension, "");

    p = splitPath("a/b\\c/d.e");
    EXPECT_EQ(p.directory, "a/b\\c/");
    EXPECT_EQ(p.name, "d");
    EXPECT_EQ(p.extension, ".e");

    p = splitPath("");
    EXPECT_EQ(p.drive + p.directory + p.name + p.extension, "");

    // A colon elsewhere than second is no drive.
    p = splitPath("ABC:D");
    EXPECT_EQ(p.drive, "");
    EXPECT_EQ(p.name, "ABC:D");
}

TEST(SplitPath, DotsInDirectoryAndFinalDots) {
    PathParts p = splitPath("C:\\A.B\\C");
    EXPECT_EQ(p.directory, "\\A.B\\");
    EXPECT_EQ(p.name, "C");
    EXPECT_EQ(p.extension, "");

    for (const char *path : {"C:\\A\\.", "C:\\A\\..", ".", "..", "C:.", "C:..", "x/.."}) {
        p = splitPath(path);
        EXPECT_EQ(p.extension, "") << path;
        EXPECT_EQ(p.name, "") << path;
        EXPECT_EQ(p.drive + p.directory, path) << path;
    }
    // Three dots are a name and an extension like any other.
    p = splitPath("C:\\A\\...");
    EXPECT_EQ(p.name, "..");
    EXPECT_EQ(p.extension, ".");
    p = splitPath("\\A\\.profile");
    EXPECT_EQ(p.name, "");
    EXPECT_EQ(p.extension, ".profile");
}

TEST(SplitPath, InputAndPartsCutAtTheirLimits) {
    // Only the first 260 characters are looked at.
    std::string longName(300, 'N');
    PathParts p = splitPath("C:\\" + longName + ".EXT");
    EXPECT_EQ(p.directory, "\\");
    EXPECT_EQ(p.name, std::string(255, 'N'));
    EXPECT_EQ(p.extension, "");

    std::string directory = "\\" + std::string(255, 'D') + "\\";
    p = splitPath("C:" + directory + "X.Y");
    EXPECT_EQ(p.directory, directory.substr(0, 255));
    EXPECT_EQ(p.name, "X"); // character 260; the extension lies beyond
    EXPECT_EQ(p.extension, "");
    // Past 260 characters the directory's last separator is not seen.
    p = splitPath("C:\\" + std::string(257, 'D') + "\\X");
    EXPECT_EQ(p.directory, "\\");
    EXPECT_EQ(p.name, std::string(255, 'D'));

    std::string ext = "." + std::string(258, 'E');
    p = splitPath(ext);
    EXPECT_EQ(p.extension, ext.substr(0, 255));

    // Exactly 260 characters: the last one still counts.
    std::string exact = "C:\\" + std::string(253, 'A') + ".XYZ";
    ASSERT_EQ(exact.size(), 260u);
    p = splitPath(exact);
    EXPECT_EQ(p.extension, ".XYZ");
    exact += "W";
    p = splitPath(exact);
    EXPECT_EQ(p.extension, ".XYZ");
}

TEST(MergePath, PartsAndSeparators) {
    EXPECT_EQ(mergePath("C", "\\WINDOWS", "X", "DLL"), "C:\\WINDOWS\\X.DLL");
    EXPECT_EQ(mergePath("C:", "\\WINDOWS\\", "X", ".DLL"), "C:\\WINDOWS\\X.DLL");
    EXPECT_EQ(mergePath("D", "A/", "X", ""), "D:A/X");
    EXPECT_EQ(mergePath(nullptr, nullptr, "X", nullptr), "X");
    EXPECT_EQ(mergePath("", "", "", ""), "");
    EXPECT_EQ(mergePath(nullptr, "DIR", nullptr, "E"), "DIR\\.E");
}

TEST(PathHelpers, TakeParts) {
    const std::string path = "C:\\PATCH\\SETUP.EXE";
    EXPECT_EQ(take(pathDrive, path), "C:");
    EXPECT_EQ(take(pathDirectory, path), "\\PATCH\\");
    EXPECT_EQ(take(pathBaseName, path), "SETUP");
    EXPECT_EQ(take(pathExtension, path), ".EXE");
    EXPECT_EQ(take(pathFileName, path), "SETUP.EXE");
    EXPECT_EQ(take(pathFolder, path), "C:\\PATCH\\");
    EXPECT_EQ(take(pathDirectoryAndBase, path), "\\PATCH\\SETUP");
    EXPECT_EQ(take(pathWithoutDrive, path), "\\PATCH\\SETUP.EXE");
    EXPECT_EQ(take(pathDriveAndBase, path), "C:SETUP");

    EXPECT_EQ(take(pathFolder, "SETUP.EXE"), "\\");
    EXPECT_EQ(take(pathFolder, "C:SETUP.EXE"), "C:\\");
    EXPECT_EQ(take(pathFileName, "C:\\A.B\\C"), "C");
    EXPECT_EQ(take(pathExtension, "C:\\A\\."), "");
    EXPECT_EQ(take(pathDirectoryAndBase, "X.DLL"), "\\X");
    EXPECT_EQ(take(pathWithoutDrive, "C:X.DLL"), "\\X.DLL");
    // Only a backslash counts as the end of the text built so far.
    EXPECT_EQ(take(pathFolder, "C:/A/B.C"), "C:/A/\\");
}

TEST(PathHelpers, SetExtension) {
    std::string path = "C:\\WINDOWS\\SYSTEM\\X.DLL";
    EXPECT_EQ(setExtension(path, ".OLD"), "C:\\WINDOWS\\SYSTEM\\X.OLD");
    path = "C:\\WINDOWS\\SYSTEM\\X";
    EXPECT_EQ(setExtension(path, ".OLD"), "C:\\WINDOWS\\SYSTEM\\X.OLD");
    path = "X.TAR.GZ";
    EXPECT_EQ(setExtension(path, ".OLD"), "\\X.TAR.OLD");
    path = "X.DLL";
    EXPECT_EQ(setExtension(path, ".OLD"), "\\X.OLD");
    path = "C:X.DLL";
    EXPECT_EQ(setExtension(path, ".OLD"), "C:\\X.OLD");
    // Parts go in as given: no dot is supplied.
    path = "C:\\A\\X.DLL";
    EXPECT_EQ(setExtension(path, "OLD"), "C:\\A\\XOLD");
    path = "C:\\A\\X.DLL";
    EXPECT_EQ(setExtension(path, ""), "C:\\A\\X");
}

TEST(PathHelpers, ReplaceParts) {
    std::string path = "C:\\A\\X.DLL";
    EXPECT_EQ(replacePathParts(path, nullptr, nullptr, nullptr, nullptr), "C:\\A\\X.DLL");
    path = "C:\\A\\X.DLL";
    EXPECT_EQ(replacePathParts(path, "D:", "\\B", "Y", ".EXE"), "D:\\B\\Y.EXE");
    path = "C:\\A\\X.DLL";
    EXPECT_EQ(replacePathParts(path, "", "", "", ""), "\\");

    path = "C:\\A\\X.DLL";
    EXPECT_EQ(setDrive(path, "E:"), "E:\\A\\X.DLL");
    path = "C:\\A\\X.DLL";
    EXPECT_EQ(setDirectory(path, "\\NEW\\"), "C:\\NEW\\X.DLL");
    path = "C:\\A\\X.DLL";
    EXPECT_EQ(setBaseName(path, "Y"), "C:\\A\\Y.DLL");
    path = "C:\\A\\X.DLL";
    EXPECT_EQ(setBaseNameAndExtension(path, "Y", ".Z"), "C:\\A\\Y.Z");
    path = "C:\\A\\X.DLL";
    EXPECT_EQ(setDriveAndDirectory(path, "", "TMP"), "TMP\\X.DLL");
    path = "C:\\A\\X.DLL";
    EXPECT_EQ(setDriveAndBaseName(path, "D:", "Q"), "D:\\A\\Q.DLL");
    path = "C:\\A\\X.DLL";
    EXPECT_EQ(setDriveAndExtension(path, "D:", ".E"), "D:\\A\\X.E");
    path = "C:\\A\\X.DLL";
    EXPECT_EQ(setDirectoryAndBaseName(path, "\\B\\", "Q"), "C:\\B\\Q.DLL");
    path = "C:\\A\\X.DLL";
    EXPECT_EQ(setDirectoryAndExtension(path, "\\B", ".E"), "C:\\B\\X.E");
    path = "C:\\A\\X.DLL";
    EXPECT_EQ(setDriveDirectoryAndBase(path, "D:", "\\B", "Q"), "D:\\B\\Q.DLL");
    path = "C:\\A\\X.DLL";
    EXPECT_EQ(setDriveBaseNameAndExtension(path, "D:", "Q", ".E"), "D:\\A\\Q.E");
    path = "C:\\A\\X.DLL";
    EXPECT_EQ(setDirectoryBaseNameAndExtension(path, "\\B", "Q", ".E"), "C:\\B\\Q.E");
}

TEST(PathHelpers, FileNameFromAnotherPath) {
    std::string path = "C:\\TEMP\\";
    EXPECT_EQ(setFileName(path, "D:\\X\\TV0k.h40"), "C:\\TEMP\\TV0k.h40");
    path = "C:\\TEMP\\OLD.TXT";
    EXPECT_EQ(setFileName(path, "D:\\X\\NOEXT"), "C:\\TEMP\\NOEXT");
    // Name and extension of the other path even when they are empty.
    path = "C:\\TEMP\\OLD.TXT";
    EXPECT_EQ(setFileName(path, "D:\\X\\"), "C:\\TEMP\\");
    path = "C:\\TEMP\\OLD.TXT";
    EXPECT_EQ(setDriveAndFileName(path, "E:", "N.E"), "E:\\TEMP\\N.E");
    path = "C:\\TEMP\\OLD.TXT";
    EXPECT_EQ(setDirectoryAndFileName(path, "\\OTHER", "N.E"), "C:\\OTHER\\N.E");
    path = "C:\\TEMP\\OLD.TXT";
    EXPECT_EQ(replacePathPartsFrom(path, "F:", "\\G\\", "a\\b.c"), "F:\\G\\b.c");
}

TEST(PathHelpers, LongPathsStayWhole) {
    // The directory is cut at 255; the rebuilt path holds every part.
    std::string directory = "\\" + std::string(254, 'D') + "\\";
    std::string path = "C:" + directory + "X.DLL";
    setExtension(path, ".OLD");
    EXPECT_EQ(path, "C:" + directory.substr(0, 255) + "\\X.OLD");
}

TEST(JoinPath, AddsBackslashOnlyWhenNeeded) {
    EXPECT_EQ(joinPath("C:\\A", "B"), "C:\\A\\B");
    EXPECT_EQ(joinPath("C:\\A\\", "B"), "C:\\A\\B");
    EXPECT_EQ(joinPath("", "B"), "\\B");
    EXPECT_EQ(joinPath("C:\\A", ""), "C:\\A\\");
}

TEST(DosTime, OrdersFileTimes) {
    const int64_t base = dosTimeToCalendar(dosDate(1998, 6, 15), dosTime(12, 30, 10));
    ASSERT_NE(base, -1);
    EXPECT_EQ(dosTimeToCalendar(dosDate(1998, 6, 15), dosTime(12, 30, 12)) - base, 2);
    EXPECT_EQ(dosTimeToCalendar(dosDate(1998, 6, 15), dosTime(12, 31, 10)) - base, 60);
    EXPECT_EQ(dosTimeToCalendar(dosDate(1998, 6, 15), dosTime(12, 30, 10)), base);
    EXPECT_LT(base, dosTimeToCalendar(dosDate(1999, 1, 1), dosTime(0, 0, 0)));
    EXPECT_LT(dosTimeToCalendar(dosDate(1998, 12, 31), dosTime(23, 59, 58)),
              dosTimeToCalendar(dosDate(1999, 1, 1), dosTime(0, 0, 0)));

    // The fields counted as seconds since 1970 with no time zone applied.
    EXPECT_EQ(base, 897913810);
    EXPECT_EQ(dosTimeToCalendar(dosDate(1980, 1, 1), 0), 315532800);
}

TEST(DosTime, DatesPast2038AreOrderedAndTheLastDateHasItsCount) {
    // A 32-bit calendar time ends in January 2038; file dates go on to 2107.
    const int64_t y1999 = dosTimeToCalendar(dosDate(1999, 1, 1), 0);
    const int64_t y2038 = dosTimeToCalendar(dosDate(2038, 1, 19), dosTime(3, 14, 8));
    const int64_t y2040 = dosTimeToCalendar(dosDate(2040, 2, 29), dosTime(12, 0, 0));
    EXPECT_EQ(y2038, 2147483648LL);
    EXPECT_LT(y1999, y2040);
    EXPECT_EQ(y2040 - dosTimeToCalendar(dosDate(2040, 2, 28), dosTime(12, 0, 0)), 86400); // a leap day
    EXPECT_EQ(dosTimeToCalendar(dosDate(2100, 3, 1), 0) - dosTimeToCalendar(dosDate(2100, 2, 28), 0),
              86400); // 2100 is no leap year
    EXPECT_EQ(dosTimeToCalendar(dosDate(2107, 12, 31), dosTime(23, 59, 58)), 4354819198LL);
}

TEST(DosTime, AnyWordValuesAreSafe) {
    // Month 0 and 15, day 0 and second 62 fold into the neighbouring units, as
    // mktime folds them; nothing is refused.
    const int64_t jan1 = dosTimeToCalendar(dosDate(1990, 1, 1), 0);
    const int64_t dec31 = dosTimeToCalendar(dosDate(1989, 12, 31), 0);
    EXPECT_EQ(dosTimeToCalendar(dosDate(1990, 1, 0), 0), dec31);
    EXPECT_EQ(dosTimeToCalendar(dosDate(1990, 0, 1), 0), dosTimeToCalendar(dosDate(1989, 12, 1), 0));
    EXPECT_EQ(dosTimeToCalendar(dosDate(1990, 15, 1), 0), dosTimeToCalendar(dosDate(1991, 3, 1), 0));
    EXPECT_EQ(dosTimeToCalendar(dosDate(1990, 1, 1), 0x1F), jan1 + 62);
    EXPECT_GT(dosTimeToCalendar(0, 0), 0); // 1980, month 0, day 0
    // 2107, month 15, day 31, 31:63:62: 31 March 2108 (January, a leap
    // February and March after the last day of 2107), plus the time fields.
    EXPECT_EQ(dosTimeToCalendar(0xFFFF, 0xFFFF),
              dosTimeToCalendar(dosDate(2107, 12, 31), 0) + (31 + 29 + 31) * 86400 + 31 * 3600 + 63 * 60 + 62);
    for (uint32_t date = 0; date <= 0xFFFF; date += 0x0FFF) {
        for (uint32_t time = 0; time <= 0xFFFF; time += 0x1FFF) {
            const int64_t t = dosTimeToCalendar(static_cast<uint16_t>(date), static_cast<uint16_t>(time));
            EXPECT_GT(t, 0) << date << " " << time;
        }
    }
}
