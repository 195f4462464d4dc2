// Pieces of the file primitives that tests reach directly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tvpfile_detail {

// Longest path the file primitives form or accept.
constexpr size_t kPathMax = 259;

// Bytes a copy moves per read and write.
constexpr size_t kTransferBufferSize = 64u * 1024u;

// A free name from the template ("TVXXXXXX" or "MTXXXXXX") in the directory,
// with the lowest 20 bits of `pid` in the fourth, sixth, seventh and eighth
// characters; none when all 27 candidates exist or the path would be too long.
std::optional<std::string> tempNameFromTemplate(const std::string &directory, const char *templ, uint32_t pid);

// Template of the work names under which copies are written beside their
// destination ("~C0k.h40"), and whether a file name is one of them.
constexpr const char *kWorkTemplate = "~CXXXXXX";
bool isWorkFileName(const std::string &name);

// makeTempName with the process identifier given.
std::optional<std::string> makeTempNameFor(const std::string &directory, uint32_t pid);

// The backup name of a path: its extension replaced by ".OLD". Never cut
// short; a result longer than kPathMax is refused where it is used.
std::string backupNameOf(const std::string &path);

} // namespace tvpfile_detail
