// Starting the device's telnet daemons: what they run and when they are ready.
#ifndef SIM_TELNET_DAEMONS_H
#define SIM_TELNET_DAEMONS_H

#include <string>
#include <vector>

#include "TelnetPaths.h"

namespace sim::telnet {

// The daemon's command line for service, argv[0] first (looked up on the device's
// search path). Any thread.
std::vector<std::string> daemonCommand(const Service &service);

// True when a TCP socket of the caller's network namespace listens on port, as the
// kernel's tables (/proc/net/tcp6 and /proc/net/tcp) show. Any thread.
bool isListening(int port);

// The local port of a table line ("N: ADDRESS:PORT REMOTE STATE ...") in the listening
// state, or -1 for any other line. Pure; for tests.
int listeningPortOf(const std::string &tableLine);

}  // namespace sim::telnet

#endif
