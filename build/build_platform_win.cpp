#include <windows.h>

#include "build/build_platform.h"
#include "platform/unique_handle_win.h"
#include "platform/wide_win.h"

namespace kavo::build {

bool IsAdministrator() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                    0, 0, 0, 0, 0, &admins)) {
        return false;
    }
    BOOL member = FALSE;
    if (!::CheckTokenMembership(nullptr, admins, &member)) {
        member = FALSE;
    }
    ::FreeSid(admins);
    return member != FALSE;
}

struct BuildLock::Impl {
    win::KernelHandle mutex;
};

BuildLock::BuildLock() : impl_(std::make_unique<Impl>()) {}
BuildLock::~BuildLock() = default;

bool BuildLock::Acquire(const std::u16string& name) {
    ::SetLastError(0);
    win::KernelHandle h(::CreateMutexW(nullptr, FALSE, win::W(name)));
    const DWORD error = ::GetLastError();
    if (!h || error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED) {
        return false;
    }
    impl_->mutex = std::move(h);
    return true;
}

void BuildLock::Release() {
    impl_->mutex.Reset();
}

std::u16string ProcessCommandLine() {
    return std::u16string(win::U(::GetCommandLineW()));
}

uint32_t TickCount() {
    return ::GetTickCount();
}

}  // namespace kavo::build
