// A host-side TCP relay into a device: a person's telnet client connects to the
// host's 127.0.0.1, and each connection is carried to a port of the device.
#ifndef SIM_TELNET_FORWARDER_H
#define SIM_TELNET_FORWARDER_H

#include <string_view>
#include <vector>

#include "unique_fd.h"

namespace sim::telnet {

struct ForwardRule {
    int hostPort = 0;
    int devicePort = 0;
};

// Reads "HOSTPORT:DEVICEPORT" (each 1..65535); false for anything else. Any thread.
bool parseForwardRule(std::string_view text, ForwardRule &rule);

struct ForwardListener {
    vela::UniqueFd socket;  // listens on the host's 127.0.0.1:hostPort
    int devicePort = 0;
};

// Listens on 127.0.0.1:hostPort of the caller's network namespace for each rule; the
// caller owns the sockets. Throws std::system_error naming the port that failed.
std::vector<ForwardListener> listenForRules(const std::vector<ForwardRule> &rules);

// Serves the listeners until the process is killed: each accepted connection gets a
// connection to 127.0.0.1:devicePort of the caller's network namespace, and bytes are
// copied both ways until both sides have finished. Single-threaded; never returns.
[[noreturn]] void runForwarder(std::vector<ForwardListener> listeners);

}  // namespace sim::telnet

#endif
