#include "trace.h"

#include <cctype>
#include <cstdlib>

namespace tvbench {

bool parseCallTrace(const std::string &text, CallTrace &trace, std::string &error) {
    trace = CallTrace{};
    size_t pos = 0;
    unsigned long expected = 1;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;

        const size_t blank = line.find(' ');
        const std::string number = line.substr(0, blank);
        const std::string name = blank == std::string::npos ? std::string() : line.substr(blank + 1);
        bool digits = !number.empty();
        for (char c : number) digits = digits && std::isdigit(static_cast<unsigned char>(c));
        bool word = !name.empty();
        for (char c : name) word = word && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
        if (!digits || !word) {
            error = "not a trace line: \"" + line + "\"";
            return false;
        }
        if (std::strtoul(number.c_str(), nullptr, 10) != expected) {
            error = "call " + number + " where call " + std::to_string(expected) + " was due";
            return false;
        }
        ++expected;
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
