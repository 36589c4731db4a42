#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <wbemidl.h>
#include <winioctl.h>

#include <chrono>

#include "base/format.h"
#include "platform/unique_handle_win.h"
#include "platform/wide_win.h"
#include "scan/volume_inventory.h"

namespace kavo::scan {

namespace {

std::u16string RootOf(char16_t letter) {
    return std::u16string{letter, u':', u'\\'};
}

template <typename T>
struct ComRelease {
    T* p = nullptr;
    ~ComRelease() {
        if (p != nullptr) {
            p->Release();
        }
    }
};

struct ComScope {
    bool ok;
    ComScope() : ok(SUCCEEDED(::CoInitialize(nullptr))) {}
    ~ComScope() {
        if (ok) {
            ::CoUninitialize();
        }
    }
};

class Win32DriveQueries final : public IDriveQueries {
  public:
    std::vector<char16_t> LogicalDrives() override {
        wchar_t buffer[104];
        const DWORD n = ::GetLogicalDriveStringsW(104, buffer);
        std::vector<char16_t> letters;
        if (n == 0 || n >= 104) {
            return letters;
        }
        for (const wchar_t* p = buffer; *p != 0; p += ::lstrlenW(p) + 1) {
            letters.push_back(static_cast<char16_t>(*p));
        }
        return letters;
    }

    uint32_t DriveType(char16_t letter) override { return ::GetDriveTypeW(win::W(RootOf(letter))); }

    std::optional<VolumeInformation> VolumeInfo(char16_t letter) override {
        wchar_t fs[MAX_PATH + 1] = {};
        DWORD serial = 0;
        if (!::GetVolumeInformationW(win::W(RootOf(letter)), nullptr, 0, &serial, nullptr, nullptr,
                                     fs, MAX_PATH + 1)) {
            return std::nullopt;
        }
        return VolumeInformation{serial, std::u16string(win::U(fs))};
    }

