#include "engine/reporter.h"

#include <cstdarg>

#include "text/textkit.h"

namespace engine {

void Reporter::trace(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::string text;
    const bool formatted = catalog::formatText(text, format, args);
    va_end(args);
    if (formatted) output_.write(Stream::Out, text, true);
}

void Reporter::fileTrace(const std::vector<std::string> &lines) {
    for (const std::string &line : lines) output_.write(Stream::Out, line, false);
}

void Reporter::error(const std::string &body) {
    output_.write(Stream::Err, std::string("\n") + text::kBell + body + "\n", true);
}

void Reporter::message(int n) { error(text(n)); }

void Reporter::message(int n, const std::string &detail) { error(std::string(text(n)) + ": " + detail); }

void Reporter::messageAt(int n, const std::string &where) { error(std::string(text(n)) + ":\n\t" + where); }

void Reporter::messageWith(int n, const std::string &detail) { error(std::string(text(n)) + " " + detail); }

void Reporter::messages(int first, int second) { error(std::string(text(first)) + "\n" + text(second)); }

void Reporter::outcome(const std::string &path, int n) {
    output_.write(Stream::Out, path + " (" + text(n) + ")\n", true);
}

} // namespace engine
