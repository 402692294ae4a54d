#include "session_config.h"

#include <string.h>

const char *session_type_name(SessionType type) {
    switch (type) {
        case SessionType::kApi:
            return "api";
        case SessionType::kApiSerial:
            return "api-serial";
        case SessionType::kTelnet:
            break;
    }
    return "telnet";
}

const char *forwarding_format(CommandMode mode) {
    switch (mode) {
        case CommandMode::kCustomerApi:
            return "E: %s";
        case CommandMode::kInternal:
            return "D: %s";
        case CommandMode::kNormal:
            break;
    }
    return "C: %s";
}

const char *SessionConfig::tty_leaf() const {
    const char *slash = strrchr(tty_name, '/');
    return slash != nullptr ? slash + 1 : tty_name;
}

int idle_minutes_from(const char *setting) {
    if (strcmp(setting, "Off") == 0) return 0;
    int minutes = 0;
    for (const char *p = setting; *p >= '0' && *p <= '9' && minutes < 1000000; ++p)
        minutes = minutes * 10 + (*p - '0');
    return minutes;
}
