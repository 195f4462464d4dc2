// Arbitrary bytes as paths and replacement parts for every path helper, and
// as packed DOS date and time words.
#include "text/paths.h"
#include "text/textkit.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// The input cut at "|" into a path and up to four further texts.
std::vector<std::string> pieces(const std::uint8_t *data, std::size_t size) {
    std::vector<std::string> out(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '|' && out.size() < 5) {
            out.emplace_back();
        } else {
            out.back().push_back(static_cast<char>(data[i]));
        }
    }
    while (out.size() < 5) out.emplace_back();
    return out;
}

const char *maybe(const std::string &text, bool present) { return present ? text.c_str() : nullptr; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size >= 4) {
        const auto date = static_cast<std::uint16_t>(data[0] | (data[1] << 8));
        const auto time = static_cast<std::uint16_t>(data[2] | (data[3] << 8));
        const std::int64_t t = text::dosTimeToCalendar(date, time);
        require(t > 0);
        // Two seconds later is exactly two seconds more (the seconds field has room).
        if ((time & 0x1F) < 29) {
            const std::int64_t later = text::dosTimeToCalendar(date, static_cast<std::uint16_t>(time + 1));
            require(later == t + 2);
        }
    }

    const std::vector<std::string> in = pieces(data, size);
    const std::string &path = in[0];
    const std::uint8_t mask = size > 0 ? data[size - 1] : 0;

    const text::PathParts parts = text::splitPath(path);
    require(parts.drive.size() <= 2 && parts.directory.size() <= 255 && parts.name.size() <= 255 &&
            parts.extension.size() <= 255);
    require(parts.drive.empty() || parts.drive[1] == ':');
    require(parts.directory.empty() || parts.directory.size() == 255 || isSeparator(parts.directory.back()) ||
            parts.directory.back() == '.');
    for (char c : parts.name + parts.extension) require(!isSeparator(c));
    require(parts.extension.empty() || parts.extension[0] == '.');
    require(parts.name.find('.') == std::string::npos || !parts.extension.empty());
    // Without cuts the parts put together give the path looked at.
    const std::string considered = path.substr(0, 260);
    const std::string joined = parts.drive + parts.directory + parts.name + parts.extension;
    if (parts.directory.size() < 255 && parts.name.size() < 255 && parts.extension.size() < 255) {
        require(joined == considered);
    } else {
        require(considered.compare(0, parts.drive.size(), parts.drive) == 0);
    }

    require(text::fileNameOf(path) == parts.name + parts.extension);
    const std::string folder = text::folderOf(path);
    require(!folder.empty() && folder.back() == '\\');
    require(folder == parts.drive + parts.directory || folder == parts.drive + parts.directory + "\\");

    // The extension given ends the path; a name given replaces name and
    // extension alike, after the drive and directory.
    const std::string extension = in[1].c_str(); // passed as a C text
    const std::string withExtension = text::withExtension(path, extension.c_str());
    require(withExtension.size() >= extension.size() &&
            withExtension.compare(withExtension.size() - extension.size(), std::string::npos, extension) == 0);
    const std::string withName = text::withFileName(path, in[2]);
    require(withName.compare(0, folder.size() - 1, folder, 0, folder.size() - 1) == 0);

    const std::string merged = text::mergePath(maybe(in[1], mask & 16), maybe(in[2], mask & 32), maybe(in[3], mask & 64),
                                         maybe(in[4], mask & 128));
    require(merged.size() <= 2 + in[2].size() + 1 + in[3].size() + 1 + in[4].size());

    const std::string joinedPath = text::joinPath(in[1], in[2]);
    require(joinedPath.size() >= in[2].size() + 1 || (!in[1].empty() && in[1].back() == '\\'));
    return 0;
}
