#include "tests/scan_ntfs/ntfs_test_support.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/case_map.h"
#include "base/text.h"
#include "scan/usn_record.h"

namespace kavo::test {

void RecordingListener::OnDriveBuilt(char16_t letter) {
    Call c;
    c.what = "built";
    c.text = std::u16string(1, letter);
    calls.push_back(std::move(c));
}
void RecordingListener::OnIgnoredFolder(std::u16string_view path) {
    Call c;
    c.what = "ignored";
    c.text = path;
    calls.push_back(std::move(c));
}
void RecordingListener::OnRemoveVolume(char16_t letter, uint32_t number) {
    Call c;
    c.what = "removevolume";
    c.text = std::u16string(1, letter);
    c.number = number;
    calls.push_back(std::move(c));
}
static Call EntryCall(const char* what, const ScanEntry& e) {
    Call c;
    c.what = what;
    c.entry = e;
    c.name = e.name;
    c.entry.name = {};
    return c;
}
void RecordingListener::OnFileAdded(const ScanEntry& e) {
    calls.push_back(EntryCall("add", e));
}
void RecordingListener::OnFileChanged(const ScanEntry& e, std::optional<std::u16string_view> old) {
    Call c = EntryCall("change", e);
    if (old)
        c.old_name = std::u16string(*old);
    calls.push_back(std::move(c));
}
void RecordingListener::OnFileRemoved(const ScanEntry& e) {
    calls.push_back(EntryCall("remove", e));
}
std::vector<const Call*> RecordingListener::Of(const std::string& what) const {
    std::vector<const Call*> out;
    for (const Call& c : calls)
        if (c.what == what)
            out.push_back(&c);
    return out;
}

std::map<uint64_t, std::vector<ListedItem>> ReadFlsListing(const std::string& host_path) {
    std::map<uint64_t, std::vector<ListedItem>> out;
    std::ifstream in(host_path);
    std::string line;
    while (std::getline(in, line)) {
        size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        std::string head = line.substr(0, tab);
        if (head.find('*') != std::string::npos)
            continue;  // a deleted name
        size_t space = head.rfind(' ');
        std::string inode = head.substr(space + 1);
        if (!inode.empty() && inode.back() == ':')
            inode.pop_back();
        if (std::count(inode.begin(), inode.end(), '-') < 2)
            continue;
        std::vector<std::string> fields;
        std::stringstream rest(line.substr(tab + 1));
        std::string f;
        while (std::getline(rest, f, '\t'))
            fields.push_back(f);
        if (fields.size() < 6)
            continue;
        ListedItem item;
        item.path = fields[0];
        std::string name = item.path.substr(item.path.rfind('/') + 1);
        if (name.find(':') != std::string::npos)
            continue;  // a named stream
        item.folder = head[0] == 'd';
        item.size = std::stoull(fields[5]);
        out[std::stoull(inode.substr(0, inode.find('-')))].push_back(item);
    }
    return out;
}

std::map<uint64_t, FoundItem> FoundByRecord(const RecordingListener& listener) {
    std::map<uint64_t, FoundItem> out;
    for (const Call* c : listener.Of("add")) {
        FoundItem item;
        item.parent = c->entry.parent_key & 0xFFFFFFFF;
        item.folder = c->entry.is_folder != 0;
        item.size = c->entry.size;
        item.name = c->name;
        out[c->entry.key & 0xFFFFFFFF] = item;
    }
    return out;
}

static std::string PathOf(const std::map<uint64_t, FoundItem>& found, uint64_t record) {
    std::vector<std::string> parts;
    for (int depth = 0; record != 5 && depth < 512; ++depth) {
        auto it = found.find(record);
        if (it == found.end()) {
            parts.push_back(Cat("?", std::to_string(record)));
            break;
        }
        parts.push_back(Utf16ToUtf8(it->second.name));
        record = it->second.parent;
    }
    std::string path;
    for (auto p = parts.rbegin(); p != parts.rend(); ++p) {
        if (!path.empty())
            path.append(1, '/');
        path.append(*p);
    }
    return path;
}

std::vector<std::string> CompareWithListing(
    const std::map<uint64_t, FoundItem>& found,
    const std::map<uint64_t, std::vector<ListedItem>>& listed) {
    std::vector<std::string> bad;
    for (const auto& [record, items] : listed) {
        if (record < 16)
            continue;
        bool system = false, orphan = false;
        for (const ListedItem& i : items) {
            if (i.path.rfind("$Extend", 0) == 0)
                system = true;
            if (i.path.rfind("$OrphanFiles", 0) == 0)
                orphan = true;
        }
        if (system)
            continue;
        auto it = found.find(record);
        if (it == found.end()) {
            bad.push_back(Cat("missing ", std::to_string(record), " ", items[0].path));
            continue;
        }
        if (orphan)
            continue;
        std::string path = PathOf(found, record);
        const ListedItem* match = nullptr;
        for (const ListedItem& i : items)
            if (i.path == path)
                match = &i;
        if (!match) {
            bad.push_back(
                Cat("path ", std::to_string(record), " ", path, " listed ", items[0].path));
            continue;
        }
        if (match->folder != it->second.folder)
            bad.push_back(Cat("folder flag ", std::to_string(record), " ", path));
        if (!match->folder) {
            int64_t want = match->size < 0x80000000ull ? static_cast<int64_t>(match->size)
                                                       : -static_cast<int64_t>(match->size / 1024);
            if (want != it->second.size)
                bad.push_back(Cat("size ", std::to_string(record), " ", path, " ",
                                  std::to_string(want), " != ", std::to_string(it->second.size)));
        }
    }
    for (const auto& [record, item] : found) {
        if (record == 5)
            continue;
        if (!listed.count(record))
            bad.push_back(Cat("extra ", std::to_string(record), " ", PathOf(found, record)));
    }
    return bad;
}

uint32_t MemoryVolume::ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) {
    *got = 0;
    if (offset >= bytes.size())
        return platform::kRawOk;
    *got = static_cast<size_t>(std::min<uint64_t>(size, bytes.size() - offset));
    std::memcpy(buffer, bytes.data() + offset, *got);
    return platform::kRawOk;
}

