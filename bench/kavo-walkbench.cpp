// Directory walker benchmark: walks a real folder tree natively through the walker (into a
// counting listener, then into a record store), runs `find` over the same tree, and, when the
// win32 kavo.exe is given, times `kavo build` of a Wine drive mapped to the same tree (the
// build log's "Drive build done" time: the same walker code, listing through Wine, plus the
// record store).
//
//   kavo-walkbench [--tree DIR] [--runs N] [--kavo-exe PATH --wine-run PATH --prefix DIR]
//
// The Wine run maps drive W: of the prefix (default: $KAVO_WINEPREFIX) to the tree for its
// duration, with a small non-NTFS raw device from which Wine takes the drive's serial.
//
// The tree defaults to /tmp/tree-100k, made from 100,000 real paths when missing.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "build/kv_to_db_listener.h"
#include "database/record_store.h"
#include "scan/walker.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

class CountingListener final : public kavo::IKvListener {
  public:
    void OnDriveBuilt(char16_t) override {}
    void OnIgnoredFolder(std::u16string_view) override {}
    void OnRemoveVolume(char16_t, uint32_t) override {}
    void OnFileAdded(const kavo::ScanEntry& e) override {
        ++items;
        name_units += e.name.size();
    }
    void OnFileChanged(const kavo::ScanEntry&, std::optional<std::u16string_view>) override {}
    void OnFileRemoved(const kavo::ScanEntry&) override {}
    uint64_t items = 0;
    uint64_t name_units = 0;
};

