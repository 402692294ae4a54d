// Sockets, reader state and output capture shared by the library's tests.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "libxcom.h"
#include "unique_fd.h"

namespace xcom_test {

// A connected pair of Unix sockets: the library's side and the peer's.
struct Pair {
    vela::UniqueFd near, far;
    explicit Pair(int type = SOCK_STREAM) {
        int fds[2] = {-1, -1};
        EXPECT_EQ(socketpair(AF_UNIX, type, 0, fds), 0);
        near.reset(fds[0]);
        far.reset(fds[1]);
    }
};

inline void send_all(int fd, std::string_view bytes) {
    for (ssize_t sent; !bytes.empty(); bytes.remove_prefix(static_cast<std::size_t>(sent)))
        ASSERT_GT(sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), 0);
}

// Receives exactly count bytes (or fewer when the peer closes).
inline std::string receive(int fd, std::size_t count) {
    std::string got(count, '\0');
    got.resize(
        static_cast<std::size_t>(std::max<ssize_t>(recv(fd, got.data(), count, MSG_WAITALL), 0)));
    return got;
}

// The per-socket state a caller of socket_read_line keeps.
struct Reader {
    std::vector<char> buffer = std::vector<char>(XCOM_READ_BUFFER_SIZE);
    std::vector<char> line = std::vector<char>(XCOM_LINE_BUFFER_SIZE);
    int buflen = 0;
    int read(int fd, int timeout = 5) {
        return socket_read_line(fd, buffer.data(), &buflen, line.data(), timeout);
    }
    std::string text() const { return line.data(); }
};

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// A bound loopback TCP socket on an ephemeral port, listening unless told otherwise.
struct Loopback {
    vela::UniqueFd fd{socket(AF_INET, SOCK_STREAM, 0)};
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    int port = 0;
    explicit Loopback(bool listening = true) {
        socklen_t size = sizeof address;
        EXPECT_EQ(bind(fd.get(), reinterpret_cast<sockaddr *>(&address), size), 0);
        EXPECT_EQ(getsockname(fd.get(), reinterpret_cast<sockaddr *>(&address), &size), 0);
        EXPECT_TRUE(!listening || listen(fd.get(), 8) == 0);
        port = ntohs(address.sin_port);
    }
    vela::UniqueFd accept_one() { return vela::UniqueFd(accept(fd.get(), nullptr, nullptr)); }
};

}  // namespace xcom_test
