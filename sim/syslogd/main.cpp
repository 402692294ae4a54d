// syslogd: the simulated device's system log daemon.
//   syslogd [--ready-fd N]
// Takes records on /dev/log and keeps each as "PRIORITY, IDENTITY, PID, MESSAGE" in the
// state directory's record file. After every SIGHUP it reads the listener directory
// anew and from then on sends each new log line to every socket found there.
// --ready-fd N: a byte is written to descriptor N once /dev/log is bound.
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "DevicePaths.h"
#include "Forwarder.h"
#include "LogRecord.h"
#include "RecordFile.h"
#include "unique_fd.h"

namespace {

int usage() {
    std::fputs("usage: syslogd [--ready-fd N]\n", stderr);
    return 2;
}

vela::UniqueFd bindDevLog() {
    vela::UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd) return fd;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, sim::paths::kDevLog);
    ::unlink(sim::paths::kDevLog);
    if (::bind(fd.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::chmod(sim::paths::kDevLog, 0666) != 0)
        fd.reset();
    return fd;
}

}  // namespace

int main(int argc, char **argv) {
    int readyFd = -1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ready-fd") == 0 && i + 1 < argc) {
            char *end = nullptr;
            long value = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || value < 0 || value > 65535) return usage();
            readyFd = static_cast<int>(value);
        } else {
            return usage();
        }
    }
    // The shell finds the daemon by this name.
    ::prctl(PR_SET_NAME, "syslogd");

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    ::sigprocmask(SIG_BLOCK, &signals, nullptr);
    vela::UniqueFd signalFd(::signalfd(-1, &signals, SFD_CLOEXEC));

    vela::UniqueFd logSocket = bindDevLog();
    if (!logSocket || !signalFd) {
        std::fprintf(stderr, "syslogd: cannot bind %s: %s\n", sim::paths::kDevLog,
                     std::strerror(errno));
        return 1;
    }
    sim::RecordFile records(std::string(sim::paths::kStateDir) + "/" +
                            sim::paths::kSyslogRecordsFile);
    sim::Forwarder forwarder;
    if (readyFd >= 0) {
        // The launcher only waits for the byte or the end of the pipe.
        (void)!::write(readyFd, "1", 1);
        ::close(readyFd);
    }

    std::vector<char> buffer(65536);
    for (;;) {
        pollfd fds[2] = {{signalFd.get(), POLLIN, 0}, {logSocket.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            std::perror("syslogd: poll");
            return 1;
        }
        // Signals first: a SIGHUP sent before a record must govern that record.
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info;
            if (::read(signalFd.get(), &info, sizeof info) == sizeof info) {
                if (info.ssi_signo != SIGHUP) return 0;
                forwarder.rescan(sim::paths::kSyslogListenerDir);
            }
            continue;
        }
        if (fds[1].revents & POLLIN) {
            ssize_t n = ::recv(logSocket.get(), buffer.data(), buffer.size(), 0);
            if (n <= 0) continue;
            sim::LogRecord record =
                sim::parseLogRecord(std::string_view(buffer.data(), static_cast<size_t>(n)));
            records.append(
                {std::to_string(record.priority), record.identity, record.pid, record.message});
            if (forwarder.listenerCount() > 0)
                forwarder.send(sim::formatLogLine(record, std::time(nullptr)) + "\n");
        }
    }
}
