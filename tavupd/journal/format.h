// The journal of a patch: one line of text per record, written before each
// change a run makes, so that the change can be taken back.
//
// A journal file (ARCHIVE\<patch>.JNL) begins with the line
//     TAVUPD JOURNAL 1
// and then holds one record per line, each line ended by CR LF:
//     <number> <kind> <name>=<value> <name>=<value> ... check=<CRC>
// The number counts the records of the file (each greater than the one
// before). A value is either a bare word (digits, letters, '-', '.', e.g.
// `absent`, `yes`, `REG_SZ`, `1234`) or a text in double quotes in which
// every byte outside the printable ASCII range, and '"' and '%', is written
// as %XX (two hexadecimal digits): any bytes round-trip, and a path reads as
// itself: "C:\TAVRO\TVVIEW.EXE". A value may be repeated (the lines of a
// section, the keys of a registry tree, the files a change left); the order
// of the fields is kept.
//
// Kinds: `begin` opens the records of one run (patch, profile, time,
// Windows family); one record per change (`file-replaced`, `ini-set`, ...,
// see kindWord) with what undo needs; `left` tells, after a change, whether
// it was made and what the files it wrote then hold (size and CRC-32);
// `undo-begin`, `undo-step`, `undone`, `undo-deferral` and `undo-finished`
// are written by undo itself so that an interrupted undo can be run again.
// The check field ends every line: the CRC-32 of the bytes before it, so that
// a line cut short by a power failure is never taken for a record.
#pragma once

#include "engine/change.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace journal {

constexpr const char *kMagic = "TAVUPD JOURNAL";
constexpr int kVersion = 1;
// The first line of a journal of this version.
std::string headerLine();

// ---- building blocks -------------------------------------------------------

// CRC-32 (the common polynomial 0xEDB88320) of the bytes.
std::uint32_t crc32(std::string_view bytes);

// The Windows family a run deferred its replacements for.
enum class Family { None, Win95, NT };

// What the journal knows of a file at one moment.
struct FileState {
    enum class Is { Unknown, Absent, Present };
    Is is = Is::Unknown;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;

    static FileState unknown() { return {}; }
    static FileState absent() { return {Is::Absent, 0, 0}; }
    static FileState of(std::string_view bytes);
    bool known() const { return is != Is::Unknown; }
    // Both known and alike: both absent, or the same size and CRC.
    bool sameAs(const FileState &other) const;
};

// A copy of a file made before a change, under ARCHIVE\UNDO\<patch>\.
struct Saved {
    std::string original;            // the file that was copied
    std::optional<std::string> copy; // the copy; none: the file did not exist (state absent)
                                     // or could not be read (state unknown)
    FileState state;                 // the original's bytes then (those of the copy)
    bool unreadable() const { return !copy && !state.known(); }
};

// A file a change wrote and what it holds right after the change.
struct FileLeft {
    std::string path;
    FileState state;
};

// ---- records ---------------------------------------------------------------

struct Begin {
    std::string patch;
    std::string profile;
    std::string time;
    Family family = Family::None;
    std::string product;
    std::string windows;
    // The record index the run found free in [Install] (Patch<n>), or none.
    std::optional<std::uint32_t> nextPatch;
};

// A change, described before it is made.
struct ChangeRecord {
    change::Change change;
    std::vector<Saved> saved;
    // A replacement registered in WININIT.INI: its line ("target=source"),
    // and whether the registration added it (false: it was there already).
    std::optional<std::string> entry;
    bool entryAdded = false;
    // A replacement registered as a delayed move: how many pairs
    // PendingFileRenameOperations held before, and whether it existed.
    std::optional<std::uint32_t> pairsBefore;
    bool pendingValueExisted = false;
};

// After a change: whether it was made, and the files it wrote.
struct Left {
    std::uint64_t of = 0;
    bool made = true;
    std::vector<FileLeft> files;
};

struct UndoBegin {
    std::string time;
    bool forced = false;
};

// Undo is about to take back record `of`; `want` carries what the step
// decided (the [Install] list it writes), so that a run cut in the middle
// of the step repeats the same step.
struct UndoStep {
    std::uint64_t of = 0;
    std::optional<std::vector<std::string>> want;
};

struct Undone {
    std::uint64_t of = 0;
    bool deferred = false;            // finished by the next start of Windows
    std::optional<std::string> skipped; // forced past a conflict: why
};

// Undo registered a replacement for the next start of Windows (the same
// fields as a change record of kind RestartRegistered).
struct UndoDeferral {
    std::uint64_t of = 0;
    ChangeRecord registration;
};

struct UndoFinished {};

using Body = std::variant<Begin, ChangeRecord, Left, UndoBegin, UndoStep, Undone, UndoDeferral, UndoFinished>;

struct Entry {
    std::uint64_t seq = 0;
    Body body;
};

// The word naming a change kind in the journal ("file-replaced", ...).
const char *kindWord(change::Kind kind);
const char *familyWord(Family family);

// The record as one line, without its line end.
std::string formatEntry(const Entry &entry);

// Reads one line (without its line end). On failure, `problem` says why and
// `unknownKind` tells a well-formed line of a kind this version does not know.
struct ParsedLine {
    std::optional<Entry> entry;
    std::string problem;
    bool unknownKind = false;
};
ParsedLine parseLine(std::string_view line);

// ---- names -----------------------------------------------------------------

// A patch name as a file name: letters, digits, '-' and '_' kept, anything
// else (and a name longer than 64 characters) made safe and told apart by
// a CRC of the whole name ("~" and 8 hexadecimal digits).
std::string fileStem(const std::string &patch);
// ARCHIVE\<stem>.JNL and ARCHIVE\UNDO\<stem>.
std::string journalPath(const std::string &archive, const std::string &patch);
// Where the journal is while the archive directory is not there: beside it,
// in the product directory (<product>\<stem>.JNL). A run that must make the
// archive directory begins its journal there and moves it in once the
// directory is made; undo moves it there before it removes the directory.
// Either way a cut finds a journal that knows of the directory.
std::string besideJournalPath(const std::string &archive, const std::string &patch);
std::string undoDirectory(const std::string &archive);
std::string copyDirectory(const std::string &archive, const std::string &patch);

// An INI location in the registry, as the profiles name it: the key path
// below HKEY_LOCAL_MACHINE ending with a backslash (a file path never does).
bool isRegistryIni(const std::string &path);

} // namespace journal
