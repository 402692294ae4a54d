#include "login_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace vela::test::login {

DeviceOptions shellOn(const std::string &type, Settings settings, const char *binary) {
    DeviceOptions options;
    options.velaBinary = binary;
    options.command = {kDeviceVela, "-t", type};
    options.settings = std::move(settings);
    return options;
}

DeviceOptions keepZuzUntilUnregistered(DeviceOptions options) {
    std::vector<std::string> command = {
        "sh", "-c",
        "\"$@\"; status=$?; i=0; while [ $i -lt 100 ] && "
        "! grep -qx U /opt/sim/zuz-received.log; do sleep 0.01; i=$((i + 1)); done; "
        "exit $status",
        "sh"};
    command.insert(command.end(), options.command.begin(), options.command.end());
    options.command = std::move(command);
    return options;
}

Settings dodSettings(const std::string &password, const std::string &idle) {
    return {{"enablesecureprofile", "DoD DSN"}, {"sw", password}, {"idletimeoutapi", idle}};
}

bool waitForEditor(DeviceSession &device) {
    return eventually([&] {
        return receivedWithPrefix(device,
                                  "E: execwithoutecho systemsetting telnet_client_23_success") > 0;
    });
}

std::string sessionTty(DeviceSession &device) {
    std::string tty;
    eventually([&] {
        for (const auto &line : device.zuzReceived()) {
            if (line.rfind("R: ", 0) == 0) tty = line.substr(line.rfind(' ') + 1);
        }
        return !tty.empty();
    });
    return tty;
}

std::optional<termios> ptyModes(const std::string &tty) {
    // The device shares the host's pts, so the session's name is valid here too.
    int fd = ::open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    termios modes{};
    bool ok = ::tcgetattr(fd, &modes) == 0;
    ::close(fd);
    if (!ok) return std::nullopt;
    return modes;
}

bool ptyEchoes(const std::string &tty) {
    auto modes = ptyModes(tty);
    return modes && (modes->c_lflag & ECHO) != 0;
}

std::string hexOf(const std::string &text) {
    std::string hex;
    for (unsigned char c : text) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", c);
        hex += digits;
    }
    return hex;
}

std::string escaped(const std::string &text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n\n";
        } else if (c < 0x20 || c >= 0x7f) {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02x", c);
            out += code;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string loginLine(const std::string &user, const std::string &password,
                      const std::string &tty) {
    return "E: _control login \"" + hexOf(user) + "\" \"" + hexOf(password) + "\" " + tty;
}

int receivedCount(const DeviceSession &device, const std::string &line) {
    int count = 0;
    for (const auto &received : device.zuzReceived())
        count += received == line;
    return count;
}

int receivedWithPrefix(const DeviceSession &device, const std::string &prefix) {
    int count = 0;
    for (const auto &received : device.zuzReceived())
        count += received.rfind(prefix, 0) == 0;
    return count;
}

std::vector<std::string> receivedFrom(const DeviceSession &device, const std::string &line) {
    auto all = device.zuzReceived();
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i] == line) return {all.begin() + static_cast<long>(i), all.end()};
    }
    return {};
}

std::optional<std::string> deviceFile(DeviceSession &device, const std::string &path) {
    auto result = device.runInDevice({"cat", path});
    if (result.status != 0) return std::nullopt;
    return result.out;
}

}  // namespace vela::test::login
