// What the raw baseline programs share: each call is a thin layer over the system calls
// the work needs, with fixed buffers and no allocation, so that a baseline costs what the
// work itself costs. Any thread; a LineReader belongs to one.
#pragma once

#include <stddef.h>

namespace vela::bench::raw {

// The application's XCOM address on the device.
inline constexpr const char *kApplicationAddress = "127.0.0.1";
inline constexpr int kApplicationPort = 4121;
inline constexpr const char *kConfigTool = "/opt/halvern/bin/kbox";

// Writes all of data, restarting after EINTR and short writes; false on failure.
bool writeAll(int fd, const char *data, size_t len);
// The same for a NUL-terminated text.
bool writeText(int fd, const char *text);
// Sends a NUL-terminated text on a socket, all of it; false on failure, also when the peer
// has gone (no SIGPIPE).
bool sendText(int fd, const char *text);

// A blocking TCP connection to the application with TCP_NODELAY, owned by the caller;
// -1 on failure.
int connectApplication();

// LF-terminated lines of one socket, from a fixed buffer.
class LineReader {
  public:
    explicit LineReader(int fd) : fd_(fd) {}
    // The next line without its LF (NUL-terminated, valid until the next call), or null at
    // the end of the stream, on an error or for a line longer than the buffer.
    const char *next();
    // True when a whole line is already held, so next() returns without reading.
    bool holdsLine() const;

  private:
    int fd_;
    char buffer_[4096];
    size_t held_ = 0;
    size_t start_ = 0;
};

// Sends message (ending in LF) in one write and reads lines until the "R" reply; its code,
// or kNoReply when the connection failed.
inline constexpr int kNoReply = -100000;
int exchange(int fd, LineReader &reader, const char *message);

// Reads one setting through the configuration tool, as "config NAME 0 VALUE"; false when
// the tool cannot run or answers otherwise. The value is cut to room - 1 characters.
bool readSetting(const char *name, char *value, size_t room);

// The editor's terminal modes: no canonical input, no echo, no signals, one byte at a time.
void makeRaw(int fd);

// A datagram socket bound to path (an old file there is removed first), mode 0666; the
// descriptor, owned by the caller, or -1.
int bindDatagram(const char *path);

}  // namespace vela::bench::raw
