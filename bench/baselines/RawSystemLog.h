// The system-log records an api session sends, as a raw program sends them: one datagram
// per record on a socket connected to /dev/log, in one blocking send, in the layout
// syslog(3) gives it for the shell (priority LOG_UUCP|LOG_NOTICE, identity "vela", no
// process id). The record is formatted here, with the time stamp renewed once a second,
// so it costs only what the record needs. One thread.
#pragma once

#include <stddef.h>
#include <time.h>

namespace vela::bench::raw {

class SessionLog {
  public:
    // Connects to /dev/log; the session's name comes from the terminal fd (telnetN for
    // /dev/pts/N). Check ok().
    explicit SessionLog(int terminal);
    ~SessionLog();
    SessionLog(const SessionLog &) = delete;
    SessionLog &operator=(const SessionLog &) = delete;

    bool ok() const { return fd_ >= 0; }
    // Sends "API:<session>:<count>:<kind>:<line>" and a LF as one record; line is len bytes
    // without a line end. False when it cannot be sent.
    bool record(int count, const char *kind, const char *line, size_t len);

    // The record's layout up to its text: "<69>Mmm dd hh:mm:ss vela: ". Pure.
    static size_t formatHeader(time_t when, char *out, size_t room);

  private:
    int fd_ = -1;
    char session_[80];
    time_t stamped_ = -1;  // the second of the header in record_
    size_t headerLen_ = 0;
    char record_[16384 + 512];
};

}  // namespace vela::bench::raw
