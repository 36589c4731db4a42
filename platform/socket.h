// TCP sockets of the platform seam: Winsock 2 with select on Windows, BSD sockets with poll
// natively. The HTTP server reaches the network only through ISocketApi, so that the same
// server code runs over the system's sockets in the product and over an in-memory fake in
// unit tests and the fuzz target. All sockets handed out are non-blocking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kavo::platform {

using SocketId = intptr_t;
constexpr SocketId kNoSocket = -1;

// The most sockets one Poll call may watch; the Windows side sizes its fd_set to this.
constexpr size_t kMaxPollSockets = 1024;

struct SocketIo {
    // Bytes moved (> 0), 0 for an orderly close by the peer (receive only).
    ptrdiff_t bytes = 0;
    bool would_block = false;  // nothing could be moved now; try again later
    bool failed = false;       // the connection is broken
};

struct PollEntry {
    SocketId socket = kNoSocket;
    bool want_read = false;
    bool want_write = false;
    bool readable = false;  // set by Poll (also for errors and hang-ups, so a read sees them)
    bool writable = false;
};

class ISocketApi {
  public:
    virtual ~ISocketApi() = default;

    // IPv4 address (host byte order) of a host name: the first address; nullopt when the
    // name cannot be resolved.
    virtual std::optional<uint32_t> ResolveHost(const std::string& name) = 0;
    // A listening TCP socket bound to `address` (host byte order, 0 = all addresses) and
    // `port`, listening with the system's largest backlog; kNoSocket on failure.
    virtual SocketId Listen(uint32_t address, uint16_t port) = 0;
    // Accepts one waiting connection; kNoSocket when none is waiting or on failure. `peer`
    // receives the peer's address as "a.b.c.d:port".
    virtual SocketId Accept(SocketId listener, std::string* peer) = 0;
    // A client connection to `address` (host byte order) and `port`, connected before the
    // call returns, then made non-blocking; kNoSocket on failure. For tests and benchmarks.
    virtual SocketId Connect(uint32_t address, uint16_t port) = 0;
    virtual SocketIo Receive(SocketId s, void* buffer, size_t size) = 0;
    virtual SocketIo Send(SocketId s, const void* data, size_t size) = 0;
    virtual void Close(SocketId s) = 0;
    // The port a listening socket is bound to (for a listener made with port 0).
    virtual uint16_t LocalPort(SocketId s) = 0;
    // Waits at most `wait_ms` for one of the wishes of `entries` (at most kMaxPollSockets)
    // and fills in the results. Returns the number of ready entries, 0 on time-out, -1 on
    // failure.
    virtual int Poll(std::span<PollEntry> entries, int wait_ms) = 0;
};

// The system's sockets (Winsock 2.2 started on first use and kept for the process).
ISocketApi& SystemSockets();

}  // namespace kavo::platform
