#include "platform/md5.h"

namespace kavo::platform {

std::string Md5Hex(std::string_view data) {
    Md5 md5;
    md5.Update(data.data(), data.size());
    const Md5Digest d = md5.Finish();
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(32);
    for (uint8_t b : d) {
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 15]);
    }
    return out;
}

}  // namespace kavo::platform
