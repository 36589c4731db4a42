#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include "platform/socket.h"

namespace kavo::platform {
namespace {

bool MakeNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

std::string AddressText(const sockaddr_in& a) {
    char buf[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf);
    return std::string(buf) + ":" + std::to_string(ntohs(a.sin_port));
}

SocketIo FromResult(ssize_t n) {
    SocketIo io;
    if (n >= 0) {
        io.bytes = n;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        io.would_block = true;
    } else {
        io.failed = true;
    }
    return io;
}

class PosixSockets final : public ISocketApi {
  public:
    PosixSockets() {
        // A peer that goes away while we send must not end the process.
        std::signal(SIGPIPE, SIG_IGN);
    }

    std::optional<uint32_t> ResolveHost(const std::string& name) override {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        if (::getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) {
            return std::nullopt;
        }
        const auto* in = reinterpret_cast<const sockaddr_in*>(list->ai_addr);
        const uint32_t address = ntohl(in->sin_addr.s_addr);
        ::freeaddrinfo(list);
        return address;
    }

    SocketId Listen(uint32_t address, uint16_t port) override {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return kNoSocket;
        }
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(address);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(fd, SOMAXCONN) != 0 || !MakeNonBlocking(fd)) {
            ::close(fd);
            return kNoSocket;
        }
        return fd;
    }

    SocketId Accept(SocketId listener, std::string* peer) override {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        const int fd = ::accept4(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&a), &len,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return kNoSocket;
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (peer) {
            *peer = AddressText(a);
        }
        return fd;
    }

    SocketId Connect(uint32_t address, uint16_t port) override {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return kNoSocket;
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(address);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
            !MakeNonBlocking(fd)) {
            ::close(fd);
            return kNoSocket;
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return fd;
    }

    SocketIo Receive(SocketId s, void* buffer, size_t size) override {
        return FromResult(::recv(static_cast<int>(s), buffer, size, 0));
    }

    SocketIo Send(SocketId s, const void* data, size_t size) override {
        SocketIo io = FromResult(::send(static_cast<int>(s), data, size, MSG_NOSIGNAL));
        return io;
    }

    void Close(SocketId s) override { ::close(static_cast<int>(s)); }

    uint16_t LocalPort(SocketId s) override {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        if (::getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            return 0;
        }
        return ntohs(a.sin_port);
    }

    int Poll(std::span<PollEntry> entries, int wait_ms) override {
        // One list per thread: several servers may poll at once.
        thread_local std::vector<pollfd> fds_;
        fds_.resize(entries.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            fds_[i].fd = static_cast<int>(entries[i].socket);
            fds_[i].events = static_cast<short>((entries[i].want_read ? POLLIN : 0) |
                                                (entries[i].want_write ? POLLOUT : 0));
            fds_[i].revents = 0;
        }
        const int n = ::poll(fds_.data(), fds_.size(), wait_ms);
        if (n < 0) {
            return errno == EINTR ? 0 : -1;
        }
        int ready = 0;
        for (size_t i = 0; i < entries.size(); ++i) {
            const short r = fds_[i].revents;
            entries[i].readable = entries[i].want_read && (r & (POLLIN | POLLHUP | POLLERR)) != 0;
            entries[i].writable = entries[i].want_write && (r & (POLLOUT | POLLERR)) != 0;
            if (entries[i].readable || entries[i].writable) {
                ++ready;
            }
        }
        return ready;
    }
};

}  // namespace

ISocketApi& SystemSockets() {
    static PosixSockets sockets;
    return sockets;
}

}  // namespace kavo::platform
