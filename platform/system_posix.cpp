#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "base/text.h"
#include "platform/system.h"

namespace kavo::platform {

std::optional<std::u16string> GetEnv(std::u16string_view name) {
    const std::string n = Utf16ToUtf8(name);
    if (const char* v = std::getenv(n.c_str())) {
        return Utf8ToUtf16(v);
    }
    // The native build stands in for a Windows user profile with the POSIX home folder.
    if (n == "HOMEPATH") {
        if (const char* home = std::getenv("HOME")) {
            return Utf8ToUtf16(home);
        }
    }
    return std::nullopt;
}

std::u16string ProgramPath(size_t max_units) {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::u16string p = n > 0 ? Utf8ToUtf16(std::string_view(buf, static_cast<size_t>(n))) : u"";
    ReplaceAll(p, u'/', u'\\');
    if (p.size() >= max_units) {
        p.resize(max_units - 1);
    }
    return p;
}

std::u16string ParentProcessName() {
    std::ifstream comm("/proc/" + std::to_string(::getppid()) + "/comm");
    std::string name;
    std::getline(comm, name);
    return Utf8ToUtf16(name);
}

bool IsVistaOrLater() {
    return true;
}

void SetUserLocale() {
    std::setlocale(LC_ALL, "");
}

void WaitForKeyPress() {
    std::getchar();
}

uint64_t NowFileTime() {
    using namespace std::chrono;
    const auto since_unix =
        duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    return static_cast<uint64_t>(since_unix / 100) + 116444736000000000ULL;
}

void StdoutWrite(std::u16string_view text) {
    const std::string s = Utf16ToUtf8(text);
    std::fwrite(s.data(), 1, s.size(), stdout);
}

void StdoutFlush() {
    std::fflush(stdout);
}

bool ConsoleWriteDirect(std::u16string_view text) {
    if (!::isatty(STDOUT_FILENO)) {
        return false;
    }
    std::fflush(stdout);
    const std::string s = Utf16ToUtf8(text);
    return ::write(STDOUT_FILENO, s.data(), s.size()) == static_cast<ssize_t>(s.size());
}

bool InstallCtrlCHandler(void (*handler)()) {
    // SIGINT is taken from every thread and delivered to one waiting thread, which runs the
    // handler as the Win32 control-handler thread would.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        return false;
    }
    std::thread([set, handler] {
        for (;;) {
            int sig = 0;
            if (sigwait(&set, &sig) == 0 && sig == SIGINT) {
                std::thread(handler).detach();
            }
        }
    }).detach();
    return true;
}

}  // namespace kavo::platform

namespace kavo::platform {

bool WritePipeMessage(intptr_t pipe, std::u16string_view text) {
    std::string s = Utf16ToUtf8(text);
    s.push_back('\0');
    return ::write(static_cast<int>(pipe), s.data(), s.size()) == static_cast<ssize_t>(s.size());
}

}  // namespace kavo::platform
