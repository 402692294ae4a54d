// Announcing the session to the application, the session limit, and withdrawing.
// Main thread.
#pragma once

// Most processes named like telnet that may run while a session registers.
constexpr int kMaxTelnetSessions = 10;

// Registers the session: its type, API listener socket and terminal. 0 when the
// application accepted it; anything else is a failure (message already printed).
int register_session();

// Sends the unregistration line "U" without waiting for a reply; 0 when sent, else -1.
int unregister_session();

// Number of running processes whose first command-line word contains "telnet";
// 0 when /proc cannot be read.
int numberOfCurrentSessions();
