#include "build/build_command.h"

#include <string>

#include "build/build_platform.h"
#include "database/database_files.h"
#include "database/open_database.h"
#include "main/notify.h"
#include "main/process.h"
#include "main/status_out.h"
#include "platform/system.h"
#include "scan/ignore_rules.h"

namespace kavo {

const char16_t kBuildUsageText[] =
    u"\nUSAGE: kavo build [options]\n\nOptions:\n  --dbdir  \tdb dir.\n  --delegate\tdelegate "
    u"build flag.\n";

namespace {

constexpr char16_t kLockHeld[] =
    u"A previous build command is still running. \nOperation canceled.";

void PrintUsage() {
    platform::StdoutWrite(kBuildUsageText);
    platform::StdoutFlush();
}

void WriteDatabase(RecordStore& store, bool stamp_time) {
    BuildLog(u"--");
    BuildLog(u"Writing database..");
    SaveRecordStore(store, stamp_time);
    BuildLog(u"Database written.");
}

}  // namespace

BuildArgsError ParseBuildArgs(const Args& args, BuildArgs* out) {
    *out = BuildArgs{};
    for (size_t i = 2; i < args.size(); ++i) {
        const std::u16string& a = args[i];
        if (a == u"--delegate") {
            out->delegate = true;
        } else if (a == u"--remoteDrives") {
            out->remote_drives = true;
        } else if (a.size() == 1) {
            const char16_t c = a[0];
            if (c >= u'a' && c <= u'z') {
                out->drive = static_cast<char16_t>(c - u'a' + u'A');
            } else if (c >= u'A' && c <= u'Z') {
                out->drive = c;
            } else {
                return BuildArgsError::kInvalidDrive;
            }
        } else {
            return BuildArgsError::kUnrecognized;
        }
    }
    return BuildArgsError::kNone;
}

CBuildCommand::CBuildCommand(build::IVolumeAccess& access) : access_(access) {}

void CBuildCommand::OnStatusInfo(std::u16string_view line, std::u16string_view) {
    StatusOut(u"%s", line);
}

void CBuildCommand::Run(const Args& args) {
    BuildArgs parsed;
    switch (ParseBuildArgs(args, &parsed)) {
        case BuildArgsError::kInvalidDrive:
            StatusOut(u"Invalid drive arg");
            PrintUsage();
            return;
        case BuildArgsError::kUnrecognized:
            StatusOut(u"Unrecognized arg");
            PrintUsage();
            return;
        case BuildArgsError::kNone:
            break;
    }
    ProcessState& p = Process();
    bool may_scan = parsed.remote_drives || build::IsAdministrator();
    if (!may_scan && parsed.drive != 0) {
        const uint32_t type = access_.Drives().DriveType(parsed.drive);
        may_scan = type == scan::kDriveRemote || type == scan::kDriveCdrom;
    }
    if (!may_scan) {
        // The elevated hand-over belongs to the build launcher, which this program does not
        // contain yet.
        StatusOut(
            u"Building needs administrator rights to read the drives' volumes: run "
            u"\"kavo build\" from an elevated console.");
        NotifyMainWindows();
        return;
    }
    // The lock is taken before the build log is opened, so that a build refused because
    // another one runs never truncates the running build's log.
    build::BuildLock lock;
    const bool locked = lock.Acquire(build::BuildLockName(p.database_folder));
    if (!locked && !parsed.remote_drives) {
        StatusOut(kLockHeld);
        return;
    }
    p.build_log.Open(p.database_folder + u"kavo.build.log", /*append=*/parsed.remote_drives);
    if (parsed.remote_drives) {
        BuildLog(u"--------------------------------");
    }
    BuildLog(u"%s", build::ProcessCommandLine());
    build::InstallBuildCrashFilter();
    if (parsed.remote_drives) {
        BuildLog(u"----------");
        if (!locked) {
            StatusOut(kLockHeld);
            BuildLog(u"Failed to obtain build lock.");
        } else {
            NetworkBuild();
        }
    } else {
        LocalBuild(parsed);
    }
    lock.Release();
    if (!parsed.delegate) {
        NotifyMainWindows();
    }
    p.build_log.Close();
}

void CBuildCommand::LocalBuild(const BuildArgs& args) {
    ProcessState& p = Process();
    const scan::IgnoreRules rules(scan::ReadIgnoreOptions(p.settings_path));
    const scan::VolumeStates states = scan::ReadVolumeStates(p.settings_path, access_.Drives());
    const bool all_drives = args.drive == 0;
    RecordStore store;
    LoadRecordStore(p.database_folder, store);
    OpenDatabase open(store, /*stamp_time=*/all_drives);
    std::u16string built;
    std::vector<std::u16string> ignored;
    auto build_drive = [&](char16_t letter) {
        build::DriveBuildResult r =
            build::BuildOneDrive(letter, store, rules, access_, p.settings_path);
        if (r.built) {
            built.push_back(letter);
            ignored.insert(ignored.end(), r.ignored_folders.begin(), r.ignored_folders.end());
        }
    };
    if (!all_drives) {
        StatusOut(u" ");
        build_drive(args.drive);
    } else {
        for (char16_t letter :
             scan::SelectDrivesForBuild(states, access_.Drives(), &p.interrupted)) {
            if (p.interrupted.load()) {
                break;
            }
            build_drive(letter);
        }
    }
    WriteDatabase(store, all_drives);
    scan::MergeIgnoreList(p.settings_path, built, ignored);
}

void CBuildCommand::NetworkBuild() {
    ProcessState& p = Process();
    RecordStore store;
    LoadRecordStore(p.database_folder, store);
    OpenDatabase open(store, /*stamp_time=*/false);
    const scan::IgnoreRules rules(scan::ReadIgnoreOptions(p.settings_path));
    const scan::VolumeStates states = scan::ReadVolumeStates(p.settings_path, access_.Drives());
    for (char16_t letter : scan::SelectNetworkDrives(states, access_.Drives(), &p.interrupted)) {
        if (p.interrupted.load()) {
            break;
        }
        build::BuildOneDrive(letter, store, rules, access_, p.settings_path);
    }
    WriteDatabase(store, /*stamp_time=*/false);
}

}  // namespace kavo
