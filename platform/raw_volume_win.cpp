#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <vector>

#include "platform/raw_volume.h"
#include "platform/unique_handle_win.h"
#include "platform/wide_win.h"

namespace kavo::platform {

namespace {

// Raw volume handles read whole sectors at sector offsets into aligned memory.
constexpr uint64_t kAlign = 4096;

template <typename T>
T At(const uint8_t* p, size_t offset) {
    T v;
    std::memcpy(&v, p + offset, sizeof v);
    return v;
}

class Win32Volume final : public IRawVolume {
  public:
    explicit Win32Volume(win::FileHandle volume) : volume_(std::move(volume)) {}

    uint32_t ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) override {
        *got = 0;
        if (size == 0)
            return kRawOk;
        const uint64_t first = offset & ~(kAlign - 1);
        const uint64_t last = (offset + size + kAlign - 1) & ~(kAlign - 1);
        const size_t span = static_cast<size_t>(last - first);
        bool direct = first == offset && span == size &&
                      (reinterpret_cast<uintptr_t>(buffer) & (kAlign - 1)) == 0;
        uint8_t* target = static_cast<uint8_t*>(buffer);
        if (!direct) {
            if (bounce_.size() < span + kAlign)
                bounce_.resize(span + kAlign);
            uintptr_t p = reinterpret_cast<uintptr_t>(bounce_.data());
            target = reinterpret_cast<uint8_t*>((p + kAlign - 1) & ~(kAlign - 1));
        }
        size_t done = 0;
        while (done < span) {
            LARGE_INTEGER pos;
            pos.QuadPart = static_cast<LONGLONG>(first + done);
            if (!::SetFilePointerEx(volume_.Get(), pos, nullptr, FILE_BEGIN))
                return ::GetLastError();
            DWORD want = static_cast<DWORD>(std::min<size_t>(span - done, 1u << 26));
            DWORD n = 0;
            if (!::ReadFile(volume_.Get(), target + done, want, &n, nullptr)) {
                DWORD e = ::GetLastError();
                if (e == ERROR_HANDLE_EOF || e == ERROR_SECTOR_NOT_FOUND)
                    break;
                return e;
            }
            if (n == 0)
                break;
            done += n;
        }
        size_t skip = static_cast<size_t>(offset - first);
        size_t avail = done > skip ? std::min(done - skip, size) : 0;
        if (!direct && avail)
            std::memcpy(buffer, target + skip, avail);
        *got = avail;
        return kRawOk;
    }

    uint32_t GetVolumeData(NtfsVolumeData* out) override {
        uint8_t data[96] = {};
        DWORD n = 0;
        if (!::DeviceIoControl(volume_.Get(), FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, data,
                               sizeof data, &n, nullptr))
            return ::GetLastError();
        out->volume_serial = At<uint64_t>(data, 0);
        out->total_clusters = At<uint64_t>(data, 16);
        out->bytes_per_sector = At<uint32_t>(data, 40);
        out->bytes_per_cluster = At<uint32_t>(data, 44);
        out->bytes_per_file_record_segment = At<uint32_t>(data, 48);
        out->mft_valid_data_length = At<uint64_t>(data, 56);
        out->mft_start_lcn = At<uint64_t>(data, 64);
        return kRawOk;
    }

    uint32_t GetFileRecord(uint64_t reference,
                           void* buffer,
                           size_t capacity,
                           size_t* record_size,
                           uint64_t* record_number) override {
        uint64_t in = reference;
        if (record_out_.size() < capacity + 16)
            record_out_.resize(capacity + 16);
        DWORD n = 0;
        if (!::DeviceIoControl(volume_.Get(), FSCTL_GET_NTFS_FILE_RECORD, &in, sizeof in,
                               record_out_.data(), static_cast<DWORD>(record_out_.size()), &n,
                               nullptr))
            return ::GetLastError();
        if (n < 12)
            return ERROR_INVALID_DATA;
        uint32_t length = At<uint32_t>(record_out_.data(), 8);
        if (length > n - 12 || length > capacity)
            return ERROR_INSUFFICIENT_BUFFER;
        *record_number = At<uint64_t>(record_out_.data(), 0) & 0x0000FFFFFFFFFFFFull;
        std::memcpy(buffer, record_out_.data() + 12, length);
        *record_size = length;
        return kRawOk;
    }

