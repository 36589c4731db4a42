#include <windows.h>
// psapi.h needs the declarations of windows.h first.
#include <psapi.h>

#include "platform/memory_usage.h"

namespace kavo::platform {

namespace {

bool Counters(PROCESS_MEMORY_COUNTERS& c) {
    return ::GetProcessMemoryInfo(::GetCurrentProcess(), &c, sizeof c) != 0;
}

}  // namespace

uint64_t ResidentBytes() {
    PROCESS_MEMORY_COUNTERS c{};
    return Counters(c) ? c.WorkingSetSize : 0;
}

uint64_t PeakResidentBytes() {
    PROCESS_MEMORY_COUNTERS c{};
    return Counters(c) ? c.PeakWorkingSetSize : 0;
}

void ReleaseFreeMemory() {
    ::HeapCompact(::GetProcessHeap(), 0);
}

}  // namespace kavo::platform
