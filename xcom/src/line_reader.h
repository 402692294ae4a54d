// The line reader, internal side.
#pragma once

#include "line_buffer.h"

namespace xcom {

// socket_read_line over held bytes the caller has adopted. Called by the one thread
// that reads the socket; line is the caller's (XCOM_LINE_BUFFER_SIZE bytes).
int read_line(int socket, HeldBytes &held, char *line, int timeout) noexcept;

}  // namespace xcom
