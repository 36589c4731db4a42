// The server core over the system's sockets on loopback: Winsock under Wine, BSD sockets
// natively. Many idle connections (more than Winsock's default select limit of 64) must not
// keep other clients from being served.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/socket.h"
#include "web/http_server_core.h"

namespace kavo::web {
namespace {

using platform::SocketId;
constexpr uint32_t kLoopback = 0x7F000001;

class LoopbackServer {
  public:
    explicit LoopbackServer(const HttpLimits& limits = {})
        : core_(
              platform::SystemSockets(),
              [](HttpRequest& r, HttpEvent e) {
                  if (e != HttpEvent::kRequest)
                      return 0;
                  r.SendHeader("Content-Type", "text/plain");
                  r.SendBody("path " + r.Uri());
                  return kHandlerDone;
              },
              "1") {
        core_.SetLimits(limits);
        error_ = core_.SetListeningAddress("127.0.0.1:0");
        port_ = core_.ListeningPort();
        thread_ = std::thread([this] {
            while (!stop_)
                core_.Poll(50);
        });
    }
    ~LoopbackServer() {
        stop_ = true;
        thread_.join();
    }
    uint16_t Port() const { return port_; }
    const std::string& Error() const { return error_; }

  private:
    HttpServerCore core_;
    std::string error_;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Sends `request` and reads until the reply holds `until` or the peer closes (at most 10 s).
std::string Exchange(SocketId s, const std::string& request, const std::string& until) {
    platform::ISocketApi& net = platform::SystemSockets();
    size_t sent = 0;
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        platform::PollEntry e{s, true, sent < request.size(), false, false};
        net.Poll({&e, 1}, 100);
        if (e.writable) {
            const auto io = net.Send(s, request.data() + sent, request.size() - sent);
            if (io.bytes > 0)
                sent += static_cast<size_t>(io.bytes);
        }
        if (e.readable) {
            char buf[4096];
            const auto io = net.Receive(s, buf, sizeof buf);
            if (io.bytes <= 0 && !io.would_block)
                break;
            if (io.bytes > 0)
                out.append(buf, static_cast<size_t>(io.bytes));
            if (out.find(until) != std::string::npos)
                break;
        }
    }
    return out;
}

TEST(HttpSockets, ServesOverLoopback) {
    LoopbackServer server;
    ASSERT_EQ(server.Error(), "");
    platform::ISocketApi& net = platform::SystemSockets();
    const SocketId s = net.Connect(kLoopback, server.Port());
    ASSERT_NE(s, platform::kNoSocket);
    for (const char* path : {"/one", "/two"}) {
        const std::string out =
            Exchange(s, std::string("GET ") + path + " HTTP/1.1\r\nHost: x\r\n\r\n", "0\r\n\r\n");
        EXPECT_EQ(out, std::string("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                                   "Transfer-Encoding: chunked\r\n\r\n") +
                           "9\r\npath " + path + "\r\n0\r\n\r\n");
    }
    net.Close(s);
}

TEST(HttpSockets, ManyIdleConnectionsDoNotStopOthers) {
    // 150 idle clients exceed Winsock's default select set; 40 of them exceed the bound,
    // so the longest idle ones make room.
    LoopbackServer server({110, 30, 300});
    ASSERT_EQ(server.Error(), "");
    platform::ISocketApi& net = platform::SystemSockets();
    std::vector<SocketId> idle;
    for (int i = 0; i < 150; ++i) {
        const SocketId s = net.Connect(kLoopback, server.Port());
        ASSERT_NE(s, platform::kNoSocket) << i;
        idle.push_back(s);
    }
    const SocketId s = net.Connect(kLoopback, server.Port());
    ASSERT_NE(s, platform::kNoSocket);
    const std::string out = Exchange(s, "GET /busy HTTP/1.1\r\n\r\n", "0\r\n\r\n");
    EXPECT_NE(out.find("path /busy"), std::string::npos) << out;
    // The first idle clients were closed by the server.
    const std::string closed = Exchange(idle.front(), "GET /late HTTP/1.1\r\n\r\n", "0\r\n\r\n");
    EXPECT_EQ(closed.find("path /late"), std::string::npos);
    for (SocketId i : idle)
        net.Close(i);
    net.Close(s);
}

TEST(HttpSockets, PortInUse) {
    LoopbackServer first;
    ASSERT_EQ(first.Error(), "");
    HttpServerCore second(platform::SystemSockets(), nullptr, "1");
    EXPECT_EQ(second.SetListeningAddress("127.0.0.1:" + std::to_string(first.Port())),
              "Cannot bind to port");
    EXPECT_EQ(second.SetListeningAddress("127.0.0.1:70000"), "Cannot bind to port");
}

}  // namespace
}  // namespace kavo::web
