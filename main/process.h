// The process-wide state that the entry routine sets up and the subcommands read: the
// database folder, the settings file path, the interrupt flag and event, the build-output
// pipe, the build log and the open database that Ctrl-C saves.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/event.h"
#include "platform/file.h"

namespace kavo {

// What Ctrl-C saves: the record store that a build or clean has loaded. Save must be safe
// to call from the control-handler thread, and only the first call may do the work.
class IOpenDatabase {
  public:
    virtual ~IOpenDatabase() = default;
    virtual void SaveOnce() = 0;
};

struct ProcessState {
    std::u16string database_folder;  // always ends with a backslash
    std::u16string settings_path;    // database folder + "kavo.ini"
    std::u16string dbdir;            // the normalised --dbdir value, may be empty
    bool vista_or_later = false;

    std::atomic<bool> interrupted{false};
    ManualResetEvent interrupt_event;
    std::atomic<bool> interrupt_event_created{false};

    // Set only by build_server: StatusOut then writes to this pipe handle.
    std::atomic<intptr_t> build_output_pipe{-1};

    platform::TextLog build_log;
    std::atomic<IOpenDatabase*> open_database{nullptr};
};

// The one state of this process.
ProcessState& Process();

}  // namespace kavo
