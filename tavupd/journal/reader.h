// Reading a whole journal file, whatever its bytes.
#pragma once

#include "journal/format.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace journal {

struct Problem {
    std::size_t line = 0; // 1 is the header line
    std::string what;
    // A line that a cut run left unfinished (the last one, or one the next
    // writer ended before its first record): the record was never complete,
    // so the change it was about was never made. Nothing is lost.
    bool harmless = false;
};

struct Journal {
    // The file begins with the journal's header line (or is empty, or holds
    // only part of that line: a journal cut before its first record).
    bool isJournal = false;
    int version = 0;
    std::vector<Entry> entries;
    std::vector<Problem> problems;
    // The last line has no line end: a writer that appends must end it first.
    bool endsCut = false;
    std::uint64_t lastSeq = 0;

    // A problem that may hide a change: an unreadable line in the middle of
    // the records, a record of an unknown kind, a newer version.
    bool damaged() const;
};

// Never fails: what cannot be read is told in `problems`.
Journal readJournal(std::string_view bytes);

} // namespace journal
