#include "main/program_home.h"

#include "base/case_map.h"
#include "base/text.h"
#include "platform/profile.h"
#include "platform/system.h"

namespace kavo {

std::u16string ComputeDefaultFolder(const std::optional<std::u16string>& home_drive,
                                    const std::optional<std::u16string>& system_drive,
                                    const std::optional<std::u16string>& home_path) {
    std::u16string folder = home_drive ? *home_drive : system_drive.value_or(u"");
    if (!folder.empty()) {
        folder[0] = UpperUnit(folder[0]);
    }
    if (home_path) {
        folder += *home_path;
    }
    folder += u"\\.kavo\\";
    return folder;
}

std::u16string PerUserDefaultFolder() {
    static const std::u16string folder =
        ComputeDefaultFolder(platform::GetEnv(u"HOMEDRIVE"), platform::GetEnv(u"SYSTEMDRIVE"),
                             platform::GetEnv(u"HOMEPATH"));
    return folder;
}

std::u16string BaseFolder(const std::u16string& dbdir) {
    return dbdir.empty() ? PerUserDefaultFolder() : dbdir;
}

std::u16string RedirectionKey(std::u16string program_path) {
    ReplaceAll(program_path, u'=', u'#');
    return program_path;
}

std::u16string SettleDatabaseFolder(const std::u16string& base_folder,
                                    const std::u16string& program_path) {
    std::u16string value = platform::ProfileReadString(base_folder + u"kavo.ini", u"KavoHome",
                                                       RedirectionKey(program_path), u"", 260);
    if (value.empty()) {
        return base_folder;
    }
    if (value.back() != u'\\') {
        value += u'\\';
    }
    value[0] = UpperUnit(value[0]);
    return value;
}

std::u16string SettleDatabaseFolder(const std::u16string& dbdir) {
    return SettleDatabaseFolder(BaseFolder(dbdir), platform::ProgramPath(260));
}

bool SaveRedirection(const std::u16string& base_folder,
                     const std::u16string& program_path,
                     const std::u16string& folder) {
    std::optional<std::u16string> value;
    if (!folder.empty()) {
        value = folder;
    }
    return platform::ProfileWriteString(base_folder + u"kavo.ini", u"KavoHome",
                                        RedirectionKey(program_path), value);
}

bool SaveRedirection(const std::u16string& dbdir, const std::u16string& folder) {
    return SaveRedirection(BaseFolder(dbdir), platform::ProgramPath(260), folder);
}

std::u16string ProgramFolder() {
    const std::u16string path = platform::ProgramPath(259);
    const size_t slash = path.rfind(u'\\');
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
}

}  // namespace kavo
