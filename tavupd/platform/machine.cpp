#include "platform/machine.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>

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

std::uint64_t systemNow() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const auto units = std::chrono::duration_cast<std::chrono::microseconds>(since).count() * 10;
    return kUnixEpoch + static_cast<std::uint64_t>(units < 0 ? 0 : units);
}

DosTime localDosTime(std::uint64_t utc) {
    const DosTime earliest{static_cast<std::uint16_t>((1 << 5) | 1), 0};
    if (utc < kUnixEpoch) return earliest;
    const std::time_t seconds = static_cast<std::time_t>((utc - kUnixEpoch) / kPerSecond);
    const std::tm *local = std::localtime(&seconds);
    if (local == nullptr || local->tm_year < 80) return earliest;
    if (local->tm_year > 207) return DosTime{0xFF9F, 0xBF7D}; // 2107-12-31 23:59:58
    DosTime t;
    t.date = static_cast<std::uint16_t>(((local->tm_year - 80) << 9) | ((local->tm_mon + 1) << 5) | local->tm_mday);
    t.time = static_cast<std::uint16_t>((local->tm_hour << 11) | (local->tm_min << 5) | (local->tm_sec / 2));
    return t;
}

std::uint64_t fromLocalDosTime(DosTime time) {
    std::tm local{};
    local.tm_year = ((time.date >> 9) & 0x7F) + 80;
    local.tm_mon = ((time.date >> 5) & 0x0F) - 1;
    local.tm_mday = time.date & 0x1F;
    local.tm_hour = (time.time >> 11) & 0x1F;
    local.tm_min = (time.time >> 5) & 0x3F;
    local.tm_sec = (time.time & 0x1F) * 2;
    local.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&local);
    if (seconds == static_cast<std::time_t>(-1) || seconds < 0) return kUnixEpoch;
    return kUnixEpoch + static_cast<std::uint64_t>(seconds) * kPerSecond;
}

} // namespace platform
