#include "build/build_command.h"

namespace kavo {

void RunBuild(const Args& args) {
    CBuildCommand().Run(args);
}

}  // namespace kavo
