#include "TelnetClient.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "time_scale.h"

namespace vela::test::telnet {

namespace {

constexpr unsigned char kIac = 255, kDont = 254, kWill = 251, kSb = 250, kSe = 240;

}  // namespace

TelnetClient::TelnetClient(vela::UniqueFd socket) : socket_(std::move(socket)), ended_(!socket_) {}

bool TelnetClient::typeLine(std::string_view line) {
    std::string bytes = std::string(line) + "\r\n";
    return socket_ && ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                          static_cast<ssize_t>(bytes.size());
}

bool TelnetClient::waitFor(std::string_view text, std::chrono::milliseconds timeout) {
    size_t at = std::string::npos;
    if (!waitUntil([&] { return (at = text_.find(text, matchEnd_)) != std::string::npos; },
                   timeout))
        return false;
    matchEnd_ = at + text.size();
    return true;
}

bool TelnetClient::waitClosed(std::chrono::milliseconds timeout) {
    return waitUntil([&] { return ended_; }, timeout);
}

bool TelnetClient::waitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + scaled(timeout);
    while (!done()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (ended_ || left <= 0ms) return false;
        receive(left);
    }
    return true;
}

void TelnetClient::receive(std::chrono::milliseconds timeout) {
    pollfd fd{socket_.get(), POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(timeout.count())) <= 0) return;
    unsigned char buffer[4096];
    ssize_t n = ::recv(socket_.get(), buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) return;
    if (n <= 0) {
        ended_ = true;
        socket_.reset();
    }
    for (ssize_t i = 0; i < n; ++i)
        take(buffer[i]);
}

void TelnetClient::take(unsigned char byte) {
    switch (state_) {
        case State::kData:
            if (byte == kIac)
                state_ = State::kCommand;
            else
                text_ += static_cast<char>(byte);
            break;
        case State::kCommand:  // IAC IAC is the data byte 255
            if (byte == kIac) text_ += static_cast<char>(byte);
            state_ = byte >= kWill && byte <= kDont ? State::kOption
                     : byte == kSb                  ? State::kSub
                                                    : State::kData;
            break;
        case State::kOption:
            state_ = State::kData;
            break;
        case State::kSub:
            if (byte == kIac) state_ = State::kSubCommand;
            break;
        case State::kSubCommand:
            state_ = byte == kSe ? State::kData : State::kSub;
            break;
    }
}

}  // namespace vela::test::telnet
