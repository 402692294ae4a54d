// Announcing the session to the application, the session limit, and withdrawing.
// Main thread.
#pragma once

struct Session;
class AppLink;
class SessionLog;

// Most processes named like telnet that may run while a session registers.
constexpr int kMaxTelnetSessions = 10;

// Creates the API listener with its reader and registers the session: its type, the
// listener's path and its terminal. True when the application accepted it; false after
// a message.
bool register_session(Session &session);

// Sends the unregistration line "U" without waiting for a reply; false when not sent.
bool unregister_session(AppLink &link);

// Number of running processes whose first command-line word contains "telnet";
// 0 when the process table cannot be read.
int numberOfCurrentSessions(const SessionLog &log);
