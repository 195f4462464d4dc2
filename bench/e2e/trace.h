// The call trace of the fault build (TAVUPD_CALL_TRACE_FILE): one line per
// platform call, in call order.
//
// The reader takes what identifies a call and leaves the rest of a line
// alone, so that details the fault build may add or change do not stop the
// benchmark: a line is "<number> <name>", where the number may end in ':'
// or '.', the separator may be any run of blanks or tabs, the name is the
// first word after it (up to a blank, '(' or ','; "CreateFileA",
// "fs::CreateFileA" and "file.open" are names) and anything after the name
// (arguments, results) is ignored. Blank lines and lines starting with '#'
// are skipped. A trace may also leave the numbers out altogether (one name
// per line); then nothing shows a line missing.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tvbench {

struct CallTrace {
    std::vector<std::string> calls;         // names in call order
    std::map<std::string, long> perName;    // how often each name occurs
};

// Reads a trace. False (with `error` set) when a line has no name, when
// numbered and unnumbered lines are mixed, or when the numbers do not run
// on by one from 0 or 1 without a gap, so that a trace cut at its start,
// with a line missing, or mixed from two runs is never taken for a count.
bool parseCallTrace(const std::string &text, CallTrace &trace, std::string &error);

// Calls per unit between two runs of the same workload that differ by
// `units` actions: (larger - smaller) / units for every name of either.
std::map<std::string, double> callsPerUnit(const CallTrace &smaller, const CallTrace &larger, int units);

// The calls one more action makes, in order: the part of `larger` (a run
// with one action more than `smaller`) between the longest start and the
// longest end the two traces have in common.
CallTrace extraCalls(const CallTrace &smaller, const CallTrace &larger);

// The call order as runs of one name: "stat x3, CreateFileA, ReadFile x2".
std::string callSequence(const CallTrace &trace);

} // namespace tvbench
