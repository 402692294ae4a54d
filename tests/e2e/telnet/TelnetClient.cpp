#include "TelnetClient.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace vela::test::telnet {

namespace {

constexpr unsigned char kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                        kSe = 240;

}  // namespace

TelnetClient::TelnetClient(sim::UniqueFd socket) : socket_(std::move(socket)), ended_(!socket_) {}

bool TelnetClient::typeLine(std::string_view line) {
    std::string bytes = std::string(line) + "\r\n";
    return socket_ && ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                          static_cast<ssize_t>(bytes.size());
}

bool TelnetClient::waitFor(std::string_view text, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        size_t at = text_.find(text, matchEnd_);
        if (at != std::string::npos) {
            matchEnd_ = at + text.size();
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (ended_ || left <= 0ms) return false;
        receive(left);
    }
}

bool TelnetClient::waitClosed(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!ended_) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) return false;
        receive(left);
    }
    return true;
}

bool TelnetClient::receive(std::chrono::milliseconds timeout) {
    if (ended_) return false;
    pollfd fd{socket_.get(), POLLIN, 0};
    int ready = ::poll(&fd, 1, static_cast<int>(timeout.count()));
    if (ready <= 0) return ready == 0 || errno == EINTR;
    unsigned char buffer[4096];
    ssize_t n = ::recv(socket_.get(), buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) return true;
    if (n <= 0) {
        ended_ = true;
        socket_.reset();
        return false;
    }
    for (ssize_t i = 0; i < n; ++i)
        take(buffer[i]);
    return true;
}

void TelnetClient::take(unsigned char byte) {
    switch (state_) {
        case State::kData:
            if (byte == kIac)
                state_ = State::kCommand;
            else
                text_ += static_cast<char>(byte);
            break;
        case State::kCommand:
            if (byte == kIac) {
                text_ += static_cast<char>(byte);
                state_ = State::kData;
            } else if (byte >= kWill && byte <= kDont) {
                verb_ = byte;
                state_ = State::kOption;
            } else {
                state_ = byte == kSb ? State::kSub : State::kData;
            }
            break;
        case State::kOption:
            refuse(verb_, byte);
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

void TelnetClient::refuse(unsigned char verb, unsigned char option) {
    unsigned char answer = verb == kDo ? kWont : verb == kWill ? kDont : 0;
    if (answer == 0 || !socket_) return;
    const unsigned char reply[3] = {kIac, answer, option};
    ::send(socket_.get(), reply, sizeof reply, MSG_NOSIGNAL);
}

}  // namespace vela::test::telnet
