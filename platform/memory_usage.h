// How much memory this process holds, for the benchmark programs.
#pragma once

#include <cstdint>

namespace kavo::platform {

// Resident (working set) bytes now, and the peak so far; 0 when unknown.
uint64_t ResidentBytes();
uint64_t PeakResidentBytes();
// Hands freed heap memory back to the system where the allocator allows it, so that the
// resident size afterwards shows what is still in use.
void ReleaseFreeMemory();

}  // namespace kavo::platform
