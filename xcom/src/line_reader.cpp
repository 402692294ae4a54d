// The line reader: waits and receives into the held bytes, hands out cleaned lines.
#include "line_reader.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "diagnostics.h"
#include "libxcom.h"
#include "line_cleaning.h"

namespace xcom {
namespace {

void report_nulls(const char *line) noexcept {
    warn("Data has embedded nulls. Data after filtering nulls:%s\n", line);
}

int take_line(int socket, HeldBytes &held, char *line, int length) noexcept {
    if (length > XCOM_MAX_LINE) {
        // Left held: the caller ends the socket, and a further call fails alike.
        warn("%d bytes invalid socket input (%d max)\n", length, XCOM_MAX_LINE);
        return -1;
    }
    std::memcpy(line, held.data(), static_cast<std::size_t>(length));
    line[length] = '\0';
    const int cleaned = clean_line(line, length, report_nulls);
    if (!held.consume(length)) {
        warn("XCOM: FATAL: socket_read_line() error: socket 0x%08x len (%d) > *buflen (%d)\n",
             hex(socket), length, held.size());
        return -1;
    }
    return cleaned;
}

// An empty datagram carries nothing; only a stream socket is closed by a 0 read.
bool is_datagram_socket(int socket) noexcept {
    int type = 0;
    socklen_t len = sizeof type;
    return getsockopt(socket, SOL_SOCKET, SO_TYPE, &type, &len) == 0 && type == SOCK_DGRAM;
}

ssize_t receive(int socket, char *into, int room, int flags) noexcept {
    ssize_t got;
    do {
        got = ::recv(socket, into, static_cast<std::size_t>(room), flags);
    } while (got < 0 && errno == EINTR);
    return got;
}

bool nothing_queued(ssize_t got) noexcept {
    return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

}  // namespace

int read_line(int socket, HeldBytes &held, char *line, int timeout) noexcept {
    for (;;) {
        if (const int length = held.find_line(); length > 0) {
            return take_line(socket, held, line, length);
        }
        if (held.free_space() <= 0) {
            warn("Buffer is full, current buffer size is %d", held.size());
            return -1;
        }
        // Without a time limit, bytes already queued are taken at once: the wait costs a
        // system call per segment, and a busy sender keeps the queue full.
        ssize_t got = -1;
        if (timeout <= 0)
            got = receive(socket, held.receive_area(), held.free_space(), MSG_DONTWAIT);
        if (timeout > 0 || nothing_queued(got)) {
            const int ready = selectOne(socket, XCOM_SELECT_READ, timeout > 0 ? timeout : -1);
            if (ready == 0) return 0;
            if (ready < 0) {
                warn("socket input: select() socket 0x%08x error %s\n", hex(socket),
                     error_text(errno).text);
                return -1;
            }
            got = receive(socket, held.receive_area(), held.free_space(), 0);
        }
        // A non-blocking socket may still have nothing after all: wait again.
        if (nothing_queued(got)) continue;
        if (got < 0) {
            const int error = errno;
            warn("socket input: recv() socket 0x%08x error2 %d %d %s\n", hex(socket),
                 static_cast<int>(got), error, error_text(error).text);
            return -1;
        }
        if (got == 0 && is_datagram_socket(socket)) continue;
        if (got == 0) {
            warn("remote socket 0x%08x now closed\n", hex(socket));
            return -1;
        }
        held.received(static_cast<int>(got));
    }
}

}  // namespace xcom

extern "C" int socket_read_line(int socket, char *buffer, int *buflen, char *line,
                                int timeout) noexcept {
    if (buffer == nullptr || buflen == nullptr || line == nullptr) return -1;
    xcom::HeldBytes held(buffer, buflen);
    return held.valid() ? xcom::read_line(socket, held, line, timeout) : -1;
}
