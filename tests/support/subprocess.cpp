#include "subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>

#include "unique_fd.h"

namespace vela::test {

namespace {

using Clock = std::chrono::steady_clock;

// Starts argv with /dev/null as its input and output as its output and error.
pid_t spawn(const std::vector<std::string> &args, int output) {
    std::vector<char *> argv;
    for (const auto &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
    if (pid > 0) return pid;
    ::dup2(::open("/dev/null", O_RDWR), 0);
    ::dup2(output, 1);
    ::dup2(output, 2);
    execChild(argv.data());
}

}  // namespace

RunResult runProcess(const std::vector<std::string> &args, std::chrono::milliseconds timeout) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category());
    vela::UniqueFd reading(pipe[0]);
    const pid_t pid = spawn(args, pipe[1]);
    ::close(pipe[1]);
    RunResult result;
    const auto deadline = Clock::now() + timeout;
    std::optional<int> status;
    // A background process of the child may keep the pipe open: stop reading once the
    // child has ended and nothing more is waiting.
    while (Clock::now() < deadline) {
        pollfd fd{reading.get(), POLLIN, 0};
        char buffer[4096];
        const ssize_t n = ::poll(&fd, 1, status ? 0 : 20) > 0
                              ? ::read(reading.get(), buffer, sizeof buffer)
                              : (status ? 0 : -1);
        if (n > 0) result.out.append(buffer, static_cast<size_t>(n));
        if (n == 0 || (n < 0 && status)) break;
        if (!status) status = waitChild(pid, std::chrono::milliseconds(0));
    }
    if (!status)
        status = waitChild(
            pid,
            std::max(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()),
                     std::chrono::milliseconds(0)));
    if (!status) {
        // Asked politely, the launcher reaps what it started inside the device.
        ::kill(pid, SIGTERM);
        if (!waitChild(pid, std::chrono::seconds(1))) ::kill(pid, SIGKILL);
        waitChild(pid, std::chrono::seconds(5));
    }
    result.status = status.value_or(-1);
    return result;
}

void execChild(char *const argv[]) {
    ::syscall(SYS_close_range, 3U, ~0U, 0U);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(argv[0], argv);
    ::_exit(127);
}

std::optional<int> waitChild(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
        if (done < 0 && errno != EINTR) return -1;
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace vela::test
