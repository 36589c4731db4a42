#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "platform/file.h"
#include "platform/unique_handle_win.h"
#include "platform/wide_win.h"

namespace kavo::platform {

using win::W;

bool FileExists(const std::u16string& path) {
    return ::GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::u16string& path) {
    const DWORD a = ::GetFileAttributesW(W(path));
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::optional<uint64_t> FileSize(const std::u16string& path) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!::GetFileAttributesExW(W(path), GetFileExInfoStandard, &d) ||
        (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return std::nullopt;
    }
    return (static_cast<uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

bool MakeDirectory(const std::u16string& path) {
    return ::CreateDirectoryW(W(path), nullptr) != 0;
}

bool RemoveFile(const std::u16string& path) {
    return ::DeleteFileW(W(path)) != 0;
}

bool ReplaceFileAtomic(const std::u16string& from, const std::u16string& to) {
    return ::MoveFileExW(W(from), W(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::u16string& path) {
    win::FileHandle h(::CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h) {
        return std::nullopt;
    }
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(h.Get(), &size) || size.QuadPart < 0 ||
        static_cast<uint64_t>(size.QuadPart) > SIZE_MAX / 2) {
        return std::nullopt;
    }
    std::vector<uint8_t> data(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < data.size()) {
        const DWORD want =
            static_cast<DWORD>(data.size() - done > (1u << 24) ? (1u << 24) : data.size() - done);
        DWORD got = 0;
        if (!::ReadFile(h.Get(), data.data() + done, want, &got, nullptr)) {
            return std::nullopt;
        }
        if (got == 0) {
            data.resize(done);  // the file shrank while we read it
            break;
        }
        done += got;
    }
    return data;
}

struct FileWriter::Impl {
    win::FileHandle h;
    std::u16string path;
    std::u16string tmp;
    bool failed = false;
};

FileWriter::FileWriter() : impl_(std::make_unique<Impl>()) {}
FileWriter::~FileWriter() {
    Discard();
}

bool FileWriter::Open(const std::u16string& path) {
    Discard();
    impl_->path = path;
    impl_->tmp = path + u".tmp";
    impl_->h.Reset(::CreateFileW(W(impl_->tmp), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    impl_->failed = !impl_->h;
    return !impl_->failed;
}

bool FileWriter::Write(const void* data, size_t size) {
    if (!impl_->h || impl_->failed) {
        return false;
    }
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(size > (1u << 24) ? (1u << 24) : size);
        DWORD written = 0;
        if (!::WriteFile(impl_->h.Get(), p, chunk, &written, nullptr) || written == 0) {
            impl_->failed = true;
            return false;
        }
        p += written;
        size -= written;
    }
    return true;
}

bool FileWriter::Commit() {
    if (!impl_->h) {
        return false;
    }
    bool ok = !impl_->failed && ::FlushFileBuffers(impl_->h.Get());
    impl_->h.Reset();
    ok = ok && ReplaceFileAtomic(impl_->tmp, impl_->path);
    if (!ok) {
        ::DeleteFileW(W(impl_->tmp));
    }
    return ok;
}

void FileWriter::Discard() {
    if (impl_ && impl_->h) {
        impl_->h.Reset();
        ::DeleteFileW(W(impl_->tmp));
    }
}

bool WriteWholeFile(const std::u16string& path, const void* data, size_t size) {
    FileWriter w;
    return w.Open(path) && w.Write(data, size) && w.Commit();
}

TextLog::TextLog() = default;
TextLog::~TextLog() = default;

bool TextLog::Open(const std::u16string& path, bool append) {
    stream_.reset(::_wfopen(W(path), append ? L"a" : L"w"));
    return stream_ != nullptr;
}

bool TextLog::IsOpen() const {
    return stream_ != nullptr;
}

void TextLog::WriteLine(std::u16string_view text) {
    if (!stream_) {
        return;
    }
    const std::u16string s(text);
    std::fputws(W(s), stream_.get());
    std::fputwc(L'\n', stream_.get());
    std::fflush(stream_.get());
}

void TextLog::Close() {
    stream_.reset();
}

}  // namespace kavo::platform
