// Listener sockets.

#include "listener.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "console.h"
#include "device_paths.h"
#include "session_config.h"

namespace {

constexpr size_t kSocketPathRoom = 128;

// Reports a failed step unless the terminal is read by a program that must not see
// stray text.
void report_socket_error(const SessionConfig &config, const SessionLog &log, const char *step) {
    if (config.quiet_terminal()) return;
    shell_println(log, "%s: %s() error: %s", "setupSocket", step, strerror(errno));
}

}  // namespace

int setupSocket(const SessionConfig &config, const SessionLog &log, const char *pipe_name,
                char *fullname_buffer) {
    char path[kSocketPathRoom];
    snprintf(path, sizeof path, "%s%svela%s", paths::kListenerRoot, pipe_name, config.tty_leaf());
    unlink(path);

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    size_t path_len = strlen(path);
    if (path_len < sizeof address.sun_path) memcpy(address.sun_path, path, path_len + 1);

    int result = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (result < 0) report_socket_error(config, log, "socket");
    // Each step runs even after an earlier one failed, and reports its own failure.
    int bound = -1;
    if (path_len < sizeof address.sun_path) {
        socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path_len);
        bound = bind(result, reinterpret_cast<sockaddr *>(&address), length);
    } else {
        errno = ENAMETOOLONG;
    }
    if (bound != 0) {
        report_socket_error(config, log, "bind");
        if (result >= 0) close(result);
        result = -1;
    }
    // A planted symbolic link in place of the socket must not lend its target our mode.
    if (fchmodat(AT_FDCWD, path, 0666, AT_SYMLINK_NOFOLLOW) != 0) {
        report_socket_error(config, log, "chmod");
        if (result >= 0) close(result);
        result = -1;
    }
    if (result >= 0 && fullname_buffer != nullptr)
        snprintf(fullname_buffer, kSocketPathRoom, "%s", path);
    return result;
}
