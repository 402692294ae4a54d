// The shell on a fresh simulated device, for the end-to-end tests of every area: set-ups,
// what the shell did (screen, zuz's lines, syslog records, pty modes) and a logged-in
// session that runs lines. Test thread only; results are copies owned by the caller.
#pragma once

#include <termios.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DeviceSession.h"

namespace vela::test {

using Settings = std::vector<std::pair<std::string, std::string>>;

// The last zuz line of a telnet session's way in: its command loop reads input.
inline constexpr const char *kLoopReady =
    "E: execwithoutecho systemsetting telnet_client_23_success True";
inline constexpr const char *kClear23 = "E: execwithoutecho systemsetting telnet_client_23 ";

// The product shell (or binary) run as "vela args..." with these settings.
DeviceOptions shellWith(std::vector<std::string> args, Settings settings = {},
                        const char *binary = nullptr);
// The same with its command run from sh, which then prints "[status N]" and keeps the
// device up, so that zuz and syslogd take in everything the shell sent at its end.
DeviceOptions keptUp(DeviceOptions options);
// The status of a keptUp shell once it ended and, when unregisters, zuz got its "U";
// -1 when either did not come in time.
int endStatus(DeviceSession &device, bool unregisters = true,
              std::chrono::milliseconds timeout = kDefaultTimeout);
// Settings of the secure profile with a password and an idle limit ("Off": none).
Settings secureProfile(const std::string &password, const std::string &idle = "Off");

// Waits until a telnet or api session's command loop reads input.
bool waitForLoop(const DeviceSession &device);
// The session's terminal ("/dev/pts/N") from its registration line; "" when none came.
std::string ttyOf(const DeviceSession &device);
// The session's name in its records: "telnetN" for /dev/pts/N.
inline std::string sessionName(const DeviceSession &device) {
    return "telnet" + ttyOf(device).substr(9);
}
// The local modes (c_lflag) of a pty, which the device shares with the host; 0 when
// they cannot be read.
tcflag_t ptyLocalModes(const std::string &tty);

// How many zuz lines equal (or begin with) line.
int zuzCount(const DeviceSession &device, const std::string &line, bool prefix = false);
// zuz's lines from the last that equals line ({} when none does).
std::vector<std::string> zuzFrom(const DeviceSession &device, const std::string &line);
// The messages of vela's syslog records, in order.
std::vector<std::string> velaRecords(const DeviceSession &device);
// Waits until the message of a syslog record of any program holds text.
bool waitForRecord(const DeviceSession &device, const std::string &text);
// A file of the device; nullopt when it cannot be read.
std::optional<std::string> deviceFile(DeviceSession &device, const std::string &path);

// Types each reply once its prompt has appeared (after the previous one); false when a
// prompt did not come.
bool converse(DeviceSession &device,
              const std::vector<std::pair<std::string, std::string>> &promptsAndReplies);
// Types line and Enter, then a marker line that zuz echoes; returns the screen from
// before the typing up to the marker's output: everything line caused.
std::string exchange(DeviceSession &device, const std::string &line);
size_t count(const std::string &text, const std::string &part);
// A message of the shell on the terminal: its CR LF with the terminal's CR added.
inline std::string shown(const std::string &message) {
    return message + "\r\r\n";
}
inline long long msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// A telnet session on a wide terminal (no echo wraps), its screen read past the banner.
class ShellSession {
  public:
    enum Start {
        kQuiet,     // wait until the command loop reads; keep the live log off screen
        kWithLog,   // the same with the live log shown
        kNotReady,  // return at once (e.g. the session asks for a password first)
    };
    explicit ShellSession(DeviceOptions options = {}, Start start = kQuiet);

    DeviceSession &device() { return device_; }
    // Types line and Enter and waits for until after the echo of the line (or after the
    // previous run when echoed is false); returns what came between (or "", failing).
    // Live-log lines would land in between: use it in quiet sessions.
    std::string run(const std::string &line, const std::string &until, bool echoed = true);
    // Types line, then the probe "test sync"; returns what was printed since the
    // previous run, up to the probe's output.
    std::string runThenSync(const std::string &line);
    // Types a line and waits until zuz received zuzLine once more.
    void forward(const std::string &line, const std::string &zuzLine);
    // zuz's lines since the previous call (or since the command loop started).
    std::vector<std::string> newZuzLines();
    // Sends one datagram to /dev/log ("<13>probe: text").
    void log(const std::string &datagram);
    // Waits until the shell has taken every queued line from its log listener socket.
    bool logQueueEmpty();
    // Ends the session with Ctrl-D; expects a clean end.
    void end();

  private:
    DeviceSession device_;
    size_t offset_ = 0;  // screen output up to here has been taken by run
    size_t zuzSeen_ = 0;
    vela::UniqueFd devLog_;
};

}  // namespace vela::test
