#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "base/text.h"
#include "platform/native_path_posix.h"
#include "scan/walker_list.h"

namespace kavo::scan {

namespace {

// Seconds and nanoseconds since 1970 as a Windows file time.
uint64_t FileTimeOf(const struct timespec& t) {
    constexpr int64_t kEpochDifference = 11644473600LL;
    const int64_t seconds = static_cast<int64_t>(t.tv_sec) + kEpochDifference;
    if (seconds < 0) {
        return 0;
    }
    return static_cast<uint64_t>(seconds) * 10000000u + static_cast<uint64_t>(t.tv_nsec) / 100u;
}

struct DirCloser {
    DIR* dir;
    ~DirCloser() { ::closedir(dir); }
};

}  // namespace

bool ListFolder(const std::u16string& folder, ListingMode, IListSink& sink) {
    const std::string path = platform::NativePath(folder);
    DIR* dir = ::opendir(path.empty() ? "/" : path.c_str());
    if (dir == nullptr) {
        return false;
    }
    DirCloser closer{dir};
    const int fd = ::dirfd(dir);
    struct stat self;
    if (::fstat(fd, &self) != 0) {
        return false;
    }
    std::u16string name;
    while (const dirent* e = ::readdir(dir)) {
        ListedItem item;
        struct stat st;
        const bool dot = std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0;
        if (!dot && ::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISLNK(st.st_mode)) {
                // A link shows as a reparse point; one to a folder is also a folder there.
                struct stat target;
                item.attributes = kAttributeReparsePoint;
                if (::fstatat(fd, e->d_name, &target, 0) == 0 && S_ISDIR(target.st_mode)) {
                    item.attributes |= kAttributeDirectory;
                }
            } else if (S_ISDIR(st.st_mode)) {
                item.attributes = kAttributeDirectory;
                // A folder on another file system is a mount folder.
                if (st.st_dev != self.st_dev) {
                    item.attributes |= kAttributeReparsePoint;
                }
            } else {
                item.size = static_cast<uint64_t>(st.st_size);
            }
            item.last_write = FileTimeOf(st.st_mtim);
        } else if (dot) {
            item.attributes = kAttributeDirectory;
        }
        if (e->d_name[0] == '.' && !dot) {
            item.attributes |= kAttributeHidden;
        }
        // Most names are ASCII; widen those in place instead of through a new string.
        name.clear();
        bool ascii = true;
        for (const char* c = e->d_name; *c != 0; ++c) {
            if (static_cast<unsigned char>(*c) >= 0x80) {
                ascii = false;
                break;
            }
            name.push_back(static_cast<char16_t>(*c));
        }
        if (!ascii) {
            name = Utf8ToUtf16(e->d_name);
        }
        item.name = name;
        sink.OnItem(item);
    }
    return true;
}

}  // namespace kavo::scan
