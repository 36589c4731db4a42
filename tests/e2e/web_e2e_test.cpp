// kavo web with real clients: curl against the native kavo and against kavo.exe under Wine,
// and headless Chromium driving the search page. Loopback only; every wait is bounded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "base/text.h"
#include "database/loaded_database.h"
#include "tests/e2e/wine_harness.h"
#include "tests/search/test_db.h"
#include "tests/support/test_support.h"

namespace kavo::e2e {
namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A server process in the background: its standard input is a pipe (a byte stops it, as a
// key does on the console) and its standard output is read as it comes.
class ServerProcess {
  public:
    ServerProcess(const std::vector<std::string>& argv,
                  const std::map<std::string, std::string>& env) {
        int in[2];
        int out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::dup2(out[1], 2);
            ::close(in[1]);
            ::close(out[0]);
            for (const auto& [k, v] : env) {
                ::setenv(k.c_str(), v.c_str(), 1);
            }
            std::vector<char*> args;
            std::vector<std::string> copy = argv;
            for (auto& a : copy)
                args.push_back(a.data());
            args.push_back(nullptr);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
    }
    ~ServerProcess() { Stop(); }

    // Reads the output until the server says it listens; the port it listens on, 0 when it
    // did not start within `timeout_s`.
    uint16_t WaitStarted(int timeout_s = 90) {
        const auto deadline = Clock::now() + std::chrono::seconds(timeout_s);
        const std::regex started("Web server started at [0-9.]*:([0-9]+)\\.\r?\n");
        while (Clock::now() < deadline && stdout_ >= 0) {
            std::smatch m;
            if (std::regex_search(output_, m, started) &&
                output_.find("Press any key to exit.") != std::string::npos) {
                return static_cast<uint16_t>(std::stoi(m[1]));
            }
            if (!ReadSome(200))
                break;
        }
        return 0;
    }

    // Presses a key, waits for the process to end and returns its whole output.
    std::string Stop() {
        if (pid_ <= 0) {
            return output_;
        }
        if (stdin_ >= 0) {
            [[maybe_unused]] const ssize_t n = ::write(stdin_, "x\n", 2);
        }
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        int status = 0;
        while (Clock::now() < deadline) {
            ReadSome(100);
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
        }
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
        }
        // Whatever is left; a wineserver started by the program may hold the pipe open.
        for (int i = 0; i < 20 && stdout_ >= 0; ++i) {
            pollfd p{stdout_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0 || !ReadSome(0))
                break;
        }
        if (stdin_ >= 0)
            ::close(stdin_);
        if (stdout_ >= 0)
            ::close(stdout_);
        stdin_ = stdout_ = -1;
        return output_;
    }

  private:
    bool ReadSome(int wait_ms) {
        if (stdout_ < 0)
            return false;
        pollfd p{stdout_, POLLIN, 0};
        if (::poll(&p, 1, wait_ms) <= 0)
            return true;
        char buf[4096];
        const ssize_t n = ::read(stdout_, buf, sizeof buf);
        if (n <= 0) {
            ::close(stdout_);
            stdout_ = -1;
            return false;
        }
        output_.append(buf, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    std::string output_;
};

struct Reply {
    int status = 0;
    std::string head;
    std::string body;
    std::string Header(const std::string& name) const {
        const std::regex re("\r\n" + name + ": ([^\r]*)\r\n", std::regex::icase);
        std::smatch m;
        return std::regex_search(head, m, re) ? std::string(m[1]) : "(none)";
    }
};

// curl with the head of the (last) reply kept apart from the body.
Reply Curl(const std::string& url, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {"curl", "-s", "-i", "--max-time", "30", "-g"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(url);
    const RunResult r = RunHost(argv, {}, 40);
    Reply reply;
    std::string out = r.out;
    // With Digest, curl shows the 401 first: keep the last reply.
    size_t start = 0;
    while (true) {
        const size_t end = out.find("\r\n\r\n", start);
        if (end == std::string::npos)
            break;
        reply.head = "\r\n" + out.substr(start, end - start) + "\r\n";
        reply.body = out.substr(end + 4);
        if (reply.head.find("HTTP/1.1 401") != std::string::npos &&
            reply.body.rfind("HTTP/1.1 ", 0) == 0) {
            start = end + 4;
            continue;
        }
        break;
    }
    std::smatch m;
    if (std::regex_search(reply.head, m, std::regex("HTTP/1\\.1 ([0-9]{3})"))) {
        reply.status = std::stoi(m[1]);
    }
    return reply;
}

std::string HostPath(const test::TempFolder& dir) {
    std::string p = Utf16ToUtf8(dir.Path());
    for (char& c : p) {
        if (c == '\\')
            c = '/';
    }
    return p;
}

// The indexed tree, seen as drive Z: both from Wine (Z: is the host's root) and natively
// (KAVO_DRIVE_Z empty).
class WebFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("KAVO_DRIVE_Z", "", 1);
        host_ = HostPath(root_) + "files/";
        z_ = "Z:" + host_;  // forward slashes, as in addresses
        fs::create_directories(host_ + "docs");
        fs::create_directories(host_ + "many");
        fs::create_directories(host_ + "db");
        content_.resize(1000);
        for (size_t i = 0; i < content_.size(); ++i)
            content_[i] = static_cast<char>('A' + i % 26);
        std::ofstream(host_ + "docs/report.txt", std::ios::binary) << content_;
        std::ofstream(host_ + "docs/notes 2015.txt") << "notes";
        std::ofstream(host_ + "secret.txt") << "hidden";
        std::ofstream(host_ + "unindexed.txt") << "not in the database";
        std::ofstream(host_ + "db/kavo.ini") << "[WebServer]\r\npassword=pw\r\n";
        std::vector<test::Item> items = {
            {Win(host_ + "docs/report.txt"), 1000, 100},
            {Win(host_ + "docs/notes 2015.txt"), 5, 100},
            {Win(host_ + "secret.txt"), 6, 100},
            {Win(host_ + "db/kavo.ini"), 30, 100},
        };
        for (int i = 0; i < 120; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "many/item%03d.txt", i);
            items.push_back({Win(host_ + name), 2000, 100});
        }
        db_folder_ = Win(host_ + "db/");
        auto db = test::MakeDatabase(db_folder_, items);
        ASSERT_GT(db->RecordCount(), 120);
        const int32_t secret = db->RecordOfPath(Win(host_ + "secret.txt"), true);
        ASSERT_GE(secret, 0);
        db->SetHidden(secret, kHiddenByUser);
        ASSERT_TRUE(db->SaveHiddenList(db_folder_));
    }

    static std::u16string Win(const std::string& host) {
        std::string p = "Z:" + host;
        for (char& c : p) {
            if (c == '/')
                c = '\\';
        }
        return Utf8ToUtf16(p);
    }

    std::unique_ptr<ServerProcess> StartServer(bool wine, const std::vector<std::string>& extra) {
        std::vector<std::string> argv;
        std::map<std::string, std::string> env;
        if (wine) {
            argv = {KAVO_WINE_RUN, WinePrefix::Win32Bin("kavo.exe")};
            env["KAVO_WINEPREFIX"] = WinePrefix::Prefix();
        } else {
            argv = {std::string(KAVO_NATIVE_BIN) + "/kavo"};
            env["KAVO_DRIVE_Z"] = "";
        }
        const std::vector<std::string> args = {
            "--dbdir", Utf16ToUtf8(db_folder_), "web", "--ip", "127.0.0.1", "--port", "0"};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.insert(argv.end(), extra.begin(), extra.end());
        auto server = std::make_unique<ServerProcess>(argv, env);
        port_ = server->WaitStarted();
        return server;
    }

    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    test::TempFolder root_;
    std::string host_;
    std::string z_;
    std::u16string db_folder_;
    std::string content_;
    uint16_t port_ = 0;
};

std::vector<std::string> JsonItems(const std::string& json) {
    std::vector<std::string> out;
    const std::regex item("\"([^\"]*)\"");
    for (auto it = std::sregex_iterator(json.begin(), json.end(), item);
         it != std::sregex_iterator(); ++it) {
        out.push_back((*it)[1]);
    }
    return out;
}

class WebE2E : public WebFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(WebE2E, SearchesAndFilesWithoutAuthentication) {
    auto server = StartServer(GetParam(), {});
    ASSERT_NE(port_, 0);

