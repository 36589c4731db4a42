#include <cstdlib>
#include <string>

#include "platform/logical_drives.h"

namespace kavo::platform {

// Natively a drive is present when the tests map it (KAVO_DRIVE_X); C: always is.
uint32_t LogicalDrivesMask() {
    uint32_t mask = 1u << 2;
    for (char c = 'A'; c <= 'Z'; ++c) {
        const std::string name = std::string("KAVO_DRIVE_") + c;
        if (std::getenv(name.c_str()) != nullptr) {
            mask |= 1u << (c - 'A');
        }
    }
    return mask;
}

}  // namespace kavo::platform
