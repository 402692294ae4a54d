// Sockets made inside a running device, for tests that play the shell's part.
#ifndef VELA_HARNESS_IN_DEVICE_H
#define VELA_HARNESS_IN_DEVICE_H

#include <sys/types.h>

#include <string>

#include "UniqueFd.h"

namespace vela::test {

// A TCP connection to 127.0.0.1:port inside the device whose init is initPid; an empty
// handle when it is refused. Any thread.
sim::UniqueFd connectInDevice(pid_t initPid, int port);
// The same to [::1]:port, the device's IPv6 loopback.
sim::UniqueFd connectInDevice6(pid_t initPid, int port);

// A datagram socket bound to devicePath inside the device (an existing file there is
// replaced); an empty handle on failure. Any thread.
sim::UniqueFd bindDatagramInDevice(pid_t initPid, const std::string &devicePath);

// A datagram socket inside the device connected to devicePath (e.g. /dev/log), owned
// by the caller; empty on failure. Any thread.
sim::UniqueFd connectDatagramInDevice(pid_t initPid, const std::string &devicePath);

}  // namespace vela::test

#endif
