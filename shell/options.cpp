// Command-line options and session types.

#include "options.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "console.h"
#include "numbers.h"
#include "session.h"

namespace {

struct SessionTypeRow {
    const char *value;   // what "-t" accepts
    const char *stored;  // the session type it becomes
};

// Accepted values of "-t", in lookup order.
constexpr SessionTypeRow valid_types[] = {
    {"telnet", "telnet"},    {"api", "api"},      {"api-serial", "api-serial"},
    {"rs232", "api-serial"}, {"telnet24", "api"},
};

constexpr size_t kMaxHostName = sizeof host_name - 1;

bool set_session_type(const char *value) {
    cmd_fmt = "E: %s";
    bool found = false;
    for (const SessionTypeRow &row : valid_types) {
        if (strcmp(row.value, value) == 0) {
            snprintf(session_type, sizeof session_type, "%s", row.stored);
            found = true;
            break;
        }
    }
    if (strcmp(session_type, "telnet") == 0) cmd_fmt = "C: %s";
    if (!found) shell_println("Invalid type \"%s\" specified", value);
    return found;
}

}  // namespace

void usage() {
    shell_println("Halvern API/Debug shell usage: vela [options]");
    shell_println("  -h hostname/addr Set host name/address for XCOM (default: localhost)");
    shell_println("  -p port          Set port for XCOM (default: 4121)");
    shell_println("  -t type          Set session type - \"api\", \"telnet\"");
}

int get_args(int argc, char **argv) {
    bool error = false;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        bool takes_value =
            strcmp(arg, "-h") == 0 || strcmp(arg, "-p") == 0 || strcmp(arg, "-t") == 0;
        if (takes_value && i + 1 >= argc) {
            shell_println("Missing value for option \"%s\"", arg);
            error = true;
        } else if (strcmp(arg, "-h") == 0) {
            const char *host = argv[++i];
            if (strlen(host) > kMaxHostName) {
                shell_println("Host name too long (at most %d characters)",
                              static_cast<int>(kMaxHostName));
                error = true;
            } else {
                snprintf(host_name, sizeof host_name, "%s", host);
            }
        } else if (strcmp(arg, "-p") == 0) {
            host_port = parse_leading_int(argv[++i]);
        } else if (strcmp(arg, "-t") == 0) {
            if (!set_session_type(argv[++i])) error = true;
        } else if (strcmp(arg, "--help") == 0) {
            usage();
            exit(0);
        } else if (strcmp(arg, "--logviewer") == 0) {
            snprintf(session_type, sizeof session_type, "%s", "telnet");
            view_only_mode = 1;
        } else if (strcmp(arg, "--noecho") == 0) {
            cmdecho_state = 0;
        } else if (strcmp(arg, "--nobanner") == 0) {
            no_banner = 1;
        } else if (strcmp(arg, "--wait") == 0) {
            wait_to_start = 1;
        } else {
            shell_println("Invalid argument \"%s\"", arg);
            error = true;
        }
    }
    if (!error) return 0;
    shell_println("Usage:");
    usage();
    return 1;
}
