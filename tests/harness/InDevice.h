// Sockets made inside a running device, for tests that play a part beside the shell.
#ifndef VELA_HARNESS_IN_DEVICE_H
#define VELA_HARNESS_IN_DEVICE_H

#include <sys/socket.h>
#include <sys/types.h>

#include "unique_fd.h"

namespace vela::test {

// A socket of this type made in the namespaces of the device whose init is initPid,
// connected to address, or bound to it when bind is set (a file already at that path
// is replaced; the socket is made writable for all). TCP sockets send without delay.
// Owned by the caller; empty on failure. Any thread.
vela::UniqueFd socketInDevice(pid_t initPid, const sockaddr *address, socklen_t length, int type,
                              bool bind);

}  // namespace vela::test

#endif