// Runs a shell command with its output thrown away; the wall time in milliseconds.
double TimeCommand(const std::string& command) {
    const auto start = Clock::now();
    const int rc = std::system((command + " >/dev/null 2>&1").c_str());
    const double ms = Ms(Clock::now() - start);
    if (rc != 0) {
        std::fprintf(stderr, "command failed (%d): %s\n", rc, command.c_str());
    }
    return ms;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::u16string WindowsForm(const std::string& host_folder) {
    std::u16string p = kavo::Utf8ToUtf16(std::filesystem::absolute(host_folder).string());
    kavo::ReplaceAll(p, u'/', u'\\');
    if (p.back() != u'\\') {
        p += u'\\';
    }
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    std::string tree = "/tmp/tree-100k";
    std::string kavo_exe;
    std::string wine_run;
    std::string prefix = std::getenv("KAVO_WINEPREFIX") ? std::getenv("KAVO_WINEPREFIX") : "";
    int runs = 5;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--tree") {
            tree = argv[i + 1];
        } else if (a == "--runs") {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (a == "--kavo-exe") {
            kavo_exe = argv[i + 1];
        } else if (a == "--prefix") {
            prefix = argv[i + 1];
        } else if (a == "--wine-run") {
            wine_run = argv[i + 1];
        }
    }
    if (!std::filesystem::is_directory(tree)) {
        const char* env_tools = std::getenv("KAVO_SHARED_TOOLS");
        const std::string shared = env_tools != nullptr ? env_tools : "../shared/tools";
        const std::string list = tree + ".txt";
        const std::string make = shared + "/make-corpus " + list + " 100000 && " + shared +
                                 "/make-tree " + list + " " + tree;
        std::printf("making %s\n", tree.c_str());
        if (std::system(make.c_str()) != 0) {
            return 1;
        }
    }
    std::printf("tree: %s\n", tree.c_str());
    const std::u16string root = WindowsForm(tree);

    // Warm the page cache and the dentry cache once.
    TimeCommand("find '" + tree + "'");

    std::vector<double> walk_ms, store_ms, find_ms, find_stat_ms;
    uint64_t items = 0;
    for (int r = 0; r < runs; ++r) {
        CountingListener counting;
        kavo::scan::WalkOptions o;
        o.root = root;
        o.log = false;
        auto start = Clock::now();
        kavo::scan::WalkVolume(u'W', counting, o);
        walk_ms.push_back(Ms(Clock::now() - start));
        items = counting.items;

        kavo::RecordStore store;
        kavo::CKvToDbListener into_store(store);
        start = Clock::now();
        kavo::scan::WalkVolume(u'W', into_store, o);
        store_ms.push_back(Ms(Clock::now() - start));

        find_ms.push_back(TimeCommand("find '" + tree + "'"));
        find_stat_ms.push_back(TimeCommand("find '" + tree + "' -printf '%s %T@\\n'"));
    }
    const double walk = Median(walk_ms);
    const double find = Median(find_ms);
    const double find_stat = Median(find_stat_ms);
    std::printf("items reported by the walk: %llu (root included)\n",
                static_cast<unsigned long long>(items));
    std::printf("median of %d runs, milliseconds:\n", runs);
    std::printf(
        "  native walk, counting listener   %9.1f  (%.2fx find, %.2fx find -printf size+time)\n",
        walk, walk / find, walk / find_stat);
    std::printf("  native walk into a record store  %9.1f\n", Median(store_ms));
    std::printf("  find                             %9.1f\n", find);
    std::printf(
        "  find -printf '%%s %%T@'            %9.1f  (stats every item, as the walk does)\n",
        find_stat);

    if (!kavo_exe.empty() && !wine_run.empty() && !prefix.empty()) {
        const std::string db = "/tmp/kavo-walkbench-db";
        std::filesystem::create_directories(db);
        const std::string env = "KAVO_WINEPREFIX=" + prefix + " ";
        // A FAT boot sector with a serial number as the drive's raw device.
        const std::string device = db + "/w-device.img";
        {
            std::string sector(512, '\0');
            const unsigned char boot[] = {0xEB, 0x3C, 0x90, 'M',  'S',  'D',  'O',  'S',
                                          '5',  '.',  '0',  0x00, 0x02, 0x01, 0x01, 0x00,
                                          0x02, 0x00, 0x02, 0x00, 0x08, 0xF8, 0x08, 0x00};
            std::copy(std::begin(boot), std::end(boot), sector.begin());
            sector[0x26] = 0x29;
            sector.replace(0x27, 4, "\xCD\xAB\x34\x12");
            sector.replace(0x36, 8, "FAT16   ");
            sector[510] = '\x55';
            sector[511] = '\xAA';
            std::ofstream(device, std::ios::binary) << sector << std::string(1 << 20, '\0');
        }
        std::error_code ec;
        std::filesystem::remove(prefix + "/dosdevices/w:", ec);
        std::filesystem::remove(prefix + "/dosdevices/w::", ec);
        std::filesystem::create_directory_symlink(std::filesystem::absolute(tree),
                                                  prefix + "/dosdevices/w:");
        std::filesystem::create_symlink(device, prefix + "/dosdevices/w::");
        std::vector<double> drive_ms, wall_ms;
        for (int r = 0; r < std::max(1, runs / 2); ++r) {
            wall_ms.push_back(TimeCommand(env + "'" + wine_run + "' '" + kavo_exe +
                                          "' --dbdir 'Z:" + db + "' build W"));
            std::ifstream log(db + "/kavo.build.log");
            std::stringstream s;
            s << log.rdbuf();
            std::smatch m;
            const std::string text = s.str();
            if (std::regex_search(text, m, std::regex("Drive build done \\((\\d+) ms\\)"))) {
                drive_ms.push_back(std::stod(m[1]));
            }
            const size_t route = text.find("Route: ");
            if (r == 0 && route != std::string::npos) {
                std::printf("  wine route: %s\n",
                            text.substr(route, text.find('\n', route) - route).c_str());
            }
        }
        std::filesystem::remove(prefix + "/dosdevices/w:", ec);
        std::filesystem::remove(prefix + "/dosdevices/w::", ec);
        if (!drive_ms.empty()) {
            std::printf(
                "  wine kavo build W, drive time    %9.1f  (walk through Wine + record store)\n",
                Median(drive_ms));
        }
        std::printf("  wine kavo build W, whole process %9.1f\n", Median(wall_ms));
    }
    return 0;
}
