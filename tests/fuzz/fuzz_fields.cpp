// Arbitrary bytes as a line of a branch section: how the line is trimmed,
// recognised (key, comment, overlong) and decoded into an action.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <variant>

#include "text/patchmodel.h"
#include "text/textkit.h"

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string raw(reinterpret_cast<const char *>(data), size);
    // A line as the engine sees it: up to its first NUL.
    const std::string line = raw.substr(0, raw.find('\0'));
    const patch::ActionLine a = patch::decodeActionLine(line, 7);
    require(a.line == 7);

    // The text is the line trimmed of blanks.
    require(a.text == std::string(text::trimmed(line)));
    require(a.text.empty() || (!text::isBlank(a.text.front()) && !text::isBlank(a.text.back())));
    if (a.text.empty()) require(a.kind == patch::ActionKind::Blank);

    const bool comment = a.text.rfind(";", 0) == 0 || a.text.rfind("//", 0) == 0;
    require(comment == (a.kind == patch::ActionKind::Comment));
    if (a.kind == patch::ActionKind::Blank || comment) {
        require(a.action.index() == 0 && a.problems.empty() && !a.overlong);
        return 0;
    }
    // The key is the text before the first "=".
    require(a.key == a.text.substr(0, a.text.find('=')));
    require(a.overlong == (a.text.size() > text::kLineMax));
    // An overlong or unknown line is refused and never decoded.
    if (a.overlong || a.kind == patch::ActionKind::Unknown) {
        require(a.action.index() == 0 && a.refused() && !a.runnable());
        return 0;
    }
    require(a.action.index() != 0);
    // The kind follows the keyword in any case.
    require(text::startsWithNoCase(a.text, patch::keywordOf(a.kind)));
    return 0;
}
