// Sockets made inside a running device, for tests that play a part beside the shell.
#ifndef VELA_HARNESS_IN_DEVICE_H
#define VELA_HARNESS_IN_DEVICE_H

#include <sys/socket.h>
#include <sys/types.h>

#include "unique_fd.h"

namespace vela::test {

// A socket of this type made in the namespaces of the device whose init is initPid,
// connected to address. TCP sockets send without delay. Owned by the caller; empty on
// failure. Any thread.
vela::UniqueFd socketInDevice(pid_t initPid, const sockaddr *address, socklen_t length, int type);

}  // namespace vela::test

#endif
