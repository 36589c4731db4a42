#include "platform/socket_fake.h"

#include <algorithm>
#include <cstring>

namespace kavo::platform {

SocketId FakeSockets::Dial(uint16_t port) {
    for (auto& [id, l] : listeners_) {
        if (l.port == port) {
            const SocketId s = next_++;
            pipes_[s];
            l.waiting.push_back(s);
            return s;
        }
    }
    return kNoSocket;
}

void FakeSockets::ClientSend(SocketId client, std::string_view bytes) {
    auto it = pipes_.find(client);
    if (it != pipes_.end() && !it->second.client_shut) {
        it->second.to_server.append(bytes);
    }
}

std::string FakeSockets::ClientTake(SocketId client) {
    auto it = pipes_.find(client);
    if (it == pipes_.end()) {
        return {};
    }
    std::string out;
    out.swap(it->second.to_client);
    return out;
}

void FakeSockets::ClientShutdown(SocketId client) {
    if (auto it = pipes_.find(client); it != pipes_.end()) {
        it->second.client_shut = true;
    }
}

void FakeSockets::ClientAbort(SocketId client) {
    if (auto it = pipes_.find(client); it != pipes_.end()) {
        it->second.client_aborted = true;
    }
}

bool FakeSockets::ServerClosed(SocketId client) const {
    auto it = pipes_.find(client);
    return it == pipes_.end() || it->second.server_closed;
}

size_t FakeSockets::OpenServerSockets() const {
    return static_cast<size_t>(std::count_if(pipes_.begin(), pipes_.end(), [](const auto& p) {
        return p.second.accepted && !p.second.server_closed;
    }));
}

std::optional<uint32_t> FakeSockets::ResolveHost(const std::string& name) {
    if (name == "localhost") {
        return 0x7F000001u;
    }
    return std::nullopt;
}

SocketId FakeSockets::Listen(uint32_t, uint16_t port) {
    for (const auto& [id, l] : listeners_) {
        if (l.port == port && port != 0) {
            return kNoSocket;  // in use
        }
    }
    const SocketId s = next_++;
    listeners_[s].port = port != 0 ? port : next_port_++;
    return s;
}

SocketId FakeSockets::Accept(SocketId listener, std::string* peer) {
    auto it = listeners_.find(listener);
    if (it == listeners_.end() || it->second.waiting.empty()) {
        return kNoSocket;
    }
    const SocketId s = it->second.waiting.front();
    it->second.waiting.erase(it->second.waiting.begin());
    pipes_[s].accepted = true;
    if (peer) {
        *peer = "127.0.0.1:" + std::to_string(s);
    }
    return s;
}

SocketId FakeSockets::Connect(uint32_t, uint16_t port) {
    return Dial(port);
}

SocketIo FakeSockets::Receive(SocketId s, void* buffer, size_t size) {
    SocketIo io;
    auto it = pipes_.find(s);
    if (it == pipes_.end() || it->second.server_closed || it->second.client_aborted) {
        io.failed = true;
        return io;
    }
    Pipe& p = it->second;
    if (p.to_server.empty()) {
        io.would_block = !p.client_shut;
        return io;
    }
    const size_t n = std::min(size, p.to_server.size());
    std::memcpy(buffer, p.to_server.data(), n);
    p.to_server.erase(0, n);
    io.bytes = static_cast<ptrdiff_t>(n);
    return io;
}

SocketIo FakeSockets::Send(SocketId s, const void* data, size_t size) {
    SocketIo io;
    auto it = pipes_.find(s);
    if (it == pipes_.end() || it->second.server_closed || it->second.client_aborted) {
        io.failed = true;
        return io;
    }
    const size_t n = std::min(size, send_window_);
    if (n == 0) {
        io.would_block = true;
        return io;
    }
    it->second.to_client.append(static_cast<const char*>(data), n);
    io.bytes = static_cast<ptrdiff_t>(n);
    return io;
}

void FakeSockets::Close(SocketId s) {
    if (listeners_.erase(s) > 0) {
        return;
    }
    if (auto it = pipes_.find(s); it != pipes_.end()) {
        it->second.server_closed = true;
    }
}

uint16_t FakeSockets::LocalPort(SocketId s) {
    auto it = listeners_.find(s);
    return it == listeners_.end() ? 0 : it->second.port;
}

int FakeSockets::Poll(std::span<PollEntry> entries, int) {
    int ready = 0;
    for (PollEntry& e : entries) {
        e.readable = false;
        e.writable = false;
        if (auto l = listeners_.find(e.socket); l != listeners_.end()) {
            e.readable = e.want_read && !l->second.waiting.empty();
        } else if (auto p = pipes_.find(e.socket); p != pipes_.end()) {
            const Pipe& pipe = p->second;
            const bool broken = pipe.client_aborted;
            e.readable = e.want_read && (!pipe.to_server.empty() || pipe.client_shut || broken);
            e.writable = e.want_write && (send_window_ > 0 || broken);
        }
        if (e.readable || e.writable) {
            ++ready;
        }
    }
    return ready;
}

}  // namespace kavo::platform
