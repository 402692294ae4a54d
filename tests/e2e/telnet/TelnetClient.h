// The client side of one telnet connection, as much as the tests need: it keeps what it
// receives and never answers the daemon's option negotiation, which the daemon sends
// once at the start and does not wait for. One thread only.
#ifndef VELA_E2E_TELNET_CLIENT_H
#define VELA_E2E_TELNET_CLIENT_H

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <string_view>

#include "unique_fd.h"

namespace vela::test::telnet {

using namespace std::chrono_literals;

class TelnetClient {
  public:
    // Takes over a connected socket (an empty one makes a client that is closed).
    explicit TelnetClient(vela::UniqueFd socket) : socket_(std::move(socket)) {}

    bool connected() const { return socket_.valid(); }
    // Sends a line as a telnet client does for Enter (CR LF); false on a write error.
    bool typeLine(std::string_view line) {
        const std::string bytes = std::string(line) + "\r\n";
        return connected() && ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                                  static_cast<ssize_t>(bytes.size());
    }
    // Waits until text appears after the previous match and moves past it; false on
    // timeout or when the connection ended without it.
    bool waitFor(std::string_view text, std::chrono::milliseconds timeout = 5s) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        size_t at = std::string::npos;
        for (bool more = true; (at = text_.find(text, matchEnd_)) == std::string::npos;
             more = receive(end))
            if (!more) return false;
        matchEnd_ = at + text.size();
        return true;
    }
    // Waits until the daemon closes the connection; false on timeout.
    bool waitClosed(std::chrono::milliseconds timeout = 5s) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (receive(end)) {
        }
        return !connected();
    }
    // Everything received.
    const std::string &text() const { return text_; }

  private:
    // Takes in what arrives before end; false once the connection ended or at end.
    bool receive(std::chrono::steady_clock::time_point end) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd fd{socket_.get(), POLLIN, 0};
        if (!connected() || left <= 0ms) return false;
        if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) return true;  // look again
        char buffer[4096];
        const ssize_t n = ::recv(socket_.get(), buffer, sizeof buffer, 0);
        if (n > 0) text_.append(buffer, static_cast<size_t>(n));
        if (n == 0 || (n < 0 && errno != EINTR)) socket_.reset();
        return connected();
    }

    vela::UniqueFd socket_;
    std::string text_;
    size_t matchEnd_ = 0;
};

}  // namespace vela::test::telnet

#endif
