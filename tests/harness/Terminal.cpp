#include "Terminal.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "time_scale.h"

namespace vela::test {

Terminal::Terminal(vela::UniqueFd stream)
    : stream_(std::move(stream)), reader_([this] { readLoop(); }) {}

void Terminal::readLoop() {
    char buffer[4096];
    while (!stop_) {
        pollfd fd{stream_.get(), POLLIN, 0};
        if (::poll(&fd, 1, 20) <= 0) continue;
        const ssize_t n = ::read(stream_.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        std::lock_guard lock(mutex_);
        // 0 or EIO: the other side has closed (every slave descriptor of a pty).
        if (n <= 0) ended_ = true;
        if (n > 0) output_.append(buffer, static_cast<size_t>(n));
        changed_.notify_all();
        if (ended_) return;
    }
}

bool Terminal::type(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = stream_ ? ::write(stream_.get(), bytes.data(), bytes.size()) : -1;
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
    changed_.wait_for(lock, scaled(timeout), [&] {
        found = output_.find(text, matchEnd_);
        return found != std::string::npos || ended_;
    });
    if (found == std::string::npos) return std::nullopt;
    const size_t from = matchEnd_;
    matchEnd_ = found + text.size();
    return output_.substr(from, matchEnd_ - from);
}

bool Terminal::waitEnd(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, scaled(timeout), [&] { return ended_; });
}

void Terminal::hangUp() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    stream_.reset();
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

}  // namespace vela::test
