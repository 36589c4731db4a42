#include "platform/raw_volume.h"
#include "platform/raw_volume_file.h"

namespace kavo::platform {

// Natively there are no raw devices: the path names a volume image.
std::unique_ptr<IRawVolume> OpenRawVolume(const std::u16string& path, uint32_t* error) {
    return OpenRawImageFile(path, 0, error);
}

}  // namespace kavo::platform
