// Sockets, reader state and output capture shared by the library's tests.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <string>
#include <string_view>
#include <vector>

#include "libxcom.h"
#include "unique_fd.h"

namespace xcom_test {

struct Pair {
    vela::UniqueFd near, far;
};

inline Pair socket_pair(int type = SOCK_STREAM) {
    int fds[2] = {-1, -1};
    EXPECT_EQ(socketpair(AF_UNIX, type, 0, fds), 0);
    return {vela::UniqueFd(fds[0]), vela::UniqueFd(fds[1])};
}

inline void send_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        ASSERT_GT(sent, 0);
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

// Receives exactly count bytes (or fewer when the peer closes).
inline std::string receive(int fd, std::size_t count) {
    std::string got(count, '\0');
    std::size_t have = 0;
    while (have < count) {
        const ssize_t n = recv(fd, got.data() + have, count - have, 0);
        if (n <= 0) break;
        have += static_cast<std::size_t>(n);
    }
    got.resize(have);
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

// Turns the diagnostic printing on while alive.
struct PrintingOn {
    PrintingOn() { xcom_log_errors(1); }
    ~PrintingOn() { xcom_log_errors(0); }
};

// A bound loopback TCP socket on an ephemeral port, listening unless told otherwise.
struct Loopback {
    vela::UniqueFd fd{socket(AF_INET, SOCK_STREAM, 0)};
    int port = 0;
    explicit Loopback(bool listening = true) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        EXPECT_EQ(bind(fd.get(), reinterpret_cast<sockaddr *>(&address), size), 0);
        EXPECT_EQ(getsockname(fd.get(), reinterpret_cast<sockaddr *>(&address), &size), 0);
        port = ntohs(address.sin_port);
        if (listening) {
            EXPECT_EQ(listen(fd.get(), 8), 0);
        }
    }
    vela::UniqueFd accept_one() { return vela::UniqueFd(accept(fd.get(), nullptr, nullptr)); }
};

inline int open_descriptors() {
    int count = 0;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr)
            ++count;
        closedir(dir);
    }
    return count;
}

}  // namespace xcom_test
