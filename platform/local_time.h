// Conversions between UTC and local Windows file times (100 ns units since 1601-01-01), as
// LocalFileTimeToFileTime and SystemTimeToTzSpecificLocalTime do them, for the date values
// of queries and the date texts of exports.
#pragma once

#include <cstdint>

namespace kavo::platform {

uint64_t LocalFileTimeToUtc(uint64_t local_file_time);
uint64_t UtcFileTimeToLocal(uint64_t utc_file_time);

}  // namespace kavo::platform
