#include "platform/machine.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

// 100 ns units between 1601-01-01 and 1970-01-01.
constexpr std::uint64_t kUnixEpoch = 116444736000000000ull;
constexpr std::uint64_t kPerSecond = 10000000ull;

class BytesReader : public Reader {
  public:
    BytesReader(std::string bytes, DosTime time) : bytes_(std::move(bytes)), time_(time) {}
    Result<std::size_t> read(char *buffer, std::size_t size) override {
        Result<std::size_t> r;
        r.value = std::min(size, bytes_.size() - at_);
        if (r.value > 0) std::memcpy(buffer, bytes_.data() + at_, r.value);
        at_ += r.value;
        return r;
    }
    Result<DosTime> time() override {
        Result<DosTime> r;
        r.value = time_;
        return r;
    }

  private:
    std::string bytes_;
    std::size_t at_ = 0;
    DosTime time_;
};

} // namespace

std::unique_ptr<Reader> bytesReader(std::string bytes, DosTime time) {
    return std::make_unique<BytesReader>(std::move(bytes), time);
}

namespace {

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t &y, unsigned &m, unsigned &d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

} // namespace

DosTime localDosTime(std::uint64_t moment) {
    const DosTime earliest{static_cast<std::uint16_t>((1 << 5) | 1), 0};
    if (moment < kUnixEpoch) return earliest;
    const std::uint64_t seconds = (moment - kUnixEpoch) / kPerSecond;
    std::int64_t year = 0;
    unsigned month = 0, day = 0;
    civilFromDays(static_cast<std::int64_t>(seconds / 86400), year, month, day);
    if (year < 1980) return earliest;
    if (year > 2107) return DosTime{0xFF9F, 0xBF7D}; // 2107-12-31 23:59:58
    const unsigned inDay = static_cast<unsigned>(seconds % 86400);
    DosTime t;
    t.date = static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
    t.time = static_cast<std::uint16_t>(((inDay / 3600) << 11) | (((inDay / 60) % 60) << 5) | ((inDay % 60) / 2));
    return t;
}

std::uint64_t fromLocalDosTime(DosTime time) {
    const std::int64_t year = ((time.date >> 9) & 0x7F) + 1980;
    const unsigned month = (time.date >> 5) & 0x0F, day = time.date & 0x1F;
    const std::int64_t days = daysFromCivil(year, month == 0 ? 1 : month, day == 0 ? 1 : day);
    const std::uint64_t seconds = static_cast<std::uint64_t>(days) * 86400 + ((time.time >> 11) & 0x1F) * 3600u +
                                  ((time.time >> 5) & 0x3F) * 60u + (time.time & 0x1F) * 2u;
    return kUnixEpoch + seconds * kPerSecond;
}

} // namespace platform
