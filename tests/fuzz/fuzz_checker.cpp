// Any bytes as an installation profile: the model and the checker give
// findings and a status, never a crash, and the report keeps its form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "check/checker.h"
#include "text/textkit.h"

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

class Kit : public check::KitView {
  public:
    std::vector<std::string> fileNames() const override { return {"TAVUPD.DAT", "TVVIEW.EXE", "A.DLL", "R.EXE"}; }
};

void checkModel(const patch::Model &m) {
    for (std::size_t i = 0; i < m.conditionSets.size(); ++i) {
        require(m.conditionSets[i].number == static_cast<int>(i));
        require(!m.conditionSets[i].lines.empty());
    }
    for (const patch::Section &s : m.sections) {
        require(s.headerLine >= 1 && static_cast<std::size_t>(s.headerLine) <= m.lines.size());
        for (const patch::ActionLine &a : s.lines) {
            require(a.line > s.headerLine && static_cast<std::size_t>(a.line) <= m.lines.size());
            // Nothing longer than the line limit is ever runnable.
            if (a.runnable()) require(!a.overlong && a.text.size() <= text::kLineMax);
            if (a.overlong) require(!a.runnable());
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // Profiles are small; longer inputs only repeat what their first 2 KB
    // exercise, at a cost that would slow the run down.
    const std::string bytes(reinterpret_cast<const char *>(data), size < 2048 ? size : 2048);
    const patch::Model model = patch::parse(bytes);
    checkModel(model);
    const check::Report report = check::checkProfile(model, Kit());
    require(report.errors + report.warnings == static_cast<int>(report.findings.size()));
    require(report.status() == (report.errors > 0 ? 1 : 0));
    int previous = 0;
    for (const check::Finding &f : report.findings) {
        require(f.line >= previous && static_cast<std::size_t>(f.line) <= model.lines.size());
        previous = f.line;
    }
    const std::string out = check::formatReport(report, model, "TAVUPD.DAT");
    require(!out.empty() && out.back() == '\n');
    for (char c : out) require(c == '\n' || (c >= 0x20 && c <= 0x7e));
    const std::string last = out.substr(out.rfind('\n', out.size() - 2) + 1);
    require(last.find(" warning") != std::string::npos && last.find(" error") != std::string::npos);
    return 0;
}
