// The stateless field splitter against the engine's nextField on arbitrary
// lines, and the splitter's own promises about where pieces came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "text/fields.h"
#include "tvpdf_fields.h"

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string raw(reinterpret_cast<const char *>(data), size);
    // The engine splits a C text of at most 255 characters.
    const std::string line = raw.substr(0, raw.find('\0')).substr(0, 255);

    std::vector<std::string> engine;
    for (const char *f = nextField(line.c_str(), "=", 1); f; f = nextField(nullptr, ",", 1)) engine.emplace_back(f);

    const text::SplitLine s = text::splitLine(line);
    std::vector<std::string> ours{s.key};
    ours.insert(ours.end(), s.fields.begin(), s.fields.end());
    require(ours == engine);

    // Spans lie in order inside the line; every removed backslash is one.
    require(s.fields.size() == s.fieldSpans.size());
    require(s.hasFields == !s.fields.empty());
    std::size_t end = s.keySpan.begin + s.keySpan.length;
    require(end <= line.size());
    for (const text::Span &span : s.fieldSpans) {
        require(span.begin == end + 1); // one separator between pieces
        end = span.begin + span.length;
        require(end <= line.size());
    }
    for (std::size_t i = 0; i < s.removedBackslashes.size(); ++i) {
        require(s.removedBackslashes[i] < line.size() && line[s.removedBackslashes[i]] == '\\');
        require(i == 0 || s.removedBackslashes[i - 1] < s.removedBackslashes[i]);
    }
    // Arbitrary bytes beyond the engine's limit, NULs included, split too.
    const text::SplitLine whole = text::splitLine(raw);
    require(whole.fields.size() == whole.fieldSpans.size());
    return 0;
}
