// The drives present now, as GetLogicalDrives reports them: bit i for drive letter A + i.
#pragma once

#include <cstdint>

namespace kavo::platform {

uint32_t LogicalDrivesMask();

}  // namespace kavo::platform
