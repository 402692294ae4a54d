#include "terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <system_error>
#include <thread>

#include "time_scale.h"

namespace vela::test {
namespace {

[[noreturn]] void systemError(const char *what) {
    throw std::system_error(errno, std::generic_category(), what);
}

int msUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, 3600 * 1000));
}

Clock::time_point after(std::chrono::milliseconds timeout) {
    return Clock::now() + scaled(timeout);
}

double secondsOf(const timeval &t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// In the child just forked, which may only make async-signal-safe calls: argv with none
// of the parent's descriptors from 3 on and an empty signal mask; 127 when it cannot.
[[noreturn]] void execChild(char *const argv[]) {
    ::syscall(SYS_close_range, 3U, ~0U, 0U);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(argv[0], argv);
    ::_exit(127);
}

}  // namespace

Terminal::Terminal(vela::UniqueFd stream) : stream_(std::move(stream)), reapedCpu_(NAN) {
    ::fcntl(stream_.get(), F_SETFL, ::fcntl(stream_.get(), F_GETFL) | O_NONBLOCK);
}

Terminal::Terminal(Pty pty)
    : Terminal(vela::UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC))) {
    char name[64];
    const winsize size{24, pty.columns, 0, 0};
    if (!stream_ || ::grantpt(fd()) != 0 || ::unlockpt(fd()) != 0 ||
        ::ptsname_r(fd(), name, sizeof name) != 0 || ::ioctl(fd(), TIOCSWINSZ, &size) != 0)
        systemError("pty");
    slavePath_ = name;
    slave_.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios modes{};
    if (!slave_ || ::tcgetattr(slave_.get(), &modes) != 0) systemError("pty slave");
    if (pty.rawOutput) modes.c_oflag &= ~OPOST;
    ::tcsetattr(slave_.get(), TCSANOW, &modes);
}

Terminal::~Terminal() {
    kill();
    hangUp();
}

pid_t Terminal::start(const std::vector<std::string> &argv) {
    std::vector<char *> args;
    for (const auto &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    return start([&] { execChild(args.data()); });
}

pid_t Terminal::start(const std::function<void()> &child) {
    pid_ = ::fork();
    if (pid_ < 0) systemError("fork");
    if (pid_ == 0) {
        // The slave becomes the controlling terminal of the new session: hang-ups and
        // window sizes reach the child.
        if (::setsid() < 0 || ::ioctl(slave_.get(), TIOCSCTTY, 0) != 0) ::_exit(126);
        for (int fd = 0; fd < 3; ++fd)
            ::dup2(slave_.get(), fd);
        child();
        ::_exit(0);
    }
    slave_.reset();  // the program's end closes the last slave descriptor: the end of output
    return pid_;
}

std::optional<int> Terminal::waitExit(std::chrono::milliseconds timeout) {
    const auto deadline = after(timeout);
    while (pid_ > 0) {
        int status = 0;
        rusage usage{};
        const pid_t done = ::wait4(pid_, &status, WNOHANG, &usage);
        if (done == pid_) reapedCpu_ = secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime);
        if (done == pid_ || (done < 0 && errno != EINTR)) {
            pid_ = -1;
            return done < 0              ? -1
                   : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                         : WEXITSTATUS(status);
        }
        if (Clock::now() >= deadline) break;
        std::this_thread::sleep_for(2ms);
    }
    return std::nullopt;
}

int Terminal::kill() {
    if (pid_ <= 0) return -1;
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    return waitExit(std::chrono::hours(1)).value_or(-1);
}

bool Terminal::readSome(Clock::time_point deadline) {
    pollfd ready{stream_.get(), POLLIN, 0};
    if (!stream_ || ::poll(&ready, 1, msUntil(deadline)) <= 0) {
        std::lock_guard lock(mutex_);
        return !ended_;
    }
    char chunk[65536];
    const ssize_t n = ::read(stream_.get(), chunk, sizeof chunk);
    std::lock_guard lock(mutex_);
    if (n > 0) output_.append(chunk, static_cast<size_t>(n));
    // 0 or EIO: the other side has closed (every descriptor of a pty's slave).
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) ended_ = true;
    changed_.notify_all();
    return !ended_;
}