    bool RawVolumeOpens(char16_t letter) override {
        win::FileHandle h(::CreateFileW(win::W(DriveDevicePath(letter)), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
        return h.Valid();
    }

    bool HasDriveMarker(char16_t letter) override {
        return ::PathFileExistsW(win::W(RootOf(letter) + u"_kavoignore")) != FALSE;
    }

    std::vector<char16_t> WmiDrives() override {
        std::vector<char16_t> letters;
        ComScope com;
        if (!com.ok) {
            return letters;
        }
        const HRESULT sec =
            ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                   RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
        if (FAILED(sec) && sec != RPC_E_TOO_LATE) {
            return letters;
        }
        ComRelease<IWbemLocator> locator;
        if (FAILED(::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWbemLocator, reinterpret_cast<void**>(&locator.p)))) {
            return letters;
        }
        ComRelease<IWbemServices> services;
        BSTR ns = ::SysAllocString(L"ROOT\\CIMV2");
        const HRESULT connected = locator.p->ConnectServer(ns, nullptr, nullptr, nullptr, 0,
                                                           nullptr, nullptr, &services.p);
        ::SysFreeString(ns);
        if (FAILED(connected)) {
            return letters;
        }
        if (FAILED(::CoSetProxyBlanket(services.p, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                       RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                                       EOAC_NONE))) {
            return letters;
        }
        ComRelease<IEnumWbemClassObject> rows;
        BSTR language = ::SysAllocString(L"WQL");
        BSTR query = ::SysAllocString(L"Select DeviceID FROM Win32_LogicalDisk ");
        const HRESULT queried = services.p->ExecQuery(
            language, query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
            &rows.p);
        ::SysFreeString(language);
        ::SysFreeString(query);
        if (FAILED(queried)) {
            return letters;
        }
        for (;;) {
            ComRelease<IWbemClassObject> row;
            ULONG got = 0;
            if (rows.p->Next(WBEM_INFINITE, 1, &row.p, &got) != S_OK || got == 0) {
                break;
            }
            VARIANT v;
            ::VariantInit(&v);
            if (SUCCEEDED(row.p->Get(L"DeviceID", 0, &v, nullptr, nullptr)) && v.vt == VT_BSTR &&
                v.bstrVal != nullptr && v.bstrVal[0] != 0) {
                letters.push_back(static_cast<char16_t>(v.bstrVal[0]));
            }
            ::VariantClear(&v);
        }
        return letters;
    }
};

}  // namespace

IDriveQueries& SystemDriveQueries() {
    static Win32DriveQueries queries;
    return queries;
}

std::u16string DriveDisplayName(char16_t letter) {
    SHFILEINFOW info{};
    const std::u16string drive{letter, u':'};
    if (::SHGetFileInfoW(win::W(drive), 0, &info, sizeof info, SHGFI_DISPLAYNAME) == 0) {
        return {};
    }
    return std::u16string(win::U(info.szDisplayName));
}

std::vector<MountPoint> MountPointsOfDrive(char16_t letter) {
    std::vector<MountPoint> points;
    const std::u16string root = RootOf(letter);
    wchar_t volume[MAX_PATH];
    if (!::GetVolumeNameForVolumeMountPointW(win::W(root), volume, MAX_PATH)) {
        return points;
    }
    wchar_t relative[MAX_PATH];
    HANDLE find = ::FindFirstVolumeMountPointW(volume, relative, MAX_PATH);
    if (find == INVALID_HANDLE_VALUE) {
        return points;
    }
    do {
        MountPoint p;
        p.folder = root + win::U(relative);
        wchar_t mounted[MAX_PATH];
        if (::GetVolumeNameForVolumeMountPointW(win::W(p.folder), mounted, MAX_PATH)) {
            const std::u16string name(win::U(mounted));
            const size_t open = name.find(u'{');
            const size_t close = name.find(u'}', open == std::u16string::npos ? 0 : open);
            if (open != std::u16string::npos && close != std::u16string::npos) {
                p.guid = name.substr(open + 1, close - open - 1);
            }
        }
        points.push_back(std::move(p));
    } while (::FindNextVolumeMountPointW(find, relative, MAX_PATH));
    ::FindVolumeMountPointClose(find);
    return points;
}

uint64_t MountKeyOf(const std::u16string& folder, uint32_t drive_index) {
    win::FileHandle h(
        ::CreateFileW(win::W(folder), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!h || !::GetFileInformationByHandle(h.Get(), &info)) {
        return CombineMountKey(0xFFFFFFFFFFFFFFFFull, drive_index);
    }
    return CombineMountKey((static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
                           drive_index);
}

namespace {

struct PowerEntry {
    uint8_t state = 0;  // 0 unknown, 1 spinning, 2 sleeping
    int64_t measured = 0;
};

int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool Fresh(const PowerEntry& e, int64_t now) {
    return e.state != 0 && now - e.measured <= 6;
}

}  // namespace

bool DiskIsAwake(char16_t letter) {
    static PowerEntry by_letter[26];
    static PowerEntry by_disk[64];
    if (letter < u'A' || letter > u'Z') {
        return false;
    }
    PowerEntry& entry = by_letter[letter - u'A'];
    const int64_t now = NowSeconds();
    if (Fresh(entry, now)) {
        return entry.state == 1;
    }
    STORAGE_DEVICE_NUMBER number{};
    {
        win::FileHandle h(::CreateFileW(win::W(DriveDevicePath(letter)), 0,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
        if (!h) {
            return false;
        }
        DWORD got = 0;
        if (!::DeviceIoControl(h.Get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                               sizeof number, &got, nullptr)) {
            return true;
        }
    }
    const bool cached_disk = number.DeviceNumber < 64;
    if (cached_disk && Fresh(by_disk[number.DeviceNumber], now)) {
        entry = by_disk[number.DeviceNumber];
        return entry.state == 1;
    }
    BOOL on = FALSE;
    win::FileHandle disk(
        ::CreateFileW(win::W(Format(u"\\\\.\\PhysicalDrive%d", number.DeviceNumber)), 0,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    const bool spinning = disk && ::GetDevicePowerState(disk.Get(), &on) && on;
    entry.state = spinning ? 1 : 2;
    entry.measured = now;
    if (cached_disk) {
        by_disk[number.DeviceNumber] = entry;
    }
    return spinning;
}

}  // namespace kavo::scan
