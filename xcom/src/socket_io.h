// Socket waits and the line writer, internal side.
#pragma once

namespace xcom {

// How long each wait of the writer and of a connect lasts, in seconds.
inline constexpr int kWaitSeconds = 10;

// socket_write_line with its wait in seconds as a parameter. Any thread; callers
// sharing the socket serialise their calls.
int write_line(int socket, const char *line, int wait_seconds) noexcept;

}  // namespace xcom
