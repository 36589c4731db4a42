// Folder listing for the directory walker: one call per folder, one callback per item, in
// the order the file system gives them. On Windows this is FindFirstFileExW /
// FindNextFileW; natively it is readdir over the folder that the Windows path maps to
// (see platform/file.h), with the attributes a Windows listing would show.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kavo::scan {

inline constexpr uint32_t kAttributeHidden = 0x2;
inline constexpr uint32_t kAttributeDirectory = 0x10;
inline constexpr uint32_t kAttributeReparsePoint = 0x400;

struct ListedItem {
    std::u16string_view name;  // valid only during the callback
    uint32_t attributes = 0;   // FILE_ATTRIBUTE_* bits
    uint64_t size = 0;         // bytes; 0 for folders
    uint64_t last_write = 0;   // Windows file time (100 ns units since 1601)
};

class IListSink {
  public:
    virtual ~IListSink() = default;
    virtual void OnItem(const ListedItem& item) = 0;
};

// How the listing is asked for: the basic information level with large fetches (Windows 6.0
// and later: no short names, fewer calls), or the standard level.
enum class ListingMode { kBasicLargeFetch, kStandard };

// Lists the folder `folder` (a Windows path ending in "\"), passing "." and ".." on as the
// system reports them. False when the listing cannot be started; nothing is reported then.
bool ListFolder(const std::u16string& folder, ListingMode mode, IListSink& sink);

}  // namespace kavo::scan
