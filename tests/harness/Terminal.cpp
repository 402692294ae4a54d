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

namespace {

[[noreturn]] void fail(const char *what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

Terminal::Terminal(unsigned short rows, unsigned short columns)
    : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    if (!master_ || ::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0)
        fail("posix_openpt");
    char name[128];
    if (::ptsname_r(master_.get(), name, sizeof name) != 0) fail("ptsname");
    slavePath_ = name;
    resize(rows, columns);
    int stop[2];
    if (::pipe2(stop, O_CLOEXEC) != 0) fail("pipe");
    stopRead_.reset(stop[0]);
    stopWrite_.reset(stop[1]);
}

Terminal::~Terminal() {
    close();
}

void Terminal::startReading() {
    if (!reader_.joinable()) reader_ = std::thread([this] { readLoop(); });
}

void Terminal::readLoop() {
    char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{master_.get(), POLLIN, 0}, {stopRead_.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents) return;
        ssize_t n = ::read(master_.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        // EIO: every slave descriptor has been closed.
        if (n <= 0) break;
        std::lock_guard lock(mutex_);
        output_.append(buffer, static_cast<size_t>(n));
        changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

bool Terminal::type(std::string_view bytes) {
    while (!bytes.empty()) {
        if (!master_) return false;
        ssize_t n = ::write(master_.get(), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void Terminal::resize(unsigned short rows, unsigned short columns) {
    winsize size{};
    size.ws_row = rows;
    size.ws_col = columns;
    if (master_) ::ioctl(master_.get(), TIOCSWINSZ, &size);
}

std::string Terminal::output() const {
    std::lock_guard lock(mutex_);
    return output_;
}

size_t Terminal::waitFor(std::string_view text, size_t from,
                         std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    size_t found = std::string::npos;
    changed_.wait_for(lock, timeout, [&] {
        if (from <= output_.size()) found = output_.find(text, from);
        return found != std::string::npos || ended_;
    });
    return found == std::string::npos ? found : found + text.size();
}

bool Terminal::waitEnd(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return ended_; });
}

void Terminal::close() {
    if (reader_.joinable()) {
        (void)!::write(stopWrite_.get(), "x", 1);
        reader_.join();
    }
    master_.reset();
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

}  // namespace vela::test
