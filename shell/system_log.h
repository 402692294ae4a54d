// The session's system-log records, with facility LOG_UUCP, level LOG_NOTICE, identity
// "vela":
//  - "API:<session>:<line count>:<text>" records mirror the input and output of API
//    sessions (mysyslog writes them only in mirrored sessions);
//  - "SECURITY: <session>:<text>[ ID: <user>]" records, in every session.
// Only the caller's format is applied to the caller's arguments; the session name, the
// count and the user name are inserted as plain text.
#pragma once

#include <stdarg.h>
#include <stddef.h>

#include <atomic>

class SessionLog {
  public:
    // Names the records after the terminal; mirrored: API records are written. Main
    // thread, once, before any other thread starts.
    void start(const char *tty_name, bool mirrored);

    bool mirrored() const { return mirrored_; }
    // Counts one more command line (the count in API records). Main thread.
    void count_line() { lines_.fetch_add(1); }
    int lines() const { return lines_.load(); }
    const char *api_name() const { return api_name_; }
    const char *security_name() const { return security_name_; }

  private:
    bool mirrored_ = false;
    char api_name_[128] = "";
    char security_name_[128] = "";
    std::atomic<int> lines_{0};  // read by every thread that writes a record
};

// Writes an "API:" record in mirrored sessions; nothing otherwise. Always 0. Any thread.
int mysyslog(const SessionLog &log, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
// Writes "SECURITY: <session>:<text> ID: <user>". Always 0. Any thread.
int print_security_log(const SessionLog &log, const char *user, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
// Writes "SECURITY: <session>:<text>", about the session rather than its user. Always 0.
int print_security_event(const SessionLog &log, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));

// The text of a record: prefix, the formatted text, suffix, cut to room bytes; the
// prefix and the suffix together stay within 127 characters. Pure; any thread.
void format_record(char *record, size_t room, const char *prefix, const char *fmt, va_list args,
                   const char *suffix) __attribute__((format(printf, 4, 0)));
