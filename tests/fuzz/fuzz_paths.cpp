// Arbitrary bytes as paths and replacement parts for every path helper, and
// as packed DOS date and time words.
#include "paths.h"

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
        const std::int64_t t = dosTimeToCalendar(date, time);
        require(t > 0);
        // Two seconds later is exactly two seconds more (the seconds field has room).
        if ((time & 0x1F) < 29) {
            const std::int64_t later = dosTimeToCalendar(date, static_cast<std::uint16_t>(time + 1));
            require(later == t + 2);
        }
    }

    const std::vector<std::string> in = pieces(data, size);
    const std::string &path = in[0];
    const std::uint8_t mask = size > 0 ? data[size - 1] : 0;

    const PathParts parts = splitPath(path);
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

    std::string text = path;
    require(pathFileName(text) == parts.name + parts.extension);
    text = path;
    pathFolder(text);
    require(!text.empty() && text.back() == '\\');
    text = path;
    pathDriveAndBase(text);
    require(text == parts.drive + parts.name);
    text = path;
    pathWithoutDrive(text);
    text = path;
    pathDirectoryAndBase(text);

    text = path;
    replacePathParts(text, maybe(in[1], mask & 1), maybe(in[2], mask & 2), maybe(in[3], mask & 4),
                     maybe(in[4], mask & 8));
    require(text.size() <= 2 + 255 + 1 + in[1].size() + in[2].size() + 255 + in[3].size() + 255 + in[4].size() + 255);
    if (mask & 8) {
        const std::string extension = in[4].c_str(); // passed as a C text
        require(text.size() >= extension.size() &&
                text.compare(text.size() - extension.size(), std::string::npos, extension) == 0);
    }

    text = path;
    setExtension(text, in[1].c_str());
    text = path;
    setFileName(text, in[1]);
    text = path;
    setDriveAndFileName(text, in[2].c_str(), in[3]);
    text = path;
    setDirectoryAndFileName(text, in[2].c_str(), in[3]);
    text = path;
    setDriveDirectoryAndBase(text, in[1].c_str(), in[2].c_str(), in[3].c_str());

    const std::string merged = mergePath(maybe(in[1], mask & 16), maybe(in[2], mask & 32), maybe(in[3], mask & 64),
                                         maybe(in[4], mask & 128));
    require(merged.size() <= 2 + in[2].size() + 1 + in[3].size() + 1 + in[4].size());

    const std::string joinedPath = joinPath(in[1], in[2]);
    require(joinedPath.size() >= in[2].size() + 1 || (!in[1].empty() && in[1].back() == '\\'));
    return 0;
}
