// Windows path to host path, for the POSIX side of the seam only.
#pragma once

#include <string>

namespace kavo::platform {

// "\" becomes "/"; a leading "X:" becomes $KAVO_DRIVE_X when that variable is set.
std::string NativePath(const std::u16string& path);

}  // namespace kavo::platform
