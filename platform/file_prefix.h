// Reading the first bytes of a file without reading all of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kavo::platform {

// Up to `max_bytes` bytes from the start of the file (fewer when it is shorter); nullopt
// when it cannot be opened or read.
std::optional<std::vector<uint8_t>> ReadFilePrefix(const std::u16string& path, size_t max_bytes);

}  // namespace kavo::platform
