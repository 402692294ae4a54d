// What all of zuz's connections share.
#ifndef SIM_ZUZ_APPLICATION_H
#define SIM_ZUZ_APPLICATION_H

#include <chrono>
#include <string>

#include "DevicePaths.h"
#include "Login.h"
#include "RecordFile.h"
#include "RuleBook.h"
#include "Sessions.h"
#include "Settings.h"

namespace sim::zuz {

inline std::string statePath(const char *name) {
    return std::string(paths::kStateDir) + "/" + name;
}

// Every member is safe to use from any connection thread (each says how).
struct Application {
    explicit Application(std::chrono::milliseconds lockout)
        : settings(statePath(paths::kSettingsFile)),
          login(settings, lockout),
          rules(statePath(paths::kZuzRulesFile)),
          received(statePath(paths::kZuzReceivedFile)) {}

    const Settings settings;
    LoginGuard login;
    SessionRegistry sessions;
    RuleBook rules;
    const RecordFile received;  // every received line, in arrival order
    const std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
};

}  // namespace sim::zuz

#endif
