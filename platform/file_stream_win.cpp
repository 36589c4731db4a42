#include <windows.h>

#include "platform/file_stream.h"
#include "platform/unique_handle_win.h"
#include "platform/wide_win.h"

namespace kavo::platform {

using win::W;

namespace {

int64_t UnixSeconds(const FILETIME& ft) {
    const uint64_t t = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<int64_t>(t / 10000000ULL) - 11644473600LL;
}

}  // namespace

std::optional<FileStatus> StatFile(const std::u16string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(W(path), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    FileStatus s;
    s.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    s.size =
        s.is_directory ? 0 : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    s.modified_unix = UnixSeconds(data.ftLastWriteTime);
    return s;
}

struct FileStream::Impl {
    win::FileHandle file;
};

FileStream::FileStream() : impl_(std::make_unique<Impl>()) {}

FileStream::~FileStream() = default;

bool FileStream::Open(const std::u16string& path) {
    // No security attributes: the handle is not inherited.
    impl_->file.Reset(::CreateFileW(W(path), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return impl_->file.Valid();
}

bool FileStream::IsOpen() const {
    return impl_->file.Valid();
}

bool FileStream::Seek(uint64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return impl_->file.Valid() &&
           ::SetFilePointerEx(impl_->file.Get(), to, nullptr, FILE_BEGIN) != 0;
}

ptrdiff_t FileStream::Read(void* buffer, size_t size) {
    DWORD got = 0;
    if (!impl_->file.Valid() ||
        !::ReadFile(impl_->file.Get(), buffer, static_cast<DWORD>(size), &got, nullptr)) {
        return -1;
    }
    return static_cast<ptrdiff_t>(got);
}

void FileStream::Close() {
    impl_->file.Reset();
}

}  // namespace kavo::platform
