#include "nls.h"

#include <array>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr char kBell = 7;
constexpr const char *kReadError = "Error reading NLS language file";
constexpr const char *kNoMemory = "Not Enough Memory";

// Lines are read at most 511 characters at a time; a longer line arrives as
// several pieces, and both passes of the loader see the same pieces.
constexpr int kLineBuffer = 512;

struct FileCloser {
    void operator()(FILE *stream) const { std::fclose(stream); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

bool isBlankChar(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Reads the next piece of a line; false when nothing could be read.
bool readPiece(FILE *stream, std::string &piece) {
    std::array<char, kLineBuffer> buffer{};
    if (!std::fgets(buffer.data(), kLineBuffer, stream)) return false;
    piece.assign(buffer.data());
    return true;
}

// A blank line, or one whose first non-blank text is "rem" (any case), ";"
// or "#", ends the message list.
bool endsList(const std::string &line) {
    size_t i = 0;
    while (i < line.size() && isBlankChar(line[i])) ++i;
    if (i == line.size()) return true;
    if (line[i] == ';' || line[i] == '#') return true;
    return line.size() - i >= 3 && lower(line[i]) == 'r' && lower(line[i + 1]) == 'e' && lower(line[i + 2]) == 'm';
}

// Formats into a string of the right size; false when the format fails.
bool formatText(std::string &out, const char *format, va_list args) {
    if (!format) return false;
    va_list probe;
    va_copy(probe, args);
    const int length = std::vsnprintf(nullptr, 0, format, probe);
    va_end(probe);
    if (length < 0) return false;
    std::string text(static_cast<size_t>(length) + 1, '\0');
    if (std::vsnprintf(&text[0], text.size(), format, args) < 0) return false;
    text.resize(static_cast<size_t>(length));
    out.swap(text);
    return true;
}

int writeText(FILE *stream, const std::string &text) {
    if (!stream) return -1;
    if (text.empty()) return 0;
    const size_t written = std::fwrite(text.data(), 1, text.size(), stream);
    return written == text.size() ? static_cast<int>(text.size()) : -1;
}

} // namespace

NLSClass::NLSClass(const std::string &languageFile)
    : languageFile_(languageFile.substr(0, kLanguageFileMax)), pathTooLong_(languageFile.size() > kLanguageFileMax),
      requestedFile_(languageFile) {}

NLSClass::~NLSClass() {
    if (logStream_) std::fclose(logStream_);
}

int NLSClass::load() {
    messages_.clear();
    count_ = 0;

    // A path longer than the language file name can hold is refused rather
    // than cut down to the name of some other file.
    FilePtr file(pathTooLong_ ? nullptr : std::fopen(languageFile_.c_str(), "r"));
    if (!file) {
        std::fprintf(stderr, "%c\r\n%s: %s\r\n\r\n", kBell, kReadError, requestedFile_.c_str());
        return 0;
    }

    std::string line;
    int count = 0;
    while (readPiece(file.get(), line)) {
        if (endsList(line)) break;
        ++count;
        if (std::feof(file.get())) break;
    }
    std::rewind(file.get());

    std::vector<std::string> messages;
    try {
        messages.resize(static_cast<size_t>(count) + 1);
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "%c\r\n%s\r\n\r\n", kBell, kNoMemory);
        return 0;
    }

    for (int n = 1; n <= count; ++n) {
        try {
            if (!readPiece(file.get(), line)) {
                std::fprintf(stderr, "%c\r\n%s\r\n\r\n", kBell, kReadError);
                return 0;
            }
            if (!line.empty() && line.back() == '\n') line.pop_back();
            messages[static_cast<size_t>(n)] = line;
        } catch (const std::bad_alloc &) {
            std::fprintf(stderr, "%c\r\n%s\r\n\r\n", kBell, kNoMemory);
            return 0;
        }
    }

    messages_.swap(messages);
    count_ = count;
    return 1;
}

const char *NLSClass::getMessage(int n) const {
    if (n >= 1 && n <= count_) return messages_[static_cast<size_t>(n)].c_str();
    // Any other number stands for message 2; a catalog too short to have one
    // gives an empty text.
    if (count_ >= 2) return messages_[2].c_str();
    return "";
}

void NLSClass::writeLog(const std::string &text) {
    if (!logOpen_ || !logStream_ || text.empty()) return;
    // Flushed at once so that an interrupted run keeps its log.
    std::fwrite(text.data(), 1, text.size(), logStream_);
    std::fflush(logStream_);
}

int NLSClass::emit(FILE *stream, const char *format, va_list args) {
    std::string text;
    if (!formatText(text, format, args)) return -1;
    const int result = writeText(stream, text);
    writeLog(text);
    return result;
}

int NLSClass::print(const char *format, ...) {
    va_list args;
    va_start(args, format);
    const int result = emit(stdout, format, args);
    va_end(args);
    return result;
}

int NLSClass::printTo(FILE *stream, const char *format, ...) {
    va_list args;
    va_start(args, format);
    const int result = emit(stream, format, args);
    va_end(args);
    return result;
}

void NLSClass::setLogFile(const char *path, int append) {
    if (logStream_) {
        std::fclose(logStream_);
        logStream_ = nullptr;
    }
    logOpen_ = false;
    if (!path || path[0] == '\0') {
        logFileName_.clear();
        return;
    }
    logFileName_ = std::string(path).substr(0, kLogFileMax);
    logStream_ = std::fopen(logFileName_.c_str(), append ? "a+" : "w+");
    logOpen_ = logStream_ != nullptr;
}
