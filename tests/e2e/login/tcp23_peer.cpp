// Plays a telnet client inside the device: "tcp23_peer 4|6" listens on port 23 of
// every address (dual-stack), connects to it from 127.0.0.1 or ::1 and leaves a child
// holding the connection; exits 0 once the connection is established, 77 when the
// address family is not available, 1 on any other failure.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kPort = 23;
constexpr int kUnavailable = 77;

int listenDualStack() {
    int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    int off = 0, on = 1;
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    address.sin6_port = htons(kPort);
    if (fd < 0 || ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0)
        return -1;
    return fd;
}

int connectFrom(bool ipv6) {
    int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    int result;
    if (ipv6) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_loopback;
        address.sin6_port = htons(kPort);
        result = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(kPort);
        result = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    }
    return result == 0 ? fd : -1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2 || (std::strcmp(argv[1], "4") != 0 && std::strcmp(argv[1], "6") != 0)) {
        std::fprintf(stderr, "usage: tcp23_peer 4|6\n");
        return 1;
    }
    bool ipv6 = argv[1][0] == '6';
    int listener = listenDualStack();
    if (listener < 0) {
        std::perror("tcp23_peer: listen");
        return errno == EAFNOSUPPORT || errno == EADDRNOTAVAIL ? kUnavailable : 1;
    }
    int client = connectFrom(ipv6);
    if (client < 0) {
        std::perror("tcp23_peer: connect");
        return errno == EAFNOSUPPORT || errno == EADDRNOTAVAIL || errno == ENETUNREACH
                   ? kUnavailable
                   : 1;
    }
    int server = ::accept(listener, nullptr, nullptr);
    if (server < 0) return 1;
    pid_t holder = ::fork();
    if (holder < 0) return 1;
    if (holder == 0) {
        // Holds both ends until the device ends; off the terminal.
        int null = ::open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3; ++fd)
            ::dup2(null, fd);
        for (;;)
            ::pause();
    }
    return 0;
}