bool Terminal::waitUntil(Clock::time_point deadline, const std::function<bool()> &done) {
    std::unique_lock lock(mutex_);
    while (!done()) {
        if (ended_ || Clock::now() >= deadline) return false;
        if (reader_.joinable()) {
            changed_.wait_until(lock, deadline);
        } else {
            lock.unlock();
            readSome(deadline);
            lock.lock();
        }
    }
    return true;
}

bool Terminal::tryWrite(std::string_view &bytes) {
    const ssize_t n = stream_ ? ::write(stream_.get(), bytes.data(), bytes.size()) : -1;
    if (n > 0) bytes.remove_prefix(static_cast<size_t>(n));
    return n > 0 || errno == EAGAIN || errno == EINTR;
}

bool Terminal::type(std::string_view bytes, std::chrono::milliseconds timeout) {
    const auto deadline = after(timeout);
    while (!bytes.empty()) {
        if (!tryWrite(bytes)) return false;
        if (bytes.empty() || Clock::now() >= deadline) break;
        // Full: wait for room, reading what the program wrote meanwhile.
        pollfd ready{stream_.get(), static_cast<short>(POLLOUT | (reader_.joinable() ? 0 : POLLIN)),
                     0};
        ::poll(&ready, 1, msUntil(deadline));
        if ((ready.revents & (POLLIN | POLLHUP)) != 0 && !readSome(Clock::now())) return false;
    }
    return bytes.empty();
}

bool Terminal::waitFor(std::string_view text, std::chrono::milliseconds timeout) {
    return waitUntil(after(timeout), [&] {
        const size_t at = output_.find(text, matchEnd_);
        if (at != std::string::npos) matchEnd_ = at + text.size();
        return at != std::string::npos;
    });
}

std::optional<std::string> Terminal::readUntil(std::string_view text,
                                               std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    const size_t from = matchEnd_;
    lock.unlock();
    if (!waitFor(text, timeout)) return std::nullopt;
    lock.lock();
    return output_.substr(from, matchEnd_ - from);
}

std::optional<size_t> Terminal::drainUntil(std::string_view marker,
                                           std::chrono::milliseconds timeout) {
    const auto deadline = after(timeout);
    size_t total = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (output_.find(marker, matchEnd_) != std::string::npos) {
            output_.clear();
            matchEnd_ = 0;
            return total;
        }
        // Keep only what may hold the start of the marker.
        if (output_.size() > marker.size()) {
            output_.erase(0, output_.size() - marker.size());
            matchEnd_ = 0;
        }
        if (ended_ || Clock::now() >= deadline) return std::nullopt;
        const size_t kept = output_.size();
        lock.unlock();
        readSome(deadline);
        lock.lock();
        total += output_.size() - kept;
    }
}

bool Terminal::waitEnd(std::chrono::milliseconds timeout) {
    waitUntil(after(timeout), [] { return false; });
    std::lock_guard lock(mutex_);
    return ended_;
}

std::string Terminal::output() const {
    std::lock_guard lock(mutex_);
    return output_;
}

size_t Terminal::count(std::string_view text) const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (size_t at = output_.find(text); at != std::string::npos; at = output_.find(text, at + 1))
        ++n;
    return n;
}

void Terminal::discardOutput() {
    std::lock_guard lock(mutex_);
    output_.clear();
    matchEnd_ = 0;
}

void Terminal::keepReading() {
    if (reader_.joinable()) return;
    reader_ = std::thread([this] {
        while (!stop_ && readSome(Clock::now() + 20ms)) {
        }
    });
}

void Terminal::hangUp() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    std::lock_guard lock(mutex_);
    stream_.reset();
    ended_ = true;
    changed_.notify_all();
}

}  // namespace vela::test
