#include "Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>
#include <thread>

#include "unique_fd.h"

namespace vela::test {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const char *what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// Starts argv with fds as its standard input, output and error, or, given a terminal,
// as the leader of a new session on that terminal. Only system calls after the fork.
pid_t spawn(const std::vector<std::string> &args, const std::array<int, 3> &fds,
            const char *terminal) {
    std::vector<char *> argv;
    for (const auto &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) fail("fork");
    if (pid > 0) return pid;
    int tty = -1;
    if (terminal != nullptr) {
        ::setsid();
        tty = ::open(terminal, O_RDWR);
        if (tty < 0 || ::ioctl(tty, TIOCSCTTY, 0) != 0) ::_exit(126);
    }
    for (int i = 0; i < 3; ++i)
        ::dup2(tty >= 0 ? tty : fds[i], i);
    // Nothing of the test's descriptors and signal mask.
    ::syscall(SYS_close_range, 3U, ~0U, 0U);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

void drain(int &fd, std::string &into) {
    char buffer[4096];
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        into.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        ::close(fd);
        fd = -1;
    }
}

int exitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

RunResult runProcess(const std::vector<std::string> &args, std::chrono::milliseconds timeout) {
    int out[2], err[2];
    vela::UniqueFd null(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!null || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) fail("pipe");
    const pid_t pid = spawn(args, {null.get(), out[1], err[1]}, nullptr);
    ::close(out[1]);
    ::close(err[1]);

    RunResult result;
    int fds[2] = {out[0], err[0]};
    auto deadline = Clock::now() + timeout;
    std::optional<int> status;
    // A background process of the child may keep the pipes open: stop reading once the
    // child has ended and nothing more is waiting.
    while ((fds[0] >= 0 || fds[1] >= 0) && Clock::now() < deadline) {
        pollfd polls[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
        int ready = ::poll(polls, 2, status ? 0 : 20);
        if (ready > 0) {
            if (polls[0].revents) drain(fds[0], result.out);
            if (polls[1].revents) drain(fds[1], result.err);
        } else if (status) {
            break;
        } else {
            status = waitChild(pid, std::chrono::milliseconds(0));
        }
    }
    for (int fd : fds) {
        if (fd >= 0) ::close(fd);
    }
    if (!status) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        status = waitChild(pid, std::max(left, std::chrono::milliseconds(0)));
    }
    if (!status) {
        // Asked politely, the launcher reaps what it started inside the device.
        ::kill(pid, SIGTERM);
        if (!waitChild(pid, std::chrono::seconds(1))) {
            ::kill(pid, SIGKILL);
            waitChild(pid, std::chrono::seconds(5));
        }
    }
    result.status = status.value_or(-1);
    return result;
}

pid_t spawnOnTerminal(const std::vector<std::string> &args, const std::string &slavePath) {
    return spawn(args, {-1, -1, -1}, slavePath.c_str());
}

std::optional<int> waitChild(pid_t pid, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return exitCodeOf(status);
        if (done < 0 && errno != EINTR) return -1;
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace vela::test
