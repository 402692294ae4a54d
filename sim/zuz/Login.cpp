#include "Login.h"

namespace sim::zuz {

namespace {

int nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Takes a double-quoted word (no escapes) from the front of text.
std::optional<std::string_view> takeQuoted(std::string_view &text) {
    if (text.empty() || text.front() != '"') return std::nullopt;
    size_t close = text.find('"', 1);
    if (close == std::string_view::npos) return std::nullopt;
    std::string_view word = text.substr(1, close - 1);
    text.remove_prefix(close + 1);
    return word;
}

bool takeSpace(std::string_view &text) {
    if (text.empty() || text.front() != ' ') return false;
    text.remove_prefix(1);
    return true;
}

}  // namespace

std::optional<std::string> hexDecode(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    std::string bytes;
    bytes.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        int high = nibble(hex[i]);
        int low = nibble(hex[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes += static_cast<char>(high * 16 + low);
    }
    return bytes;
}

std::optional<LoginRequest> parseLoginArguments(std::string_view text) {
    auto user = takeQuoted(text);
    if (!user || !takeSpace(text)) return std::nullopt;
    auto password = takeQuoted(text);
    if (!password || !takeSpace(text) || text.empty() || text.find(' ') != text.npos)
        return std::nullopt;
    auto decodedUser = hexDecode(*user);
    auto decodedPassword = hexDecode(*password);
    if (!decodedUser || !decodedPassword) return std::nullopt;
    return LoginRequest{*decodedUser, *decodedPassword, std::string(text)};
}

const char *LoginGuard::check(const LoginRequest &request) {
    bool valid = request.user == settings_.get("adminuserid").value_or("") &&
                 request.password == settings_.get("sw").value_or("");
    auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    Port &port = ports_[request.tty];
    if (now < port.lockedUntil) return "lockout";
    if (valid) {
        port.failures = 0;
        return "success";
    }
    if (++port.failures >= kMaxFailures) {
        port.failures = 0;
        port.lockedUntil = now + lockout_;
    }
    return "failed";
}

}  // namespace sim::zuz
