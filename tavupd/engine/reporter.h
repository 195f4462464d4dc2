// The one way the engine prints: messages of the catalog in their fixed
// forms, outcome lines and debug traces, each in the order it arises.
#pragma once

#include <string>
#include <vector>

#include "text/catalog.h"

namespace engine {

enum class Stream { Out, Err };

// Where printed text goes: the console stream and, when logged, the log.
class Output {
  public:
    virtual ~Output() = default;
    virtual void write(Stream stream, const std::string &text, bool logged) = 0;
};

class Reporter {
  public:
    Reporter(const catalog::Catalog &messages, Output &output, bool debug)
        : messages_(messages), output_(output), debug_(debug) {}

    const char *text(int n) const { return messages_.message(n); }
    bool debug() const { return debug_; }

    // A debug trace (printf form) on the standard output and in the log.
    void trace(const char *format, ...) TAVUPD_PRINTF(2, 3);
    // Trace lines of the file primitives: on the standard output only.
    void fileTrace(const std::vector<std::string> &lines);

    // Messages on the standard error stream and in the log, each opened by
    // an empty line and the bell:
    void message(int n);                                 // "<message>"
    void message(int n, const std::string &detail);      // "<message>: <detail>"
    void messageAt(int n, const std::string &where);     // "<message>:" and "\t<where>" on a line of its own
    void messageWith(int n, const std::string &detail);  // "<message> <detail>"
    void messages(int first, int second);                // "<first>" and "<second>" on a line of its own

    // The outcome line of an installed file: "<path> (<message>)", on the
    // standard output and in the log.
    void outcome(const std::string &path, int n);

  private:
    void error(const std::string &text);

    const catalog::Catalog &messages_;
    Output &output_;
    bool debug_;
};

} // namespace engine
