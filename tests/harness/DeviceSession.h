// DeviceSession: one command (normally the shell) running in a pty on a fresh
// simulated device, for end-to-end tests.
//
//   vela::test::DeviceOptions options;
//   options.velaBinary = VELA_BINARY;              // installed at /opt/halvern/bin/vela
//   options.settings = {{"sw", "secret"}};
//   vela::test::DeviceSession device(options);    // starts the device
//   ASSERT_TRUE(device.waitFor("Password:"));
//   device.type("secret\r");
//   EXPECT_EQ(device.zuzReceived().back(), "E: whoami");
//
// The device (see sim/): zuz on 127.0.0.1:4121, syslogd on /dev/log, kbox, fw_setenv,
// fw_printenv and crashreport in /opt/halvern/bin, /tmp/VelaReady and both listener
// directories, each optional. Its state directory (/opt/sim inside) is a fresh host
// directory per session, removed at the end unless the test failed; then its path is
// printed. The destructor always ends the device and everything in it. Every wait lasts
// VELA_TEST_TIME_SCALE times longer when that is set (see time_scale.h).
//
// zuz's rules (setZuzRules): one rule per line, "#" comments,
//     MATCH [times N] => ACTION [; ACTION ...]
// MATCH: exact "TEXT" | prefix "TEXT" | any — tested on each received line; the first
// matching rule decides, "times N" limits it to its first N lines. ACTIONS, in order:
//     run | exec | reply CODE | noreply | drop | delay MS | send "TEXT" (adds a LF) |
//     sendraw "BYTES" | sendlong N (N-1 "x" and a LF) | datagram "BYTES" |
//     result "WORD" | noresult
// run handles the line as usual (output, reply); exec does so without the reply; a
// rule with none of run/exec/reply/noreply/drop ends with an implicit run. result and
// noresult change the result line of a login or logout run after them. Strings take
// \\ \" \n \r \t \0 \xNN. Example:
//     prefix "E: _control login" times 1 => delay 100; result "lockout"
//     exact "C: version" => datagram "one\ntwo\n"; datagram "half a "; reply -3
#ifndef VELA_HARNESS_DEVICE_SESSION_H
#define VELA_HARNESS_DEVICE_SESSION_H

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "hex_encoded.h"  // hexEncoded, for the tests that check secrets on the link
#include "terminal.h"
#include "unique_fd.h"

namespace vela::test {

inline constexpr std::chrono::milliseconds kDefaultTimeout = 5s;
inline constexpr const char *kDeviceVela = "/opt/halvern/bin/vela";

struct DeviceOptions {
    // What runs on the terminal; the device ends when it ends.
    std::vector<std::string> command = {kDeviceVela, "-t", "telnet"};
    // Host path of the shell; installed at /opt/halvern/bin/vela when not empty.
    std::string velaBinary;
    // Initial device settings.
    std::vector<std::pair<std::string, std::string>> settings;
    // zuz's rules from the start (see above).
    std::string zuzRules;
    unsigned short columns = 80;
    // More launcher options (e.g. "--no-syslogd", "--telnetd"), placed before the command.
    std::vector<std::string> launcherArguments;
};

struct RunResult {
    int status = -1;  // exit code, 128 + signal, or -1 when it was killed for taking too long
    std::string out;  // standard output and error together
};

struct SyslogRecord {
    int priority = 0;
    std::string identity;
    std::string message;
};

// The test's terminal with a device running on it. All members are for the test's thread;
// what they return is a copy owned by the caller.
class DeviceSession : public Terminal {
  public:
    // Starts the device and returns once its command runs. Throws std::runtime_error
    // (with the launcher's output) when the device does not come up.
    explicit DeviceSession(DeviceOptions options = {});
    ~DeviceSession();

    // The terminal (Terminal), read all the time: type, output, readUntil, waitFor,
    // hangUp.

    // --- the device's life
    // The launcher's exit status (the command's, or 128 + signal); nullopt when it did
    // not end within timeout, after which the device has been killed.
    std::optional<int> waitExit(std::chrono::milliseconds timeout = kDefaultTimeout);

    // --- the state directory, read afresh on each call
    // Every line zuz received, in order, as the line reader cleaned it.
    std::vector<std::string> zuzReceived() const;
    // Waits until zuz has received exactly this line (anywhere in its log).
    bool waitForZuzLine(std::string_view line, std::chrono::milliseconds timeout = kDefaultTimeout);
    // Every record syslogd took on /dev/log, in order.
    std::vector<SyslogRecord> syslogRecords() const;
    // A device setting as kbox answers it (stored value or default); nullopt if unknown.
    std::optional<std::string> setting(const std::string &name) const;
    // Every run of kbox, fw_setenv, fw_printenv and crashreport: its argv.
    std::vector<std::vector<std::string>> toolInvocations() const;
    // A file of the state directory ("" when there is none), e.g. "crashreport.state".
    std::string stateFile(std::string_view name) const;
    // Replaces zuz's rules; zuz applies them from its next line. Throws
    // std::invalid_argument naming the bad lines; nothing is changed then.
    void setZuzRules(std::string_view rules) const;

    // --- inside the device
    // Runs argv inside the device's namespaces (argv[0] looked up on the device's
    // PATH); status -1 when it was killed after timeout.
    RunResult runInDevice(const std::vector<std::string> &argv,
                          std::chrono::milliseconds timeout = kDefaultTimeout);
    // A TCP connection to the device's 127.0.0.1:port (or [::1]:port); empty when refused.
    vela::UniqueFd connectTcp(int port = 4121, bool ipv6 = false);
    // A datagram socket connected to devicePath in the device (e.g. /dev/log).
    vela::UniqueFd connectDatagram(const std::string &devicePath);

  private:
    void start();
    void tearDown();
    std::vector<std::vector<std::string>> records(std::string_view file) const;

    DeviceOptions options_;
    std::string stateDir_;
    pid_t initPid_ = 0;
    vela::UniqueFd initHandle_;  // pidfd of the init, to wait for the device's end
    std::optional<int> exitStatus_;
};

// Polls condition every few milliseconds until it holds; false after timeout (scaled).
bool eventually(const std::function<bool()> &condition,
                std::chrono::milliseconds timeout = kDefaultTimeout);

}  // namespace vela::test

#endif
