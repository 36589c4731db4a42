#include "tests/e2e/wine_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace kavo::e2e {
namespace fs = std::filesystem;

std::string Unix(std::string s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') {
            continue;
        }
        out.push_back(s[i]);
    }
    return out;
}

std::string WinePath(const std::string& host_path) {
    std::string p = "Z:" + fs::absolute(host_path).string();
    for (char& c : p) {
        if (c == '/')
            c = '\\';
    }
    return p;
}

RunResult RunHost(const std::vector<std::string>& argv,
                  const std::map<std::string, std::string>& env,
                  int timeout_s) {
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    std::vector<std::string> full = {"timeout", "-k", "5", std::to_string(timeout_s)};
    full.insert(full.end(), argv.begin(), argv.end());
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out_pipe[1], 1);
        ::dup2(err_pipe[1], 2);
        const int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, 0);
        ::close(out_pipe[0]);
        ::close(err_pipe[0]);
        for (const auto& [k, v] : env) {
            ::setenv(k.c_str(), v.c_str(), 1);
        }
        std::vector<char*> cargv;
        for (auto& a : full)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        ::execvp(cargv[0], cargv.data());
        ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    RunResult r;
    // Read until the program has ended, not until end of file: a helper process that the
    // program started may keep the write ends open for much longer.
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    char buf[65536];
    auto read_ready = [&](int wait_ms) {
        if (::poll(fds, 2, wait_ms) <= 0) {
            return false;
        }
        bool got = false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP))) {
                const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
                if (n <= 0) {
                    ::close(fds[i].fd);
                    fds[i].fd = -1;
                } else {
                    (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
                    got = true;
                }
            }
        }
        return got;
    };
    int status = 0;
    bool ended = false;
    while (!ended && (fds[0].fd >= 0 || fds[1].fd >= 0)) {
        read_ready(100);
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            ended = true;
            while (read_ready(0)) {
            }
        }
    }
    if (!ended) {
        ::waitpid(pid, &status, 0);
    }
    for (const pollfd& f : fds) {
        if (f.fd >= 0) {
            ::close(f.fd);
        }
    }
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

WinePrefix::WinePrefix() = default;

WinePrefix::~WinePrefix() {
    for (const std::string& l : links_) {
        std::error_code ec;
        fs::remove(l, ec);
    }
}

std::string WinePrefix::Prefix() {
    return KAVO_WINEPREFIX_DIR;
}

std::string WinePrefix::Win32Bin(const std::string& program) {
    return std::string(KAVO_WIN32_BIN) + "/" + program;
}

static std::string Link(char letter, const char* suffix) {
    return WinePrefix::Prefix() + "/dosdevices/" +
           std::string(1, static_cast<char>(std::tolower(letter))) + suffix;
}

void WinePrefix::MapDrive(char letter, const std::string& folder) {
    const std::string l = Link(letter, ":");
    std::error_code ec;
    fs::remove(l, ec);
    fs::create_symlink(fs::absolute(folder), l);
    links_.push_back(l);
}

void WinePrefix::MapRawDevice(char letter, const std::string& image) {
    const std::string l = Link(letter, "::");
    std::error_code ec;
    fs::remove(l, ec);
    fs::create_symlink(fs::absolute(image), l);
    links_.push_back(l);
}

RunResult WinePrefix::Run(const std::string& program,
                          const std::vector<std::string>& args,
                          const std::map<std::string, std::string>& env,
                          int timeout_s) {
    std::vector<std::string> argv = {KAVO_WINE_RUN, Win32Bin(program)};
    argv.insert(argv.end(), args.begin(), args.end());
    std::map<std::string, std::string> e = env;
    e["KAVO_WINEPREFIX"] = Prefix();
    RunResult r = RunHost(argv, e, timeout_s);
    r.out = Unix(r.out);
    return r;
}

RunResult WinePrefix::RunInTerminal(const std::string& program,
                                    const std::vector<std::string>& args,
                                    int timeout_s) {
    std::string cmd = "'" + std::string(KAVO_WINE_RUN) + "' '" + Win32Bin(program) + "'";
    for (const std::string& a : args) {
        std::string q;
        for (char c : a) {
            if (c == '\'')
                q += "'\\''";
            else
                q.push_back(c);
        }
        cmd += " '" + q + "'";
    }
    RunResult r =
        RunHost({"script", "-qefc", cmd, "/dev/null"}, {{"KAVO_WINEPREFIX", Prefix()}}, timeout_s);
    r.out = Unix(r.out);
    return r;
}

}  // namespace kavo::e2e
