// Reading a file in pieces from a position, and the facts about a file that a download
// needs. Paths are Windows paths in UTF-16, as in platform/file.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kavo::platform {

struct FileStatus {
    bool is_directory = false;
    uint64_t size = 0;          // 0 for folders
    int64_t modified_unix = 0;  // last write time, seconds since 1970-01-01 UTC
};

// nullopt when nothing exists at `path`.
std::optional<FileStatus> StatFile(const std::u16string& path);

// A file open for reading in binary mode, not inherited by child processes, shared with
// writers (a file being written can still be sent).
class FileStream {
  public:
    FileStream();
    ~FileStream();
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    bool Open(const std::u16string& path);
    bool IsOpen() const;
    bool Seek(uint64_t offset);
    // Bytes read (0 at the end), -1 on failure.
    ptrdiff_t Read(void* buffer, size_t size);
    void Close();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kavo::platform
