#include "check/checker.h"

#include <algorithm>
#include <set>

#include "text/textkit.h"

namespace check {
namespace {

using patch::ActionKind;
using patch::ActionLine;
using patch::ConditionLine;
using patch::ConditionSet;
using patch::Model;
using patch::Section;
using patch::UnreadCondition;

std::string quoted(std::string_view s) { return "\"" + text::visible(s) + "\""; }

class Checker {
  public:
    Checker(const Model &model, const KitView &kit) : model_(model), kitNames_(kit.fileNames()) {}

    Report run() {
        for (const patch::Diagnostic &d : model_.fileProblems) add(d);
        outsideSections();
        const Section *patch = model_.patchSection();
        if (!patch) {
            error(0, "no [Patch] section: the patch has no name and no condition set can hold");
        } else {
            settings(*patch);
            patchKeys(*patch);
            conditions(*patch);
        }
        sections();
        std::stable_sort(report_.findings.begin(), report_.findings.end(),
                         [](const Finding &a, const Finding &b) { return a.line < b.line; });
        return std::move(report_);
    }

  private:
    void add(int line, Severity severity, std::string text) {
        (severity == Severity::Error ? report_.errors : report_.warnings) += 1;
        report_.findings.push_back({line, severity, std::move(text)});
    }
    void add(const patch::Diagnostic &d) { add(d.line, d.severity, d.text); }
    void error(int line, std::string text) { add(line, Severity::Error, std::move(text)); }
    void warning(int line, std::string text) { add(line, Severity::Warning, std::move(text)); }

    bool inKit(std::string_view name) const {
        const std::string_view n = text::trimmed(name);
        for (const std::string &file : kitNames_)
            if (text::equalsNoCase(file, n)) return true;
        return false;
    }

    // A follow-on program, looked up as the driver starts it: the name, or
    // without an extension the name with .EXE, .BAT or .CMD.
    bool programInKit(const std::string &name) const {
        if (patch::fileNamePart(name) != name) return true; // a directory: not ours to check
        if (name.find('.') != std::string::npos) return inKit(name);
        for (const char *ext : {".EXE", ".BAT", ".CMD"})
            if (inKit(name + ext)) return true;
        return false;
    }

    // ---- the file's layout --------------------------------------------------

    void outsideSections() {
        const int end = model_.sections.empty() ? static_cast<int>(model_.lines.size())
                                                : model_.sections.front().headerLine - 1;
        for (int n = 1; n <= end; ++n) {
            const std::string_view t = text::trimmed(model_.lineText(n));
            if (t.empty() || t[0] == ';' || t.substr(0, 2) == "//") continue;
            warning(n, "line before the first section: it is never read");
        }
    }

    // ---- [Patch] ---------------------------------------------------------------

    void numberSetting(const patch::NumberSetting &s, const char *name, bool exactlyOne) {
        if (!s.present) return;
        if (!s.parsed) {
            warning(s.line, std::string(name) + " " + quoted(s.text) + " is not a number: the default is used");
        } else if (*s.parsed != 0 && *s.parsed != 1) {
            warning(s.line, std::string(name) + " " + quoted(s.text) + " is neither 0 nor 1: " +
                                (exactlyOne ? "only 1 turns it on" : "it acts as 1"));
        }
    }

    void program(const patch::TextSetting &s, const char *name) {
        if (!s.present || text::trimmed(s.value).empty()) return;
        if (s.value.size() > text::kPathMax)
            warning(s.line, std::string(name) + " is longer than " + std::to_string(text::kPathMax) +
                                " characters: it is cut");
        else if (!programInKit(s.value))
            warning(s.line, std::string(name) + " " + quoted(s.value) + " is not in the kit directory");
    }

    void settings(const Section &patch) {
        const patch::Settings &s = model_.settings;
        if (!s.patch.present || text::trimmed(s.patch.value).empty())
            warning(s.patch.present ? s.patch.line : patch.headerLine,
                    "no patch name (Patch=): the patch is applied on every run and never recorded as installed");
        numberSetting(s.appendLog, "AppendLog", false);
        numberSetting(s.force, "Force", true);
        numberSetting(s.backup, "Backup", true);
        program(s.rebootProgram, "Reboot Program");
        program(s.failedProgram, "Failed Program");
        const std::string log(text::trimmed(s.logFile.value));
        if (!log.empty() && patch::fileNamePart(log) == log && inKit(log))
            error(s.logFile.line, "log file " + quoted(log) + " is a file of the kit: " +
                                      (refusedAsLog(log) ? "the run refuses it and keeps no log"
                                                         : "a run started in the kit directory overwrites it"));
    }

    // The run refuses a log that names the profile, the language file or a
    // program of the kit; it would write over any other file.
    static bool refusedAsLog(const std::string &name) {
        const std::size_t dot = name.rfind('.');
        if (dot == std::string::npos) return false;
        const std::string_view ext = std::string_view(name).substr(dot);
        for (const char *refused : {".DAT", ".MSG", ".EXE", ".COM", ".BAT", ".CMD"})
            if (text::equalsNoCase(ext, refused)) return true;
        return false;
    }