    // The array format: files with and without sizes, folders with a final slash.
    EXPECT_EQ(Curl(Url("/query.json?q=report")).body, "[\"" + z_ + "docs/report.txt\"]");
    const Reply sized = Curl(Url("/query.json?q=report&showSize=1"));
    EXPECT_EQ(sized.body, "[\"" + z_ + "docs/report.txt|1 KB\"]");
    EXPECT_EQ(sized.Header("Content-Type"), "application/json; charset=utf-8");
    EXPECT_EQ(Curl(Url("/query.json?q=docs")).body, "[\"" + z_ + "docs/\"]");
    EXPECT_EQ(Curl(Url("/query.json?q=nothingiscalledthis")).body, "[]");

    // The 50-result window.
    std::vector<std::string> all;
    for (const char* from : {"0", "50", "100"}) {
        const auto part = JsonItems(Curl(Url(std::string("/query.json?q=item&from=") + from)).body);
        all.insert(all.end(), part.begin(), part.end());
    }
    ASSERT_EQ(all.size(), 120u);
    const auto from10 = JsonItems(Curl(Url("/query.json?q=item&from=10")).body);
    EXPECT_EQ(from10, std::vector<std::string>(all.begin() + 10, all.begin() + 60));
    const auto to5 = JsonItems(Curl(Url("/query.json?q=item&to=5")).body);
    EXPECT_EQ(to5, std::vector<std::string>(all.begin(), all.begin() + 6));
    const auto to200 = JsonItems(Curl(Url("/query.json?q=item&from=0&to=200")).body);
    EXPECT_EQ(to200, std::vector<std::string>(all.begin(), all.begin() + 50));
    // A query longer than 259 bytes is searched as the empty query.
    EXPECT_EQ(Curl(Url("/query.json?q=" + std::string(300, 'a'))).body,
              Curl(Url("/query.json?q=")).body);

