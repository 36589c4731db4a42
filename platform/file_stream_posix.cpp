#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_stream.h"
#include "platform/native_path_posix.h"

namespace kavo::platform {

std::optional<FileStatus> StatFile(const std::u16string& path) {
    struct stat st;
    if (::stat(NativePath(path).c_str(), &st) != 0) {
        return std::nullopt;
    }
    FileStatus s;
    s.is_directory = S_ISDIR(st.st_mode);
    s.size = s.is_directory ? 0 : static_cast<uint64_t>(st.st_size);
    s.modified_unix = static_cast<int64_t>(st.st_mtime);
    return s;
}

struct FileStream::Impl {
    int fd = -1;
};

FileStream::FileStream() : impl_(std::make_unique<Impl>()) {}

FileStream::~FileStream() {
    Close();
}

bool FileStream::Open(const std::u16string& path) {
    Close();
    impl_->fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (impl_->fd >= 0 && (::fstat(impl_->fd, &st) != 0 || S_ISDIR(st.st_mode))) {
        Close();
    }
    return impl_->fd >= 0;
}

bool FileStream::IsOpen() const {
    return impl_->fd >= 0;
}

bool FileStream::Seek(uint64_t offset) {
    return impl_->fd >= 0 && ::lseek(impl_->fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

ptrdiff_t FileStream::Read(void* buffer, size_t size) {
    if (impl_->fd < 0) {
        return -1;
    }
    return ::read(impl_->fd, buffer, size);
}

void FileStream::Close() {
    if (impl_->fd >= 0) {
        ::close(impl_->fd);
        impl_->fd = -1;
    }
}

}  // namespace kavo::platform
