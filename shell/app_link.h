// The shell's half of the conversation with the application: framed messages over the
// XCOM connection, the numeric replies, and the encoding of secret words.
// Senders block the calling thread (the main thread) until the reply has arrived.
#pragma once

#include "xcom.h"

// Result of the senders when the application can no longer be reached.
constexpr int kLinkEnded = -17;

// What a session sends on its way out; the termination thread sends the steps that the
// main thread has not sent (bits, recorded by link_send).
enum FarewellStep : unsigned {
    kNoFarewell = 0,
    kFarewellLogout = 1,         // the secure profile's logout request
    kFarewellClientSetting = 2,  // the client-address setting cleared
    kFarewellUnregister = 4,     // "U"
};

// The connection's guard (link_mut in app_link.cpp) is taken around every send on
// hclient and around its disconnect, so that the handle is never used once released.
// The termination thread takes it for good (link_hold_for_farewell): from then on a
// sender of the main thread waits for ever, while the process ends.

// Sends line on hclient; once sent, records step. False when there is no connection or
// the send failed. Main thread.
bool link_send(const char *line, unsigned step = kNoFarewell);
// Stores the connection just opened. Main thread.
void link_adopt(HXCOM connection);
// Disconnects and forgets the connection (nothing happens without one). Main thread.
void link_release();
// Takes the connection's guard for good and returns the farewell steps already sent;
// the connection (null when there is none) stays valid for the rest of the process.
// Termination thread only.
unsigned link_hold_for_farewell(HXCOM *connection);
// Sends "E: " + cmdline on connection without waiting for the reply; false when it
// could not be sent. Termination thread only, holding the link.
bool send_api_without_reply(HXCOM connection, const char *cmdline);
// Takes up to count replies as they come, for at most max_ms, and drops them.
// Termination thread only, holding the link.
void await_replies(int count, int max_ms);

// Sends cmdline framed with cmd_fmt; the reply code, or -17 when it cannot be sent or
// the link has ended.
int send_command(const char *cmdline);
// Sends "E: " + cmdline; the reply code, or -1 when it cannot be sent.
int send_api_cmd(const char *cmdline);
// As send_api_cmd; *delivered tells whether the line went out at all (a reply, and any
// result line that follows it, can only come for a delivered request). step marks a
// farewell line.
int send_api_request(const char *cmdline, bool *delivered, unsigned step = kNoFarewell);
// Sends "D: " + cmdline; the reply code, or -1 when it cannot be sent.
int send_sys_cmd(const char *cmdline);
// Sends "N: " + op + " " + arg; the reply code, or -1 when it cannot be sent.
int send_session_cmd(const char *op, const char *arg);
// Waits for the reply to the message just sent and returns its code; gives the
// command loop a ready token.
int response_helper();
// The XCOM line callback (reader thread): takes "R" replies and the end of the link.
int message_handler(HXCOM h_client, char *msg);
// True once the link has ended and its one empty reply has been consumed: nothing can
// be answered any more.
bool link_has_ended();
// True once the XCOM reader has seen the end of the incoming stream. Any thread.
bool stream_has_ended();

// True when line is a password command, alone or after "api", "sys" or "kbox", which
// forward their words: it is not kept in the history. Any thread.
bool carries_secrets(const char *line);
// Rewrites cbuff (512 bytes) with the secret words of password commands in hex.
// 0 when the line may be sent; -1 when its encoded form would not fit, after a message
// (a secret is never cut and sent).
int preProcessPasswordCommands(char *cbuff);
// Joins argv[0..argc-1] (argc <= 40) with single blanks into out (512 bytes), the secret
// words of a password command in hex: what "api", "sys" and "kbox" send of their words.
// 0; -1 when the encoded line would not fit, after a message (out is then unchanged).
int join_encoding_secrets(char *out, int argc, char **argv);
// Writes each character of sOldString, top bit cleared, as two lower-case hex digits
// into sNewString (room for 2n + 1 bytes); returns sNewString.
char *encode(char *sNewString, const char *sOldString);
