// The record raised when an operation cannot go on, and its report.
#pragma once

#include <new>
#include <string>

// Raised by value (throw Error(...)), caught by reference only.
class Error {
  public:
    int number = 0;      // error number
    int size = 0;        // bytes whose allocation failed; 0 when not given
    std::string message; // what failed, usually a path; empty when not given
    std::string file;    // source module that raised it: "tavupd", "tvpdf", "tvpprof", "tvpfile"
    int line = 0;        // source line of the raise site; 0 when not given

    Error(int number, int size, const char *file, int line);
    Error(int number, const char *message, const char *file, int line);
    Error(int number, const char *message);
    Error(int number, int size);
};

// Writes the four-line critical-error report to the standard error stream
// (unit-buffered, not logged).
void reportCriticalError(const Error &error);

// Runs `run` (returning an exit status) with its critical errors reported:
// an Error as raised, memory running out outside the places that name the
// object they create as allocation failure of unknown size, raised in module
// tavupd at `line`. Such a run ends with status 1.
template <typename Run> int withCriticalReport(Run run, int line) {
    try {
        return run();
    } catch (const Error &error) {
        reportCriticalError(error);
    } catch (const std::bad_alloc &) {
        reportCriticalError(Error(1, 0, "tavupd", line));
    }
    return 1;
}
