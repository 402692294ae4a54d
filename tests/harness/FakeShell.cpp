#include "FakeShell.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>

#include "DevicePaths.h"

namespace vela::test {

namespace {

bool readable(int fd, std::chrono::milliseconds timeout) {
    pollfd p{fd, POLLIN, 0};
    int n;
    do {
        n = ::poll(&p, 1, static_cast<int>(timeout.count()));
    } while (n < 0 && errno == EINTR);
    return n > 0;
}

}  // namespace

FakeShell::FakeShell(DeviceSession &device, const std::string &listenerName)
    : listenerPath_(std::string(sim::paths::kApiListenerDir) + "/" + listenerName),
      listener_(device.bindDatagram(listenerPath_)),
      xcom_(device.connectTcp()) {}

bool FakeShell::send(std::string_view line) {
    return sendRaw(std::string(line) + "\n");
}

bool FakeShell::sendRaw(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::send(xcom_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::optional<std::string> FakeShell::readLine(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (closed_ || left.count() < 0 || !readable(xcom_.get(), left)) return std::nullopt;
        char buffer[65536];
        ssize_t n = ::recv(xcom_.get(), buffer, sizeof buffer, 0);
        if (n <= 0) {
            closed_ = true;
            return std::nullopt;
        }
        pending_.append(buffer, static_cast<size_t>(n));
    }
}

bool FakeShell::closedByPeer(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!closed_ && std::chrono::steady_clock::now() < deadline) {
        pending_.clear();
        readLine(std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()));
    }
    return closed_;
}

std::optional<int> FakeShell::command(std::string_view line, std::chrono::milliseconds timeout) {
    if (!send(line)) return std::nullopt;
    auto reply = readLine(timeout);
    if (!reply || reply->compare(0, 3, "R: ") != 0) return std::nullopt;
    return std::atoi(reply->c_str() + 3);
}

std::optional<int> FakeShell::registerSession(const std::string &type, const std::string &tty) {
    return command("R: " + type + " " + listenerPath_ + " " + tty);
}

std::optional<std::string> FakeShell::datagram(std::chrono::milliseconds timeout) {
    if (!listener_ || !readable(listener_.get(), timeout)) return std::nullopt;
    std::string buffer(65536, '\0');
    ssize_t n = ::recv(listener_.get(), buffer.data(), buffer.size(), 0);
    if (n < 0) return std::nullopt;
    buffer.resize(static_cast<size_t>(n));
    return buffer;
}

std::vector<std::string> FakeShell::datagrams(std::chrono::milliseconds quiet) {
    std::vector<std::string> all;
    while (auto one = datagram(quiet))
        all.push_back(std::move(*one));
    return all;
}

}  // namespace vela::test
