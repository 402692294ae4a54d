#include "Forwarder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <list>
#include <string>
#include <system_error>

namespace sim::telnet {

namespace {

constexpr size_t kBufferSize = 16384;
constexpr int kBacklog = 16;

bool parsePort(std::string_view text, int &port) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size() && port >= 1 &&
           port <= 65535;
}

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void setNonBlocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Bytes on their way from one socket to the other.
struct Direction {
    std::array<char, kBufferSize> data;
    size_t start = 0, end = 0;
    bool readerDone = false;  // end of stream (or error) on the reading side
    bool shutDown = false;    // the writing side has been told there is no more
    bool pending() const { return end > start; }
    bool room() const { return !readerDone && end < data.size(); }
    bool finished() const { return shutDown; }
};

// One relayed connection: client (host side) and device.
struct Relay {
    vela::UniqueFd client, device;
    Direction up, down;  // up: client to device; down: device to client
    bool broken = false;
};

// Moves what can be moved without blocking in one direction; false on a hard error.
bool pump(int from, int to, Direction &d, short fromEvents, short toEvents) {
    if (d.room() && (fromEvents & (POLLIN | POLLHUP | POLLERR))) {
        ssize_t n = ::read(from, d.data.data() + d.end, d.data.size() - d.end);
        if (n > 0)
            d.end += static_cast<size_t>(n);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            d.readerDone = true;
    }
    if (d.pending() && (toEvents & (POLLOUT | POLLERR))) {
        ssize_t n = ::send(to, d.data.data() + d.start, d.end - d.start, MSG_NOSIGNAL);
        if (n > 0) {
            d.start += static_cast<size_t>(n);
            if (d.start == d.end) d.start = d.end = 0;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
    }
    if (d.readerDone && !d.pending() && !d.shutDown) {
        ::shutdown(to, SHUT_WR);
        d.shutDown = true;
    }
    return true;
}

short wanted(const Direction &in, const Direction &out) {
    return static_cast<short>((in.room() ? POLLIN : 0) | (out.pending() ? POLLOUT : 0));
}

void accept(const ForwardListener &listener, std::list<Relay> &relays) {
    vela::UniqueFd client(::accept4(listener.socket.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client) return;
    vela::UniqueFd device(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address = loopback(listener.devicePort);
    // Loopback connects answer at once; a refused one just drops the client.
    if (!device ||
        ::connect(device.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        return;
    setNonBlocking(client.get());
    setNonBlocking(device.get());
    relays.emplace_back();
    relays.back().client = std::move(client);
    relays.back().device = std::move(device);
}

}  // namespace

bool parseForwardRule(std::string_view text, ForwardRule &rule) {
    size_t colon = text.find(':');
    return colon != std::string_view::npos && parsePort(text.substr(0, colon), rule.hostPort) &&
           parsePort(text.substr(colon + 1), rule.devicePort);
}

std::vector<ForwardListener> listenForRules(const std::vector<ForwardRule> &rules) {
    std::vector<ForwardListener> listeners;
    for (const auto &rule : rules) {
        vela::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        int on = 1;
        sockaddr_in address = loopback(rule.hostPort);
        if (!fd || ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            ::bind(fd.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::listen(fd.get(), kBacklog) != 0)
            throw std::system_error(errno, std::generic_category(),
                                    "listen on 127.0.0.1:" + std::to_string(rule.hostPort));
        listeners.push_back({std::move(fd), rule.devicePort});
    }
    return listeners;
}

void runForwarder(std::vector<ForwardListener> listeners) {
    std::list<Relay> relays;
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        for (const auto &listener : listeners)
            fds.push_back({listener.socket.get(), POLLIN, 0});
        for (const auto &relay : relays) {
            fds.push_back({relay.client.get(), wanted(relay.up, relay.down), 0});
            fds.push_back({relay.device.get(), wanted(relay.down, relay.up), 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            std::_Exit(1);
        }
        size_t i = 0;
        for (; i < listeners.size(); ++i) {
            if (fds[i].revents & POLLIN) accept(listeners[i], relays);
        }
        for (auto it = relays.begin(); it != relays.end() && i + 1 < fds.size(); i += 2) {
            short clientEvents = fds[i].revents, deviceEvents = fds[i + 1].revents;
            bool ok =
                pump(it->client.get(), it->device.get(), it->up, clientEvents, deviceEvents) &&
                pump(it->device.get(), it->client.get(), it->down, deviceEvents, clientEvents);
            if (!ok || (it->up.finished() && it->down.finished()))
                it = relays.erase(it);
            else
                ++it;
        }
    }
}

}  // namespace sim::telnet
