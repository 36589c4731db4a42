#include <windows.h>
#include <shlobj.h>

#include "main/program_home.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "platform/system.h"
#include "platform/wide_win.h"

namespace kavo {

void MarkDatabaseFolder(const std::u16string& folder) {
    const std::u16string icon = platform::ProfileReadString(
        folder + u"desktop.ini", u".ShellClassInfo", u"IconResource", u"", 260);
    if (icon.size() > 2 && icon.ends_with(u",1") &&
        platform::FileExists(icon.substr(0, icon.size() - 2))) {
        return;
    }
    std::u16string program = platform::ProgramPath(260);
    SHFOLDERCUSTOMSETTINGS fcs{};
    fcs.dwSize = 60;  // the structure's size on 32-bit Windows
    fcs.dwMask = FCSM_ICONFILE;
    fcs.pszIconFile = win::W(program.data());
    fcs.cchIconFile = 0;
    fcs.iIconIndex = 1;
    if (FAILED(::SHGetSetFolderCustomSettings(&fcs, win::W(folder), FCS_FORCEWRITE))) {
        ::OutputDebugStringW(L"kavo: could not set the database folder's icon\n");
    }
}

}  // namespace kavo
