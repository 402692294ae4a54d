// Listener sockets and the API event reader.

#include "listener.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <semaphore.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <memory>

#include "console.h"
#include "libxcom.h"
#include "sender_filter.h"
#include "session.h"
#include "system_log.h"

namespace {

constexpr size_t kSocketPathRoom = 128;

// Reports a failed step unless the session is a serial API port, whose terminal is a
// program that must not see stray text.
void report_socket_error(const char *step) {
    if (strcmp(session_type, "api-serial") == 0) return;
    shell_println("%s: %s() error: %s", "setupSocket", step, strerror(errno));
}

// Hands line over as the awaited result, or collects it for printing.
void deliver_line(const char *line) {
    pthread_mutex_lock(&async_stdout_mut);
    if (waitingOnResponse == 1) {
        waitingOnResponse = 0;
        size_t len = strnlen(line, sizeof cmdResult - 1);  // a longer line is cut
        memcpy(cmdResult, line, len);
        cmdResult[len] = '\0';
        sem_post(&sem_result);
    } else {
        shell_io_printf(stdout_shio, "%s\n", line);
    }
    pthread_mutex_unlock(&async_stdout_mut);
}

}  // namespace

int setupSocket(const char *pipe_name, char *fullname_buffer) {
    const char *slash = strrchr(tty_name, '/');
    const char *leaf = slash ? slash + 1 : tty_name;
    char path[kSocketPathRoom];
    snprintf(path, sizeof path, "/tmp/%svela%s", pipe_name, leaf);
    unlink(path);

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    size_t path_len = strlen(path);
    if (path_len < sizeof address.sun_path) memcpy(address.sun_path, path, path_len + 1);

    int result = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (result < 0) report_socket_error("socket");
    // Each step runs even after an earlier one failed, and reports its own failure.
    int bound = -1;
    if (path_len < sizeof address.sun_path) {
        socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path_len);
        bound = bind(result, reinterpret_cast<sockaddr *>(&address), length);
    } else {
        errno = ENAMETOOLONG;
    }
    if (bound != 0) {
        report_socket_error("bind");
        if (result >= 0) close(result);
        result = -1;
    }
    // A planted symbolic link in place of the socket must not lend its target our mode.
    if (fchmodat(AT_FDCWD, path, 0666, AT_SYMLINK_NOFOLLOW) != 0) {
        report_socket_error("chmod");
        if (result >= 0) close(result);
        result = -1;
    }
    if (result >= 0 && fullname_buffer != nullptr)
        snprintf(fullname_buffer, kSocketPathRoom, "%s", path);
    return result;
}

void *apiAsyncEventReaderThread(void *) {
    int fd = api_async_event_fd.load();
    if (fd == -1) return nullptr;
    auto reader = std::make_unique<TrustedLineReader>(fd);
    auto line = std::make_unique<char[]>(XCOM_LINE_BUFFER_SIZE);
    int unflushed = 0;
    for (;;) {
        int len = reader->next_line(line.get());
        if (len == 0) continue;  // an empty line
        if (len < 0) break;
        if (gbPrintToSysLog) mysyslog("OUT:%s\n", line.get());
        deliver_line(line.get());
        flush_after_line(fd, &unflushed);
    }
    flush_background_output();
    if (gbPrintToSysLog)
        mysyslog("CRITICAL: XCOM buffer is full without new line, current buffer length: %d",
                 reader->held());
    api_async_event_fd.store(-1);
    close(fd);
    return nullptr;
}

void cle_lock_unlock_op(int lock, char *) {
    if (lock)
        pthread_mutex_lock(&async_stdout_mut);
    else
        pthread_mutex_unlock(&async_stdout_mut);
}

void cle_inline_state_tracker(int state) {
    cle_inline.store(state ? 1 : 0);
}

void flush_after_line(int fd, int *unflushed) {
    pollfd queued{fd, POLLIN, 0};
    if (++*unflushed < kFlushEvery && poll(&queued, 1, 0) == 1) return;
    flush_background_output();
    *unflushed = 0;
}

void flush_background_output() {
    pthread_mutex_lock(&async_stdout_mut);
    if (cle_inline.load() == 0) shell_io_flush(stdout_shio);
    pthread_mutex_unlock(&async_stdout_mut);
}
