// The shell's half of the conversation with the application: framed messages over the
// XCOM connection, the numeric replies, and the one result line of a login or logout.
//
// Guards: the connection is used under the link mutex by every sender; replies pass from
// the XCOM reader thread through a queue with its own mutex and a semaphore; the result
// slot has its own mutex and semaphore. Senders block the calling thread until the reply
// has arrived; only the main thread sends, but for the termination thread's farewell.
#pragma once

#include <pthread.h>
#include <semaphore.h>
#include <stddef.h>

#include <atomic>

#include "posix_threads.h"
#include "session_config.h"
#include "xcom.h"

class SessionLog;

// The reply code when the application can no longer be reached: the session ends.
constexpr int kLinkEnded = -17;

// What a session sends on its way out; the termination thread sends the steps that the
// main thread has not sent (bits, recorded by send_line).
enum FarewellStep : unsigned {
    kNoFarewell = 0,
    kFarewellLogout = 1,         // the secure profile's logout request
    kFarewellClientSetting = 2,  // the client-address setting cleared
    kFarewellUnregister = 4,     // "U"
};

class AppLink {
  public:
    explicit AppLink(const SessionLog &log);
    AppLink(const AppLink &) = delete;
    AppLink &operator=(const AppLink &) = delete;

    // --- start-up, main thread
    bool create_reply_semaphore();
    bool create_ready_semaphore();
    // One attempt to connect to host:port; true once connected.
    bool connect(const char *host, int port);
    // Waits until a reply or the end of the link is signalled; without a connection, for
    // ever (the log viewer).
    void wait_for_reply_signal();
    // From now on (registration done) negative reply codes are reported.
    void report_negative_replies() { report_negative_ = true; }

    // --- sending, main thread. Each returns the reply code, or kLinkEnded once the
    // application can no longer answer; a line that cannot be sent gives -1 (the command
    // sender: kLinkEnded), after a message.
    int send_command(const char *line, CommandMode mode);
    int send_api(const char *line);
    // As send_api; *delivered tells whether the line went out at all (a reply, and any
    // result line that follows it, can only come for a delivered request). step marks a
    // farewell line.
    int send_api_request(const char *line, bool *delivered, unsigned step = kNoFarewell);
    int send_sys(const char *line);
    int send_session(const char *op, const char *arg);
    // Sends line as it is, without waiting (also once the link has ended); once sent,
    // records step. False when there is no connection or the send failed.
    bool send_line(const char *line, unsigned step = kNoFarewell);
    // Waits for the reply to the message just sent and returns its code; gives the
    // command loop a ready token.
    int await_reply();
    // Disconnects and forgets the connection (nothing happens without one).
    void release();

    // True once the link has ended and its one empty reply has been consumed: nothing
    // can be answered any more. Main thread.
    bool ended() const { return end_consumed_; }

    // --- the result line of a login or logout, main thread
    // Sends line as an API request whose result is the next line of the API listener
    // (that line is not printed), and waits for the result: true with it in out (room
    // bytes). False when the request was not delivered, as soon as no result can come
    // any more (the link or the listener reader has ended), or after max_wait_ms (< 0:
    // no limit).
    bool request_result(const char *line, unsigned step, int max_wait_ms, char *out, size_t room);

    // --- the API listener's reader thread
    // Takes line as the result when one is expected; true when taken.
    bool offer_result(const char *line);
    // No listener line can come any more.
    void listener_ended() { listener_ended_.store(true); }

    // --- the command loop's ready tokens, main thread
    void take_ready_token();
    void give_ready_token() { sem_post(&ready_tokens_); }

    // --- the termination thread
    // Takes the connection's mutex for good and returns the farewell steps already
    // sent; the connection (null when there is none) stays valid for the rest of the
    // process. From then on a sender of the main thread waits for ever.
    unsigned hold_for_farewell(HXCOM *connection);
    // Sends "E: " + line on connection without waiting for the reply; false when it
    // could not be sent.
    static bool send_api_without_reply(HXCOM connection, const char *line);
    // Takes up to count replies as they come, for at most max_ms, and drops them.
    void await_replies(int count, int max_ms);

  private:
    // Replies not taken yet, oldest first. Each was posted once on reply_ready_; the end
    // of the link is posted once more, after them, so that a reply that arrives just
    // before the link ends is still taken for the message it answers.
    class PendingReplies {
      public:
        static constexpr size_t kRoom = 515;  // the text of a reply after its prefix
        // Reader thread. False when every slot is taken: the reply is dropped.
        bool push(const char *text);
        // After a wait: the oldest reply, or the empty text once the link ended.
        void pop(char *out);

      private:
        static constexpr int kSlots = 8;  // one awaited reply and a few stray ones
        vela::Mutex mut_;                 // guards everything below
        char slots_[kSlots][kRoom] = {};
        int head_ = 0;
        int count_ = 0;
    };

    // The XCOM line callback (reader thread): takes "R" replies and the end of the link.
    static int message_handler(HXCOM connection, char *line);
    // send_line, unless nothing can answer any more.
    bool send_message(const char *message, unsigned step = kNoFarewell);
    bool wait_for_result(int max_wait_ms);
    int send_framed(const char *fmt, const char *a, const char *b, bool *delivered = nullptr,
                    unsigned step = kNoFarewell);

    const SessionLog &log_;
    bool report_negative_ = false;  // main thread only
    bool end_consumed_ = false;     // main thread only

    pthread_mutex_t link_mut_ = PTHREAD_MUTEX_INITIALIZER;
    HXCOM connection_ = nullptr;  // guarded by link_mut_
    unsigned farewell_sent_ = 0;  // FarewellStep bits; guarded by link_mut_

    PendingReplies replies_;
    sem_t reply_ready_;                      // posted once per reply and once at the end
    std::atomic<bool> stream_ended_{false};  // the reader saw the end of the stream
    sem_t ready_tokens_;                     // the command loop's; main thread only

    vela::Mutex result_mut_;  // guards the two below
    bool result_expected_ = false;
    char result_[512] = "";
    sem_t result_ready_;  // posted when the result was taken
    std::atomic<bool> listener_ended_{false};
};
