// What a session is, as start-up settles it from the command line, the terminal and the
// device settings. Written only by start-up on the main thread, before any other thread
// starts; everything after start-up gets it as const, from any thread.
#pragma once

#include <stddef.h>

enum class SessionType { kTelnet, kApi, kApiSerial };

// How lines that no local command takes are forwarded: normally ("C: "), as customer
// API commands ("E: ") or as internal commands ("D: ").
enum class CommandMode { kNormal, kCustomerApi, kInternal };

// "telnet", "api" or "api-serial".
const char *session_type_name(SessionType type);
// "C: %s", "E: %s" or "D: %s".
const char *forwarding_format(CommandMode mode);

struct SessionConfig {
    // --- the command line
    char host_name[128] = "localhost";  // the application's host
    int port = 4121;
    SessionType type = SessionType::kTelnet;
    CommandMode initial_mode = CommandMode::kNormal;
    bool echo = true;            // the editor echoes ("--noecho" turns it off)
    bool no_banner = false;      // "--nobanner"
    bool wait_to_start = false;  // "--wait": wait for SIGUSR1 first
    bool log_viewer = false;     // "--logviewer"

    // --- the terminal on descriptor 1, which names the session everywhere
    char tty_name[80] = "";

    // --- settled by start-up
    bool mirrored = false;            // input and output mirrored to the system log (API sessions)
    bool secure_profile = false;      // the "DoD DSN" profile: user name, idle limit, logout
    int idle_minutes = 0;             // 0: none
    char admin_user[64] = "";         // setting "adminuserid"
    bool password_set = false;        // setting "sw" is not empty
    char security_banner[2048] = "";  // setting "securitybanner", each "%" a blank

    bool is(SessionType t) const { return type == t; }
    // Telnet sessions show the system log live.
    bool shows_live_log() const { return type == SessionType::kTelnet; }
    // Everything at the terminal of a serial API port is read by a program.
    bool quiet_terminal() const { return type == SessionType::kApiSerial; }
    const char *type_name() const { return session_type_name(type); }
    // The terminal's name after its last slash ("3" for /dev/pts/3).
    const char *tty_leaf() const;
};

// The leading decimal digits of the idle limit setting, 0 for "Off" or none.
int idle_minutes_from(const char *setting);
