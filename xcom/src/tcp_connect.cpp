// Name resolution and the non-blocking connect with its bounded wait.
#include "tcp_connect.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <memory>

#include "libxcom.h"

namespace xcom {
namespace {

struct AddrInfoFree {
    void operator()(addrinfo *list) const noexcept { freeaddrinfo(list); }
};

// First IPv4 address of server; getaddrinfo, unlike the older lookup, is thread-safe.
bool resolve(const char *server, in_addr &address) noexcept {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(server, nullptr, &hints, &found) != 0 || found == nullptr) return false;
    const std::unique_ptr<addrinfo, AddrInfoFree> owner(found);
    address = reinterpret_cast<const sockaddr_in *>(found->ai_addr)->sin_addr;
    return true;
}

// Waits for a connect in progress to finish and reads its outcome.
bool finish_connect(int socket, int wait_seconds) noexcept {
    const int ready = selectOne(socket, XCOM_SELECT_WRITE | XCOM_SELECT_EXCEPTION, wait_seconds);
    if (ready <= 0 || (ready & XCOM_SELECT_EXCEPTION) || !(ready & XCOM_SELECT_WRITE)) {
        return false;
    }
    int pending = 0;
    socklen_t size = sizeof pending;
    return getsockopt(socket, SOL_SOCKET, SO_ERROR, &pending, &size) == 0 && pending == 0;
}

}  // namespace

vela::UniqueFd tcp_connect(const char *server, int port, int wait_seconds) noexcept {
    sockaddr_in peer{};
    if (server == nullptr || port <= 0 || port > 65535 || !resolve(server, peer.sin_addr)) {
        return {};
    }
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(port));

    vela::UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.valid()) return {};
    // Every message goes out in one write; Nagle would hold back the next one.
    const int on = 1;
    setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    if (::connect(socket.get(), reinterpret_cast<const sockaddr *>(&peer), sizeof peer) == 0) {
        return socket;
    }
    // An interrupted connect goes on in the background, like one in progress.
    if (errno != EINPROGRESS && errno != EINTR) return {};
    if (!finish_connect(socket.get(), wait_seconds)) return {};
    return socket;
}

}  // namespace xcom
