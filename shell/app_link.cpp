// Command and response exchange with the application.

#include "app_link.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "console.h"
#include "numbers.h"
#include "system_log.h"

namespace {

constexpr size_t kMessageRoom = 516;  // prefix, a line of at most 511 characters, NUL
constexpr size_t kReplyPrefixLength = 3;
constexpr long kResultPollNs = 50L * 1000 * 1000;  // how often a result wait looks at the link

// The XCOM callback carries no context: this is the link it serves. Written by the main
// thread before the first connection, read by the XCOM reader thread afterwards.
AppLink *g_link = nullptr;

timespec deadline_after(long ns) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    ts.tv_sec += ns / 1000000000L;
    ts.tv_nsec += ns % 1000000000L;
    if (ts.tv_nsec >= 1000000000L) {
        ++ts.tv_sec;
        ts.tv_nsec -= 1000000000L;
    }
    return ts;
}

void wait_retrying(sem_t *sem) {
    while (sem_wait(sem) != 0 && errno == EINTR) {
    }
}

}  // namespace

bool AppLink::PendingReplies::push(const char *text) {
    vela::MutexLock lock(mut_);
    if (count_ == kSlots) return false;
    snprintf(slots_[(head_ + count_) % kSlots], kRoom, "%s", text);
    ++count_;
    return true;
}

void AppLink::PendingReplies::pop(char *out) {
    vela::MutexLock lock(mut_);
    if (count_ == 0) {
        out[0] = '\0';
        return;
    }
    memcpy(out, slots_[head_], kRoom);
    head_ = (head_ + 1) % kSlots;
    --count_;
}

AppLink::AppLink(const SessionLog &log) : log_(log) {
    sem_init(&result_ready_, 0, 0);  // only ever fails for a shared or huge semaphore
}

bool AppLink::create_reply_semaphore() {
    return sem_init(&reply_ready_, 0, 0) == 0;
}

bool AppLink::create_ready_semaphore() {
    return sem_init(&ready_tokens_, 0, 0) == 0;
}

bool AppLink::connect(const char *host, int port) {
    g_link = this;
    HXCOM connection = xcom_client_connect(host, port, message_handler);
    if (connection == nullptr) return false;
    pthread_mutex_lock(&link_mut_);
    connection_ = connection;
    pthread_mutex_unlock(&link_mut_);
    return true;
}

void AppLink::release() {
    pthread_mutex_lock(&link_mut_);
    if (connection_ != nullptr) xcom_client_disconnect(connection_);
    connection_ = nullptr;
    pthread_mutex_unlock(&link_mut_);
}

bool AppLink::send_message(const char *message, unsigned step) {
    return !end_consumed_ && send_line(message, step);
}

bool AppLink::send_line(const char *line, unsigned step) {
    pthread_mutex_lock(&link_mut_);
    bool sent = connection_ != nullptr && xcom_client_send(connection_, line) == 0;
    if (sent) farewell_sent_ |= step;
    pthread_mutex_unlock(&link_mut_);
    return sent;
}

int AppLink::send_framed(const char *fmt, const char *a, const char *b, bool *delivered,
                         unsigned step) {
    char message[kMessageRoom];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    snprintf(message, sizeof message, fmt, a, b);
#pragma GCC diagnostic pop
    bool sent = send_message(message, step);
    if (delivered) *delivered = sent;
    if (!sent) {
        shell_println(log_, "XCOM send error");
        return -1;
    }
    return await_reply();
}

int AppLink::send_command(const char *line, CommandMode mode) {
    char message[kMessageRoom];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    snprintf(message, sizeof message, forwarding_format(mode), line);  // a fixed format
#pragma GCC diagnostic pop
    if (!send_message(message)) {
        shell_println(log_, "error: unknown error executing a command");
        return kLinkEnded;
    }
    return await_reply();
}

int AppLink::send_api(const char *line) {
    return send_framed("E: %s", line, "");
}

