// The client side of one telnet connection, as much as the tests need: it keeps the
// plain text it receives and ignores the daemon's option negotiation, which the daemon
// does not wait for.
#ifndef VELA_E2E_TELNET_CLIENT_H
#define VELA_E2E_TELNET_CLIENT_H

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "unique_fd.h"

namespace vela::test::telnet {

using namespace std::chrono_literals;

class TelnetClient {
  public:
    // Takes over a connected socket (an empty one makes a client that is closed).
    explicit TelnetClient(vela::UniqueFd socket);

    // All members are for one thread. Timeouts scale as the harness's do (time_scale.h).

    bool connected() const { return static_cast<bool>(socket_); }
    // Sends a line as a telnet client does for Enter (CR LF); false on a write error.
    bool typeLine(std::string_view line);
    // Waits until text appears after the previous match and moves past it; false on
    // timeout or when the connection ended without it.
    bool waitFor(std::string_view text, std::chrono::milliseconds timeout = 5s);
    // Waits until the daemon closes the connection; false on timeout.
    bool waitClosed(std::chrono::milliseconds timeout = 5s);
    // Everything received, options removed.
    const std::string &text() const { return text_; }

  private:
    // Receives until done() holds; false on timeout or when the connection ended first.
    bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout);
    // Takes in what arrives within timeout.
    void receive(std::chrono::milliseconds timeout);
    // Takes one received byte: text, or part of a telnet command.
    void take(unsigned char byte);

    vela::UniqueFd socket_;
    std::string text_;
    size_t matchEnd_ = 0;
    bool ended_ = false;
    enum class State { kData, kCommand, kOption, kSub, kSubCommand } state_ = State::kData;
};

}  // namespace vela::test::telnet

#endif
