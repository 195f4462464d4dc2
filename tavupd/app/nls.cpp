#include "app/nls.h"

#include <cstdarg>
#include <new>
#include <stdexcept>

#include "text/textkit.h"

namespace {

constexpr const char *kReadError = "Error reading NLS language file";
constexpr const char *kNoMemory = "Not Enough Memory";
constexpr const char *kPathTooLong = "the path is longer than 80 characters";
constexpr std::size_t kChunk = 4096;

int writeText(FILE *stream, const std::string &text) {
    if (!stream) return -1;
    if (text.empty()) return 0;
    const size_t written = std::fwrite(text.data(), 1, text.size(), stream);
    return written == text.size() ? static_cast<int>(text.size()) : -1;
}

enum class Read { Done, NotOpened, Failed };

// Every byte of the language file.
Read readFile(const std::string &path, std::string &bytes) {
    auto file = platform::current().openRead(path);
    if (!file.ok()) return Read::NotOpened;
    char buffer[kChunk];
    for (;;) {
        const platform::Result<std::size_t> got = file.value->read(buffer, sizeof buffer);
        if (!got.ok()) return Read::Failed;
        if (got.value == 0) return Read::Done;
        bytes.append(buffer, got.value);
    }
}

} // namespace

NLSClass::NLSClass(const std::string &languageFile)
    : languageFile_(languageFile.substr(0, kLanguageFileMax)), pathTooLong_(languageFile.size() > kLanguageFileMax),
      requestedFile_(languageFile) {}

NLSClass::~NLSClass() {
    if (log_) log_->close();
}

int NLSClass::load() {
    catalog_ = catalog::Catalog();
    // A path longer than the language file name can hold is refused rather
    // than cut down to the name of some other file, and the error says so.
    if (pathTooLong_) {
        std::fprintf(stderr, "%c\n%s (%s): %s\n\n", text::kBell, kReadError, kPathTooLong, requestedFile_.c_str());
        return 0;
    }
    try {
        std::string bytes;
        const Read read = readFile(languageFile_, bytes);
        if (read == Read::NotOpened) {
            std::fprintf(stderr, "%c\n%s: %s\n\n", text::kBell, kReadError, requestedFile_.c_str());
            return 0;
        }
        if (read == Read::Failed) {
            std::fprintf(stderr, "%c\n%s\n\n", text::kBell, kReadError);
            return 0;
        }
        catalog_ = catalog::Catalog(catalog::parseMessages(bytes));
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "%c\n%s\n\n", text::kBell, kNoMemory);
        return 0;
    } catch (const std::length_error &) {
        std::fprintf(stderr, "%c\n%s\n\n", text::kBell, kNoMemory);
        return 0;
    }
    return 1;
}

void NLSClass::writeLog(const std::string &text) {
    if (!log_ || text.empty()) return;
    // Each write goes to the file at once, so that an interrupted run keeps
    // its log.
    std::string bytes;
    bytes.reserve(text.size() + text.size() / 16);
    for (const char c : text) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    log_->write(bytes);
}

int NLSClass::emit(FILE *stream, const std::string &text) {
    if (tap_) tap_->write(stream == stdout ? engine::Stream::Out : engine::Stream::Err, text, true);
    const int result = quiet_ ? static_cast<int>(text.size()) : writeText(stream, text);
    writeLog(text);
    return result;
}

void NLSClass::write(engine::Stream stream, const std::string &text, bool logged) {
    if (tap_) tap_->write(stream, text, logged);
    if (!quiet_) writeText(stream == engine::Stream::Out ? stdout : stderr, text);
    if (logged) writeLog(text);
}

void NLSClass::tap(engine::Output *to, bool quiet) {
    tap_ = to;
    quiet_ = quiet;
}

int NLSClass::print(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::string text;
    const bool formatted = catalog::formatText(text, format, args);
    va_end(args);
    return formatted ? emit(stdout, text) : -1;
}

void NLSClass::setLogFile(const char *path, int append) {
    if (log_) {
        log_->close();
        log_.reset();
    }
    if (!path || path[0] == '\0') {
        logFileName_.clear();
        return;
    }
    logFileName_ = path;
    // A longer name is not opened: cut, it would name another file.
    if (logFileName_.size() > kLogFileMax) return;
    log_ = platform::current().openAppender(logFileName_, append == 0);
}