    // The page.
    const Reply page = Curl(Url("/?q=item"));
    EXPECT_EQ(page.Header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(page.body.find("<title>Kavo file search</title>"), std::string::npos);
    EXPECT_NE(page.body.find("Found <b>120</b> items"), std::string::npos);
    EXPECT_NE(page.body.find("id=\"showMore\""), std::string::npos);
    const std::regex li("<li><a href=\"/");
    EXPECT_EQ(std::distance(std::sregex_iterator(page.body.begin(), page.body.end(), li),
                            std::sregex_iterator()),
              50);
    const Reply empty_page = Curl(Url("/?q=nothingiscalledthis"));
    EXPECT_EQ(empty_page.body.find("<li><a href=\"/"), std::string::npos);
    EXPECT_EQ(empty_page.body.find("showMore\""), std::string::npos);

    // Downloads.
    const std::string file = Url("/" + z_ + "docs/report.txt");
    const Reply whole = Curl(file);
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, content_);
    EXPECT_EQ(whole.Header("Content-Type"), "text/plain");
    const std::string tag = whole.Header("Etag");
    const Reply part = Curl(file, {"-r", "0-99"});
    EXPECT_EQ(part.status, 206);
    EXPECT_EQ(part.Header("Content-Range"), "bytes 0-99/1000");
    EXPECT_EQ(part.body, content_.substr(0, 100));
    const Reply same = Curl(file, {"-H", "If-None-Match: " + tag});
    EXPECT_EQ(same.status, 304);
    EXPECT_EQ(same.Header("Content-Length"), "0");
    const Reply head = Curl(file, {"-I"});
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.Header("Content-Length"), "1000");
    EXPECT_EQ(head.body, "");
    EXPECT_EQ(Curl(Url("/" + z_ + "docs/notes%202015.txt")).body, "notes");
    const Reply folder = Curl(Url("/" + z_ + "docs"));
    EXPECT_EQ(folder.status, 301);
    EXPECT_EQ(folder.Header("Location"), "/" + z_ + "docs/");
    // Not a record, hidden, inside the database folder, a thumbnail: 404.
    for (const char* path : {"unindexed.txt", "secret.txt", "db/kavo.ini", "nothing"}) {
        EXPECT_EQ(Curl(Url("/" + z_ + std::string(path))).status, 404) << path;
    }
    EXPECT_EQ(Curl(Url("/thumb.png?file=x")).status, 404);
    EXPECT_EQ(Curl(Url("/other")).body, "This is a reply from server instance # 1");

    const std::string out = Unix(server->Stop());
    EXPECT_NE(out.find("Press any key to exit.\nBye.\n"), std::string::npos) << out;
}