    uint32_t QueryJournal(UsnJournalData* out) override {
        uint8_t data[56] = {};
        DWORD n = 0;
        if (!::DeviceIoControl(volume_.Get(), FSCTL_QUERY_USN_JOURNAL, nullptr, 0, data,
                               sizeof data, &n, nullptr))
            return ::GetLastError();
        out->journal_id = At<uint64_t>(data, 0);
        out->first_usn = At<int64_t>(data, 8);
        out->next_usn = At<int64_t>(data, 16);
        out->lowest_valid_usn = At<int64_t>(data, 24);
        out->max_usn = At<int64_t>(data, 32);
        out->maximum_size = At<uint64_t>(data, 40);
        out->allocation_delta = At<uint64_t>(data, 48);
        return kRawOk;
    }

    uint32_t CreateJournal(uint64_t maximum_size, uint64_t allocation_delta) override {
        uint64_t in[2] = {maximum_size, allocation_delta};
        DWORD n = 0;
        if (!::DeviceIoControl(volume_.Get(), FSCTL_CREATE_USN_JOURNAL, in, sizeof in, nullptr, 0,
                               &n, nullptr))
            return ::GetLastError();
        return kRawOk;
    }

    uint32_t ReadJournal(const ReadJournalRequest& request,
                         void* out,
                         size_t capacity,
                         size_t* got) override {
        uint8_t in[40];
        std::memcpy(in, &request.start_usn, 8);
        std::memcpy(in + 8, &request.reason_mask, 4);
        std::memcpy(in + 12, &request.return_only_on_close, 4);
        std::memcpy(in + 16, &request.timeout, 8);
        std::memcpy(in + 24, &request.bytes_to_wait_for, 8);
        std::memcpy(in + 32, &request.journal_id, 8);
        DWORD n = 0;
        if (!::DeviceIoControl(volume_.Get(), FSCTL_READ_USN_JOURNAL, in, sizeof in, out,
                               static_cast<DWORD>(capacity), &n, nullptr)) {
            *got = 0;
            return ::GetLastError();
        }
        *got = n;
        return kRawOk;
    }

    uint32_t FileSizeById(uint64_t reference, uint64_t* size) override {
        *size = 0;
        using OpenById = HANDLE(WINAPI*)(HANDLE, void*, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD);
        static const auto open_by_id = reinterpret_cast<OpenById>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "OpenFileById")));
        if (!open_by_id)
            return ERROR_NOT_SUPPORTED;
        // FILE_ID_DESCRIPTOR: size, type 0 (FileIdType), the 64-bit id, padded to 24 bytes.
        uint8_t descriptor[24] = {};
        const uint32_t descriptor_size = sizeof descriptor;
        std::memcpy(descriptor, &descriptor_size, 4);
        std::memcpy(descriptor + 8, &reference, 8);
        win::FileHandle file(open_by_id(volume_.Get(), descriptor, FILE_GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, 0));
        if (!file)
            return ::GetLastError();
        LARGE_INTEGER length;
        if (!::GetFileSizeEx(file.Get(), &length))
            return ::GetLastError();
        *size = static_cast<uint64_t>(length.QuadPart);
        return kRawOk;
    }

    std::optional<uint32_t> PathAttributes(const std::u16string& path) override {
        DWORD a = ::GetFileAttributesW(win::W(path));
        if (a == INVALID_FILE_ATTRIBUTES)
            return std::nullopt;
        return a;
    }

    bool FileExistsAt(const std::u16string& path) override {
        return ::GetFileAttributesW(win::W(path)) != INVALID_FILE_ATTRIBUTES;
    }

    std::optional<uint64_t> FolderFileIndex(const std::u16string& path) override {
        win::FileHandle folder(::CreateFileW(win::W(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                             nullptr));
        if (!folder)
            return std::nullopt;
        BY_HANDLE_FILE_INFORMATION info;
        if (!::GetFileInformationByHandle(folder.Get(), &info))
            return std::nullopt;
        return (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    }

  private:
    win::FileHandle volume_;
    std::vector<uint8_t> bounce_;
    std::vector<uint8_t> record_out_;
};

}  // namespace

std::unique_ptr<IRawVolume> OpenRawVolume(const std::u16string& path, uint32_t* error) {
    win::FileHandle volume(::CreateFileW(win::W(path), GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         0, nullptr));
    if (!volume) {
        *error = ::GetLastError();
        return nullptr;
    }
    *error = kRawOk;
    return std::make_unique<Win32Volume>(std::move(volume));
}

}  // namespace kavo::platform
