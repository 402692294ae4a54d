#include "sender_filter.h"

#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "monotonic_clock.h"
#include "system_log.h"

bool enable_sender_credentials(int fd) {
    int on = 1;
    return setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) == 0;
}

bool trusted_sender(uid_t sender, uid_t own) {
    return sender == 0 || sender == own;
}

bool RecordBudget::allow(Clock::time_point now, int *refused_before) {
    if (tokens_ == kBurst) refilled_ = now;  // a full budget does not save up
    const auto earned = (now - refilled_) / kInterval;
    tokens_ = static_cast<int>(std::min<decltype(earned)>(kBurst, tokens_ + earned));
    refilled_ += earned * kInterval;
    if (tokens_ == 0) {
        ++refused_;
        return false;
    }
    --tokens_;
    *refused_before = refused_;
    refused_ = 0;
    return true;
}

int TrustedLineReader::next_line(char *line, Wait wait) {
    for (;;) {
        int length = 0;
        switch (lines_.take(line, &length)) {
            case DatagramLines::Take::kLine:
                return length;
            case DatagramLines::Take::kOverflow:
                return -1;
            case DatagramLines::Take::kNeedMore:
                break;
        }
        switch (receive(wait == Wait::kNo ? MSG_DONTWAIT : 0)) {
            case Receipt::kFailed:
                return -1;
            case Receipt::kNothingQueued:
                return kNothingQueued;
            case Receipt::kTrusted:
            case Receipt::kDropped:
                break;
        }
    }
}

TrustedLineReader::Receipt TrustedLineReader::receive(int flags) {
    iovec into{lines_.receive_area(), static_cast<size_t>(lines_.free_space())};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr message{};
    message.msg_iov = &into;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got;
    do {
        got = recvmsg(fd_, &message, flags);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return errno == EAGAIN ? Receipt::kNothingQueued : Receipt::kFailed;

    ucred sender{0, static_cast<uid_t>(-1), static_cast<gid_t>(-1)};  // unknown: not trusted
    for (cmsghdr *c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS &&
            c->cmsg_len == CMSG_LEN(sizeof sender))
            memcpy(&sender, CMSG_DATA(c), sizeof sender);
    }
    if (!trusted_sender(sender.uid, own_uid_)) {
        report_drop(sender.uid, sender.pid);
        return Receipt::kDropped;
    }
    lines_.received(static_cast<int>(got));  // a larger datagram was cut to the room
    return Receipt::kTrusted;
}

void TrustedLineReader::report_drop(uid_t uid, pid_t pid) {
    int refused_before = 0;
    if (!budget_.allow(vela::monotonic_now(), &refused_before)) return;
    if (refused_before > 0)
        print_security_event(log_,
                             "dropped a datagram from uid %u pid %d on the API listener "
                             "(and %d before it without a record)",
                             static_cast<unsigned>(uid), static_cast<int>(pid), refused_before);
    else
        print_security_event(log_, "dropped a datagram from uid %u pid %d on the API listener",
                             static_cast<unsigned>(uid), static_cast<int>(pid));
}
