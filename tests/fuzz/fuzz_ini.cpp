// Arbitrary bytes as an INI file: cut into lines, looked up and edited with
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

// A name without line ends or NULs, so that it is a single line's text.
std::string clean(const std::string &s) {
    std::string out;
    for (char c : s)
        if (c != '\n' && c != '\0') out.push_back(c);
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
    // Every line comes back whole and unchanged, whatever its length.
    std::string text = t.serialize();
    require(ini::splitLines(text.data(), text.size()) == t.lines());
    // So does the file a text-mode write leaves on disk, unless a Ctrl-Z in
    // a line ends the text early.
    bool ctrlZ = false;
    for (const std::string &line : t.lines())
        if (line.find('\x1a') != std::string::npos) ctrlZ = true;
    if (!ctrlZ) {
        std::string disk = ini::textModeExpand(text);
        std::string read = ini::textModeTranslate(disk.data(), disk.size());
        require(ini::splitLines(read.data(), read.size()) == t.lines());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size > 1 << 16) return 0;
    const char *bytes = reinterpret_cast<const char *>(data);
    std::string text = ini::textModeTranslate(bytes, size);
    std::vector<std::string> lines = ini::splitLines(text.data(), text.size());
    // The lines and their line ends are exactly the text.
    std::string joined;
    for (const std::string &line : lines) {
        require(line.find('\n') == std::string::npos);
        joined += line;
        joined += '\n';
    }
    require(joined == text || joined == text + "\n");
    ini::Table t;
    t.assign(lines);
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
