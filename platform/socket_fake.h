// An in-memory ISocketApi for tests and the fuzz target: a test plays the clients, the code
// under test the server. Nothing blocks; Poll reports what is ready at once and never waits.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/socket.h"

namespace kavo::platform {

class FakeSockets final : public ISocketApi {
  public:
    // Client side.
    // Opens a connection to the listener on `port`; kNoSocket when none listens there.
    SocketId Dial(uint16_t port);
    void ClientSend(SocketId client, std::string_view bytes);
    // Everything the server has sent since the last call.
    std::string ClientTake(SocketId client);
    // The client stops sending (the server then reads the end of the stream).
    void ClientShutdown(SocketId client);
    // The client goes away: the server's reads and writes fail.
    void ClientAbort(SocketId client);
    // True once the server has closed its end.
    bool ServerClosed(SocketId client) const;
    // The most the server may send in one Send call (default: unlimited; 0 blocks).
    void SetSendWindow(size_t bytes) { send_window_ = bytes; }
    size_t OpenServerSockets() const;

    // Server side.
    std::optional<uint32_t> ResolveHost(const std::string& name) override;
    SocketId Listen(uint32_t address, uint16_t port) override;
    SocketId Accept(SocketId listener, std::string* peer) override;
    SocketId Connect(uint32_t address, uint16_t port) override;
    SocketIo Receive(SocketId s, void* buffer, size_t size) override;
    SocketIo Send(SocketId s, const void* data, size_t size) override;
    void Close(SocketId s) override;
    uint16_t LocalPort(SocketId s) override;
    int Poll(std::span<PollEntry> entries, int wait_ms) override;

  private:
    struct Pipe {
        std::string to_server;
        std::string to_client;
        bool client_shut = false;
        bool client_aborted = false;
        bool server_closed = false;
        bool accepted = false;
    };
    struct Listener {
        uint16_t port = 0;
        std::vector<SocketId> waiting;
    };
    SocketId next_ = 100;
    uint16_t next_port_ = 40000;
    size_t send_window_ = static_cast<size_t>(-1);
    std::map<SocketId, Listener> listeners_;
    std::map<SocketId, Pipe> pipes_;  // by the one id both sides use
};

}  // namespace kavo::platform
