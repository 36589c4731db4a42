#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_prefix.h"
#include "platform/native_path_posix.h"

namespace kavo::platform {

std::optional<std::vector<uint8_t>> ReadFilePrefix(const std::u16string& path, size_t max_bytes) {
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::vector<uint8_t> data(max_bytes);
    size_t done = 0;
    while (done < max_bytes) {
        const ssize_t n = ::read(fd, data.data() + done, max_bytes - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    data.resize(done);
    return data;
}

}  // namespace kavo::platform
