// Runs the real Windows programs under Wine for the end-to-end tests, and the native kavo
// for the same checks without Wine.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kavo::e2e {

struct RunResult {
    int exit_code = -1;
    std::string out;  // standard output, CR LF turned into LF
    std::string err;
};

// The prefix's drive letters mapped for one test; every mapping is undone at destruction.
class WinePrefix {
  public:
    WinePrefix();
    ~WinePrefix();
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    // Drive `letter` (a-z) shows the host folder `folder`.
    void MapDrive(char letter, const std::string& folder);
    // The raw device of drive `letter` (\\.\X:) reads the image file `image`.
    void MapRawDevice(char letter, const std::string& image);

    // Runs `program` (a file of the win32 build's bin folder, "kavo.exe") with `args`; the
    // environment gets `env` added. Gives up after `timeout_s` seconds (exit code 124).
    RunResult Run(const std::string& program,
                  const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env = {},
                  int timeout_s = 120);
    // Runs the program under a pseudo-terminal (script), so that console writes are seen.
    RunResult RunInTerminal(const std::string& program,
                            const std::vector<std::string>& args,
                            int timeout_s = 120);

    static std::string Win32Bin(const std::string& program);
    static std::string Prefix();

  private:
    std::vector<std::string> links_;
};

// Runs a host program with arguments; standard output and error captured.
RunResult RunHost(const std::vector<std::string>& argv,
                  const std::map<std::string, std::string>& env = {},
                  int timeout_s = 120);

// Turns CR LF into LF.
std::string Unix(std::string s);

// The host path of a folder seen from Wine as a Windows path ("/tmp/x" -> "Z:\tmp\x").
std::string WinePath(const std::string& host_path);

}  // namespace kavo::e2e