    // Every line of [Patch] is a setting, a condition or a comment.
    void patchKeys(const Section &patch) {
        for (const ActionLine &line : patch.lines) {
            if (line.kind == ActionKind::Blank || line.kind == ActionKind::Comment) continue;
            if (text::startsWithNoCase(line.text, "Condition")) continue; // see conditions()
            const std::string raw(model_.lineText(line.line));
            const char *known = nullptr;
            for (const char *name : patch::kSettingNames)
                if (ini::valueOfKey(raw.c_str(), name)) known = name;
            if (known) {
                const int used = usedLine(known);
                if (used != line.line)
                    warning(line.line, std::string("setting ") + known + " is given again: line " +
                                           std::to_string(used) + " is used, this one is never read");
                continue;
            }
            const std::size_t eq = line.text.find('=');
            if (eq == std::string::npos) {
                warning(line.line, "line in [Patch] that is no setting (no \"=\"): it is ignored");
                continue;
            }
            const std::string key(text::trimmed(std::string_view(line.text).substr(0, eq)));
            std::string message = "unknown [Patch] key " + quoted(key) + ": it is ignored";
            std::size_t cut = key.size();
            while (cut > 0 && key[cut - 1] >= '0' && key[cut - 1] <= '9') --cut;
            if (cut < key.size() && closeTo(key.substr(0, cut), "Condition")) {
                message += "; did you mean \"Condition" + key.substr(cut) + "\"?";
            } else {
                for (const char *name : patch::kSettingNames) {
                    if (closeTo(key, name)) {
                        message += std::string("; did you mean \"") + name + "\"?";
                        break;
                    }
                }
            }
            warning(line.line, message);
        }
    }

    int usedLine(const char *setting) const {
        const patch::Settings &s = model_.settings;
        const std::string_view n = setting;
        if (n == "LogFile") return s.logFile.line;
        if (n == "AppendLog") return s.appendLog.line;
        if (n == "Force") return s.force.line;
        if (n == "Backup") return s.backup.line;
        if (n == "Reboot Program") return s.rebootProgram.line;
        if (n == "Failed Program") return s.failedProgram.line;
        return s.patch.line;
    }

    // Within two edits (a letter or two away), ignoring case and blanks' place.
    static bool closeTo(std::string_view a, std::string_view b) {
        if (text::equalsNoCase(a, b) || a.size() > b.size() + 2 || b.size() > a.size() + 2) return false;
        std::vector<std::size_t> prev(b.size() + 1), cur(b.size() + 1);
        for (std::size_t j = 0; j <= b.size(); ++j) prev[j] = j;
        for (std::size_t i = 1; i <= a.size(); ++i) {
            cur[0] = i;
            for (std::size_t j = 1; j <= b.size(); ++j) {
                const std::size_t cost = text::upper(a[i - 1]) == text::upper(b[j - 1]) ? 0 : 1;
                cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + cost});
            }
            std::swap(prev, cur);
        }
        return prev[b.size()] <= 2;
    }

    // ---- conditions ------------------------------------------------------------

    void conditions(const Section &patch) {
        const std::vector<ConditionSet> &sets = model_.conditionSets;
        const int end = static_cast<int>(sets.size());
        if (sets.empty())
            error(patch.headerLine, "no Condition0 line: no condition set can hold, the patch never applies");
        for (const ConditionSet &set : sets) conditionSet(set);
        unreadConditions(end);
    }

    void conditionSet(const ConditionSet &set) {
        const ConditionLine *failing = nullptr;
        for (const ConditionLine &line : set.lines) {
            for (const patch::Diagnostic &d : line.problems) add(d);
            if (failing) {
                warning(line.line, "never tested: line " + std::to_string(failing->line) +
                                       " of the same set holds on no machine, so Condition" +
                                       std::to_string(set.number) + " never holds");
            } else if (line.alwaysFails) {
                failing = &line;
            }
        }
        const ConditionLine &first = set.lines.front();
        if (first.overlong) return;
        const patch::Field &branch = set.branch();
        if (!text::isFilled(branch)) {
            error(first.line, "no branch (field 1): the set names no section to process");
        } else if (!model_.findSection(*branch)) {
            error(first.line, "Condition" + std::to_string(set.number) + " names section " + quoted(*branch) +
                                  ", which does not exist");
        }
        for (std::size_t i = 1; i < set.lines.size(); ++i) {
            const ConditionLine &line = set.lines[i];
            if (line.overlong || !line.fields.branch || !branch || *line.fields.branch == *branch) continue;
            warning(line.line, "branch " + quoted(*line.fields.branch) + " is not used: a set processes the branch "
                               "of its first line, " + quoted(*branch));
        }
        if (text::isFilled(branch))
            if (const Section *s = model_.findSection(*branch)) reached_.insert(s->headerLine);
    }

