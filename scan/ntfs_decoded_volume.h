// A raw volume whose NTFS control requests and path questions are answered by decoding the
// volume's own bytes: the boot sector for the volume data, the MFT for file records, open-by-id
// sizes and paths, and the `$Extend\$UsnJrnl` streams `$Max` and `$J` for the journal. It
// serves NTFS image files and live volumes that do not support the control requests.
#pragma once

#include <memory>
#include <string>

#include "platform/raw_volume.h"

namespace kavo {

// Wraps `inner`, which must answer ReadAt. Paths given to the path questions are taken
// relative to the volume root after their first component ("X:" or "\\?\...").
std::unique_ptr<platform::IRawVolume> MakeDecodedVolume(
    std::unique_ptr<platform::IRawVolume> inner);

// Opens an NTFS image file whose volume starts `offset` bytes into the file and serves
// every request from its bytes. Null with `*error` set when the file cannot be opened.
std::unique_ptr<platform::IRawVolume> OpenImageVolume(const std::u16string& path,
                                                      uint64_t offset,
                                                      uint32_t* error);

}  // namespace kavo
