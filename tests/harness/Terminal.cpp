#include "Terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace vela::test {

Terminal::Terminal(unsigned short columns)
    : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    char name[128];
    const winsize size{24, columns, 0, 0};
    if (!master_ || ::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0 ||
        ::ptsname_r(master_.get(), name, sizeof name) != 0 ||
        ::ioctl(master_.get(), TIOCSWINSZ, &size) != 0)
        throw std::system_error(errno, std::generic_category(), "pty");
    slavePath_ = name;
}

void Terminal::startReading() {
    if (!reader_.joinable()) reader_ = std::thread([this] { readLoop(); });
}

void Terminal::readLoop() {
    char buffer[4096];
    while (!stop_) {
        pollfd fd{master_.get(), POLLIN, 0};
        if (::poll(&fd, 1, 20) <= 0) continue;
        const ssize_t n = ::read(master_.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        std::lock_guard lock(mutex_);
        // EIO: every slave descriptor has been closed.
        if (n <= 0) ended_ = true;
        if (n > 0) output_.append(buffer, static_cast<size_t>(n));
        changed_.notify_all();
        if (ended_) return;
    }
}

bool Terminal::type(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = master_ ? ::write(master_.get(), bytes.data(), bytes.size()) : -1;
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string Terminal::output() const {
    std::lock_guard lock(mutex_);
    return output_;
}

std::optional<std::string> Terminal::readUntil(std::string_view text,
                                               std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    size_t found = std::string::npos;
    changed_.wait_for(lock, timeout, [&] {
        found = output_.find(text, matchEnd_);
        return found != std::string::npos || ended_;
    });
    if (found == std::string::npos) return std::nullopt;
    const size_t from = matchEnd_;
    matchEnd_ = found + text.size();
    return output_.substr(from, matchEnd_ - from);
}

void Terminal::waitEnd(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return ended_; });
}

void Terminal::close() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    master_.reset();
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

}  // namespace vela::test
