// zuz: the simulated device's application, the shell's XCOM peer.
//   zuz [--port N] [--ready-fd N] [--late] [--lockout-ms MS]
// Listens on 127.0.0.1 (and ::1 when the device has it) port 4121, one thread per
// connection. --ready-fd: a byte is written to that descriptor once zuz listens;
// --late: zuz starts listening only once the device's network has refused a TCP
// connection (the shell's first attempt, say), however slowly the shell started;
// --lockout-ms: how long a terminal stays locked after failed logins (60000).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Application.h"
#include "Connection.h"
#include "unique_fd.h"

namespace {

struct Options {
    int port = 4121;
    int readyFd = -1;
    bool late = false;
    long lockoutMs = 60000;
};

bool parseNumber(const char *text, long min, long max, long &value) {
    std::string_view s(text);
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size() && value >= min && value <= max;
}

bool parseOptions(int argc, char **argv, Options &options) {
    for (int i = 1; i < argc; ++i) {
        std::string_view name = argv[i];
        long value = 0;
        if (name == "--late") {
            options.late = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char *text = argv[++i];
        if (name == "--port" && parseNumber(text, 1, 65535, value))
            options.port = static_cast<int>(value);
        else if (name == "--ready-fd" && parseNumber(text, 0, 65535, value))
            options.readyFd = static_cast<int>(value);
        else if (name == "--lockout-ms" && parseNumber(text, 0, 86400000, value))
            options.lockoutMs = value;
        else
            return false;
    }
    return true;
}

// Whether this network namespace has refused a TCP connection: the kernel counts it
// among the failed attempts (Tcp AttemptFails in /proc/net/snmp, a line of names and a
// line of values per protocol).
bool tcpConnectionRefused() {
    std::ifstream snmp("/proc/net/snmp");
    std::string names, values;
    while (std::getline(snmp, names) && std::getline(snmp, values)) {
        if (names.rfind("Tcp:", 0) != 0) continue;
        std::istringstream nameWords(names), valueWords(values);
        std::string name, value;
        while (nameWords >> name && valueWords >> value) {
            if (name == "AttemptFails") return value != "0";
        }
    }
    return false;
}

vela::UniqueFd listenOn(int family, int port) {
    vela::UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return fd;
    int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    int result;
    if (family == AF_INET) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        result = ::bind(fd.get(), reinterpret_cast<sockaddr *>(&address), sizeof address);
    } else {
        ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(static_cast<uint16_t>(port));
        address.sin6_addr = in6addr_loopback;
        result = ::bind(fd.get(), reinterpret_cast<sockaddr *>(&address), sizeof address);
    }
    if (result != 0 || ::listen(fd.get(), 64) != 0) fd.reset();
    return fd;
}

}  // namespace

int main(int argc, char **argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fputs("usage: zuz [--port N] [--ready-fd N] [--late] [--lockout-ms MS]\n", stderr);
        return 2;
    }
    ::signal(SIGPIPE, SIG_IGN);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    // Blocked before any thread starts, so only the signalfd sees them.
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    vela::UniqueFd signalFd(::signalfd(-1, &signals, SFD_CLOEXEC));
    ::openlog("zuz", LOG_PID, LOG_DAEMON);

    while (options.late && !tcpConnectionRefused())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    vela::UniqueFd listeners[2] = {listenOn(AF_INET, options.port),
                                   listenOn(AF_INET6, options.port)};
    if (!listeners[0]) {
        std::fprintf(stderr, "zuz: cannot listen on port %d: %s\n", options.port,
                     std::strerror(errno));
        return 1;
    }
    if (options.readyFd >= 0) {
        // The launcher only waits for the byte or the end of the pipe.
        (void)!::write(options.readyFd, "1", 1);
        ::close(options.readyFd);
    }
    ::syslog(LOG_NOTICE, "application started");

    // Connection threads use it until the process ends, so it is never destroyed.
    static sim::zuz::Application app{std::chrono::milliseconds(options.lockoutMs)};
    int nextId = 1;
    for (;;) {
        pollfd fds[3] = {{signalFd.get(), POLLIN, 0},
                         {listeners[0].get(), POLLIN, 0},
                         {listeners[1].get(), POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            std::perror("zuz: poll");
            return 1;
        }
        // Connection threads are detached; ending the process ends them.
        if (fds[0].revents & POLLIN) std::_Exit(0);
        for (int i = 1; i < 3; ++i) {
            if (!(fds[i].revents & POLLIN)) continue;
            vela::UniqueFd client(::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC));
            if (!client) continue;
            int on = 1;
            ::setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            int id = nextId++;
            std::thread([client = std::move(client), id]() mutable {
                sim::zuz::Connection(app, std::move(client), id).serve();
            }).detach();
        }
    }
}
