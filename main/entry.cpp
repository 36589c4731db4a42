#include "main/entry.h"

#include <chrono>

#include "main/process.h"
#include "main/program_home.h"
#include "main/status_out.h"
#include "main/subcommands.h"
#include "platform/file.h"
#include "platform/system.h"

namespace kavo {

const char16_t kUsageText[] =
    u"\nUsage: kavo [Command] [Options]\n\n"
    u"Command: build [drive]\n"
    u"  Description\n"
    u"    Scan drives and save file informations to database.\n"
    u"  Options\n"
    u"    [drive]       Drive to scan. if not specified, scan all drives.\n\n"
    u"Command: clean\n"
    u"  Description\n"
    u"    Empty current database.\n\n"
    u"Command: find [-f] [rootdir] [filepattern]\n"
    u"  Description\n"
    u"    Find files with specified pattern.\n"
    u"  Options\n"
    u"    [-f]          Find files only.\n"
    u"    [rootdir]     The start location where files are searched for.\n"
    u"    [filepattern] File name pattern. Wildcard(*) is supported.\n\n"
    u"Command: gui\n"
    u"  Description\n"
    u"    Show graphical user interface to find files or maintain database.\n\n"
    u"Command: (EMPTY)\n"
    u"  Options\n"
    u"    -v            Show version information.\n"
    u"    -h            Print usage information.\n\n";

const char16_t kVersionText[] = u"\nkavo version: 4.4.0\n";

namespace {

void OnCtrlC() {
    ProcessState& p = Process();
    platform::StdoutWrite(u"Ctrl-C handled\n");
    platform::StdoutFlush();
    p.interrupt_event_created.store(true);
    p.interrupted.store(true);
    // The dispatcher sets the event when the interrupted subcommand has returned.
    p.interrupt_event.Wait(std::chrono::milliseconds(3000));
    if (IOpenDatabase* db = p.open_database.load()) {
        db->SaveOnce();
    }
}

struct Subcommand {
    const char16_t* name;
    void (*run)(const Args&);
};

void RunTest(const Args&) {}

constexpr Subcommand kSubcommands[] = {
    {u"clean", RunClean}, {u"build", RunBuild},   {u"find", RunFind},
    {u"test", RunTest},   {u"gui", RunGui},       {u"build_server", RunBuildServer},
    {u"web", RunWeb},     {u"webserver", RunWeb},
};

}  // namespace

std::u16string TakeDbdir(std::vector<std::u16string>& args) {
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] != u"--dbdir") {
            continue;
        }
        std::u16string folder = i + 1 < args.size() ? args[i + 1] : u"";
        const size_t end = i + 2 < args.size() ? i + 2 : args.size();
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                   args.begin() + static_cast<std::ptrdiff_t>(end));
        if (folder.empty()) {
            return folder;
        }
        for (char16_t& c : folder) {
            if (c == u'/') {
                c = u'\\';
            }
        }
        if (folder.back() != u'\\') {
            folder += u'\\';
        }
        return folder;
    }
    return {};
}

void PrintUsage() {
    platform::StdoutWrite(kUsageText);
    platform::StdoutFlush();
    if (platform::ParentProcessName() == u"explorer.exe") {
        platform::StdoutWrite(u"\nPress any key to close.\n");
        platform::StdoutFlush();
        platform::WaitForKeyPress();
    }
}

bool Dispatch(const std::vector<std::u16string>& args) {
    if (args.size() < 2) {
        PrintUsage();
        return false;
    }
    const std::u16string& command = args[1];
    bool ran = false;
    for (const Subcommand& s : kSubcommands) {
        if (command == s.name) {
            s.run(args);
            ran = true;
            break;
        }
    }
    if (!ran) {
        if (!command.empty() && command[0] == u'-') {
            if (args.size() == 2 && (command == u"-v" || command == u"--version")) {
                platform::StdoutWrite(kVersionText);
                platform::StdoutFlush();
            } else {
                PrintUsage();
            }
        } else {
            platform::StdoutWrite(u"invalid sub command :" + command + u"\n");
            PrintUsage();
            return false;
        }
    }
    if (Process().interrupted.load()) {
        Process().interrupt_event.Set();
    }
    return true;
}

int EntryRoutine(std::vector<std::u16string> args) {
    ProcessState& p = Process();
    platform::SetUserLocale();
    p.vista_or_later = platform::IsVistaOrLater();
    p.dbdir = TakeDbdir(args);
    if (!platform::InstallCtrlCHandler(OnCtrlC)) {
        platform::StdoutWrite(u"\nERROR: Could not set control handler");
        platform::StdoutFlush();
        return 1;
    }
    if (p.database_folder.empty()) {
        p.database_folder = SettleDatabaseFolder(p.dbdir);
    }
    platform::MakeDirectory(p.database_folder);
    if (p.vista_or_later) {
        MarkDatabaseFolder(p.database_folder);
    }
    p.settings_path = p.database_folder + u"kavo.ini";
    // The buffered-paint functions are bound by the main window when it first needs them.
    Dispatch(args);
    return 0;
}

}  // namespace kavo
