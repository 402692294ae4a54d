#include "Options.h"

#include <unistd.h>

#include <charconv>
#include <string_view>

#include "KeyValueFile.h"

namespace sim::device {

const char *usageText() {
    return "usage: device [OPTIONS] [--] COMMAND [ARG...]\n"
           "       device --join PID [--] COMMAND [ARG...]\n"
           "Runs COMMAND in a private simulated device and exits with its status.\n"
           "  --state DIR                  host directory of the device's state (/opt/sim)\n"
           "  --install HOSTPATH=DEVPATH   puts a host file or directory at a path under /opt\n"
           "                               or /tmp (a directory stays writable)\n"
           "  --setting NAME=VALUE         initial device setting\n"
           "  --no-ready                   no /tmp/VelaReady\n"
           "  --no-listener-dirs           neither listener directory\n"
           "  --no-api-listener-dir        no /tmp/apiasynclisteners\n"
           "  --no-syslog-listener-dir     no /tmp/sysloglisteners\n"
           "  --no-zuz, --no-syslogd       without the application, without the log daemon\n"
           "  --zuz-late                   the application listens only once the device has\n"
           "                               refused a TCP connection\n"
           "  --lockout-ms MS              how long failed logins lock a terminal\n"
           "  --telnetd                    telnet daemons: port 23 telnet, port 24 api sessions\n"
           "  --forward HOSTPORT:DEVPORT   relays the host's 127.0.0.1:HOSTPORT to DEVPORT\n"
           "  --sim-bin DIR                where the stand-in programs are\n"
           "  --join PID                   run COMMAND inside the device whose init is PID\n";
}

namespace {

bool parseNumber(std::string_view text, long min, long max, long &value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size() && value >= min &&
           value <= max;
}

bool validDevicePath(const std::string &path) {
    bool underPrivateMount = path.rfind("/opt/", 0) == 0 || path.rfind("/tmp/", 0) == 0;
    bool inState = path == "/opt/sim" || path.rfind("/opt/sim/", 0) == 0;
    return underPrivateMount && !inState && path.find("/../") == std::string::npos &&
           path.find("/./") == std::string::npos && path.back() != '/' &&
           (path.size() < 3 || path.compare(path.size() - 3, 3, "/..") != 0);
}

bool fail(std::string &error, std::string message) {
    error = std::move(message);
    return false;
}

}  // namespace

bool parseOptions(int argc, char **argv, Options &options, std::string &error) {
    int i = 1;
    auto value = [&](std::string_view name, std::string &out) {
        if (i + 1 >= argc) {
            error = std::string(name) + " needs a value";
            return false;
        }
        out = argv[++i];
        return true;
    };
    for (; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string text;
        long number = 0;
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg.empty() || arg[0] != '-') break;
        if (arg == "--state") {
            if (!value(arg, options.stateDir)) return false;
            if (options.stateDir.empty()) return fail(error, "--state needs a directory");
        } else if (arg == "--sim-bin") {
            if (!value(arg, options.simBin)) return false;
        } else if (arg == "--install") {
            if (!value(arg, text)) return false;
            size_t eq = text.rfind('=');
            if (eq == std::string::npos || eq == 0)
                return fail(error, "--install needs HOSTPATH=DEVICEPATH");
            Install install{text.substr(0, eq), text.substr(eq + 1)};
            if (!validDevicePath(install.devicePath))
                return fail(error, "--install: " + install.devicePath +
                                       " is not a path under /opt or /tmp (outside /opt/sim)");
            if (::access(install.hostPath.c_str(), R_OK) != 0)
                return fail(error, "--install: cannot read " + install.hostPath);
            options.installs.push_back(std::move(install));
        } else if (arg == "--setting") {
            if (!value(arg, text)) return false;
            size_t eq = text.find('=');
            std::string name = text.substr(0, eq);
            if (eq == std::string::npos || !KeyValueFile::validName(name))
                return fail(error, "--setting needs NAME=VALUE with a NAME without blanks");
            options.settings.emplace_back(name, text.substr(eq + 1));
        } else if (arg == "--no-ready") {
            options.readyMarker = false;
        } else if (arg == "--no-listener-dirs") {
            options.apiListenerDir = options.syslogListenerDir = false;
        } else if (arg == "--no-api-listener-dir") {
            options.apiListenerDir = false;
        } else if (arg == "--no-syslog-listener-dir") {
            options.syslogListenerDir = false;
        } else if (arg == "--no-zuz") {
            options.zuz = false;
        } else if (arg == "--no-syslogd") {
            options.syslogd = false;
        } else if (arg == "--zuz-late") {
            options.zuzLate = true;
        } else if (arg == "--lockout-ms") {
            if (!value(arg, text)) return false;
            if (!parseNumber(text, 0, 86400000, options.lockoutMs))
                return fail(error, "--lockout-ms needs milliseconds (0..86400000)");
        } else if (arg == "--telnetd") {
            options.telnetd = true;
        } else if (arg == "--forward") {
            telnet::ForwardRule rule;
            if (!value(arg, text)) return false;
            if (!telnet::parseForwardRule(text, rule))
                return fail(error, "--forward needs HOSTPORT:DEVICEPORT (1..65535 each)");
            options.forwards.push_back(rule);
        } else if (arg == "--join") {
            if (!value(arg, text)) return false;
            if (!parseNumber(text, 1, 0x3fffffff, number))
                return fail(error, "--join needs a process id");
            options.joinPid = static_cast<pid_t>(number);
        } else {
            error = "unknown option " + std::string(arg);
            return false;
        }
    }
    for (; i < argc; ++i)
        options.command.emplace_back(argv[i]);
    if (options.command.empty()) {
        error = "no command given";
        return false;
    }
    return true;
}

}  // namespace sim::device
