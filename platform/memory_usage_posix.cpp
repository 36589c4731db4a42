#include <malloc.h>

#include <cstdio>
#include <cstring>

#include "platform/memory_usage.h"

namespace kavo::platform {

namespace {

// A "Name:   123 kB" line of /proc/self/status.
uint64_t StatusKilobytes(const char* name) {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) {
        return 0;
    }
    char line[256];
    uint64_t kb = 0;
    const size_t n = std::strlen(name);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, name, n) == 0 && line[n] == ':') {
            unsigned long long v = 0;
            if (std::sscanf(line + n + 1, "%llu", &v) == 1) {
                kb = v;
            }
            break;
        }
    }
    std::fclose(f);
    return kb;
}

}  // namespace

uint64_t ResidentBytes() {
    return StatusKilobytes("VmRSS") * 1024;
}

uint64_t PeakResidentBytes() {
    return StatusKilobytes("VmHWM") * 1024;
}

void ReleaseFreeMemory() {
    malloc_trim(0);
}

}  // namespace kavo::platform
