// Command and response exchange with the application.

#include "app_link.h"

#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <atomic>
#include <mutex>

#include "command_parsing.h"
#include "console.h"
#include "numbers.h"
#include "session.h"

namespace {

constexpr size_t kMessageRoom = 516;   // prefix, a line of at most 511 characters, NUL
constexpr size_t kResponseRoom = 515;  // text of a reply after its prefix
constexpr size_t kReplyPrefixLength = 3;

// Replies that response_helper has not taken yet, oldest first. Each one was posted once
// on response_sem; the end of the link is posted once more, after them, so a reply that
// arrives just before the link ends is still taken for the message it answers.
class PendingReplies {
  public:
    // Reader thread. False when every slot is taken: the reply is dropped, not posted.
    bool push(const char *text) {
        std::lock_guard<std::mutex> lock(mut_);
        if (count_ == kSlots) return false;
        snprintf(slots_[(head_ + count_) % kSlots], kResponseRoom, "%s", text);
        ++count_;
        return true;
    }
    // Main thread, after a wait: the oldest reply, or the empty text once the link ended.
    void pop(char *out) {
        std::lock_guard<std::mutex> lock(mut_);
        if (count_ == 0) {
            out[0] = '\0';
            return;
        }
        memcpy(out, slots_[head_], kResponseRoom);
        head_ = (head_ + 1) % kSlots;
        --count_;
    }

  private:
    static constexpr int kSlots = 8;  // one awaited reply and a few stray ones
    std::mutex mut_;                  // guards everything below
    char slots_[kSlots][kResponseRoom] = {};
    int head_ = 0;
    int count_ = 0;
};

PendingReplies g_replies;

// Set by the reader thread when the stream has ended; atomic.
std::atomic<bool> g_stream_ended{false};
// Set by the main thread once the empty reply of the ended link has been consumed;
// from then on no reply can arrive, so sends fail at once. Main thread only.
bool g_end_consumed = false;

// The connection's guard (see app_link.h): hclient is written under it, and used under
// it by any thread but the main one, which writes it.
pthread_mutex_t link_mut = PTHREAD_MUTEX_INITIALIZER;
// The farewell steps sent so far (FarewellStep bits). Guarded by link_mut.
unsigned farewell_sent = kNoFarewell;

// Sends a formatted message; false when it could not be sent (or nothing can answer).
bool send_message(const char *message, unsigned step = kNoFarewell) {
    if (g_end_consumed) return false;
    return link_send(message, step);
}

int send_framed(const char *fmt, const char *a, const char *b, bool *delivered = nullptr,
                unsigned step = kNoFarewell) {
    char message[kMessageRoom];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    snprintf(message, sizeof message, fmt, a, b);
#pragma GCC diagnostic pop
    bool sent = send_message(message, step);
    if (delivered) *delivered = sent;
    if (!sent) {
        shell_println("XCOM send error");
        return -1;
    }
    return response_helper();
}

// The secret words of a password command, argv[first..last]; false for other lines.
bool secret_words(int argc, char **argv, int &first, int &last) {
    if (argc == 5 && strcmp(argv[0], "setpassword") == 0) {
        first = 3;
        last = 4;
        return true;
    }
    if (argc == 3 && strcmp(argv[0], "webmonitoring") == 0) {
        first = last = 1;
        return true;
    }
    return false;
}

}  // namespace

bool link_send(const char *line, unsigned step) {
    pthread_mutex_lock(&link_mut);
    bool sent = hclient != nullptr && xcom_client_send(hclient, line) == 0;
    if (sent) farewell_sent |= step;
    pthread_mutex_unlock(&link_mut);
    return sent;
}

void link_adopt(HXCOM connection) {
    pthread_mutex_lock(&link_mut);
    hclient = connection;
    pthread_mutex_unlock(&link_mut);
}

void link_release() {
    pthread_mutex_lock(&link_mut);
    if (hclient != nullptr) xcom_client_disconnect(hclient);
    hclient = nullptr;
    pthread_mutex_unlock(&link_mut);
}

bool send_api_without_reply(HXCOM connection, const char *cmdline) {
    char message[kMessageRoom];
    snprintf(message, sizeof message, "E: %s", cmdline);
    return xcom_client_send(connection, message) == 0;
}

void await_replies(int count, int max_ms) {
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += max_ms / 1000;
    deadline.tv_nsec += static_cast<long>(max_ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        ++deadline.tv_sec;
        deadline.tv_nsec -= 1000000000L;
    }
    char dropped[kResponseRoom];
    while (count > 0) {
        if (sem_timedwait(&response_sem, &deadline) != 0) {
            if (errno == EINTR) continue;
            return;
        }
        g_replies.pop(dropped);
        --count;
    }
}