uint32_t JournalVolume::ReadAt(uint64_t o, void* b, size_t s, size_t* g) {
    if (!inner_) {
        *g = 0;
        return platform::kRawErrorNotSupported;
    }
    return inner_->ReadAt(o, b, s, g);
}
uint32_t JournalVolume::GetVolumeData(platform::NtfsVolumeData* out) {
    return inner_ ? inner_->GetVolumeData(out) : platform::kRawErrorNotSupported;
}
uint32_t JournalVolume::GetFileRecord(uint64_t r, void* b, size_t c, size_t* s, uint64_t* n) {
    return inner_ ? inner_->GetFileRecord(r, b, c, s, n) : platform::kRawErrorNotSupported;
}
uint32_t JournalVolume::QueryJournal(platform::UsnJournalData* out) {
    *out = platform::UsnJournalData{};
    out->journal_id = id_;
    out->next_usn = static_cast<int64_t>(j_.size());
    out->maximum_size = 0x2000000;
    out->allocation_delta = 0x100000;
    out->max_usn = 0x7FFFFFFFFFFF0000;
    return platform::kRawOk;
}
uint32_t JournalVolume::ReadJournal(const platform::ReadJournalRequest& request,
                                    void* out,
                                    size_t capacity,
                                    size_t* got) {
    if (request.journal_id != id_)
        return platform::kRawErrorInvalidParameter;
    auto read = [this](uint64_t offset, uint8_t* to, size_t size) {
        if (offset > j_.size())
            return false;
        size_t n = static_cast<size_t>(std::min<uint64_t>(size, j_.size() - offset));
        std::memcpy(to, j_.data() + offset, n);
        std::memset(to + n, 0, size - n);
        return true;
    };
    ntfs::FillJournalOutput(read, static_cast<uint64_t>(request.start_usn), j_.size(),
                            request.reason_mask, static_cast<uint8_t*>(out), capacity, got);
    return platform::kRawOk;
}
uint32_t JournalVolume::FileSizeById(uint64_t r, uint64_t* s) {
    return inner_ ? inner_->FileSizeById(r, s) : platform::kRawErrorNotSupported;
}
std::optional<uint32_t> JournalVolume::PathAttributes(const std::u16string& p) {
    return inner_ ? inner_->PathAttributes(p) : std::nullopt;
}
bool JournalVolume::FileExistsAt(const std::u16string& p) {
    return inner_ && inner_->FileExistsAt(p);
}
std::optional<uint64_t> JournalVolume::FolderFileIndex(const std::u16string& p) {
    return inner_ ? inner_->FolderFileIndex(p) : std::nullopt;
}

bool TestIgnoreRules::IsNameExcluded(std::u16string_view name, bool is_folder) const {
    for (const std::u16string& p : is_folder ? folder_patterns : file_patterns) {
        if (!p.empty() && p[0] == u'*') {
            std::u16string_view rest(p.data() + 1, p.size() - 1);
            if (name.size() >= rest.size() &&
                EqualsIgnoreCase(name.substr(name.size() - rest.size()), rest))
                return true;
        } else if (!p.empty() && p.back() == u'*') {
            std::u16string_view rest(p.data(), p.size() - 1);
            if (name.size() >= rest.size() && EqualsIgnoreCase(name.substr(0, rest.size()), rest))
                return true;
        } else if (EqualsIgnoreCase(name, p)) {
            return true;
        }
    }
    return false;
}

void AppendUsnRecord(std::vector<uint8_t>* j,
                     uint64_t file,
                     uint64_t parent,
                     uint32_t reason,
                     uint32_t attributes,
                     std::u16string_view name) {
    const size_t at = j->size();
    uint32_t length = static_cast<uint32_t>((60 + 2 * name.size() + 7) & ~size_t{7});
    // Records do not cross a 4 KiB page: pad the rest of the page with zeros.
    if (at / 4096 != (at + length - 1) / 4096)
        j->resize((at / 4096 + 1) * 4096, 0);
    const size_t start = j->size();
    j->resize(start + length, 0);
    uint8_t* r = j->data() + start;
    auto put16 = [](uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); };
    auto put32 = [](uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); };
    auto put64 = [](uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); };
    put32(r, length);
    put16(r + 4, 2);
    put64(r + 8, file);
    put64(r + 16, parent);
    put64(r + 24, start);
    put64(r + 32, 132000000000000000ull);
    put32(r + 40, reason);
    put32(r + 52, attributes);
    put16(r + 56, static_cast<uint16_t>(2 * name.size()));
    put16(r + 58, 60);
    for (size_t i = 0; i < name.size(); ++i)
        put16(r + 60 + 2 * i, name[i]);
}

std::vector<uint8_t> ReadHostFile(const std::string& host_path) {
    std::ifstream in(host_path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace kavo::test
