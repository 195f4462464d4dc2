#include "nls.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

namespace {

constexpr char kBell = 7;
constexpr const char *kReadError = "Error reading NLS language file";
constexpr const char *kNoMemory = "Not Enough Memory";

constexpr const char *kPathTooLong = "the path is longer than 80 characters";

// A message holds at most this many characters; the rest of a longer line
// is dropped, never read as a message of its own.
constexpr size_t kMessageMax = 510;

struct FileCloser {
    void operator()(FILE *stream) const { std::fclose(stream); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

bool isBlankChar(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Every byte of the stream; false when reading fails.
bool readAll(FILE *stream, std::string &out) {
    std::array<char, 4096> buffer{};
    size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), stream)) > 0) out.append(buffer.data(), got);
    return std::ferror(stream) == 0;
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

// The messages of a language file's bytes.
std::vector<std::string> parseMessages(const std::string &bytes) {
    // Entry 0 holds nothing. The text ends at the first Ctrl-Z. Each line is one message, whatever
    // its length: up to its line end (LF, or CR LF), its first NUL or its
    // 510th character.
    const size_t stop = bytes.find('\x1a');
    const size_t size = stop == std::string::npos ? bytes.size() : stop;
    std::vector<std::string> messages(1);
    size_t pos = 0;
    while (pos < size) {
        size_t end = bytes.find('\n', pos);
        if (end == std::string::npos || end > size) end = size;
        size_t length = end - pos;
        if (end < size && length > 0 && bytes[end - 1] == '\r') --length;
        const size_t nul = bytes.find('\0', pos);
        if (nul != std::string::npos && nul < pos + length) length = nul - pos;
        std::string line = bytes.substr(pos, std::min(length, kMessageMax));
        if (endsList(line)) break;
        messages.push_back(std::move(line));
        pos = end + 1;
    }
    return messages;
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
    // than cut down to the name of some other file, and the error says so.
    if (pathTooLong_) {
        std::fprintf(stderr, "%c\n%s (%s): %s\n\n", kBell, kReadError, kPathTooLong, requestedFile_.c_str());
        return 0;
    }
    // Read as bytes: the line rules below are the same on every system.
    FilePtr file(std::fopen(languageFile_.c_str(), "rb"));
    if (!file) {
        std::fprintf(stderr, "%c\n%s: %s\n\n", kBell, kReadError, requestedFile_.c_str());
        return 0;
    }
    std::vector<std::string> messages;
    try {
        std::string bytes;
        if (!readAll(file.get(), bytes)) {
            std::fprintf(stderr, "%c\n%s\n\n", kBell, kReadError);
            return 0;
        }
        messages = parseMessages(bytes);
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "%c\n%s\n\n", kBell, kNoMemory);
        return 0;
    } catch (const std::length_error &) {
        std::fprintf(stderr, "%c\n%s\n\n", kBell, kNoMemory);
        return 0;
    }
    messages_.swap(messages);
    count_ = static_cast<int>(messages_.size() - 1);
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
    logFileName_ = path;
    // A longer name is not opened: cut, it would name another file.
    if (logFileName_.size() > kLogFileMax) return;
    logStream_ = std::fopen(logFileName_.c_str(), append ? "a+" : "w+");
    logOpen_ = logStream_ != nullptr;
}
