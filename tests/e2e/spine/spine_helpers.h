// Helpers shared by the end-to-end tests of the shell's start-up, loop and output.
#ifndef VELA_E2E_SPINE_HELPERS_H
#define VELA_E2E_SPINE_HELPERS_H

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "DeviceSession.h"

namespace vela::test::spine {

// The four usage lines as the terminal shows them (CR LF from the shell, CR from ONLCR).
inline const std::string kUsageText =
    "Halvern API/Debug shell usage: vela [options]\r\r\n"
    "  -h hostname/addr Set host name/address for XCOM (default: localhost)\r\r\n"
    "  -p port          Set port for XCOM (default: 4121)\r\r\n"
    "  -t type          Set session type - \"api\", \"telnet\"\r\r\n";

// A device whose terminal runs the shell with these arguments.
inline DeviceOptions shellWith(std::vector<std::string> arguments) {
    DeviceOptions options;
    options.velaBinary = VELA_BINARY;
    options.command = {kDeviceVela};
    options.command.insert(options.command.end(), arguments.begin(), arguments.end());
    return options;
}

// A device whose terminal runs the shell from sh, which then prints the shell's exit
// status and keeps the device up, so that zuz and syslogd take in everything the shell
// sent before it ended; see shellStatus.
inline DeviceOptions shellKeptUp(std::vector<std::string> arguments) {
    DeviceOptions options = shellWith({});
    options.command = {"sh", "-c", "\"$0\" \"$@\"; echo \"[status $?]\"; exec sleep 20",
                       kDeviceVela};
    options.command.insert(options.command.end(), arguments.begin(), arguments.end());
    return options;
}

// The exit status of the shell of a shellKeptUp device; -1 when it did not end in time.
inline int shellStatus(DeviceSession &device) {
    if (!device.waitFor("[status ") || !device.waitFor("]")) return -1;
    std::string screen = device.output();
    return std::atoi(screen.c_str() + screen.rfind("[status ") + 8);
}

// The messages of the shell's own system-log records, in order.
inline std::vector<std::string> velaRecords(const DeviceSession &device) {
    std::vector<std::string> messages;
    for (const auto &record : device.syslogRecords()) {
        if (record.identity == "vela") messages.push_back(record.message);
    }
    return messages;
}

inline bool hasVelaRecord(const DeviceSession &device, const std::string &message) {
    auto records = velaRecords(device);
    return std::find(records.begin(), records.end(), message) != records.end();
}

inline bool waitForVelaRecord(const DeviceSession &device, const std::string &message) {
    return eventually([&] { return hasVelaRecord(device, message); });
}

// The number N of the session's /dev/pts/N, from its registration line; "" before it.
inline std::string ptsNumber(const DeviceSession &device) {
    for (const auto &line : device.zuzReceived()) {
        size_t at = line.rfind("/dev/pts/");
        if (line.rfind("R: ", 0) == 0 && at != std::string::npos) return line.substr(at + 9);
    }
    return "";
}

// Waits for the registration and the login settings writes: the shell is reading input.
inline std::string waitUntilReady(DeviceSession &device, const std::string &setting) {
    EXPECT_TRUE(device.waitForZuzLine("E: execwithoutecho systemsetting " + setting + " True"));
    return ptsNumber(device);
}

// Types line and Enter, then a marker line that zuz echoes; returns the screen from
// before the typing up to the marker's output, so that it holds everything line caused.
inline std::string exchange(DeviceSession &device, const std::string &line) {
    static int markers = 0;
    std::string marker = "marker" + std::to_string(++markers);
    size_t from = device.output().size();
    device.type(line + "\r");
    device.type("echo " + marker + "\r");
    EXPECT_TRUE(device.waitFor("\n" + marker + "\r\n")) << line;
    std::string screen = device.output().substr(from);
    return screen.substr(0, screen.find("\n" + marker + "\r\n"));
}

inline size_t count(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

}  // namespace vela::test::spine

#endif