TEST_P(WebE2E, DigestAuthentication) {
    auto server = StartServer(GetParam(), {"--username", "ann", "--password", "pw 1"});
    ASSERT_NE(port_, 0);
    const std::string url = Url("/query.json?q=report");
    const Reply none = Curl(url);
    EXPECT_EQ(none.status, 401);
    EXPECT_TRUE(std::regex_search(
        none.head, std::regex("\r\nWWW-Authenticate: Digest qop=\"auth\", realm=\"Kavo\", "
                              "nonce=\"[0-9]+\"\r\n")))
        << none.head;
    const Reply good = Curl(url, {"--digest", "-u", "ann:pw 1"});
    EXPECT_EQ(good.status, 200);
    EXPECT_EQ(good.body, "[\"" + z_ + "docs/report.txt\"]");
    EXPECT_EQ(Curl(url, {"--digest", "-u", "ann:wrong"}).status, 401);
    EXPECT_EQ(Curl(url, {"--digest", "-u", "bob:pw 1"}).status, 401);
}

INSTANTIATE_TEST_SUITE_P(Both, WebE2E, ::testing::Values(false, true), [](const auto& info) {
    return info.param ? "Wine" : "Native";
});

// ---- headless Chromium over the DevTools pipe --------------------------------------------

std::string Base64Decode(const std::string& in) {
    std::string out;
    int value = 0;
    int bits = -8;
    for (const char c : in) {
        int d;
        if (c >= 'A' && c <= 'Z')
            d = c - 'A';
        else if (c >= 'a' && c <= 'z')
            d = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            d = c - '0' + 52;
        else if (c == '+')
            d = 62;
        else if (c == '/')
            d = 63;
        else
            continue;
        value = (value << 6) | d;
        bits += 6;
        if (bits >= 0) {
            out.push_back(static_cast<char>((value >> bits) & 0xFF));
            bits -= 8;
        }
    }
    return out;
}

