// Calendar arithmetic on Windows file times (100 ns units since 1601-01-01) and PackedTime
// stamps (seconds since 1977-10-02 00:00:00 UTC), without the platform's calendar calls.
#pragma once

#include <cstdint>

namespace kavo {

struct CivilTime {
    int year = 1601;
    int month = 1;  // 1-12
    int day = 1;    // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

inline constexpr uint64_t kFileTimeTicksPerSecond = 10000000;
inline constexpr int64_t kPackedTimeEpochSeconds = 11889072000;  // since 1601-01-01

// Days since 1601-01-01 of a proleptic Gregorian date; out-of-range days and months carry
// into the next month or year (February 31 is March 2 or 3).
int64_t DaysFromCivil(int year, int month, int day);
CivilTime CivilFromFileTime(uint64_t file_time);
uint64_t FileTimeFromCivil(const CivilTime& t);

inline uint32_t PackedTimeFromFileTime(uint64_t file_time) {
    return static_cast<uint32_t>(file_time / kFileTimeTicksPerSecond + 995829888);
}
inline uint64_t FileTimeFromPackedTime(uint32_t stamp) {
    return (static_cast<uint64_t>(stamp) + kPackedTimeEpochSeconds) * kFileTimeTicksPerSecond;
}

}  // namespace kavo
