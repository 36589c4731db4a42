// The two console output channels of the console subcommands.
//   StatusOut: a status line to standard output (a newline added), or, in build_server, one
//              message on the build-output pipe (no newline; a zero byte ends it). Text is
//              cut to 8,191 units.
//   BuildLog:  a line to the open build log, flushed; nothing when no log is open.
#pragma once

#include <string_view>

#include "base/format.h"

namespace kavo {

void StatusOutText(std::u16string_view text);
void BuildLogText(std::u16string_view text);

template <typename... Args>
void StatusOut(std::u16string_view fmt, const Args&... args) {
    StatusOutText(Format(fmt, args...));
}

template <typename... Args>
void BuildLog(std::u16string_view fmt, const Args&... args) {
    BuildLogText(Format(fmt, args...));
}

}  // namespace kavo
