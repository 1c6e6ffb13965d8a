#include "job/output_stamp.h"

#include <string>

namespace qx {
namespace {

// Days from 1970-01-01 to the given date on the proleptic Gregorian calendar.
// Years are shifted to start in March so that the leap day ends a year; eras
// of 400 years (146097 days) make the arithmetic exact for negative years too.
std::int64_t daysFromCivil(std::int64_t year, int month, int day) noexcept {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;                            // 0..399
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;  // 0..365
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

constexpr std::int64_t kReferenceOffsetSeconds = 8 * 3600;  // the reference is 08:00:00, not midnight
constexpr std::size_t kStampLength = 13;

}  // namespace

std::int64_t stampSeconds(const StampTime& time) noexcept {
    const std::int64_t days = daysFromCivil(time.year, time.month, time.day);
    return days * 86400 + time.hour * 3600 + time.minute * 60 + time.second - kReferenceOffsetSeconds;
}

int drawStampNumber(std::uint32_t seed) noexcept {
    // A Lehmer generator (multiplier 48271, modulus 2^31 - 1): its range is
    // wide enough for all 80001 values, unlike a C library rand() whose
    // RAND_MAX may be 32767. A zero state would stay zero, so it is moved.
    constexpr std::uint64_t kModulus = 2147483647;
    std::uint64_t state = seed % kModulus;
    if (state == 0) state = 1;
    state = state * 48271 % kModulus;
    return 10000 + static_cast<int>(state % 80001);
}

Text composeOutputStamp(const StampTime& time, int r) {
    Text joined = std::to_string(stampSeconds(time)) + std::to_string(r);
    if (joined.size() > kStampLength) joined.resize(kStampLength);
    return joined;
}

Text makeOutputStamp(const StampTime& time, std::uint32_t seed) {
    return composeOutputStamp(time, drawStampNumber(seed));
}

}  // namespace qx
