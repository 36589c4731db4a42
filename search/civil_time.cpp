#include "search/civil_time.h"

namespace kavo {

namespace {

// Days from 0000-03-01 (the algorithm of the proleptic Gregorian calendar by eras).
int64_t DaysFromCivilEpoch0(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
}

const int64_t k1601 = DaysFromCivilEpoch0(1601, 1, 1);

}  // namespace

int64_t DaysFromCivil(int year, int month, int day) {
    // Months beyond 12 carry into the year; days beyond the month's end simply add up.
    int64_t y = year;
    int64_t m = month;
    if (m < 1 || m > 12) {
        y += (m - 1) / 12;
        m = (m - 1) % 12 + 1;
        if (m < 1) {
            m += 12;
            y -= 1;
        }
    }
    return DaysFromCivilEpoch0(y, m, 1) - k1601 + (day - 1);
}

CivilTime CivilFromFileTime(uint64_t file_time) {
    const int64_t secs = static_cast<int64_t>(file_time / kFileTimeTicksPerSecond);
    int64_t days = secs / 86400 + k1601;
    const int64_t rem = secs % 86400;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = yoe + era * 400 + (m <= 2);
    CivilTime t;
    t.year = static_cast<int>(y);
    t.month = static_cast<int>(m);
    t.day = static_cast<int>(d);
    t.hour = static_cast<int>(rem / 3600);
    t.minute = static_cast<int>(rem / 60 % 60);
    t.second = static_cast<int>(rem % 60);
    return t;
}

uint64_t FileTimeFromCivil(const CivilTime& t) {
    const int64_t days = DaysFromCivil(t.year, t.month, t.day);
    const int64_t secs = days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
    return secs < 0 ? 0 : static_cast<uint64_t>(secs) * kFileTimeTicksPerSecond;
}

}  // namespace kavo
