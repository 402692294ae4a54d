// A logged-in telnet session of the real shell on a fresh simulated device, with the
// helpers the tests of the local commands share: run a line and take what the shell
// printed for it, follow what zuz received, send log lines.
#ifndef VELA_E2E_COMMANDS_SHELL_SESSION_H
#define VELA_E2E_COMMANDS_SHELL_SESSION_H

#include <string>
#include <string_view>
#include <vector>

#include "DeviceSession.h"

namespace vela::test {

// The zuz line a telnet session sends last on its way in: the command loop is ready.
inline constexpr const char *kLoopReady =
    "E: execwithoutecho systemsetting telnet_client_23_success True";

// What runThenSync's probe prints after the line (its echo and output).
inline constexpr const char *kSyncOutput =
    "test sync\r\nargc=2\r\r\nargv[0]=test\r\r\nargv[1]=sync\r\r\n";

// text without its live-log lines; positions (when given) receives for each byte kept
// its position in text, and text's size at the end.
std::string withoutLogLines(const std::string &text, std::vector<size_t> *positions = nullptr);

// All members are for the test's thread; results are copies owned by the caller.
class ShellSession {
  public:
    // Starts the device with the product shell (unless options name another) on a wide
    // terminal, so that no echo wraps; waits until the command loop reads, unless
    // waitReady is false (a session that must log in first).
    explicit ShellSession(DeviceOptions options = {}, bool waitReady = true);

    DeviceSession &device() { return device_; }
    // The shell's terminal as it names it ("/dev/pts/N").
    std::string ttyName() const;

    // Types line and Enter and waits for until after the echo of the line (or after the
    // previous run when echoed is false). Returns what came between the echo and the end
    // of until, live-log lines left out; fails the test and returns "" on timeout.
    std::string run(const std::string &line, const std::string &until, bool echoed = true);
    // Types line, then a probe command ("test sync"), and waits for the probe's output:
    // line has been handled. Returns what was printed since the previous run.
    std::string runThenSync(const std::string &line);
    // Types a line that goes to the application and waits until zuz has zuzLine.
    void forward(const std::string &line, const std::string &zuzLine);
    // Lines zuz received since the previous call (or since the command loop started).
    std::vector<std::string> newZuzLines();
    // How often zuz received line.
    int zuzCount(const std::string &line) const;
    // Sends one datagram to /dev/log as a program would log it ("<13>probe: text").
    void log(const std::string &datagram);
    // Waits until the shell has taken every queued line from its log listener socket.
    bool logQueueEmpty();
    // Ends the session with Ctrl-D; expects a clean end.
    void end();

  private:
    DeviceSession device_;
    size_t offset_ = 0;  // screen output up to here has been taken by run
    size_t zuzSeen_ = 0;
    sim::UniqueFd devLog_;
};

}  // namespace vela::test

#endif
