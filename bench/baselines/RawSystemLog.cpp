#include "RawSystemLog.h"

#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>

namespace vela::bench::raw {

SessionLog::SessionLog(int terminal) {
    char tty[64];
    const char *leaf = "unknown";
    if (ttyname_r(terminal, tty, sizeof tty) == 0) {
        const char *slash = strrchr(tty, '/');
        leaf = slash ? slash + 1 : tty;
    }
    snprintf(session_, sizeof session_, "telnet%s", leaf);

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strcpy(address.sun_path, "/dev/log");
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

SessionLog::~SessionLog() {
    if (fd_ >= 0) ::close(fd_);
}

size_t SessionLog::formatHeader(time_t when, char *out, size_t room) {
    tm local;
    localtime_r(&when, &local);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", &local);
    int n = snprintf(out, room, "<%d>%s vela: ", LOG_UUCP | LOG_NOTICE, stamp);
    return n < 0 ? 0 : static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room - 1;
}

bool SessionLog::record(int count, const char *kind, const char *line, size_t len) {
    const time_t now = time(nullptr);
    if (now != stamped_) {
        headerLen_ = formatHeader(now, record_, sizeof record_);
        stamped_ = now;
    }
    size_t used = headerLen_;
    int n = snprintf(record_ + used, sizeof record_ - used, "API:%s:%d:%s:", session_, count, kind);
    if (n < 0) return false;
    used += static_cast<size_t>(n);
    if (used + len + 1 > sizeof record_) return false;
    memcpy(record_ + used, line, len);
    used += len;
    record_[used++] = '\n';
    ssize_t sent;
    do {
        sent = ::send(fd_, record_, used, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(used);
}

}  // namespace vela::bench::raw
