// The build's crash filter: a dump and a text report of the program, the machine and its
// drives, appended to the build log. Every step is best effort; the filter always hands the
// exception on to the system.
#include <windows.h>
#include <cpuid.h>
#include <dbghelp.h>
#include <psapi.h>

#include <cstring>
#include <string>

#include "base/format.h"
#include "build/build_platform.h"
#include "main/process.h"
#include "main/status_out.h"
#include "platform/unique_handle_win.h"
#include "platform/wide_win.h"
#include "scan/volume_inventory.h"

namespace kavo::build {

namespace {

BOOL CALLBACK SmallDumpCallback(PVOID,
                                const PMINIDUMP_CALLBACK_INPUT input,
                                PMINIDUMP_CALLBACK_OUTPUT output) {
    if (input == nullptr || output == nullptr) {
        return FALSE;
    }
    switch (input->CallbackType) {
        case ModuleCallback:
            // Only modules that the stacks point into are written.
            if ((output->ModuleWriteFlags & ModuleReferencedByMemory) == 0) {
                output->ModuleWriteFlags &= ~ModuleWriteModule;
            }
            return TRUE;
        case ThreadCallback:
        case ThreadExCallback:
        case IncludeThreadCallback:
        case IncludeModuleCallback:
            return TRUE;
        default:
            return FALSE;
    }
}

void WriteDump(EXCEPTION_POINTERS* pointers) {
    const std::u16string& folder = Process().database_folder;
    const bool full = ::GetFileAttributesW(win::W(folder + u"_MAX_DMP")) != INVALID_FILE_ATTRIBUTES;
    const std::u16string path = folder + (full ? u"kavo.build.max.dmp" : u"kavo.build.mini.dmp");
    win::FileHandle file(::CreateFileW(win::W(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return;
    }
    MINIDUMP_EXCEPTION_INFORMATION info;
    info.ThreadId = ::GetCurrentThreadId();
    info.ExceptionPointers = pointers;
    info.ClientPointers = FALSE;
    MINIDUMP_CALLBACK_INFORMATION callback{SmallDumpCallback, nullptr};
    const auto type =
        full ? static_cast<MINIDUMP_TYPE>(MiniDumpWithFullMemory | MiniDumpWithHandleData |
                                          MiniDumpWithUnloadedModules | MiniDumpWithFullMemoryInfo |
                                          MiniDumpWithThreadInfo)
             : static_cast<MINIDUMP_TYPE>(MiniDumpWithIndirectlyReferencedMemory |
                                          MiniDumpScanMemory);
    ::MiniDumpWriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file.Get(), type,
                        pointers != nullptr ? &info : nullptr, nullptr, full ? nullptr : &callback);
}

std::u16string ProcessorBrand() {
    unsigned int regs[12] = {};
    unsigned int max = __get_cpuid_max(0x80000000u, nullptr);
    if (max < 0x80000004u) {
        return u"(N/A)";
    }
    for (unsigned int i = 0; i < 3; ++i) {
        __get_cpuid(0x80000002u + i, &regs[i * 4], &regs[i * 4 + 1], &regs[i * 4 + 2],
                    &regs[i * 4 + 3]);
    }
    char text[49] = {};
    std::memcpy(text, regs, 48);
    std::u16string brand;
    for (const char* p = text; *p != 0; ++p) {
        brand.push_back(static_cast<char16_t>(static_cast<unsigned char>(*p)));
    }
    const size_t start = brand.find_first_not_of(u' ');
    return start == std::u16string::npos ? u"" : brand.substr(start);
}

bool Supports64Bit() {
    unsigned int a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid_max(0x80000000u, nullptr) < 0x80000001u) {
        return false;
    }
    __get_cpuid(0x80000001u, &a, &b, &c, &d);
    return (d & (1u << 29)) != 0;
}

void CountProcessors(int* cores, int* logical) {
    *cores = 0;
    *logical = 0;
    DWORD bytes = 0;
    ::GetLogicalProcessorInformation(nullptr, &bytes);
    if (bytes == 0) {
        return;
    }
    std::string buffer(bytes, '\0');
    auto* info = reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION*>(buffer.data());
    if (!::GetLogicalProcessorInformation(info, &bytes)) {
        return;
    }
    for (size_t i = 0; i < bytes / sizeof *info; ++i) {
        if (info[i].Relationship == RelationProcessorCore) {
            ++*cores;
            for (ULONG_PTR m = info[i].ProcessorMask; m != 0; m &= m - 1) {
                ++*logical;
            }
        }
    }
}

void WriteReport() {
    if (!Process().build_log.IsOpen()) {
        return;
    }
    BuildLog(u"--------------- build crashed ---------------");
    BuildLog(u"-- kavo info --");
    BuildLog(u"Kavo version: %s, %d bit", u"4.4.0", 32);
    BuildLog(u"Kavo home: %s", Process().database_folder);
    BuildLog(u"Portable: %c", u'N');
    BuildLog(u"-- drive info --");
    for (char16_t letter : scan::ListIndexableDrives(/*force=*/true, scan::SystemDriveQueries())) {
        const std::u16string root{letter, u':', u'\\'};
        wchar_t fs[MAX_PATH + 1] = {};
        const bool have_fs = ::GetVolumeInformationW(win::W(root), nullptr, 0, nullptr, nullptr,
                                                     nullptr, fs, MAX_PATH + 1) != 0;
        ULARGE_INTEGER free_bytes{}, total{}, total_free{};
        ::GetDiskFreeSpaceExW(win::W(root), &free_bytes, &total, &total_free);
        BuildLog(u"%c: type: %lu, fs: %s, free: %llu, total: %llu", letter,
                 static_cast<unsigned long>(::GetDriveTypeW(win::W(root))),
                 have_fs ? std::u16string(win::U(fs)) : std::u16string(u"(N/A)"),
                 static_cast<unsigned long long>(total_free.QuadPart),
                 static_cast<unsigned long long>(total.QuadPart));
    }
    BuildLog(u"-- os info --");
    OSVERSIONINFOEXW v{};
    v.dwOSVersionInfoSize = sizeof v;
    ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v));
    BuildLog(u"Version: %lu.%lu build %lu, %s", v.dwMajorVersion, v.dwMinorVersion, v.dwBuildNumber,
             std::u16string(win::U(v.szCSDVersion)));
    BuildLog(u"SP Version: %lu.%lu", static_cast<unsigned long>(v.wServicePackMajor),
             static_cast<unsigned long>(v.wServicePackMinor));
    BuildLog(u"Suite Mask: %lu", static_cast<unsigned long>(v.wSuiteMask));
    BuildLog(u"Product Type: %lu", static_cast<unsigned long>(v.wProductType));
    BuildLog(u"System Default LCID: %lu", static_cast<unsigned long>(::GetSystemDefaultLCID()));
    BuildLog(u"User Default LCID: %lu", static_cast<unsigned long>(::GetUserDefaultLCID()));
    OSVERSIONINFOEXW want{};
    want.dwOSVersionInfoSize = sizeof want;
    want.dwMajorVersion = 6;
    want.dwMinorVersion = 3;
    ULONGLONG mask = 0;
    mask = ::VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = ::VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    if (::VerifyVersionInfoW(&want, VER_MAJORVERSION | VER_MINORVERSION, mask)) {
        BuildLog(u"Note: (8.1)");
    }
    SYSTEM_INFO si{};
    ::GetSystemInfo(&si);
    BuildLog(u"Architecture: %lu", static_cast<unsigned long>(si.wProcessorArchitecture));
    BuildLog(u"-- processor info --");
    int cores = 0;
    int logical = 0;
    CountProcessors(&cores, &logical);
    BuildLog(u"Brand String: %s", ProcessorBrand());
    BuildLog(u"Core Count: %d", cores);
    BuildLog(u"Logical Processor Count: %d", logical);
    BuildLog(u"Supports 64 bit: %c", Supports64Bit() ? u'Y' : u'N');
    BuildLog(u"-- memory info --");
    MEMORYSTATUSEX mem{};
    mem.dwLength = sizeof mem;
    ::GlobalMemoryStatusEx(&mem);
    BuildLog(u"Total Physical Memory: %llu", static_cast<unsigned long long>(mem.ullTotalPhys));
    BuildLog(u"Physical Memory Used: %llu",
             static_cast<unsigned long long>(mem.ullTotalPhys - mem.ullAvailPhys));
    BuildLog(u"Total Virtual Memory: %llu", static_cast<unsigned long long>(mem.ullTotalVirtual));
    BuildLog(u"Virtual Memory Used: %llu",
             static_cast<unsigned long long>(mem.ullTotalVirtual - mem.ullAvailVirtual));
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(),
                           reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    BuildLog(u"Working Set Size: %llu", static_cast<unsigned long long>(counters.WorkingSetSize));
    BuildLog(u"Private Working Set Size: %llu",
             static_cast<unsigned long long>(counters.PrivateUsage));
}

}  // namespace

// Exposed for the tests, which call it with pointers of their own making.
LONG WINAPI BuildCrashFilter(EXCEPTION_POINTERS* pointers) {
    WriteDump(pointers);
    WriteReport();
    return EXCEPTION_CONTINUE_SEARCH;
}

void InstallBuildCrashFilter() {
    ::SetUnhandledExceptionFilter(BuildCrashFilter);
}

}  // namespace kavo::build
