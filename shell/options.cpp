// Command-line options and session types.

#include "options.h"

#include <stdio.h>
#include <string.h>

#include "console.h"
#include "numbers.h"
#include "session_config.h"

namespace {

struct SessionTypeRow {
    const char *value;   // what "-t" accepts
    SessionType stored;  // the session type it becomes
};

// Accepted values of "-t", in lookup order.
constexpr SessionTypeRow valid_types[] = {
    {"telnet", SessionType::kTelnet},        {"api", SessionType::kApi},
    {"api-serial", SessionType::kApiSerial}, {"rs232", SessionType::kApiSerial},
    {"telnet24", SessionType::kApi},
};

bool set_session_type(SessionConfig &config, const SessionLog &log, const char *value) {
    bool found = false;
    for (const SessionTypeRow &row : valid_types) {
        if (strcmp(row.value, value) == 0) {
            config.type = row.stored;
            found = true;
            break;
        }
    }
    // Decided by the type the session has now, also after an invalid value.
    config.initial_mode =
        config.is(SessionType::kTelnet) ? CommandMode::kNormal : CommandMode::kCustomerApi;
    if (!found) shell_println(log, "Invalid type \"%s\" specified", value);
    return found;
}

}  // namespace

void usage(const SessionLog &log) {
    shell_println(log, "Halvern API/Debug shell usage: vela [options]");
    shell_println(log, "  -h hostname/addr Set host name/address for XCOM (default: localhost)");
    shell_println(log, "  -p port          Set port for XCOM (default: 4121)");
    shell_println(log, "  -t type          Set session type - \"api\", \"telnet\"");
}

Options get_args(int argc, char **argv, SessionConfig &config, const SessionLog &log) {
    constexpr size_t kMaxHostName = sizeof config.host_name - 1;
    bool error = false;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        bool takes_value =
            strcmp(arg, "-h") == 0 || strcmp(arg, "-p") == 0 || strcmp(arg, "-t") == 0;
        if (takes_value && i + 1 >= argc) {
            shell_println(log, "Missing value for option \"%s\"", arg);
            error = true;
        } else if (strcmp(arg, "-h") == 0) {
            const char *host = argv[++i];
            if (strlen(host) > kMaxHostName) {
                shell_println(log, "Host name too long (at most %d characters)",
                              static_cast<int>(kMaxHostName));
                error = true;
            } else {
                snprintf(config.host_name, sizeof config.host_name, "%s", host);
            }
        } else if (strcmp(arg, "-p") == 0) {
            config.port = parse_leading_int(argv[++i]);
        } else if (strcmp(arg, "-t") == 0) {
            if (!set_session_type(config, log, argv[++i])) error = true;
        } else if (strcmp(arg, "--help") == 0) {
            usage(log);
            return Options::kHelp;
        } else if (strcmp(arg, "--logviewer") == 0) {
            config.type = SessionType::kTelnet;
            config.log_viewer = true;
        } else if (strcmp(arg, "--noecho") == 0) {
            config.echo = false;
        } else if (strcmp(arg, "--nobanner") == 0) {
            config.no_banner = true;
        } else if (strcmp(arg, "--wait") == 0) {
            config.wait_to_start = true;
        } else {
            shell_println(log, "Invalid argument \"%s\"", arg);
            error = true;
        }
    }
    if (!error) return Options::kRun;
    shell_println(log, "Usage:");
    usage(log);
    return Options::kInvalid;
}
