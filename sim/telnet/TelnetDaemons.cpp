#include "TelnetDaemons.h"

#include <fstream>
#include <sstream>

#include "DevicePaths.h"

namespace sim::telnet {

namespace {

constexpr unsigned long kListenState = 0x0A;

bool parseHex(const std::string &text, unsigned long max, unsigned long &value) {
    if (text.empty() || text.size() > 8) return false;
    size_t used = 0;
    try {
        value = std::stoul(text, &used, 16);
    } catch (const std::exception &) {
        return false;
    }
    return used == text.size() && value <= max;
}

bool listensIn(const char *table, int port) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
        if (listeningPortOf(line) == port) return true;
    }
    return false;
}

}  // namespace

std::vector<std::string> daemonCommand(const Service &service) {
    // -F: stay in the foreground, a child of the init; -f: no issue file before the
    // shell's own banner. Without -K a session's last output still reaches its client.
    return {kBusybox,
            "telnetd",
            "-F",
            "-p",
            std::to_string(service.port),
            "-f",
            "/dev/null",
            "-l",
            std::string(paths::kSbinDir) + "/" + service.loginName};
}

int listeningPortOf(const std::string &tableLine) {
    std::istringstream fields(tableLine);
    std::string slot, local, remote, state;
    if (!(fields >> slot >> local >> remote >> state)) return -1;
    size_t colon = local.rfind(':');
    unsigned long port = 0, stateValue = 0;
    if (colon == std::string::npos || !parseHex(local.substr(colon + 1), 0xFFFF, port) ||
        !parseHex(state, 0xFF, stateValue) || stateValue != kListenState)
        return -1;
    return static_cast<int>(port);
}

bool isListening(int port) {
    return listensIn("/proc/net/tcp6", port) || listensIn("/proc/net/tcp", port);
}

}  // namespace sim::telnet
