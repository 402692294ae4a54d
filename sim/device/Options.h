// Command line of the device launcher.
#ifndef SIM_DEVICE_OPTIONS_H
#define SIM_DEVICE_OPTIONS_H

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include "Forwarder.h"

namespace sim::device {

struct Install {
    std::string hostPath;
    std::string devicePath;
};

struct Options {
    std::string stateDir;  // empty: a private one that ends with the device
    std::string simBin;    // empty: the launcher's own directory
    std::vector<Install> installs;
    std::vector<std::pair<std::string, std::string>> settings;
    bool readyMarker = true;
    bool apiListenerDir = true;
    bool syslogListenerDir = true;
    bool zuz = true;
    bool syslogd = true;
    bool zuzLate = false;  // zuz listens only once a TCP connection has been refused
    long lockoutMs = -1;   // -1: zuz's own default
    bool telnetd = false;  // busybox telnetd on ports 23 (telnet) and 24 (api)
    std::vector<telnet::ForwardRule> forwards;  // host 127.0.0.1 ports into the device
    pid_t joinPid = 0;                          // non-zero: run the command in that running device
    std::vector<std::string> command;
};

// The usage text, static storage.
const char *usageText();

// Fills options from argv; on a bad command line returns false with a one-line
// message in error. Any thread.
bool parseOptions(int argc, char **argv, Options &options, std::string &error);

}  // namespace sim::device

#endif
