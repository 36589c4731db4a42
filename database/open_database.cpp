#include "database/open_database.h"

#include <mutex>

#include "database/database_files.h"
#include "main/process.h"

namespace kavo {

namespace {

// Lives as long as the process, so the control-handler thread never reaches a destroyed
// object even when it read the pointer just before the store was let go.
class StoreSaver : public IOpenDatabase {
  public:
    void Attach(RecordStore* store, bool stamp_time) {
        std::lock_guard<std::mutex> lock(mutex_);
        store_ = store;
        stamp_time_ = stamp_time;
    }
    void SetStampTime(bool stamp_time) {
        std::lock_guard<std::mutex> lock(mutex_);
        stamp_time_ = stamp_time;
    }
    void SaveOnce() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (store_) {
            SaveRecordStore(*store_, stamp_time_);  // a store saved before does nothing
        }
    }

  private:
    std::mutex mutex_;
    RecordStore* store_ = nullptr;
    bool stamp_time_ = false;
};

StoreSaver& Saver() {
    static StoreSaver saver;
    return saver;
}

}  // namespace

OpenDatabase::OpenDatabase(RecordStore& store, bool stamp_time) {
    Saver().Attach(&store, stamp_time);
    Process().open_database.store(&Saver());
}

OpenDatabase::~OpenDatabase() {
    Process().open_database.store(nullptr);
    Saver().Attach(nullptr, false);  // waits for a save running on the handler's thread
}

void OpenDatabase::SetStampTime(bool stamp_time) {
    Saver().SetStampTime(stamp_time);
}

}  // namespace kavo
