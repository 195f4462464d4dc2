// The message catalog of the language file and the one output path to the
// console and the log.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "engine/reporter.h"
#include "platform/platform.h"
#include "text/catalog.h"
#include "text/textkit.h"

class NLSClass : public engine::Output {
  public:
    static constexpr size_t kLanguageFileMax = 80; // characters of the language file path
    static constexpr size_t kLogFileMax = text::kPathMax;

    // A path longer than kLanguageFileMax characters is kept cut to that
    // length, and load() refuses it with an error that names the reason.
    explicit NLSClass(const std::string &languageFile);
    ~NLSClass() override;
    NLSClass(const NLSClass &) = delete;
    NLSClass &operator=(const NLSClass &) = delete;

    // Reads the language file through the platform (see
    // catalog::parseMessages). 1 on success, 0 after printing its own error.
    int load();
    // Message n when 1 <= n <= count, else message 2 (or "" when there is none).
    const char *getMessage(int n) const { return catalog_.message(n); }
    int count() const { return catalog_.count(); }
    const catalog::Catalog &catalog() const { return catalog_; }

    // Formatted text to standard output, and the same text to the log.
    int print(const char *format, ...) TAVUPD_PRINTF(2, 3);
    // engine::Output: the text to the stream and, when logged, the log.
    void write(engine::Stream stream, const std::string &text, bool logged) override;

    // Everything printed also goes to `to` (null: nowhere); `quiet`: only
    // there and to the log, not to the console (the preview's run).
    void tap(engine::Output *to, bool quiet);

    // Closes any open log; with a path opens it (appended to when append is
    // non-zero, emptied otherwise). Logging is on exactly when the open
    // succeeds. A name longer than kLogFileMax characters is not opened. The
    // log holds the text as a text-mode file would: every line feed is
    // written as CR LF.
    void setLogFile(const char *path, int append);
    bool logOpen() const { return log_ != nullptr; }
    const std::string &languageFile() const { return languageFile_; }
    const std::string &logFileName() const { return logFileName_; }

  private:
    void writeLog(const std::string &text);
    // Writes the text to the stream and the log.
    int emit(FILE *stream, const std::string &text);

    catalog::Catalog catalog_;
    std::string languageFile_;  // at most kLanguageFileMax characters
    bool pathTooLong_ = false;  // the given path did not fit: load refuses it
    std::string requestedFile_; // the path as given, for the load error
    std::unique_ptr<platform::Appender> log_;
    std::string logFileName_;
    engine::Output *tap_ = nullptr;
    bool quiet_ = false;
};
