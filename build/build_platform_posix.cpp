#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "base/text.h"
#include "build/build_platform.h"

namespace kavo::build {

bool IsAdministrator() {
    return ::geteuid() == 0;
}

// A lock file in the temporary folder named after the lock, held with flock.
struct BuildLock::Impl {
    int fd = -1;
    ~Impl() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

BuildLock::BuildLock() : impl_(std::make_unique<Impl>()) {}
BuildLock::~BuildLock() = default;

bool BuildLock::Acquire(const std::u16string& name) {
    const std::string path =
        "/tmp/kavo-build-lock-" + std::to_string(std::hash<std::u16string>{}(name));
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    impl_->fd = fd;
    return true;
}

void BuildLock::Release() {
    if (impl_->fd >= 0) {
        ::close(impl_->fd);
        impl_->fd = -1;
    }
}

std::u16string ProcessCommandLine() {
    return u"kavo build";
}

uint32_t TickCount() {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

void InstallBuildCrashFilter() {}

}  // namespace kavo::build
