// Winsock's select watches at most FD_SETSIZE sockets, 64 unless defined before the header;
// the server may hold many more connections than that. WSAPoll is missing before Vista.
#define FD_SETSIZE 1024
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <vector>

#include "platform/socket.h"

static_assert(FD_SETSIZE >= kavo::platform::kMaxPollSockets);

namespace kavo::platform {
namespace {

SocketIo FromResult(int n) {
    SocketIo io;
    if (n != SOCKET_ERROR) {
        io.bytes = n;
    } else if (const int e = ::WSAGetLastError(); e == WSAEWOULDBLOCK || e == WSAEINTR) {
        io.would_block = true;
    } else {
        io.failed = true;
    }
    return io;
}

bool MakeNonBlocking(SOCKET s) {
    u_long on = 1;
    return ::ioctlsocket(s, FIONBIO, &on) == 0;
}

class WinSockets final : public ISocketApi {
  public:
    WinSockets() {
        WSADATA data;
        started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinSockets() override {
        if (started_) {
            ::WSACleanup();
        }
    }

    std::optional<uint32_t> ResolveHost(const std::string& name) override {
        const hostent* h = ::gethostbyname(name.c_str());
        if (h == nullptr || h->h_addrtype != AF_INET || h->h_addr_list[0] == nullptr) {
            return std::nullopt;
        }
        in_addr a;
        memcpy(&a, h->h_addr_list[0], sizeof a);
        return ntohl(a.s_addr);
    }

    SocketId Listen(uint32_t address, uint16_t port) override {
        const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET) {
            return kNoSocket;
        }
        ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
        // Exclusive use, so that no other program can bind the same port beside us.
        BOOL on = TRUE;
        ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                     sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(address);
        if (::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(s, SOMAXCONN) != 0 || !MakeNonBlocking(s)) {
            ::closesocket(s);
            return kNoSocket;
        }
        return static_cast<SocketId>(s);
    }

    SocketId Accept(SocketId listener, std::string* peer) override {
        sockaddr_in a{};
        int len = sizeof a;
        const SOCKET s =
            ::accept(static_cast<SOCKET>(listener), reinterpret_cast<sockaddr*>(&a), &len);
        if (s == INVALID_SOCKET) {
            return kNoSocket;
        }
        if (!MakeNonBlocking(s)) {
            ::closesocket(s);
            return kNoSocket;
        }
        ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
        BOOL on = TRUE;
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        if (peer) {
            const uint32_t ip = ntohl(a.sin_addr.s_addr);
            *peer = std::to_string(ip >> 24) + "." + std::to_string((ip >> 16) & 255) + "." +
                    std::to_string((ip >> 8) & 255) + "." + std::to_string(ip & 255) + ":" +
                    std::to_string(ntohs(a.sin_port));
        }
        return static_cast<SocketId>(s);
    }

    SocketId Connect(uint32_t address, uint16_t port) override {
        const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET) {
            return kNoSocket;
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(address);
        if (::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
            !MakeNonBlocking(s)) {
            ::closesocket(s);
            return kNoSocket;
        }
        BOOL on = TRUE;
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        return static_cast<SocketId>(s);
    }

    SocketIo Receive(SocketId s, void* buffer, size_t size) override {
        return FromResult(
            ::recv(static_cast<SOCKET>(s), static_cast<char*>(buffer), static_cast<int>(size), 0));
    }

    SocketIo Send(SocketId s, const void* data, size_t size) override {
        return FromResult(::send(static_cast<SOCKET>(s), static_cast<const char*>(data),
                                 static_cast<int>(size), 0));
    }

    void Close(SocketId s) override { ::closesocket(static_cast<SOCKET>(s)); }

    uint16_t LocalPort(SocketId s) override {
        sockaddr_in a{};
        int len = sizeof a;
        if (::getsockname(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            return 0;
        }
        return ntohs(a.sin_port);
    }

    int Poll(std::span<PollEntry> entries, int wait_ms) override {
        if (entries.size() > FD_SETSIZE) {
            return -1;
        }
        // fd_sets of 1024 sockets are 4 KB each: kept off the stack of the poll thread.
        thread_local fd_set read_set;
        thread_local fd_set write_set;
        thread_local fd_set error_set;
        FD_ZERO(&read_set);
        FD_ZERO(&write_set);
        FD_ZERO(&error_set);
        bool any = false;
        for (const PollEntry& e : entries) {
            const SOCKET s = static_cast<SOCKET>(e.socket);
            if (e.want_read) {
                FD_SET(s, &read_set);
                any = true;
            }
            if (e.want_write) {
                FD_SET(s, &write_set);
                any = true;
            }
            if (e.want_read || e.want_write) {
                FD_SET(s, &error_set);
            }
        }
        if (!any) {
            // select with empty sets fails at once on Windows instead of waiting.
            ::Sleep(static_cast<DWORD>(wait_ms < 0 ? 0 : wait_ms));
            return 0;
        }
        timeval tv;
        tv.tv_sec = wait_ms / 1000;
        tv.tv_usec = (wait_ms % 1000) * 1000;
        const int n = ::select(0, &read_set, &write_set, &error_set, &tv);
        if (n == SOCKET_ERROR) {
            return -1;
        }
        int ready = 0;
        for (PollEntry& e : entries) {
            const SOCKET s = static_cast<SOCKET>(e.socket);
            const bool error = FD_ISSET(s, &error_set) != 0;
            e.readable = e.want_read && (FD_ISSET(s, &read_set) || error);
            e.writable = e.want_write && (FD_ISSET(s, &write_set) || error);
            if (e.readable || e.writable) {
                ++ready;
            }
        }
        return ready;
    }

  private:
    bool started_ = false;
};

}  // namespace

ISocketApi& SystemSockets() {
    static WinSockets sockets;
    return sockets;
}

}  // namespace kavo::platform
