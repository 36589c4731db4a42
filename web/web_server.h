// The running web search service: an HTTP server core driven by a poll thread of its own,
// with the web search service as its request handler. Started by the web subcommand (and
// later by the main window's web server dialog); one instance at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/socket.h"
#include "web/http_server_core.h"
#include "web/web_search.h"

namespace kavo::web {

class WebServer {
  public:
    WebServer(std::u16string database_folder,
              std::u16string settings_path,
              platform::ISocketApi& sockets = platform::SystemSockets());
    ~WebServer();  // stops a running server
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Listens on `ip` (blanks trimmed; empty = all addresses) and `port`, with Digest
    // authorisation when `user_name` is not empty, and starts the poll thread. False with
    // LastStartError() (the core's error text, may be empty) when it cannot listen.
    bool Start(const std::u16string& ip,
               int64_t port,
               const std::u16string& user_name,
               const std::u16string& password);
    // Ends the poll thread (within one poll of 1000 ms) and closes every connection.
    void Stop();
    bool Running() const { return core_ != nullptr; }

    const std::u16string& LastStartError() const { return last_error_; }
    // The port listened on (the one chosen by the system when 0 was asked for).
    uint16_t Port() const { return port_; }
    // Held by every request; the database's owner takes it while it replaces the database.
    std::mutex& CriticalSection() { return service_.Lock(); }
    WebSearchService& Service() { return service_; }

  private:
    platform::ISocketApi& sockets_;
    WebSearchService service_;
    std::unique_ptr<HttpServerCore> core_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::u16string last_error_;
    uint16_t port_ = 0;
};

}  // namespace kavo::web
