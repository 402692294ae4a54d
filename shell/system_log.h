// The shell's system-log records: "API:" records mirroring API sessions and
// "SECURITY:" records. Both go to the system log with facility LOG_UUCP, level
// LOG_NOTICE, identity "vela". Any thread.
#pragma once

// Writes "API:<session>:<line count>:<text>", text formatted from fmt. Always 0.
int mysyslog(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Writes "SECURITY: <session>:<text> ID: <user>", text formatted from fmt. Always 0.
// Main thread (it reads the user name).
int print_security_log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Writes "SECURITY: <session>:<text>", about the session rather than its user. Always 0.
int print_security_event(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
