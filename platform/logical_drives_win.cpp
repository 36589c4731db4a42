#include <windows.h>

#include "platform/logical_drives.h"

namespace kavo::platform {

uint32_t LogicalDrivesMask() {
    return static_cast<uint32_t>(GetLogicalDrives());
}

}  // namespace kavo::platform
