// The call trace of the fault build (TAVUPD_CALL_TRACE_FILE): one line per
// platform call, "<number> <name>", numbered from 1.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tvbench {

struct CallTrace {
    std::vector<std::string> calls;         // names in call order
    std::map<std::string, long> perName;    // how often each name occurs
};

// Reads a trace. False (with `error` set) when a line is not "<number>
// <name>" or the numbers do not run 1, 2, 3, ... without a gap, so that a
// trace cut short or mixed from two runs is never taken for a count.
bool parseCallTrace(const std::string &text, CallTrace &trace, std::string &error);

// Calls per unit between two runs of the same workload that differ by
// `units` actions: (larger - smaller) / units for every name of either.
std::map<std::string, double> callsPerUnit(const CallTrace &smaller, const CallTrace &larger, int units);

// The call order as runs of one name: "stat x3, CreateFileA, ReadFile x2".
std::string callSequence(const CallTrace &trace);

} // namespace tvbench
