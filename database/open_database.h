// Makes a loaded record store the one that Ctrl-C saves. A build or clean creates one of
// these right after loading its store and keeps it until it has saved and is about to drop
// the store:
//
//     RecordStore store;
//     LoadRecordStore(Process().database_folder, store);
//     OpenDatabase open(store);        // Process().open_database now saves this store
//     ... scan ...
//     open.SetStampTime(all_local_drives);
//     SaveRecordStore(store, all_local_drives);   // the handler's later save does nothing
//
// The handler's save and the destructor are serialised: the destructor waits for a save in
// progress on the handler's thread, and after it the handler finds nothing to save.
#pragma once

#include "database/record_store.h"

namespace kavo {

class OpenDatabase {
  public:
    // `stamp_time` as in SaveRecordStore; may be changed later.
    explicit OpenDatabase(RecordStore& store, bool stamp_time = false);
    ~OpenDatabase();
    OpenDatabase(const OpenDatabase&) = delete;
    OpenDatabase& operator=(const OpenDatabase&) = delete;

    void SetStampTime(bool stamp_time);
};

}  // namespace kavo
