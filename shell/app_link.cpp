// Command and response exchange with the application.

#include "app_link.h"

#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>

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

// Set by the reader thread when the stream has ended.
std::atomic<bool> g_stream_ended{false};
// Set by the main thread once the empty reply of the ended link has been consumed;
// from then on no reply can arrive, so sends fail at once. Main thread only.
bool g_end_consumed = false;

// Sends a formatted message; false when it could not be sent (or nothing can answer).
bool send_message(const char *message) {
    if (g_end_consumed) return false;
    return xcom_client_send(hclient, message) == 0;
}

int send_framed(const char *fmt, const char *a, const char *b, bool *delivered = nullptr) {
    char message[kMessageRoom];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    snprintf(message, sizeof message, fmt, a, b);
#pragma GCC diagnostic pop
    bool sent = send_message(message);
    if (delivered) *delivered = sent;
    if (!sent) {
        shell_println("XCOM send error");
        return -1;
    }
    return response_helper();
}

}  // namespace

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

int send_api_request(const char *cmdline, bool *delivered) {
    return send_framed("E: %s", cmdline, "", delivered);
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

int preProcessPasswordCommands(char *cbuff) {
    char copy[kResponseRoom];
    snprintf(copy, sizeof copy, "%s", cbuff);
    char *argv[MAX_ARGS];
    int argc = 0;
    if (tokenizeString(copy, &argc, argv) != 0) return 0;

    int first_secret, last_secret;
    if (argc == 5 && strcmp(argv[0], "setpassword") == 0) {
        first_secret = 3;
        last_secret = 4;
    } else if (argc == 3 && strcmp(argv[0], "webmonitoring") == 0) {
        first_secret = last_secret = 1;
    } else {
        return 0;
    }

    // Each secret may grow to twice its length; the rebuilt line must fit cmdbuff.
    char encoded[2][2 * kResponseRoom + 1];
    size_t total = 0;
    for (int i = 0; i < argc; ++i) {
        if (i >= first_secret && i <= last_secret)
            argv[i] = encode(encoded[i - first_secret], argv[i]);
        total += strlen(argv[i]) + (i > 0 ? 1 : 0);
    }
    if (total > 511) {
        shell_println("error: command too long once its secrets are encoded; not sent");
        return -1;
    }
    make_normalized_string(cbuff, argc, argv);
    return 0;
}