unsigned link_hold_for_farewell(HXCOM *connection) {
    pthread_mutex_lock(&link_mut);  // never released: the process ends
    *connection = hclient;
    return farewell_sent;
}

bool link_has_ended() {
    return g_end_consumed;
}

bool stream_has_ended() {
    return g_stream_ended.load();
}

int send_command(const char *cmdline) {
    char message[kMessageRoom];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    snprintf(message, sizeof message, cmd_fmt, cmdline);  // one of three fixed formats
#pragma GCC diagnostic pop
    if (!send_message(message)) {
        shell_println("error: unknown error executing a command");
        return kLinkEnded;
    }
    return response_helper();
}

int send_api_cmd(const char *cmdline) {
    return send_framed("E: %s", cmdline, "");
}

int send_api_request(const char *cmdline, bool *delivered, unsigned step) {
    return send_framed("E: %s", cmdline, "", delivered, step);
}

int send_sys_cmd(const char *cmdline) {
    return send_framed("D: %s", cmdline, "");
}

int send_session_cmd(const char *op, const char *arg) {
    return send_framed("N: %s %s", op, arg);
}

int response_helper() {
    while (sem_wait(&response_sem) != 0 && errno == EINTR) {
    }
    char response[kResponseRoom];
    g_replies.pop(response);

    int result;
    if (response[0] == '\0') {
        if (g_stream_ended.load()) g_end_consumed = true;
        shell_println("error: session is closed by peer");
        result = kLinkEnded;
    } else {
        result = parse_leading_int(response);
        if (result < 0 && did_registration) {
            shell_println("error: command not found");
            fflush(stdout);
            result = -1;
        }
    }
    sem_post(&input_ready_sem);
    return result;
}

int message_handler(HXCOM, char *msg) {
    if (msg == nullptr) {
        g_stream_ended.store(true);
        sem_post(&response_sem);
    } else if (msg[0] == 'R') {
        // Only the first character is examined; a shorter line gives an empty reply,
        // which reads as the end of the link.
        size_t len = strlen(msg);
        if (g_replies.push(len > kReplyPrefixLength ? msg + kReplyPrefixLength : ""))
            sem_post(&response_sem);
    }
    return 0;
}

char *encode(char *sNewString, const char *sOldString) {
    static const char kHex[] = "0123456789abcdef";
    char *out = sNewString;
    for (const unsigned char *in = reinterpret_cast<const unsigned char *>(sOldString); *in; ++in) {
        unsigned value = *in & 0x7Fu;
        *out++ = kHex[value >> 4];
        *out++ = kHex[value & 0xF];
    }
    *out = '\0';
    return sNewString;
}

bool carries_secrets(const char *line) {
    char copy[kResponseRoom];
    snprintf(copy, sizeof copy, "%s", line);
    char *argv[MAX_ARGS];
    int argc = 0;
    if (tokenizeString(copy, &argc, argv) != 0 || argc == 0) return false;
    bool forwards_words =
        strcmp(argv[0], "api") == 0 || strcmp(argv[0], "sys") == 0 || strcmp(argv[0], "kbox") == 0;
    const char *command = forwards_words && argc > 1 ? argv[1] : argv[0];
    return strcmp(command, "setpassword") == 0 || strcmp(command, "webmonitoring") == 0;
}

int join_encoding_secrets(char *out, int argc, char **argv) {
    int first = 0, last = -1;  // the secret words, none by default
    secret_words(argc, argv, first, last);
    // Each secret may grow to twice its length; the joined line must fit its 512 bytes.
    char encoded[2][2 * kResponseRoom + 1];
    char *words[MAX_ARGS];
    size_t total = 0;
    for (int i = 0; i < argc; ++i) {
        words[i] = i >= first && i <= last ? encode(encoded[i - first], argv[i]) : argv[i];
        total += strlen(words[i]) + (i > 0 ? 1 : 0);
    }
    if (total > 511) {
        shell_println("error: command too long once its secrets are encoded; not sent");
        return -1;
    }
    make_normalized_string(out, argc, words);
    return 0;
}

int preProcessPasswordCommands(char *cbuff) {
    char copy[kResponseRoom];
    snprintf(copy, sizeof copy, "%s", cbuff);
    char *argv[MAX_ARGS];
    int argc = 0;
    if (tokenizeString(copy, &argc, argv) != 0) return 0;
    int first, last;
    // Other lines keep their spacing, quotes and escapes.
    return secret_words(argc, argv, first, last) ? join_encoding_secrets(cbuff, argc, argv) : 0;
}
