#include "text/error.h"

#include <cstdio>

Error::Error(int number, int size, const char *file, int line)
    : number(number), size(size), file(file ? file : ""), line(line) {}

Error::Error(int number, const char *message, const char *file, int line)
    : number(number), message(message ? message : ""), file(file ? file : ""), line(line) {}

Error::Error(int number, const char *message) : number(number), message(message ? message : "") {}

Error::Error(int number, int size) : number(number), size(size) {}

void reportCriticalError(const Error &error) {
    // Each piece is flushed at once; failures of the stream are ignored.
    std::fprintf(stderr, "%cCritical ERROR Occured on line %d of file %s\n", 7, error.line, error.file.c_str());
    std::fflush(stderr);
    std::fprintf(stderr, "     Error Number:  %d\n", error.number);
    std::fflush(stderr);
    std::fprintf(stderr, "     Error Message: %s\n", error.message.c_str());
    std::fflush(stderr);
    std::fprintf(stderr, "     Size:          %d\n", error.size);
    std::fflush(stderr);
}
