#include "base/case_map.h"
#include "database/database_files.h"
#include "database/open_database.h"
#include "database/record_store.h"
#include "main/notify.h"
#include "main/process.h"
#include "main/subcommands.h"

namespace kavo {

void CleanDrive(char16_t letter) {
    const char16_t drive = UpperUnit(letter);
    ProcessState& p = Process();
    p.build_log.Open(p.database_folder + u"kavo.build.log", false);
    {
        RecordStore store;
        LoadRecordStore(p.database_folder, store);
        OpenDatabase open(store);
        if (drive >= u'A' && drive <= u'Z') {
            store.RemoveVolumeRecords(drive, 0);
            DriveSlot& slot = store.Drive(static_cast<uint32_t>(drive - u'A'));
            // The next build of the drive is then a full scan.
            slot.serial = 0;
            slot.journal_id = 0;
            slot.next_usn = 0;
        }
        SaveRecordStore(store, false);
    }
    p.build_log.Close();
    NotifyMainWindows();
}

}  // namespace kavo
