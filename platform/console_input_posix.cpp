#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/console_input.h"

namespace kavo::platform {

bool ConsoleKeyWithin(int wait_ms) {
    static bool at_end = false;
    if (!at_end) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (::poll(&p, 1, wait_ms) > 0 && (p.revents & (POLLIN | POLLHUP))) {
            char c;
            const ssize_t n = ::read(STDIN_FILENO, &c, 1);
            if (n > 0) {
                return true;
            }
            at_end = true;  // no one can press a key any more; keep serving
        }
        return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
    return false;
}

}  // namespace kavo::platform
