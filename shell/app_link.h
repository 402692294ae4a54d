// The shell's half of the conversation with the application: framed messages over the
// XCOM connection, the numeric replies, and the encoding of secret words.
// Senders block the calling thread (the main thread) until the reply has arrived.
#pragma once

#include "xcom.h"

// Result of the senders when the application can no longer be reached.
constexpr int kLinkEnded = -17;

// Sends cmdline framed with cmd_fmt; the reply code, or -17 when it cannot be sent or
// the link has ended.
int send_command(const char *cmdline);
// Sends "E: " + cmdline; the reply code, or -1 when it cannot be sent.
int send_api_cmd(const char *cmdline);
// As send_api_cmd; *delivered tells whether the line went out at all (a reply, and any
// result line that follows it, can only come for a delivered request).
int send_api_request(const char *cmdline, bool *delivered);
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

// Rewrites cbuff (512 bytes) with the secret words of password commands in hex.
// 0 when the line may be sent; -1 when its encoded form would not fit, after a message
// (a secret is never cut and sent).
int preProcessPasswordCommands(char *cbuff);
// Writes each character of sOldString, top bit cleared, as two lower-case hex digits
// into sNewString (room for 2n + 1 bytes); returns sNewString.
char *encode(char *sNewString, const char *sOldString);
