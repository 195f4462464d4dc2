// Arbitrary bytes as an INI file: read into lines, looked up and edited with
// names taken from the input, written out and read back.
#include "tavupd_error.h"
#include "tvpprof_ini.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

// Control bytes are taken from the end of the input, names from its text.
class Source {
  public:
    Source(const std::uint8_t *data, std::size_t size) : data_(data), end_(size) {}
    std::uint8_t byte() { return end_ > 0 ? data_[--end_] : 0; }
    std::size_t remaining() const { return end_; }

  private:
    const std::uint8_t *data_;
    std::size_t end_;
};

// A name without line ends, NULs or Ctrl-Z, so that it is a single line's
// text (no line of an installation profile holds a Ctrl-Z: it ends the text).
std::string clean(const std::string &s) {
    std::string out;
    for (char c : s)
        if (c != '\n' && c != '\0' && c != '\x1a') out.push_back(c);
    return out;
}

std::string pickName(Source &src, const ini::Table &t, const std::string &text) {
    std::uint8_t how = src.byte();
    if (t.count() > 0 && (how & 1)) {
        // From a line: the text between "[" and "]", or before "=".
        std::string line = t.lines()[src.byte() % t.count()];
        std::size_t open = line.find('[');
        std::size_t close = line.find(']');
        if (open != std::string::npos && close != std::string::npos && close > open)
            return clean(line.substr(open + 1, close - open - 1));
        return clean(line.substr(0, line.find('=')));
    }
    if (text.empty()) return std::string();
    std::size_t at = src.byte() % text.size();
    std::size_t len = (how >> 1) % 48;
    if (how >= 0xF0) len = 240 + (how & 0x0F) * 2; // around the 255-character bounds
    return clean(text.substr(at, len));
}

void checkInvariant(const ini::Table &t) {
    require(t.capacity() > t.count());
    require(t.lineAt(static_cast<long>(t.count())) == nullptr);
    require(t.lineAt(-1) == nullptr);
    for (std::size_t i = 0; i < t.count(); ++i) require(t.lineAt(static_cast<long>(i)) != nullptr);
}

void checkRoundTrip(const ini::Table &t) {
    // What is written reads back as the same lines and writes the same bytes.
    std::string bytes = t.bytes();
    ini::Table back;
    back.read(bytes.data(), bytes.size());
    require(back.lines() == t.lines());
    require(back.bytes() == bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size > 1 << 16) return 0;
    const char *bytes = reinterpret_cast<const char *>(data);
    ini::Table t;
    t.read(bytes, size);
    // Read and written back untouched, the file is the same bytes; its lines
    // hold no line feed and nothing of what follows a Ctrl-Z.
    require(t.bytes() == std::string(bytes, size));
    for (const std::string &line : t.lines())
        require(line.find('\n') == std::string::npos && line.find('\x1a') == std::string::npos);
    const std::string text(bytes, size);
    checkInvariant(t);

    Source src(data, size);
    try {
        for (int op = 0; op < 12 && src.remaining() > 0; ++op) {
            std::string section = pickName(src, t, text);
            std::string key = pickName(src, t, text);
            std::string value = pickName(src, t, text);
            std::string header;
            bool headerFits = ini::formatHeader(section.c_str(), header);
            std::size_t before = t.count();
            switch (src.byte() % 6) {
            case 0: { // set
                bool found = t.findSection(section.c_str()) >= 0;
                bool changed = t.setValue(section.c_str(), key.c_str(), value.c_str());
                require(changed == (headerFits || found));
                if (headerFits) require(t.findSection(section.c_str()) >= 0);
                // A read finds what was set, unless the key cannot begin a
                // line of its own (leading blanks, or a "[").
                bool plainKey = key.empty() || (!ini::isBlank(key[0]) && key[0] != '[');
                if (changed && plainKey && value.find('\0') == std::string::npos) {
                    const char *v = t.lookup(section.c_str(), key.c_str());
                    require(v != nullptr && value == v);
                }
                break;
            }
            case 1: // delete a key
                if (t.setValue(section.c_str(), key.c_str(), nullptr)) require(t.count() == before - 1);
                else require(t.count() == before);
                break;
            case 2: // delete a section
                if (t.setValue(section.c_str(), nullptr, nullptr)) require(t.count() < before);
                else require(t.count() == before);
                break;
            case 3: { // add, then adding again changes nothing
                bool fits = key.size() + 1 + value.size() <= ini::kMaxFormatted;
                bool added = t.addValue(section.c_str(), key.c_str(), value.c_str());
                if (added) {
                    require(fits && t.count() > before);
                    require(!t.addValue(section.c_str(), key.c_str(), value.c_str()));
                } else {
                    require(t.count() == before);
                }
                break;
            }
            case 4: { // lookups
                const char *v = t.lookup(section.c_str(), key.c_str());
                int n = 0;
                if (v) {
                    require(std::strlen(v) <= 0x7fffffff);
                    ini::parseInt(v, n);
                }
                t.findSection(section.c_str());
                break;
            }
            default: // a line as the section test sees it
                ini::isSectionLine(key.c_str());
                break;
            }
            checkInvariant(t);
        }
    } catch (const Error &) {
        // Only allocation failures raise; none are expected here.
        std::abort();
    }
    checkRoundTrip(t);
    return 0;
}
