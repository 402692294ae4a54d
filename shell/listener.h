// Listener sockets: local datagram sockets on which other processes of the device send
// the session text (the application its output and events, syslogd the log lines).
#pragma once

struct SessionConfig;
class SessionLog;

// Creates the datagram socket /tmp/<pipe_name>vela<terminal> (an old file of that name
// is removed first), readable and writable by everyone. The descriptor, owned by the
// caller, or -1 after a message (none at a serial API port); the full path is copied
// into fullname_buffer (128 bytes) when it is not null. Main thread or the log reader.
int setupSocket(const SessionConfig &config, const SessionLog &log, const char *pipe_name,
                char *fullname_buffer);
