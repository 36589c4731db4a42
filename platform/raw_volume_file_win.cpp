#include <windows.h>

#include "platform/raw_volume_file.h"
#include "platform/unique_handle_win.h"
#include "platform/wide_win.h"

namespace kavo::platform {

namespace {

class ImageFile final : public UnsupportedRequests {
  public:
    ImageFile(win::FileHandle file, uint64_t offset) : file_(std::move(file)), offset_(offset) {}

    uint32_t ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) override {
        *got = 0;
        auto* out = static_cast<uint8_t*>(buffer);
        while (*got < size) {
            OVERLAPPED at{};
            uint64_t pos = offset_ + offset + *got;
            at.Offset = static_cast<DWORD>(pos);
            at.OffsetHigh = static_cast<DWORD>(pos >> 32);
            DWORD want = static_cast<DWORD>(std::min<size_t>(size - *got, 1u << 30));
            DWORD n = 0;
            if (!::ReadFile(file_.Get(), out + *got, want, &n, &at)) {
                DWORD e = ::GetLastError();
                if (e == ERROR_HANDLE_EOF)
                    break;
                return e;
            }
            if (n == 0)
                break;
            *got += n;
        }
        return kRawOk;
    }

  private:
    win::FileHandle file_;
    uint64_t offset_;
};

}  // namespace

std::unique_ptr<IRawVolume> OpenRawImageFile(const std::u16string& path,
                                             uint64_t offset,
                                             uint32_t* error) {
    win::FileHandle file(::CreateFileW(win::W(path), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        *error = ::GetLastError();
        return nullptr;
    }
    *error = kRawOk;
    return std::make_unique<ImageFile>(std::move(file), offset);
}

}  // namespace kavo::platform
