// The device's telnet service: ports, daemons and the login programs they run.
#ifndef SIM_TELNET_PATHS_H
#define SIM_TELNET_PATHS_H

namespace sim::telnet {

// One telnet daemon: its port and the login program that starts its sessions.
struct Service {
    int port;
    const char *loginName;  // in kSbinDir of the device (DevicePaths.h)
    const char *pidFile;    // in the state directory
};

// Port 23 serves the shell's telnet sessions, port 24 its API sessions.
inline constexpr Service kServices[] = {
    {23, "telnetd-login-23", "telnetd23.pid"},
    {24, "telnetd-login-24", "telnetd24.pid"},
};

// Both daemons write here, in the state directory.
inline constexpr const char *kTelnetdOutputFile = "telnetd.out";

// What the daemons run: busybox by that name, so that the daemon's first
// command-line word does not count as a telnet session.
inline constexpr const char *kBusybox = "busybox";

// The first command-line word of every telnet session's shell.
inline constexpr const char *kSessionArgv0 = "telnetd-session";

}  // namespace sim::telnet

#endif
