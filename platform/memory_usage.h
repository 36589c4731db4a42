// How much memory this process holds, for the benchmark programs.
#pragma once

#include <cstdint>

namespace kavo::platform {

// Resident (working set) bytes now, and the peak so far; 0 when unknown.
uint64_t ResidentBytes();
uint64_t PeakResidentBytes();

}  // namespace kavo::platform
