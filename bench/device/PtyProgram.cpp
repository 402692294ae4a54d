#include "PtyProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace vela::bench {
namespace {

constexpr size_t kReadChunk = 65536;

int msUntil(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60 * 60 * 1000));
}

double secondsOf(const timeval &t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

[[noreturn]] void systemError(const std::string &what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

PtyProgram::PtyProgram(const std::vector<std::string> &argv, std::string_view typedAhead) {
    if (argv.empty()) throw std::runtime_error("no program to start");
    master_.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master_ || ::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0)
        systemError("open a pty");
    char name[128];
    if (::ptsname_r(master_.get(), name, sizeof name) != 0) systemError("ptsname");
    slavePath_ = name;
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 80;
    ::ioctl(master_.get(), TIOCSWINSZ, &size);
    // The slave stays open from here to the child, so what is typed ahead is kept.
    vela::UniqueFd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave) systemError("open " + slavePath_);
    if (!typedAhead.empty()) typeShort(typedAhead);

    std::vector<char *> args;
    for (const auto &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    started_ = Clock::now();
    pid_ = ::fork();
    if (pid_ < 0) systemError("fork");
    if (pid_ == 0) {
        ::setsid();
        ::ioctl(slave.get(), TIOCSCTTY, 0);
        for (int fd = 0; fd < 3; ++fd)
            ::dup2(slave.get(), fd);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::fcntl(master_.get(), F_SETFL, ::fcntl(master_.get(), F_GETFL) | O_NONBLOCK);
}

PtyProgram::~PtyProgram() {
    kill();
}

int PtyProgram::kill() {
    if (pid_ <= 0) return 0;
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    int status = 0;
    rusage usage{};
    pid_t reaped;
    do {
        reaped = ::wait4(pid_, &status, 0, &usage);
    } while (reaped < 0 && errno == EINTR);
    if (reaped == pid_) reapedCpu_ = secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime);
    pid_ = -1;
    return status;
}

bool PtyProgram::readSome(Clock::time_point deadline) {
    if (ended_) return false;
    char chunk[kReadChunk];
    for (;;) {
        ssize_t n = ::read(master_.get(), chunk, sizeof chunk);
        if (n > 0) {
            output_.append(chunk, static_cast<size_t>(n));
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd fd{master_.get(), POLLIN, 0};
            int ready = ::poll(&fd, 1, msUntil(deadline));
            if (ready == 0) return true;  // nothing yet; the caller checks its deadline
            if (ready < 0 && errno != EINTR) systemError("poll the pty");
            continue;
        }
        ended_ = true;  // EIO: every slave descriptor is closed
        return false;
    }
}

void PtyProgram::fail(const std::string &what) const {
    size_t from = output_.size() > 400 ? output_.size() - 400 : 0;
    throw std::runtime_error(what + " (last output: \"" + output_.substr(from) + "\")");
}

void PtyProgram::typeShort(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(master_.get(), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            type(bytes);
            return;
        }
        if (n <= 0) systemError("type on the pty");
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

void PtyProgram::type(std::string_view bytes, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!bytes.empty()) {
        ssize_t n = ::write(master_.get(), bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) systemError("type on the pty");
        if (Clock::now() >= deadline) fail("typing did not finish in time");
        pollfd fd{master_.get(), POLLIN | POLLOUT, 0};
        if (::poll(&fd, 1, msUntil(deadline)) < 0 && errno != EINTR) systemError("poll the pty");
        if ((fd.revents & (POLLIN | POLLHUP)) && !readSome(Clock::now()))
            fail("the terminal ended while typing");
    }
}

void PtyProgram::waitFor(std::string_view text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    size_t from = matchEnd_;
    for (;;) {
        size_t at = output_.find(text, from);
        if (at != std::string::npos) {
            matchEnd_ = at + text.size();
            return;
        }
        if (output_.size() >= text.size()) from = std::max(from, output_.size() - text.size() + 1);
        if (Clock::now() >= deadline) fail("no \"" + std::string(text) + "\" in time");
        if (!readSome(deadline)) fail("the terminal ended before \"" + std::string(text) + "\"");
    }
}

void PtyProgram::waitForByte(char byte, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const void *hit = std::memchr(output_.data() + matchEnd_, byte, output_.size() - matchEnd_);
        if (hit != nullptr) {
            matchEnd_ = static_cast<size_t>(static_cast<const char *>(hit) - output_.data()) + 1;
            return;
        }
        matchEnd_ = output_.size();
        if (Clock::now() >= deadline) fail("no echo in time");
        if (!readSome(deadline)) fail("the terminal ended before an echo");
    }
}

size_t PtyProgram::drainUntil(std::string_view marker, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    size_t total = 0;
    for (;;) {
        const size_t before = output_.size();
        if (output_.find(marker, matchEnd_) != std::string::npos) {
            discardOutput();
            return total;
        }
        // Keep only a tail that may hold the start of the marker.
        if (before > marker.size()) {
            output_.erase(0, before - marker.size());
            matchEnd_ = 0;
        }
        if (Clock::now() >= deadline) fail("no \"" + std::string(marker) + "\" in time");
        const size_t kept = output_.size();
        if (!readSome(deadline)) fail("the terminal ended before \"" + std::string(marker) + "\"");
        total += output_.size() - kept;
    }
}

void PtyProgram::waitNonCanonical(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        // On a pty master the terminal modes are those of the slave.
        termios modes;
        if (::tcgetattr(master_.get(), &modes) != 0) systemError("read the terminal modes");
        if ((modes.c_lflag & ICANON) == 0) return;
        if (Clock::now() >= deadline) fail("the program did not take the terminal in time");
        if (!readSome(std::min(deadline, Clock::now() + 1ms)))
            fail("the terminal ended before the program took it");
    }
}

void PtyProgram::discardOutput() {
    output_.clear();
    matchEnd_ = 0;
}

size_t PtyProgram::count(std::string_view text) const {
    size_t n = 0;
    for (size_t at = output_.find(text); at != std::string::npos; at = output_.find(text, at + 1))
        ++n;
    return n;
}

}  // namespace vela::bench
