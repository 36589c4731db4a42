// Watching the console for a key while a console subcommand serves (kavo web).
#pragma once

namespace kavo::platform {

// Waits at most `wait_ms` for console input and consumes one input record. True when it
// was a key event (press or release). When standard input is a pipe, any byte counts as a
// key; when it is at its end or is no console at all, this only waits.
bool ConsoleKeyWithin(int wait_ms);

}  // namespace kavo::platform
