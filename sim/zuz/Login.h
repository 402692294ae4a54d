// Login checking of zuz, with a lock-out per terminal.
//
// A login succeeds when the user equals the setting "adminuserid" and the password the
// setting "sw". Failures are counted per terminal name: the third failure in a row is
// still answered "failed" but locks that terminal, and every login from it is then
// answered "lockout" (without checking or counting) until the lock-out time has
// passed. A success clears the count.
#ifndef SIM_ZUZ_LOGIN_H
#define SIM_ZUZ_LOGIN_H

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "Settings.h"

namespace sim::zuz {

inline constexpr int kMaxFailures = 3;

// The bytes of a hex text ("616263" → "abc"); nullopt for odd length or non-hex.
// Returns a new string owned by the caller; any thread.
std::optional<std::string> hexDecode(std::string_view hex);

struct LoginRequest {
    std::string user;
    std::string password;
    std::string tty;
};

// Reads the arguments of "_control login": "HEXUSER" "HEXPASS" TTY. nullopt when
// malformed. Any thread.
std::optional<LoginRequest> parseLoginArguments(std::string_view arguments);

class LoginGuard {
  public:
    LoginGuard(const Settings &settings, std::chrono::milliseconds lockout)
        : settings_(settings), lockout_(lockout) {}

    // "success", "failed" or "lockout" (static storage). Any thread.
    const char *check(const LoginRequest &request);

  private:
    struct Port {
        int failures = 0;
        std::chrono::steady_clock::time_point lockedUntil{};
    };
    const Settings &settings_;
    const std::chrono::milliseconds lockout_;
    std::mutex mutex_;
    std::map<std::string, Port> ports_;  // guarded by mutex_
};

}  // namespace sim::zuz

#endif
