// kavo-dbbench LIST DBDIR: turns a list of paths (one relative path a line, "/"-separated,
// as make-corpus writes them) into a record store under drive C:, creating the folders on the
// way, saves it into DBDIR as the database files and loads them back as a LoadedDatabase.
// Ends with one line of figures:
//   records= build_ms= save_ms= load_ms= rss_mb= bytes_per_record=
// rss_mb is the resident size after the load (the store freed); bytes_per_record the bytes
// of the loaded database a record, name text excluded. Further figures follow on that line:
// store_rss_mb (resident with the built store), peak_rss_mb, name_mb (name text), names,
// check_ms (a second load of the bytes from memory, the checks included), scan_ms (one
// pass over all name entries' bits and text, as a name search makes), and save_cpu_ms and
// load_cpu_ms (processor time, which a busy machine disturbs less than the wall time).

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/text.h"
#include "database/database_files.h"
#include "database/loaded_database.h"
#include "database/record_store.h"
#include "platform/file.h"
#include "platform/memory_usage.h"

using namespace kavo;

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Processor time of the process (wall time where the C run-time's clock() counts that).
double CpuMs() {
    return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

double Mb(uint64_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

std::u16string Folder(const char* arg) {
    std::u16string folder = Utf8ToUtf16(arg);
    ReplaceAll(folder, u'/', u'\\');
    if (folder.empty() || folder.back() != u'\\') {
        folder += u'\\';
    }
    return folder;
}

// Builds the store from the list; returns the number of lines read.
size_t BuildStore(const char* list, RecordStore& store) {
    std::unordered_map<std::string, RecordKey> folders;
    uint32_t next = 1024;
    std::u16string name16;
    auto add = [&](std::string_view name, RecordKey parent, bool is_folder, uint32_t salt) {
        const RecordKey key = MakeRecordKey(next++, 2);
        name16 = Utf8ToUtf16(name);
        ScanEntry e;
        e.key = key;
        e.parent_key = parent;
        e.is_folder = is_folder ? 1 : 0;
        e.size = is_folder ? 0 : static_cast<SizeCode>((salt * 2654435761u) % 5000000u);
        e.time = 1100000000u + (salt * 40503u) % 600000000u;
        e.name = name16;
        store.AddRecord(e);
        return key;
    };
    const RecordKey root = add("C:", 0, true, 0);
    std::ifstream in(list);
    std::string line;
    size_t lines = 0;
    while (std::getline(in, line)) {
        if (line.empty()) {
            continue;
        }
        ++lines;
        RecordKey parent = root;
        size_t start = 0;
        for (size_t slash; (slash = line.find('/', start)) != std::string::npos;
             start = slash + 1) {
            auto [it, inserted] = folders.try_emplace(line.substr(0, slash), 0);
            if (inserted) {
                it->second = add(std::string_view(line).substr(start, slash - start), parent, true,
                                 static_cast<uint32_t>(lines));
            }
            parent = it->second;
        }
        if (start < line.size()) {
            add(std::string_view(line).substr(start), parent, false, static_cast<uint32_t>(lines));
        }
    }
    return lines;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kavo-dbbench LIST DBDIR\n");
        return 2;
    }
    const std::u16string dbdir = Folder(argv[2]);
    platform::MakeDirectory(dbdir);
    for (const char16_t* f : {u"kavo.frs", u"kavo.nrs", u"kavo.hid"}) {
        platform::RemoveFile(dbdir + f);
    }

    double build_ms = 0, save_ms = 0, save_cpu_ms = 0;
    int32_t records = 0;
    uint64_t store_rss = 0;
    {
        RecordStore store;
        LoadRecordStore(dbdir, store);
        Clock::time_point t0 = Clock::now();
        BuildStore(argv[1], store);
        build_ms = MsSince(t0);
        records = store.RecordCount();
        store_rss = platform::ResidentBytes();
        t0 = Clock::now();
        const double c0 = CpuMs();
        if (!SaveRecordStore(store, true)) {
            std::fprintf(stderr, "save failed\n");
            return 1;
        }
        save_ms = MsSince(t0);
        save_cpu_ms = CpuMs() - c0;
    }
    platform::ReleaseFreeMemory();

    Clock::time_point t0 = Clock::now();
    const double c0 = CpuMs();
    DbStatus status;
    std::unique_ptr<LoadedDatabase> db = LoadedDatabase::Load(dbdir, &status);
    const double load_ms = MsSince(t0);
    const double load_cpu_ms = CpuMs() - c0;
    if (!status.Ok() || db->RecordCount() != records) {
        std::fprintf(stderr, "load failed: %s\n", Utf16ToUtf8(status.reason).c_str());
        return 1;
    }
    const uint64_t rss = platform::ResidentBytes();

    // The checked load alone, from bytes already in memory.
    double check_ms = 0;
    {
        auto frs = platform::ReadWholeFile(dbdir + u"kavo.frs");
        auto nrs = platform::ReadWholeFile(dbdir + u"kavo.nrs");
        t0 = Clock::now();
        auto again = LoadedDatabase::LoadFromBytes(&*frs, &*nrs, nullptr, nullptr);
        check_ms = MsSince(t0);
    }

    // One pass as a name search makes: bits first, then the text of the candidates.
    t0 = Clock::now();
    const NameBits want = ComputeNameBits(u"report");
    size_t hits = 0;
    for (const NameEntry& e : db->Entries()) {
        if ((e.bits & want) == want &&
            std::u16string_view(db->NameText() + e.text + 1, e.length).find(u"report") !=
                std::u16string_view::npos) {
            hits += static_cast<size_t>(e.count);
        }
    }
    const double scan_ms = MsSince(t0);

    const double per_record = static_cast<double>(db->ResidentBytesWithoutNames()) / records;
    std::printf(
        "records=%d build_ms=%.0f save_ms=%.0f load_ms=%.0f rss_mb=%.1f bytes_per_record=%.1f "
        "store_rss_mb=%.1f peak_rss_mb=%.1f name_mb=%.1f names=%d check_ms=%.0f scan_ms=%.1f "
        "scan_hits=%zu save_cpu_ms=%.0f load_cpu_ms=%.0f\n",
        records, build_ms, save_ms, load_ms, Mb(rss), per_record, Mb(store_rss),
        Mb(platform::PeakResidentBytes()), Mb(db->NameTextBytes()), db->NameCount(), check_ms,
        scan_ms, hits, save_cpu_ms, load_cpu_ms);
    return 0;
}