int AppLink::send_api_request(const char *line, bool *delivered, unsigned step) {
    return send_framed("E: %s", line, "", delivered, step);
}

int AppLink::send_sys(const char *line) {
    return send_framed("D: %s", line, "");
}

int AppLink::send_session(const char *op, const char *arg) {
    return send_framed("N: %s %s", op, arg);
}

int AppLink::await_reply() {
    wait_retrying(&reply_ready_);
    char reply[PendingReplies::kRoom];
    replies_.pop(reply);

    int result;
    if (reply[0] == '\0') {
        if (stream_ended_.load()) end_consumed_ = true;
        shell_println(log_, "error: session is closed by peer");
        result = kLinkEnded;
    } else {
        result = parse_leading_int(reply);
        if (result < 0 && report_negative_) {
            shell_println(log_, "error: command not found");
            fflush(stdout);
            result = -1;
        }
    }
    give_ready_token();
    return result;
}

int AppLink::message_handler(HXCOM, char *line) {
    AppLink &link = *g_link;
    if (line == nullptr) {
        link.stream_ended_.store(true);
        sem_post(&link.reply_ready_);
    } else if (line[0] == 'R') {
        // Only the first character is examined; a shorter line gives an empty reply,
        // which reads as the end of the link.
        size_t len = strlen(line);
        if (link.replies_.push(len > kReplyPrefixLength ? line + kReplyPrefixLength : ""))
            sem_post(&link.reply_ready_);
    }
    return 0;
}

void AppLink::wait_for_reply_signal() {
    wait_retrying(&reply_ready_);
}

void AppLink::take_ready_token() {
    wait_retrying(&ready_tokens_);
}

bool AppLink::request_result(const char *line, unsigned step, int max_wait_ms, char *out,
                             size_t room) {
    {
        vela::MutexLock lock(result_mut_);
        while (sem_trywait(&result_ready_) == 0) {
            // a result that came after an earlier wait gave up is not this request's
        }
        result_expected_ = true;
    }
    bool delivered = false;
    send_api_request(line, &delivered, step);
    bool answered = delivered && wait_for_result(max_wait_ms);
    vela::MutexLock lock(result_mut_);
    if (answered) snprintf(out, room, "%s", result_);
    result_expected_ = false;
    return answered;
}

bool AppLink::offer_result(const char *line) {
    vela::MutexLock lock(result_mut_);
    if (!result_expected_) return false;
    result_expected_ = false;
    size_t len = strnlen(line, sizeof result_ - 1);  // a longer line is cut
    memcpy(result_, line, len);
    result_[len] = '\0';
    sem_post(&result_ready_);
    return true;
}

bool AppLink::wait_for_result(int max_wait_ms) {
    for (long waited_ms = 0;;) {
        timespec slice = deadline_after(kResultPollNs);
        if (sem_timedwait(&result_ready_, &slice) == 0) return true;
        if (errno != ETIMEDOUT && errno != EINTR) return false;
        if (stream_ended_.load() || listener_ended_.load()) return false;
        waited_ms += kResultPollNs / 1000000;
        if (max_wait_ms >= 0 && waited_ms >= max_wait_ms) return false;
    }
}

unsigned AppLink::hold_for_farewell(HXCOM *connection) {
    pthread_mutex_lock(&link_mut_);  // never released: the process ends
    *connection = connection_;
    return farewell_sent_;
}

bool AppLink::send_api_without_reply(HXCOM connection, const char *line) {
    char message[kMessageRoom];
    snprintf(message, sizeof message, "E: %s", line);
    return xcom_client_send(connection, message) == 0;
}

void AppLink::await_replies(int count, int max_ms) {
    timespec deadline = deadline_after(static_cast<long>(max_ms) * 1000000L);
    char dropped[PendingReplies::kRoom];
    while (count > 0) {
        if (sem_timedwait(&reply_ready_, &deadline) != 0) {
            if (errno == EINTR) continue;
            return;
        }
        replies_.pop(dropped);
        --count;
    }
}
