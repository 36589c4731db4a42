#include "main/status_out.h"
#include "main/subcommands.h"

namespace kavo {

// The build reads drives and raw volumes through the Win32 volume API; this native program
// has neither, so it says so instead of building an empty database.
void RunBuild(const Args&) {
    StatusOut(
        u"kavo: 'build' runs only on Windows (it reads the drives and their raw "
        u"volumes); this native kavo cannot build a database.");
}

}  // namespace kavo
