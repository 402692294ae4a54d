// Plays the shell's part against a device's zuz: an XCOM connection and an API
// listener socket, for tests of the device itself and of faults the shell must meet.
#ifndef VELA_HARNESS_FAKE_SHELL_H
#define VELA_HARNESS_FAKE_SHELL_H

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DeviceSession.h"
#include "UniqueFd.h"

namespace vela::test {

// For one test thread.
class FakeShell {
  public:
    // Binds /tmp/apiasynclisteners/<listenerName> and connects to zuz on port 4121.
    explicit FakeShell(DeviceSession &device, const std::string &listenerName = "velatest");

    bool connected() const { return static_cast<bool>(xcom_); }
    const std::string &listenerPath() const { return listenerPath_; }

    // Sends line and a LF in one write.
    bool send(std::string_view line);
    // Sends bytes exactly.
    bool sendRaw(std::string_view bytes);
    // The next XCOM line without its LF; nullopt on timeout or when zuz closed.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout = 2s);
    // True when zuz closes the connection within timeout (unread lines are skipped).
    bool closedByPeer(std::chrono::milliseconds timeout = 2s);
    // Sends line and reads the next XCOM line; the code of an "R: " reply, else nullopt.
    std::optional<int> command(std::string_view line, std::chrono::milliseconds timeout = 2s);
    // Registers as "R: type listenerPath tty"; the reply code.
    std::optional<int> registerSession(const std::string &type = "telnet",
                                       const std::string &tty = "/dev/pts/99");
    // The next datagram on the listener socket, raw; nullopt on timeout.
    std::optional<std::string> datagram(std::chrono::milliseconds timeout = 2s);
    // Every datagram that arrives until none has come for quiet.
    std::vector<std::string> datagrams(std::chrono::milliseconds quiet = 100ms);

  private:
    std::string listenerPath_;
    sim::UniqueFd listener_;
    sim::UniqueFd xcom_;
    std::string pending_;  // received XCOM bytes not yet returned as lines
    bool closed_ = false;
};

}  // namespace vela::test

#endif
