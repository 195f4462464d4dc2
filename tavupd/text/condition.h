// Evaluation of one condition line of the installation profile, free of the
// platform: field splitting, choice of the INI or registry form, OS and mode
// fields, trimming, the textual comparison and the mode table. What needs
// the machine (the OS version, the test value from the registry or the
// system TAVRO.INI, trace output) comes in through ConditionHooks.
#pragma once

#include <optional>
#include <string>

class SubstituteClass;

namespace condeval {

using Field = std::optional<std::string>;

// Registry root named by a condition's fourth field.
enum class Root { None, LocalMachine, CurrentUser, ClassesRoot, Users };

// The first four characters HKLM, HKCU or HKCR in any case, or exactly HKU
// in any case; anything else (or nothing) is the INI form.
Root rootOf(const Field &field);

struct ConditionFields {
    Field branch, os, mode, section;
    Field path; // registry form only
    Field key;
    Field rangeStart, rangeEnd;
    Root root = Root::None;
    bool registry() const { return root != Root::None; }
};

// Splits a condition line (the key before "=" is dropped) into its fields.
ConditionFields splitCondition(const std::string &line);

// Comparison of two texts after folding lower-case letters to upper case:
// negative, 0 or positive; the end of a text counts as code 0.
int compareNoCase(const std::string &a, const std::string &b);

// Removes leading and trailing blanks (the C white-space set).
void trim(std::string &text);

class ConditionHooks {
  public:
    virtual ~ConditionHooks() = default;
    // The fields after the range start was expanded (trace output).
    virtual void fieldsSplit(const ConditionFields &) {}
    // Reads a numeric field ("%d" rules) with its default.
    virtual int numeric(const char *field, int def) = 0;
    // The OS number of the line before it is compared (trace output).
    virtual void osCompared(int) {}
    // The value is about to be fetched (trace output).
    virtual void valueWanted() {}
    // The test value; nullopt when it cannot be had (already reported).
    virtual std::optional<std::string> fetchValue(const ConditionFields &) = 0;
    // The trimmed, non-empty test value (trace output).
    virtual void valueTrimmed(const std::string &) {}
};

// Evaluates one line against the OS version code of this machine: 1 when
// the condition holds, else 0. `branch` receives the branch field once the
// line is complete enough to name one. `list` expands the range start.
int evaluateCondition(const std::string &line, int osVersion, const SubstituteClass &list, ConditionHooks &hooks,
                      std::string &branch);

} // namespace condeval
