// Helpers of the login-area end-to-end tests: device set-ups, the session's terminal
// name, the pty's modes and the lines zuz received. Test thread only.
#ifndef VELA_E2E_LOGIN_SUPPORT_H
#define VELA_E2E_LOGIN_SUPPORT_H

#include <termios.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DeviceSession.h"

namespace vela::test::login {

using Settings = std::vector<std::pair<std::string, std::string>>;

// The shell of session type "-t type" with these settings.
DeviceOptions shellOn(const std::string &type, Settings settings = {},
                      const char *binary = VELA_BINARY);
// The device ends with its command, and zuz with it, perhaps before zuz has taken the
// shell's last line: this runs the shell through sh, which afterwards waits (up to a
// second) until zuz has recorded the unregister line "U", and ends with the shell's status.
DeviceOptions keepZuzUntilUnregistered(DeviceOptions options);
// Settings of the secure profile with a password and an idle limit ("Off": none).
Settings dodSettings(const std::string &password, const std::string &idle = "Off");

// Waits until a telnet session's line editor has taken over the terminal (the login
// outcome is recorded right after): an end of input typed earlier, in the terminal's
// line mode, would reach the editor as a NUL byte.
bool waitForEditor(DeviceSession &device);

// The session's terminal name, from its registration line ("" when none came).
std::string sessionTty(DeviceSession &device);
// The modes of the pty the session runs on; nullopt when they cannot be read.
std::optional<termios> ptyModes(const std::string &tty);
bool ptyEchoes(const std::string &tty);

// Each byte as two lower-case hex digits, as the shell encodes credentials.
std::string hexOf(const std::string &text);
// The login request zuz receives for these credentials.
std::string loginLine(const std::string &user, const std::string &password, const std::string &tty);
// How many of zuz's received lines equal line / begin with prefix.
int receivedCount(const DeviceSession &device, const std::string &line);
int receivedWithPrefix(const DeviceSession &device, const std::string &prefix);
// zuz's received lines from the first that equals line on ({} when none does).
std::vector<std::string> receivedFrom(const DeviceSession &device, const std::string &line);

// A file of the device, read with cat; nullopt when it cannot be read.
std::optional<std::string> deviceFile(DeviceSession &device, const std::string &path);

// How a shell message looks on the terminal: its CR LF with the terminal's CR added.
inline std::string shown(const std::string &message) {
    return message + "\r\r\n";
}

// text with control bytes shown as \r, \n or \xNN, for failure messages.
std::string escaped(const std::string &text);

// Milliseconds since start.
inline long long msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace vela::test::login

#endif
