#include "journal/reader.h"

namespace journal {

bool Journal::damaged() const {
    for (const Problem &p : problems)
        if (!p.harmless) return true;
    return false;
}

namespace {

struct Lines {
    std::vector<std::string_view> complete; // each ended by LF (CR before it removed)
    std::string_view cut;                   // text after the last LF
};

Lines splitLines(std::string_view bytes) {
    Lines out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t lf = bytes.find('\n', start);
        if (lf == std::string_view::npos) break;
        std::size_t end = lf;
        if (end > start && bytes[end - 1] == '\r') --end;
        out.complete.push_back(bytes.substr(start, end - start));
        start = lf + 1;
    }
    out.cut = bytes.substr(start);
    return out;
}

// The header line: the version it names, 0 when it is no header.
int versionOf(std::string_view line) {
    const std::string magic = std::string(kMagic) + " ";
    if (line.substr(0, magic.size()) != magic) return 0;
    const std::string_view digits = line.substr(magic.size());
    if (digits.empty() || digits.size() > 4) return 0;
    int v = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        v = v * 10 + (c - '0');
    }
    return v;
}

// The first record a writer appends: a run's or an undo's.
bool startsWriter(const Entry &e) {
    return std::holds_alternative<Begin>(e.body) || std::holds_alternative<UndoBegin>(e.body);
}

void readRecords(Journal &j, const std::vector<std::string_view> &lines) {
    // An unreadable line is harmless when it is the last one, or when the
    // next readable one begins a run or an undo: the fragment a cut run left,
    // ended by the writer that came next.
    std::vector<std::size_t> unreadable;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        ParsedLine p = parseLine(lines[i]);
        if (!p.entry) {
            j.problems.push_back({i + 1, p.problem, false});
            if (!p.unknownKind) unreadable.push_back(j.problems.size() - 1);
            continue;
        }
        if (p.entry->seq <= j.lastSeq) {
            j.problems.push_back({i + 1, "the record number does not follow the one before", false});
            continue;
        }
        if (startsWriter(*p.entry))
            for (std::size_t k : unreadable) j.problems[k].harmless = true;
        unreadable.clear();
        j.lastSeq = p.entry->seq;
        j.entries.push_back(std::move(*p.entry));
    }
    for (std::size_t k : unreadable)
        if (j.problems[k].line == lines.size()) j.problems[k].harmless = true;
}

} // namespace

Journal readJournal(std::string_view bytes) {
    Journal j;
    const Lines lines = splitLines(bytes);
    j.endsCut = !lines.cut.empty();
    if (lines.complete.empty()) {
        // Nothing but (part of) the header: a journal cut before its records.
        const std::string header = headerLine() + "\r\n";
        j.isJournal = header.compare(0, lines.cut.size(), lines.cut) == 0 && lines.cut.size() <= header.size();
        j.version = kVersion;
        if (!j.isJournal) j.problems.push_back({1, "the file is no journal", false});
        return j;
    }
    j.version = versionOf(lines.complete.front());
    if (j.version == 0) {
        j.problems.push_back({1, "the file is no journal", false});
        return j;
    }
    j.isJournal = true;
    if (j.version > kVersion) {
        j.problems.push_back({1, "the journal is of a later version (" + std::to_string(j.version) + ")", false});
        return j;
    }
    readRecords(j, lines.complete);
    if (j.endsCut)
        j.problems.push_back({lines.complete.size() + 1, "the last line is cut short and is ignored", true});
    return j;
}

} // namespace journal
