#pragma once
// The name of each output file: a 13-digit stamp made of the local time in
// seconds and a few pseudo-random digits.

#include <cstdint>

#include "text/text.h"

namespace qx {

// A local wall-clock time to the second, as the platform's local clock gives it.
struct StampTime {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Seconds from the local wall-clock time 1970-01-01 08:00:00 to `time`,
// counted on the proleptic Gregorian calendar with no time zone applied:
// on a UTC+8 machine this is the Unix time. Negative before the reference.
[[nodiscard]] std::int64_t stampSeconds(const StampTime& time) noexcept;

// The pseudo-random number from 10000 to 90000 (inclusive) that a generator
// seeded with `seed` draws first.
[[nodiscard]] int drawStampNumber(std::uint32_t seed) noexcept;

// The first 13 characters of the decimal stampSeconds(time) followed by the
// decimal r (the whole text when shorter).
[[nodiscard]] Text composeOutputStamp(const StampTime& time, int r);

// composeOutputStamp with r = drawStampNumber(seed).
[[nodiscard]] Text makeOutputStamp(const StampTime& time, std::uint32_t seed);

// The stamp for now: the local clock, and a generator seeded anew from the
// system tick count. Windows only.
[[nodiscard]] Text makeOutputStamp();

}  // namespace qx
