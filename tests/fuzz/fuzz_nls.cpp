// Arbitrary bytes as a language file: loaded from a temporary file and
// compared with a plain reading of the format; messages printed to a log.
#include "nls.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The messages as the format defines them: the text up to the first Ctrl-Z,
// one message per line (a line feed, with a CR before it, ends a line), each
// up to its first NUL and at most 510 characters, until the first
// list-ending line.
std::vector<std::string> expectedMessages(const std::string &bytes) {
    std::vector<std::string> out;
    const std::string text = bytes.substr(0, bytes.find('\x1a'));
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        const bool ended = end != std::string::npos;
        if (!ended) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (ended && !line.empty() && line.back() == '\r') line.pop_back();
        line = line.substr(0, line.find('\0')).substr(0, 510);
        std::size_t i = 0;
        while (i < line.size() && isBlank(line[i])) ++i;
        if (i == line.size() || line[i] == ';' || line[i] == '#') break;
        if (line.size() - i >= 3 && lower(line[i]) == 'r' && lower(line[i + 1]) == 'e' && lower(line[i + 2]) == 'm')
            break;
        out.push_back(line);
    }
    return out;
}

// A memory file system when there is one: the target writes two files per input.
std::string tempName(const char *what) {
    const char *dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/fuzz_nls_" + std::to_string(static_cast<long>(getpid())) + what;
}

// Removes the temporary files when the fuzzer exits.
struct TempFiles {
    std::string file = tempName(".msg");
    std::string log = tempName(".log");
    ~TempFiles() {
        std::remove(file.c_str());
        std::remove(log.c_str());
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const TempFiles temp;
    const std::string &file = temp.file;
    const std::string &log = temp.log;
    const std::string bytes(reinterpret_cast<const char *>(data), size);

    FILE *f = std::fopen(file.c_str(), "wb");
    require(f != nullptr);
    require(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
    std::fclose(f);

    NLSClass nls(file);
    require(nls.load() == 1);
    const std::vector<std::string> expected = expectedMessages(bytes);
    require(nls.count() == static_cast<int>(expected.size()));
    for (int n = 1; n <= nls.count(); ++n) require(expected[static_cast<std::size_t>(n - 1)] == nls.getMessage(n));
    const std::string stand = nls.count() >= 2 ? expected[1] : std::string();
    require(stand == nls.getMessage(0) && stand == nls.getMessage(-1) && stand == nls.getMessage(nls.count() + 1));

    // Messages are arguments, never formats; the log receives them whole.
    nls.setLogFile(log.c_str(), 0);
    require(nls.logOpen());
    FILE *sink = std::fopen("/dev/null", "w");
    require(sink != nullptr);
    std::string written;
    for (int n = 1; n <= nls.count() && n <= 4; ++n) {
        const int length = nls.printTo(sink, "\n%c%s\n", 7, nls.getMessage(n));
        require(length == static_cast<int>(expected[static_cast<std::size_t>(n - 1)].size()) + 3);
        written += std::string("\n\a") + nls.getMessage(n) + "\n";
    }
    std::fclose(sink);
    nls.setLogFile(nullptr, 0);

    FILE *in = std::fopen(log.c_str(), "rb");
    require(in != nullptr);
    std::string logged;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) logged.append(buffer, got);
    std::fclose(in);
    require(logged == written);
    return 0;
}
