// Subcommands that this build does not contain yet. Each says so when run; a subsystem
// that implements one removes its line here.
#include "main/status_out.h"
#include "main/subcommands.h"

namespace kavo {

void SayNotInThisBuild(const std::u16string& subcommand) {
    StatusOut(u"kavo: the '%s' subcommand is not in this build.", subcommand);
}

void RunBuild(const Args&) {
    SayNotInThisBuild(u"build");
}
void RunFind(const Args&) {
    SayNotInThisBuild(u"find");
}
void RunGui(const Args&) {
    SayNotInThisBuild(u"gui");
}
void RunBuildServer(const Args&) {
    SayNotInThisBuild(u"build_server");
}
void RunWeb(const Args& args) {
    SayNotInThisBuild(args.size() > 1 ? args[1] : u"web");
}
void CleanDrive(char16_t) {
    SayNotInThisBuild(u"clean with a drive");
}

}  // namespace kavo
