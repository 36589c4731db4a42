// What the build command asks of the operating system beyond the volumes: the
// administrator test, the build lock, the command line, a millisecond clock and the crash
// filter. Win32 in build_platform_win.cpp; the native side (build_platform_posix.cpp)
// serves the tests only, since natively `kavo build` does not run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kavo::build {

// True when the process's token is a member of the built-in Administrators group
// (CheckTokenMembership without a token: under UAC only an elevated process is).
bool IsAdministrator();

// The named build lock of one database folder, held while the object lives.
class BuildLock {
  public:
    BuildLock();
    ~BuildLock();
    BuildLock(const BuildLock&) = delete;
    BuildLock& operator=(const BuildLock&) = delete;

    // Creates the named mutex; false when another build holds it (the name exists, or
    // access to it is denied). The lock is held from a true result until destruction.
    bool Acquire(const std::u16string& name);
    // Lets the lock go before destruction.
    void Release();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// "Global\" + the database folder with "\" turned into "/" + "|KAVO_BUILD".
std::u16string BuildLockName(const std::u16string& database_folder);

// GetCommandLineW; natively the arguments joined by spaces.
std::u16string ProcessCommandLine();

// Milliseconds of a steady clock (GetTickCount).
uint32_t TickCount();

// Installs the build's crash filter: on an unhandled exception it writes a dump into the
// database folder (kavo.build.max.dmp when the file _MAX_DMP is there, otherwise
// kavo.build.mini.dmp) and appends the crash report to the open build log.
void InstallBuildCrashFilter();

}  // namespace kavo::build
