#include <windows.h>

#include "platform/file_prefix.h"
#include "platform/unique_handle_win.h"
#include "platform/wide_win.h"

namespace kavo::platform {

using win::W;

std::optional<std::vector<uint8_t>> ReadFilePrefix(const std::u16string& path, size_t max_bytes) {
    win::FileHandle h(::CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    if (!h) {
        return std::nullopt;
    }
    std::vector<uint8_t> data(max_bytes);
    size_t done = 0;
    while (done < max_bytes) {
        const DWORD want =
            static_cast<DWORD>(max_bytes - done > (1u << 24) ? (1u << 24) : max_bytes - done);
        DWORD got = 0;
        if (!::ReadFile(h.Get(), data.data() + done, want, &got, nullptr)) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    data.resize(done);
    return data;
}

}  // namespace kavo::platform