class Chromium {
  public:
    explicit Chromium(const std::string& profile) {
        int to[2];
        int from[2];
        if (::pipe(to) != 0 || ::pipe(from) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(to[0], 3);
            ::dup2(from[1], 4);
            const int devnull = ::open("/dev/null", O_RDWR);
            ::dup2(devnull, 0);
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
            for (int fd = 5; fd < 1024; ++fd)
                ::close(fd);
            const std::string dir = "--user-data-dir=" + profile;
            ::execl("/usr/bin/chromium", "chromium", "--headless", "--no-sandbox", "--disable-gpu",
                    "--disable-quic", "--no-first-run", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync", "--remote-debugging-pipe",
                    "--window-size=1000,1200", dir.c_str(), "about:blank",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(to[0]);
        ::close(from[1]);
        to_ = to[1];
        from_ = from[0];
    }
    ~Chromium() {
        if (pid_ > 0) {
            Call("Browser.close", "{}");
            int status = 0;
            for (int i = 0; i < 50 && ::waitpid(pid_, &status, WNOHANG) != pid_; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        if (to_ >= 0)
            ::close(to_);
        if (from_ >= 0)
            ::close(from_);
    }

    // Sends one command and returns its reply message (empty after 30 s without one).
    std::string Call(const std::string& method,
                     const std::string& params,
                     const std::string& session = "") {
        const int id = next_id_++;
        std::string msg =
            "{\"id\":" + std::to_string(id) + ",\"method\":\"" + method + "\",\"params\":" + params;
        if (!session.empty())
            msg += ",\"sessionId\":\"" + session + "\"";
        msg += "}";
        msg.push_back('\0');
        if (::write(to_, msg.data(), msg.size()) != static_cast<ssize_t>(msg.size()))
            return {};
        const std::string key = "{\"id\":" + std::to_string(id) + ",";
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (Clock::now() < deadline) {
            size_t end;
            while ((end = buffer_.find('\0')) != std::string::npos) {
                std::string m = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                if (m.rfind(key, 0) == 0)
                    return m;
            }
            pollfd p{from_, POLLIN, 0};
            if (::poll(&p, 1, 200) > 0) {
                char buf[65536];
                const ssize_t n = ::read(from_, buf, sizeof buf);
                if (n <= 0)
                    return {};
                buffer_.append(buf, static_cast<size_t>(n));
            }
        }
        return {};
    }

    // A string field of a message (std::regex would recurse over a screenshot's length).
    static std::string Field(const std::string& msg, const std::string& name) {
        const std::string key = "\"" + name + "\":\"";
        const size_t start = msg.find(key);
        if (start == std::string::npos)
            return {};
        const size_t begin = start + key.size();
        const size_t end = msg.find('"', begin);
        return end == std::string::npos ? std::string() : msg.substr(begin, end - begin);
    }

  private:
    pid_t pid_ = -1;
    int to_ = -1;
    int from_ = -1;
    int next_id_ = 1;
    std::string buffer_;
};

// The value of a JavaScript expression in the page, as JSON text.
std::string Evaluate(Chromium& c, const std::string& session, const std::string& expression) {
    std::string escaped;
    for (char ch : expression) {
        if (ch == '"' || ch == '\\')
            escaped.push_back('\\');
        escaped.push_back(ch);
    }
    const std::string r = c.Call(
        "Runtime.evaluate", "{\"expression\":\"" + escaped + "\",\"returnByValue\":true}", session);
    std::smatch m;
    if (std::regex_search(r, m, std::regex("\"value\":([^,}]*)")))
        return m[1];
    return "(none)";
}

// Polls the expression until it gives `want` (at most `seconds`).
bool WaitFor(Chromium& c,
             const std::string& session,
             const std::string& expression,
             const std::string& want,
             int seconds = 20) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
        if (Evaluate(c, session, expression) == want)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

TEST_F(WebFixture, ChromiumShowsMoreItems) {
    if (!fs::exists("/usr/bin/chromium")) {
        GTEST_SKIP() << "no chromium";
    }
    auto server = StartServer(false, {});
    ASSERT_NE(port_, 0);
    test::TempFolder profile;
    Chromium chrome(HostPath(profile));
    const std::string target =
        chrome.Call("Target.createTarget", "{\"url\":\"" + Url("/?q=item&showSize=1") + "\"}");
    const std::string target_id = Chromium::Field(target, "targetId");
    ASSERT_FALSE(target_id.empty()) << target;
    const std::string attached = chrome.Call(
        "Target.attachToTarget", "{\"targetId\":\"" + target_id + "\",\"flatten\":true}");
    const std::string session = Chromium::Field(attached, "sessionId");
    ASSERT_FALSE(session.empty()) << attached;

    const std::string count = "document.querySelectorAll('#ol li').length";
    ASSERT_TRUE(
        WaitFor(chrome, session, "document.readyState=='complete'&&" + count + "==50", "true"));
    EXPECT_EQ(Evaluate(chrome, session, "document.getElementById('lblShowingCount').textContent"),
              "\"50\"");
    Evaluate(chrome, session, "document.getElementById('showMore').click();1");
    EXPECT_TRUE(WaitFor(chrome, session, count, "100"));
    EXPECT_EQ(Evaluate(chrome, session, "document.getElementById('lblShowingCount').textContent"),
              "\"100\"");
    // Items loaded from /query.json show their sizes and link to the files.
    EXPECT_EQ(Evaluate(chrome, session,
                       "document.querySelectorAll('#ol li')[60].textContent.indexOf('(2 KB)')>0"),
              "true");
    Evaluate(chrome, session, "document.getElementById('showMore').click();1");
    EXPECT_TRUE(WaitFor(chrome, session, count, "120"));
    EXPECT_EQ(Evaluate(chrome, session, "document.getElementById('showMore').style.display"),
              "\"none\"");
    // The first links were turned into searches of their folders or file addresses.
    EXPECT_EQ(Evaluate(chrome, session,
                       "decodeURIComponent(document.querySelectorAll('#ol "
                       "a')[0].getAttribute('href')).indexOf('/" +
                           z_ + "many/item')==0"),
              "true");

    const std::string shot = chrome.Call("Page.captureScreenshot", "{\"format\":\"png\"}", session);
    const std::string png = Base64Decode(Chromium::Field(shot, "data"));
    ASSERT_GT(png.size(), 1000u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    const std::string artifacts = std::string(KAVO_NATIVE_BIN) + "/../artifacts";
    fs::create_directories(artifacts);
    std::ofstream(artifacts + "/web-search-page.png", std::ios::binary) << png;
}

}  // namespace
}  // namespace kavo::e2e
