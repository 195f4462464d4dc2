// The message catalog of the language file and the one output path to the
// console and the log.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#if defined(__GNUC__)
#define TAVUPD_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TAVUPD_PRINTF(fmt, args)
#endif

// A text argument that may be absent prints as "(null)".
inline const char *orNull(const char *text) { return text ? text : "(null)"; }

class NLSClass {
  public:
    static constexpr size_t kLanguageFileMax = 80; // characters of the language file path
    static constexpr size_t kLogFileMax = 259;

    // A path longer than kLanguageFileMax characters is kept cut to that
    // length, and load() refuses it with an error that names the reason.
    explicit NLSClass(const std::string &languageFile);
    ~NLSClass();
    NLSClass(const NLSClass &) = delete;
    NLSClass &operator=(const NLSClass &) = delete;

    // Reads the language file: line N is message N (at most 510 characters
    // of it; a longer line is cut, never split). 1 on success, 0 after
    // printing its own error.
    int load();
    // Message n when 1 <= n <= count, else message 2 (or "" when there is none).
    const char *getMessage(int n) const;
    int count() const { return count_; }

    // Formatted text to standard output, and the same text to the log.
    int print(const char *format, ...) TAVUPD_PRINTF(2, 3);
    // Formatted text to the given stream, and the same text to the log.
    int printTo(FILE *stream, const char *format, ...) TAVUPD_PRINTF(3, 4);

    // Closes any open log; with a path opens it ("a+" when append is
    // non-zero, "w+" otherwise). Logging is on exactly when the open succeeds.
    // A name longer than kLogFileMax characters is not opened.
    void setLogFile(const char *path, int append);
    bool logOpen() const { return logOpen_; }
    const std::string &languageFile() const { return languageFile_; }
    const std::string &logFileName() const { return logFileName_; }

  private:
    void writeLog(const std::string &text);
    // Formats once and writes the text to the stream and the log.
    int emit(FILE *stream, const char *format, va_list args);

    std::vector<std::string> messages_; // entry 0 unused
    std::string languageFile_;          // at most kLanguageFileMax characters
    bool pathTooLong_ = false;          // the given path did not fit: load refuses it
    std::string requestedFile_;         // the path as given, for the load error
    int count_ = 0;
    FILE *logStream_ = nullptr;
    bool logOpen_ = false;
    std::string logFileName_;
};
