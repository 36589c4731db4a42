// Subcommands that this build does not contain yet. Each says so when run; a subsystem
// that implements one removes its line here.
#include "main/status_out.h"
#include "main/subcommands.h"

namespace kavo {

namespace {
// The native build serves the tests; the window and the elevated build exist only on Windows.
void SayWindowsOnlyOrNotBuilt(const std::u16string& subcommand) {
#ifdef _WIN32
    SayNotInThisBuild(subcommand);
#else
    StatusOut(u"kavo: the '%s' subcommand runs only on Windows.", subcommand);
#endif
}
}  // namespace

void SayNotInThisBuild(const std::u16string& subcommand) {
    StatusOut(u"kavo: the '%s' subcommand is not in this build.", subcommand);
}

void RunGui(const Args&) {
    SayWindowsOnlyOrNotBuilt(u"gui");
}
void RunBuildServer(const Args&) {
    SayWindowsOnlyOrNotBuilt(u"build_server");
}

}  // namespace kavo
