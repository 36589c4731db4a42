#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/native_path_posix.h"
#include "platform/raw_volume_file.h"

namespace kavo::platform {

namespace {

class ImageFile final : public UnsupportedRequests {
  public:
    ImageFile(int fd, uint64_t offset) : fd_(fd), offset_(offset) {}
    ~ImageFile() override { ::close(fd_); }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    uint32_t ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) override {
        *got = 0;
        auto* out = static_cast<uint8_t*>(buffer);
        while (*got < size) {
            ssize_t n =
                ::pread(fd_, out + *got, size - *got, static_cast<off_t>(offset_ + offset + *got));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return kRawErrorInvalidFunction;
            }
            if (n == 0)
                break;
            *got += static_cast<size_t>(n);
        }
        return kRawOk;
    }

  private:
    int fd_;
    uint64_t offset_;
};

}  // namespace

std::unique_ptr<IRawVolume> OpenRawImageFile(const std::u16string& path,
                                             uint64_t offset,
                                             uint32_t* error) {
    int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = kRawErrorFileNotFound;
        return nullptr;
    }
    *error = kRawOk;
    return std::make_unique<ImageFile>(fd, offset);
}

}  // namespace kavo::platform
