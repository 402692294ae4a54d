#include "Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

namespace vela::test {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const char *what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// argv as execv wants it; the strings stay owned by the caller's vector.
std::vector<char *> argvOf(const std::vector<std::string> &args) {
    std::vector<char *> argv;
    for (const auto &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// In a fresh child: closes every descriptor above 2 and the signal mask of the test.
void cleanChild() {
    ::syscall(SYS_close_range, 3U, ~0U, 0U);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
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

}  // namespace

int exitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

RunResult runProcess(const std::vector<std::string> &args, const std::string &input,
                     std::chrono::milliseconds timeout) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0) fail("pipe");
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) fail("pipe");
    auto argv = argvOf(args);
    pid_t pid = ::fork();
    if (pid < 0) fail("fork");
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        cleanChild();
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    // Small inputs fit the pipe; a reader that never reads must not hang the test.
    ::fcntl(in[1], F_SETFL, O_NONBLOCK);
    (void)!::write(in[1], input.data(), input.size());
    ::close(in[1]);

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
    auto argv = argvOf(args);
    const char *slave = slavePath.c_str();
    pid_t pid = ::fork();
    if (pid < 0) fail("fork");
    if (pid == 0) {
        ::setsid();
        int fd = ::open(slave, O_RDWR);
        if (fd < 0 || ::ioctl(fd, TIOCSCTTY, 0) != 0) ::_exit(126);
        ::dup2(fd, 0);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        cleanChild();
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
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
