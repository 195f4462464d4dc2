// Arbitrary bytes as a journal file: read without a crash, and every record
// the reader accepts is written back as a line that reads as the same record.
#include "journal/format.h"
#include "journal/reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

// A record read from a line is written back as a line that reads as itself.
void requireRoundTrip(const journal::Entry &e) {
    const std::string line = journal::formatEntry(e);
    require(line.find('\n') == std::string::npos);
    const journal::ParsedLine back = journal::parseLine(line);
    require(back.entry.has_value());
    require(journal::formatEntry(*back.entry) == line);
}

// The line with the check the writer would give it, so that the fields
// behind the check are reached too.
std::string withCheck(const std::string &line) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out = line + " check=";
    const std::uint32_t crc = journal::crc32(line);
    for (int shift = 28; shift >= 0; shift -= 4) out += hex[(crc >> shift) & 0xFu];
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size > 1 << 16) return 0;
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    const journal::Journal j = journal::readJournal(bytes);

    std::size_t lines = 1;
    for (char c : bytes) lines += c == '\n';
    std::uint64_t seq = 0;
    for (const journal::Entry &e : j.entries) {
        require(e.seq > seq);
        seq = e.seq;
        requireRoundTrip(e);
    }
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        const journal::ParsedLine p = journal::parseLine(withCheck(bytes.substr(start, end - start)));
        if (p.entry) requireRoundTrip(*p.entry);
        else require(!p.problem.empty());
        start = end + 1;
    }
    require(j.lastSeq == seq);
    for (const journal::Problem &p : j.problems) require(p.line >= 1 && p.line <= lines);
    require(j.isJournal || j.entries.empty());
    return 0;
}
