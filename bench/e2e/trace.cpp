#include "trace.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace tvbench {

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

// The word at `pos` (blanks before it skipped): up to a blank, '(' or ','.
std::string word(const std::string &line, size_t &pos) {
    while (pos < line.size() && blank(line[pos])) ++pos;
    const size_t start = pos;
    while (pos < line.size() && !blank(line[pos]) && line[pos] != '(' && line[pos] != ',') ++pos;
    return line.substr(start, pos - start);
}

// The call number a word gives ("12", "12:" or "12."); false for any other word.
bool callNumber(const std::string &w, unsigned long &number) {
    std::string digits = w;
    if (!digits.empty() && (digits.back() == ':' || digits.back() == '.')) digits.pop_back();
    if (digits.empty() || digits.size() > 9) return false;
    for (char c : digits)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    number = std::strtoul(digits.c_str(), nullptr, 10);
    return true;
}

} // namespace

bool parseCallTrace(const std::string &text, CallTrace &trace, std::string &error) {
    trace = CallTrace{};
    enum class Numbering { Unknown, Numbered, Unnumbered } numbering = Numbering::Unknown;
    unsigned long expected = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t at = 0;
        const std::string first = word(line, at);
        if (first.empty() && at >= line.size()) continue; // a blank line
        if (first.rfind("#", 0) == 0) continue;          // a comment

        unsigned long number = 0;
        const bool numbered = callNumber(first, number);
        const std::string name = numbered ? word(line, at) : first;
        unsigned long notAName = 0;
        if (name.empty() || callNumber(name, notAName)) {
            error = "no call name in trace line \"" + line + "\"";
            return false;
        }
        const Numbering kind = numbered ? Numbering::Numbered : Numbering::Unnumbered;
        if (numbering == Numbering::Unknown) {
            numbering = kind;
            if (numbered && number > 1) {
                error = "the trace starts at call " + std::to_string(number);
                return false;
            }
            expected = number;
        } else if (kind != numbering) {
            error = "numbered and unnumbered lines mixed at \"" + line + "\"";
            return false;
        }
        if (numbered) {
            if (number != expected) {
                error = "call " + std::to_string(number) + " where call " + std::to_string(expected) + " was due";
                return false;
            }
            ++expected;
        }
        trace.calls.push_back(name);
        ++trace.perName[name];
    }
    return true;
}

std::map<std::string, double> callsPerUnit(const CallTrace &smaller, const CallTrace &larger, int units) {
    std::map<std::string, double> result;
    if (units <= 0) return result;
    for (const auto &entry : larger.perName) result[entry.first] = static_cast<double>(entry.second);
    for (const auto &entry : smaller.perName) result[entry.first] -= static_cast<double>(entry.second);
    for (auto &entry : result) entry.second /= units;
    return result;
}

CallTrace extraCalls(const CallTrace &smaller, const CallTrace &larger) {
    const std::vector<std::string> &a = smaller.calls, &b = larger.calls;
    const size_t shorter = std::min(a.size(), b.size());
    size_t start = 0;
    while (start < shorter && a[start] == b[start]) ++start;
    size_t end = 0;
    while (end < shorter - start && a[a.size() - 1 - end] == b[b.size() - 1 - end]) ++end;
    CallTrace extra;
    for (size_t i = start; i < b.size() - end; ++i) {
        extra.calls.push_back(b[i]);
        ++extra.perName[b[i]];
    }
    return extra;
}

std::string callSequence(const CallTrace &trace) {
    std::string out;
    for (size_t i = 0; i < trace.calls.size();) {
        size_t j = i;
        while (j < trace.calls.size() && trace.calls[j] == trace.calls[i]) ++j;
        if (!out.empty()) out += ", ";
        out += trace.calls[i];
        if (j - i > 1) out += " x" + std::to_string(j - i);
        i = j;
    }
    return out;
}

} // namespace tvbench
