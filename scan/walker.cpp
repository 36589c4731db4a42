#include "scan/walker.h"

#include <deque>
#include <utility>

#include "database/record_values.h"
#include "main/status_out.h"
#include "platform/system.h"

namespace kavo::scan {

namespace {

struct PendingFolder {
    std::u16string path;  // ends with "\"
    uint64_t key;
};

class Walker final : public IListSink {
  public:
    Walker(char16_t letter, IKvListener& listener)
        : drive_bits_(static_cast<uint64_t>(letter - u'A') << 32), listener_(listener) {}

    void List(const PendingFolder& folder, ListingMode mode) {
        current_ = &folder;
        if (!ListFolder(folder.path, mode, *this)) {
            ++stats_.unlisted;
            platform::StdoutWrite(Format(u"Find files in %s failed..\n", folder.path));
            platform::StdoutFlush();
        }
    }

    void OnItem(const ListedItem& item) override {
        ScanEntry e;
        e.parent_key = current_->key;
        e.time = FileTimeToPackedTime(item.last_write);
        e.name = item.name;
        if ((item.attributes & kAttributeDirectory) == 0) {
            e.key = drive_bits_ | next_record_++;
            e.size = SizeToCode(item.size);
            listener_.OnFileAdded(e);
            ++stats_.files;
            return;
        }
        if (item.name == u"." || item.name == u"..") {
            return;
        }
        e.key = drive_bits_ | next_record_++;
        e.is_folder = 1;
        if ((item.attributes & kAttributeReparsePoint) == 0) {
            std::u16string path;
            path.reserve(current_->path.size() + item.name.size() + 1);
            path.append(current_->path).append(item.name).push_back(u'\\');
            next_level_.push_back({std::move(path), e.key});
        }
        listener_.OnFileAdded(e);
        ++stats_.folders;
    }

    WalkStats Run(char16_t letter, const WalkOptions& options) {
        std::u16string root_name{letter, u':'};
        ScanEntry root;
        root.key = drive_bits_ | kWalkerRootRecord;
        root.is_folder = 1;
        root.name = root_name;
        listener_.OnFileAdded(root);
        if (options.log) {
            BuildLog(u"Performing full scan..");
        }
        std::deque<PendingFolder> level;
        level.push_back({options.root.empty() ? root_name + u"\\" : options.root, root.key});
        // One level at a time: every folder found on a level is listed before any of the
        // next, which is what gives the record numbers their order.
        while (!level.empty()) {
            for (const PendingFolder& folder : level) {
                if (options.interrupted != nullptr && options.interrupted->load()) {
                    stats_.interrupted = true;
                    return stats_;
                }
                List(folder, options.mode);
            }
            level.clear();
            level.swap(next_level_);
        }
        return stats_;
    }

  private:
    const uint64_t drive_bits_;
    IKvListener& listener_;
    uint32_t next_record_ = kWalkerRootRecord + 1;
    const PendingFolder* current_ = nullptr;
    std::deque<PendingFolder> next_level_;
    WalkStats stats_;
};

}  // namespace

WalkStats WalkVolume(char16_t letter, IKvListener& listener, const WalkOptions& options) {
    if (options.log) {
        BuildLog(u"Deleting all records for drive %c", letter);
    }
    listener.OnRemoveVolume(letter, 0);
    Walker walker(letter, listener);
    const WalkStats stats = walker.Run(letter, options);
    if (options.log) {
        BuildLog(u"Recorded %d folders, %d files.", stats.folders, stats.files);
    }
    return stats;
}

}  // namespace kavo::scan
