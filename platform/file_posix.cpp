#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "base/text.h"
#include "platform/file.h"
#include "platform/native_path_posix.h"

namespace kavo::platform {

std::string NativePath(const std::u16string& path) {
    std::u16string p = path;
    ReplaceAll(p, u'\\', u'/');
    if (p.size() >= 2 && p[1] == u':' && p[0] < 0x80) {
        const char letter = static_cast<char>(p[0] & ~0x20);
        const std::string var = std::string("KAVO_DRIVE_") + letter;
        if (const char* root = std::getenv(var.c_str())) {
            return std::string(root) + Utf16ToUtf8(p.substr(2));
        }
    }
    return Utf16ToUtf8(p);
}

bool FileExists(const std::u16string& path) {
    struct stat st;
    return ::stat(NativePath(path).c_str(), &st) == 0;
}

bool IsDirectory(const std::u16string& path) {
    struct stat st;
    return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<uint64_t> FileSize(const std::u16string& path) {
    struct stat st;
    if (::stat(NativePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(st.st_size);
}

bool MakeDirectory(const std::u16string& path) {
    return ::mkdir(NativePath(path).c_str(), 0777) == 0;
}

bool RemoveFile(const std::u16string& path) {
    return ::unlink(NativePath(path).c_str()) == 0;
}

bool ReplaceFileAtomic(const std::u16string& from, const std::u16string& to) {
    return ::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::u16string& path) {
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat st;
    std::vector<uint8_t> data;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        data.reserve(static_cast<size_t>(st.st_size));
    }
    uint8_t buf[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
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
        data.insert(data.end(), buf, buf + n);
    }
    ::close(fd);
    return data;
}

struct FileWriter::Impl {
    int fd = -1;
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
    impl_->fd =
        ::open(NativePath(impl_->tmp).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    impl_->failed = impl_->fd < 0;
    return !impl_->failed;
}

bool FileWriter::Write(const void* data, size_t size) {
    if (impl_->fd < 0 || impl_->failed) {
        return false;
    }
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(impl_->fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            impl_->failed = true;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool FileWriter::Commit() {
    if (impl_->fd < 0) {
        return false;
    }
    bool ok = !impl_->failed && ::fsync(impl_->fd) == 0;
    ok = ::close(impl_->fd) == 0 && ok;
    impl_->fd = -1;
    ok = ok && ReplaceFileAtomic(impl_->tmp, impl_->path);
    if (!ok) {
        ::unlink(NativePath(impl_->tmp).c_str());
    }
    return ok;
}

void FileWriter::Discard() {
    if (impl_ && impl_->fd >= 0) {
        ::close(impl_->fd);
        impl_->fd = -1;
        ::unlink(NativePath(impl_->tmp).c_str());
    }
}

bool WriteWholeFile(const std::u16string& path, const void* data, size_t size) {
    FileWriter w;
    return w.Open(path) && w.Write(data, size) && w.Commit();
}

TextLog::TextLog() = default;
TextLog::~TextLog() = default;

bool TextLog::Open(const std::u16string& path, bool append) {
    stream_.reset(std::fopen(NativePath(path).c_str(), append ? "a" : "w"));
    return stream_ != nullptr;
}

bool TextLog::IsOpen() const {
    return stream_ != nullptr;
}

void TextLog::WriteLine(std::u16string_view text) {
    if (!stream_) {
        return;
    }
    const std::string s = Utf16ToUtf8(text);
    std::fwrite(s.data(), 1, s.size(), stream_.get());
    std::fputc('\n', stream_.get());
    std::fflush(stream_.get());
}

void TextLog::Close() {
    stream_.reset();
}

}  // namespace kavo::platform