    void unreadConditions(int end) {
        std::vector<UnreadCondition> unread = model_.unreadConditions;
        std::sort(unread.begin(), unread.end(),
                  [](const UnreadCondition &a, const UnreadCondition &b) { return a.line < b.line; });
        int brokenAtEnd = 0; // the line meant as Condition<end> that is not read
        int beyond = 0;
        for (const UnreadCondition &u : unread) {
            if (u.reason == UnreadCondition::Reason::BeyondEnd)
                ++beyond;
            else if (u.number == end && brokenAtEnd == 0)
                brokenAtEnd = u.line;
        }
        const std::string endKey = "Condition" + std::to_string(end);
        bool gapReported = false;
        for (const UnreadCondition &u : unread) {
            std::string message;
            switch (u.reason) {
            case UnreadCondition::Reason::BeyondEnd:
                if (brokenAtEnd != 0) {
                    error(u.line, "condition line never read: the condition list ends at " + endKey + " (line " +
                                      std::to_string(brokenAtEnd) + " is not read as one)");
                } else if (!gapReported) {
                    gapReported = true;
                    warning(u.line, "numbering gap: there is no " + endKey + " line, so the " +
                                        std::to_string(beyond) + " condition line" + (beyond == 1 ? "" : "s") +
                                        " numbered above it, this one included, are never read");
                }
                continue;
            case UnreadCondition::Reason::BlankBeforeEquals:
                message = "condition key with a blank before \"=\" is not read; write \"Condition" +
                          std::to_string(u.number) + "=\"";
                break;
            case UnreadCondition::Reason::Indented:
                message = "blanks before the condition key: the line is not read";
                break;
            case UnreadCondition::Reason::BadNumber:
                message = "condition key is not read: it must be \"Condition\" and the set number 0, 1, 2, ... "
                          "followed by \"=\"";
                break;
            case UnreadCondition::Reason::NoEquals:
                message = "condition line without \"=\" is not read";
                break;
            }
            if (u.number == end && beyond > 0) message += "; the condition list ends here";
            error(u.line, message);
        }
    }

    // ---- branch sections ----------------------------------------------------------

    void sections() {
        const Section *patch = model_.patchSection();
        for (const Section &s : model_.sections) {
            if (s.indented) {
                warning(s.headerLine, "line begins with \"[\" after blanks: it ends the section above, and the "
                                      "lines below it are never read");
                continue;
            }
            if (s.unclosed) {
                warning(s.headerLine, "section header without \"]\": it is never found");
                continue;
            }
            if (s.duplicate) {
                const Section *first = model_.findSection(s.name);
                warning(s.headerLine, "duplicate section [" + text::visible(s.name) + "]: the one at line " +
                                          std::to_string(first ? first->headerLine : 0) +
                                          " is used, this one is never read");
                continue;
            }
            const bool reached = reached_.count(s.headerLine) > 0;
            if (&s == patch && !reached) continue;
            if (!reached && patch)
                warning(s.headerLine, "section [" + text::visible(s.name) + "] is reached by no condition set");
            for (const ActionLine &line : s.lines) actionLine(line);
        }
    }

    void actionLine(const ActionLine &line) {
        for (const patch::Diagnostic &d : line.problems) add(d);
        if (const auto *install = std::get_if<patch::InstallAction>(&line.action)) {
            if (text::isFilled(install->file) && install->compress.valueOr(0) == 0) {
                const std::string name = patch::fileNamePart(*install->file);
                if (!inKit(name))
                    error(line.line, "file " + quoted(name) + " is not in the kit directory");
            }
        } else if (const auto *reboot = std::get_if<patch::RebootAction>(&line.action)) {
            if (text::isFilled(reboot->program) && !programInKit(*reboot->program))
                warning(line.line, "restart program " + quoted(*reboot->program) + " is not in the kit directory");
        }
    }

    const Model &model_;
    std::vector<std::string> kitNames_;
    std::set<int> reached_; // header lines of the sections some set names
    Report report_;
};

} // namespace

Report checkProfile(const patch::Model &model, const KitView &kit) { return Checker(model, kit).run(); }

Report unreadableProfile() {
    Report r;
    r.findings.push_back({0, Severity::Error, "the profile cannot be read"});
    r.errors = 1;
    return r;
}

std::string formatReport(const Report &report, const patch::Model &model, std::string_view profileName) {
    const std::string name = text::visible(profileName);
    std::string out;
    for (const Finding &f : report.findings) {
        out += name;
        if (f.line > 0) out += "(" + std::to_string(f.line) + ")";
        out += f.severity == Severity::Error ? ": error: " : ": warning: ";
        out += f.text;
        out += '\n';
        if (f.line > 0) {
            out += "    ";
            out += text::visible(model.lineText(f.line));
            out += '\n';
        }
    }
    out += std::to_string(report.errors) + (report.errors == 1 ? " error, " : " errors, ");
    out += std::to_string(report.warnings) + (report.warnings == 1 ? " warning\n" : " warnings\n");
    return out;
}

} // namespace check
