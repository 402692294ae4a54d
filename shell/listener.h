// Listener sockets on which other processes of the device send the session text, the
// reader of the API listener, and the output discipline shared with the line editor.
#pragma once

// Listener directory names under /tmp.
constexpr const char *kApiListenerDir = "apiasynclisteners/";
constexpr const char *kSyslogListenerDir = "sysloglisteners/";

// Creates the datagram socket /tmp/<pipe_name>vela<terminal> (an old file of that name
// is removed first), readable and writable by everyone. The descriptor, owned by the
// caller, or -1; the full path is copied into fullname_buffer (128 bytes) when it is
// not null. Main thread or the log reader thread.
int setupSocket(const char *pipe_name, char *fullname_buffer);

// Thread body: prints the lines of the API listener socket (api_async_event_fd), or hands
// the next one over as cmdResult while waitingOnResponse is set.
void *apiAsyncEventReaderThread(void *args);

// The editor's output-lock callback: takes (non-zero lock) or releases async_stdout_mut.
void cle_lock_unlock_op(int lock, char *tag);
// The editor's typing report: keeps cle_inline.
void cle_inline_state_tracker(int state);

// Flushes stdout_shio unless the user is typing a line. Takes async_stdout_mut.
void flush_background_output();

// Most background lines written in one go during a burst.
constexpr int kFlushEvery = 64;

// After a background line from fd: flushes, unless more text is already queued on fd
// and fewer than kFlushEvery lines wait (*unflushed counts them), so a burst reaches the
// terminal in a few large writes. The bytes and their order are the same.
void flush_after_line(int fd, int *unflushed);
