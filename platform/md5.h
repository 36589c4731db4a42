// MD5 digests from the platform: the CryptoAPI on Windows, libcrypto natively.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kavo::platform {

using Md5Digest = std::array<uint8_t, 16>;

// An MD5 computation over pieces fed in order.
class Md5 {
  public:
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;

    // False when the platform cannot compute digests (the result is then all zeros).
    bool Ok() const;
    void Update(const void* data, size_t size);
    Md5Digest Finish();  // once

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The digest of `data` as 32 lower-case hexadecimal digits.
std::string Md5Hex(std::string_view data);

}  // namespace kavo::platform
