// Opening the client's TCP connection.
#pragma once

#include "unique_fd.h"

namespace xcom {

// Resolves server to its first IPv4 address and connects to it on port within
// wait_seconds. Returns the connected, non-blocking, close-on-exec socket, owned by the
// caller, or an invalid one on any failure (nothing printed, nothing left open). Any thread.
vela::UniqueFd tcp_connect(const char *server, int port, int wait_seconds) noexcept;

}  // namespace xcom
