// The client side of one telnet connection, as much as the tests need: it refuses
// every option the daemon offers or asks for, and keeps the plain text it receives.
#ifndef VELA_E2E_TELNET_CLIENT_H
#define VELA_E2E_TELNET_CLIENT_H

#include <chrono>
#include <string>
#include <string_view>

#include "UniqueFd.h"

namespace vela::test::telnet {

using namespace std::chrono_literals;

class TelnetClient {
  public:
    // Takes over a connected socket (an empty one makes a client that is closed).
    explicit TelnetClient(sim::UniqueFd socket);

    // All members are for one thread.

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
    // Reads what arrives within timeout; false once the connection has ended.
    bool receive(std::chrono::milliseconds timeout);
    void take(unsigned char byte);
    void refuse(unsigned char verb, unsigned char option);

    sim::UniqueFd socket_;
    std::string text_;
    size_t matchEnd_ = 0;
    bool ended_ = false;
    enum class State { kData, kCommand, kOption, kSub, kSubCommand } state_ = State::kData;
    unsigned char verb_ = 0;
};

}  // namespace vela::test::telnet

#endif
