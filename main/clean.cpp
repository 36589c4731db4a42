#include "base/case_map.h"
#include "main/notify.h"
#include "main/process.h"
#include "main/status_out.h"
#include "main/subcommands.h"
#include "platform/file.h"
#include "platform/profile.h"

namespace kavo {

void RunClean(const Args& args) {
    if (args.size() > 2 && !args[2].empty() && UpperUnit(args[2][0]) != 0) {
        CleanDrive(UpperUnit(args[2][0]));
        return;
    }
    // The first four are files of earlier database layouts; nothing else uses them.
    static const char16_t* const kFiles[] = {u"FRN_FUID.map",  u"FUID_FRN.map", u"kavo.file.bas",
                                             u"kavo.file.ext", u"kavo.nrs",     u"kavo.hid",
                                             u"kavo.frs"};
    const std::u16string& folder = Process().database_folder;
    for (const char16_t* name : kFiles) {
        const std::u16string path = folder + name;
        if (!platform::FileExists(path)) {
            continue;
        }
        StatusOut(u"Deleting %s\n", path);
        if (!platform::RemoveFile(path)) {
            StatusOut(u"Delete failed..\n");
        }
    }
    platform::ProfileDeleteSection(Process().settings_path, u"KavoIgnoreFolders");
    NotifyMainWindows();
}

}  // namespace kavo
