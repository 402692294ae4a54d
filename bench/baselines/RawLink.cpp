#include "RawLink.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

extern char **environ;

namespace vela::bench::raw {

bool writeAll(int fd, const char *data, size_t len) {
    while (len > 0) {
        ssize_t n = ::write(fd, data, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

bool writeText(int fd, const char *text) {
    return writeAll(fd, text, strlen(text));
}

bool sendText(int fd, const char *text) {
    size_t len = strlen(text);
    while (len > 0) {
        ssize_t n = ::send(fd, text, len, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

int connectApplication() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(kApplicationPort);
    ::inet_pton(AF_INET, kApplicationAddress, &peer.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&peer), sizeof peer) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

const char *LineReader::next() {
    for (;;) {
        char *begin = buffer_ + start_;
        if (void *lf = memchr(begin, '\n', held_)) {
            char *end = static_cast<char *>(lf);
            *end = '\0';
            size_t used = static_cast<size_t>(end - begin) + 1;
            start_ += used;
            held_ -= used;
            return begin;
        }
        memmove(buffer_, begin, held_);
        start_ = 0;
        if (held_ == sizeof buffer_) return nullptr;
        ssize_t n = ::read(fd_, buffer_ + held_, sizeof buffer_ - held_);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return nullptr;
        held_ += static_cast<size_t>(n);
    }
}

bool LineReader::holdsLine() const {
    return memchr(buffer_ + start_, '\n', held_) != nullptr;
}

int exchange(int fd, LineReader &reader, const char *message) {
    if (!sendText(fd, message)) return kNoReply;
    while (const char *line = reader.next()) {
        if (line[0] == 'R' && strlen(line) > 3) return atoi(line + 3);
    }
    return kNoReply;
}

bool readSetting(const char *name, char *value, size_t room) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    const char *argv[] = {kConfigTool, "config", name, "0", nullptr};
    pid_t pid = -1;
    int rc =
        posix_spawn(&pid, kConfigTool, &actions, nullptr, const_cast<char *const *>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    char answer[2048];
    size_t len = 0;
    while (rc == 0 && len < sizeof answer - 1) {
        ssize_t n = ::read(pipeFds[0], answer + len, sizeof answer - 1 - len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        len += static_cast<size_t>(n);
    }
    ::close(pipeFds[0]);
    if (rc == 0) {
        int status;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    answer[len] = '\0';
    char prefix[300];
    snprintf(prefix, sizeof prefix, "config %s 0 ", name);
    size_t prefixLen = strlen(prefix);
    if (rc != 0 || strncmp(answer, prefix, prefixLen) != 0) return false;
    size_t valueLen = strcspn(answer + prefixLen, "\r\n");
    if (valueLen >= room) valueLen = room - 1;
    memcpy(value, answer + prefixLen, valueLen);
    value[valueLen] = '\0';
    return true;
}

void makeRaw(int fd) {
    termios t;
    if (::tcgetattr(fd, &t) != 0) return;
    t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | ISIG);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &t);
}

int bindDatagram(const char *path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (strlen(path) >= sizeof address.sun_path) return -1;
    strcpy(address.sun_path, path);
    ::unlink(path);
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::chmod(path, 0666) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace vela::bench::raw
