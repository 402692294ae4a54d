// The shell on a fresh simulated device, for the end-to-end tests of every area: set-ups,
// what the shell did (screen, zuz's lines, syslog records, pty modes) and a session that
// runs lines. Test thread only; results are copies owned by the caller.
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
using Lines = std::vector<std::string>;

// The last zuz line of a telnet session's way in: its command loop reads input.
inline constexpr const char *kLoopReady =
    "E: execwithoutecho systemsetting telnet_client_23_success True";
// The clearing of the client setting at a session's end, of port 23 or 24.
inline constexpr const char *kClear23 = "E: execwithoutecho systemsetting telnet_client_23 ";
inline constexpr const char *kClear24 = "E: execwithoutecho systemsetting telnet_client_24 ";

// The product shell (or binary) run as "vela args..." with these settings.
DeviceOptions shellWith(std::vector<std::string> args, Settings settings = {},
                        const char *binary = nullptr);
// The same with its command run from sh, which then prints "[status N]" and keeps the
// device up, so that zuz and syslogd take in everything the shell sent at its end; and
// with zuz's rules.
DeviceOptions keptUp(DeviceOptions options, std::string zuzRules = "");
// The login request zuz receives: each byte of the credentials as two hex digits.
inline std::string loginLine(const std::string &user, const std::string &password,
                             const std::string &tty) {
    return "E: _control login \"" + hexEncoded(user) + "\" \"" + hexEncoded(password) + "\" " + tty;
}
// Settings of the secure profile with a password and an idle limit ("Off": none).
Settings secureProfile(const std::string &password, const std::string &idle = "Off");

// The status of a keptUp shell once it ended and, when unregisters, zuz got its "U";
// -1 when either did not come in time.
int endStatus(DeviceSession &device, bool unregisters = true,
              std::chrono::milliseconds timeout = kDefaultTimeout);
// How many telnet or api sessions' command loops have read input.
long loopsReady(const DeviceSession &device);
// Waits until a telnet or api session's command loop reads input.
inline bool waitForLoop(const DeviceSession &device,
                        std::chrono::milliseconds timeout = kDefaultTimeout) {
    return eventually([&] { return loopsReady(device) > 0; }, timeout);
}
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
Lines zuzFrom(const DeviceSession &device, const std::string &line);
// The messages of vela's syslog records, in order.
Lines velaRecords(const DeviceSession &device);
// Waits until the message of a syslog record of any program holds text.
bool waitForRecord(const DeviceSession &device, const std::string &text);
// Kills a daemon ("zuz" or "syslogd") of the device and waits until it is gone.
bool killDaemon(DeviceSession &device, const std::string &name);
// A file of the device; nullopt when it cannot be read.
std::optional<std::string> deviceFile(DeviceSession &device, const std::string &path);
// Sends one datagram; true when all of it went.
bool sendDatagram(const vela::UniqueFd &socket, const std::string &datagram);

// Types each reply once its prompt has appeared (after the previous one); false when a
// prompt did not come.
bool converse(DeviceSession &device,
              const std::vector<std::pair<std::string, std::string>> &promptsAndReplies);
// A message of the shell on the terminal: its CR LF with the terminal's CR added.
inline std::string shown(const std::string &message) {
    return message + "\r\r\n";
}
inline long long msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// The shell on a wide terminal (no echo wraps).
class ShellSession : public DeviceSession {
  public:
    enum Start {
        kQuiet,  // a telnet session without syslogd (no live log), its screen read past
                 // the banner once its command loop reads
        kReady,  // any session, once its command loop reads
    };
    // The product shell in a telnet session unless options say otherwise.
    explicit ShellSession(DeviceOptions options = {}, Start start = kQuiet);

    // Types line and Enter and waits for until after the echo of the line (or after the
    // previous match when echoed is false); returns what came between (or "", failing).
    // Live-log lines would land in between: use it in quiet sessions.
    std::string run(const std::string &line, const std::string &until, bool echoed = true);
    // Types line, then the local probe "test sync"; returns what was printed since the
    // previous match, up to the probe's output.
    std::string runThenSync(const std::string &line);
    // Types a line and waits until zuz received zuzLine once more.
    void forward(const std::string &line, const std::string &zuzLine);
    // zuz's lines since the previous call (or since the command loop started).
    Lines newZuzLines();
    // Ends the session with Ctrl-D; expects a clean end.
    void end();

  private:
    size_t zuzSeen_ = 0;
};

}  // namespace vela::test
