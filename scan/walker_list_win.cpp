#include <windows.h>

#include "platform/unique_handle_win.h"
#include "platform/wide_win.h"
#include "scan/walker_list.h"

namespace kavo::scan {

bool ListFolder(const std::u16string& folder, ListingMode mode, IListSink& sink) {
    const std::u16string pattern = folder + u"*";
    const bool basic = mode == ListingMode::kBasicLargeFetch;
    WIN32_FIND_DATAW data;
    win::FindHandle find(
        ::FindFirstFileExW(win::W(pattern), basic ? FindExInfoBasic : FindExInfoStandard, &data,
                           FindExSearchNameMatch, nullptr, basic ? FIND_FIRST_EX_LARGE_FETCH : 0));
    if (!find) {
        return false;
    }
    do {
        ListedItem item;
        item.name = win::U(data.cFileName);
        item.attributes = data.dwFileAttributes;
        item.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        item.last_write = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                          data.ftLastWriteTime.dwLowDateTime;
        sink.OnItem(item);
    } while (::FindNextFileW(find.Get(), &data));
    return true;
}

}  // namespace kavo::scan
