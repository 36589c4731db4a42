// The `build` subcommand: loads the record store, scans the selected drives into it and
// saves it once, under the build lock of the database folder, with a build log
// (kavo.build.log) in that folder.
//
//   kavo build [--delegate] [--remoteDrives] [drive]
//     --delegate      the caller refreshes the main windows; the build does not notify them
//     --remoteDrives  build only network drives; the build log is appended to
//     drive           one letter: build only that drive (no state, type or marker test)
#pragma once

#include <string>
#include <string_view>

#include "build/drive_build.h"
#include "main/subcommands.h"

namespace kavo {

extern const char16_t kBuildUsageText[];

struct BuildArgs {
    bool delegate = false;
    bool remote_drives = false;
    char16_t drive = 0;  // upper-case letter, 0 for all drives
};

enum class BuildArgsError { kNone, kInvalidDrive, kUnrecognized };

// Parses the arguments after "build" (args[0] the program, args[1] "build"). Options are
// compared exactly.
BuildArgsError ParseBuildArgs(const Args& args, BuildArgs* out);

class CBuildCommand {
  public:
    explicit CBuildCommand(build::IVolumeAccess& access = build::SystemVolumeAccess());

    // Runs the subcommand; returns when the build, or its refusal, is finished.
    void Run(const Args& args);

    // A status line of a build run elsewhere (the build launcher's hand-over), printed here.
    void OnStatusInfo(std::u16string_view line, std::u16string_view source);

    // The two builds, with the build lock held and the build log open (used by Run).
    void LocalBuild(const BuildArgs& args);
    void NetworkBuild();

  private:
    build::IVolumeAccess& access_;
};

}  // namespace kavo
