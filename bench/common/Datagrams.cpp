#include "Datagrams.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace vela::bench {

void LineBatch::add(std::string_view line) {
    bytes_.append(line);
    ends_.push_back(bytes_.size());
}

std::string_view LineBatch::at(size_t i) const {
    size_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(bytes_).substr(begin, ends_[i] - begin);
}

LineBatch makeLines(size_t count, size_t length, std::string_view tag, std::string_view marker) {
    LineBatch batch;
    std::string line;
    for (size_t i = 0; i < count; ++i) {
        char number[32];
        std::snprintf(number, sizeof number, " %07zu ", i);
        line.assign(tag);
        line += number;
        // Filler cycles through lower-case letters, like ordinary text.
        for (size_t k = 0; line.size() + 1 < length; ++k)
            line += static_cast<char>('a' + (i + k) % 26);
        line.resize(length - 1);
        if (i + 1 == count) {
            if (marker.size() < line.size())
                line.replace(line.size() - marker.size(), marker.size(), marker);
            else
                line = marker;
        }
        line += '\n';
        batch.add(line);
    }
    return batch;
}

bool sendBatch(const std::string &path, const LineBatch &batch) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    // Connected, so that a full receive queue makes send wait instead of failing; a
    // receiver that stops reading for long fails the send.
    timeval patience{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    bool ok = true;
    for (size_t i = 0; ok && i < batch.size(); ++i) {
        std::string_view line = batch.at(i);
        ssize_t n;
        do {
            n = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        ok = n == static_cast<ssize_t>(line.size());
    }
    ::close(fd);
    return ok;
}

}  // namespace vela::bench
