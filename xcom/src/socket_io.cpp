// Waits on one socket and the line writer. Every system call restarts after EINTR.
#include "socket_io.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "diagnostics.h"
#include "libxcom.h"
#include "monotonic_clock.h"

namespace xcom {
namespace {

using Clock = std::chrono::steady_clock;

short to_events(int flags) noexcept {
    short events = 0;
    if (flags & XCOM_SELECT_READ) events |= POLLIN | POLLRDNORM;
    if (flags & XCOM_SELECT_WRITE) events |= POLLOUT | POLLWRNORM;
    if (flags & XCOM_SELECT_EXCEPTION) events |= POLLERR | POLLHUP | POLLNVAL;
    return events;
}

int to_flags(short revents) noexcept {
    int flags = 0;
    if (revents & (POLLIN | POLLRDNORM)) flags |= XCOM_SELECT_READ;
    if (revents & (POLLOUT | POLLWRNORM)) flags |= XCOM_SELECT_WRITE;
    if (revents & (POLLERR | POLLHUP | POLLNVAL)) flags |= XCOM_SELECT_EXCEPTION;
    return flags;
}

int to_milliseconds(int seconds) noexcept {
    if (seconds <= 0) return seconds;
    return seconds > INT_MAX / 1000 ? INT_MAX : seconds * 1000;
}

// Milliseconds left until deadline, rounded up so that a wait never ends early.
int remaining(Clock::time_point deadline) noexcept {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - vela::monotonic_now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

ssize_t send_once(int socket, const char *bytes, std::size_t count) noexcept {
    // Never blocks in the call itself, even on a blocking socket: the wait is ours.
    ssize_t sent;
    do {
        sent = ::send(socket, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    return sent;
}

}  // namespace

int write_line(int socket, const char *line, int wait_seconds) noexcept {
    if (line == nullptr) return -1;
    const char *next = line;
    std::size_t left = std::strlen(line);
    while (left > 0) {
        const int ready =
            selectOne(socket, XCOM_SELECT_WRITE | XCOM_SELECT_EXCEPTION, wait_seconds);
        if (ready == 0) return 0;
        if (ready < 0) {
            warn("socket write: select() error\n");
            return -1;
        }
        if (ready & XCOM_SELECT_EXCEPTION) {
            warn("socket input: socket exception\n");
            return -1;
        }
        const ssize_t sent = send_once(socket, next, left);
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (sent < 0) {
            const int error = errno;
            warn("send() error %d %s %d\n", error, error_text(error).text,
                 static_cast<int>(left > INT_MAX ? INT_MAX : left));
            return -1;
        }
        if (sent == 0) {
            warn("send() returned 0?\n");
            return -1;
        }
        next += sent;
        left -= static_cast<std::size_t>(sent);
    }
    return 0;
}

}  // namespace xcom

extern "C" {

int selectOne(int socket, int flags, int timeout) noexcept {
    if (socket < 0) {
        errno = EBADF;
        return -1;
    }
    pollfd entry{socket, xcom::to_events(flags), 0};
    const int timeout_ms = xcom::to_milliseconds(timeout);
    const auto deadline = vela::monotonic_now() + std::chrono::milliseconds(timeout_ms);
    int wait_ms = timeout_ms;
    for (;;) {
        const int result = ::poll(&entry, 1, wait_ms);
        if (result == 0) return 0;
        if (result > 0) return xcom::to_flags(entry.revents);
        if (errno != EINTR) return -1;
        // A signal must not stretch the wait: poll again for what is left of it.
        if (timeout_ms > 0) wait_ms = xcom::remaining(deadline);
    }
}

int socket_write_line(int socket, const char *line) noexcept {
    return xcom::write_line(socket, line, xcom::kWaitSeconds);
}

}  // extern "C"
