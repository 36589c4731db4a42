#include <time.h>

#include "platform/local_time.h"

namespace kavo::platform {

namespace {

constexpr int64_t kUnixEpochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01
constexpr uint64_t kTicks = 10000000;

}  // namespace

uint64_t LocalFileTimeToUtc(uint64_t local_file_time) {
    // The offset in force at the local moment: read the local time as if it were UTC, then
    // ask the C library for the offset of that instant (exact except around a change).
    const int64_t secs = static_cast<int64_t>(local_file_time / kTicks) - kUnixEpochSeconds;
    const time_t t = static_cast<time_t>(secs);
    struct tm lt;
    if (localtime_r(&t, &lt) == nullptr) {
        return local_file_time;
    }
    const int64_t offset = lt.tm_gmtoff;
    return static_cast<uint64_t>(static_cast<int64_t>(local_file_time) - offset * int64_t{kTicks});
}

uint64_t UtcFileTimeToLocal(uint64_t utc_file_time) {
    const int64_t secs = static_cast<int64_t>(utc_file_time / kTicks) - kUnixEpochSeconds;
    const time_t t = static_cast<time_t>(secs);
    struct tm lt;
    if (localtime_r(&t, &lt) == nullptr) {
        return utc_file_time;
    }
    return static_cast<uint64_t>(static_cast<int64_t>(utc_file_time) +
                                 int64_t{lt.tm_gmtoff} * int64_t{kTicks});
}

}  // namespace kavo::platform
