#include <windows.h>

#include "platform/local_time.h"

namespace kavo::platform {

namespace {

FILETIME ToFileTime(uint64_t v) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(v);
    ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
    return ft;
}

uint64_t FromFileTime(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

}  // namespace

uint64_t LocalFileTimeToUtc(uint64_t local_file_time) {
    const FILETIME local = ToFileTime(local_file_time);
    FILETIME utc;
    if (!LocalFileTimeToFileTime(&local, &utc)) {
        return local_file_time;
    }
    return FromFileTime(utc);
}

uint64_t UtcFileTimeToLocal(uint64_t utc_file_time) {
    const FILETIME utc = ToFileTime(utc_file_time);
    SYSTEMTIME st;
    SYSTEMTIME local;
    FILETIME out;
    if (!FileTimeToSystemTime(&utc, &st) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &st, &local) ||
        !SystemTimeToFileTime(&local, &out)) {
        return utc_file_time;
    }
    return FromFileTime(out);
}

}  // namespace kavo::platform
