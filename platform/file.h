// Files and folders. Paths are Windows paths in UTF-16 ("C:\Users\ann\.kavo\kavo.ini").
// The POSIX implementation, which serves only the native tests and tools, turns "\" into
// "/" and a leading "X:" into the folder named by the environment variable KAVO_DRIVE_X
// when that is set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavo::platform {

bool FileExists(const std::u16string& path);  // a file or a folder
bool IsDirectory(const std::u16string& path);
std::optional<uint64_t> FileSize(const std::u16string& path);
bool MakeDirectory(const std::u16string& path);  // false when it exists or fails
bool RemoveFile(const std::u16string& path);
// Replaces `to` by `from` in one step (MoveFileExW with MOVEFILE_REPLACE_EXISTING and
// MOVEFILE_WRITE_THROUGH; rename natively): at every moment one of the two is in place.
bool ReplaceFileAtomic(const std::u16string& from, const std::u16string& to);

// Reads a whole file; nullopt when it cannot be opened or read.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::u16string& path);

// Writes a new file in pieces. Nothing reaches `path` until Commit succeeds: the bytes go
// to path + ".tmp", which Commit flushes and moves into place with ReplaceFileAtomic.
class FileWriter {
  public:
    FileWriter();
    ~FileWriter();  // discards an uncommitted file
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    bool Open(const std::u16string& path);
    bool Write(const void* data, size_t size);
    bool Commit();
    void Discard();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Writes `bytes` through a FileWriter.
bool WriteWholeFile(const std::u16string& path, const void* data, size_t size);

// A text log written line by line and flushed each time, as the C run-time's wide stream
// writes it: text in the ANSI code page on Windows, UTF-8 natively.
class TextLog {
  public:
    TextLog();
    ~TextLog();
    TextLog(const TextLog&) = delete;
    TextLog& operator=(const TextLog&) = delete;

    bool Open(const std::u16string& path, bool append);  // mode "a" or "w"
    bool IsOpen() const;
    void WriteLine(std::u16string_view text);
    void Close();

  private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> stream_;
};

}  // namespace kavo::platform
