// The API listener socket has mode 0666, so that the application (root on the device)
// can reach it; any other local process could write to it too, and answer a pending
// login. Every datagram therefore comes with its sender's credentials, and only those
// of root and of the shell's own user are read; each other one is dropped with a
// security record, at a bounded rate so that a flood cannot fill the log.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <chrono>

#include "datagram_lines.h"

class SessionLog;

// Asks the kernel to attach the sender's credentials to every datagram fd receives;
// false when the socket refuses. Before anyone can learn the socket's path.
bool enable_sender_credentials(int fd);

// Whether a sender may talk to the session: root (the application) or our own user.
bool trusted_sender(uid_t sender, uid_t own);

// Allows kBurst records at once and then one per kInterval, and counts the refused.
class RecordBudget {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kBurst = 10;
    static constexpr std::chrono::seconds kInterval{6};

    // True when a record may be written at now; *refused_before is the number refused
    // since the last one allowed.
    bool allow(Clock::time_point now, int *refused_before);

  private:
    int tokens_ = kBurst;
    Clock::time_point refilled_;  // when the last token was earned
    int refused_ = 0;
};

// Reads the lines of a listener socket (with sender credentials enabled) from trusted
// senders only. One thread.
class TrustedLineReader {
  public:
    // Drops are recorded in log.
    TrustedLineReader(int fd, const SessionLog &log) : fd_(fd), own_uid_(geteuid()), log_(log) {}
    enum class Wait { kYes, kNo };
    static constexpr int kNothingQueued = -2;
    // The next cleaned line into line (XCOM_LINE_BUFFER_SIZE bytes): its length, 0 for
    // an empty line, -1 when the socket failed or a line did not fit (the reader ends);
    // kNothingQueued when wait is kNo and the line has not fully arrived.
    int next_line(char *line, Wait wait = Wait::kYes);
    // Bytes held that are not yet a line.
    int held() const { return lines_.held(); }

  private:
    enum class Receipt { kTrusted, kDropped, kNothingQueued, kFailed };
    // Takes one datagram (waiting for it unless flags has MSG_DONTWAIT) and keeps it when
    // its sender is trusted.
    Receipt receive(int flags);
    void report_drop(uid_t uid, pid_t pid);

    int fd_;
    const uid_t own_uid_;  // the shell never changes its user: no system call per datagram
    const SessionLog &log_;
    DatagramLines lines_;
    RecordBudget budget_;
};
