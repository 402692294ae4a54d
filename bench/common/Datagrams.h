// Sending prepared lines as datagrams, the way the application and syslogd deliver text to
// a session's listener socket: one line per datagram.
#pragma once

#include <stddef.h>

#include <string>
#include <string_view>
#include <vector>

namespace vela::bench {

// Lines kept back to back in one buffer, so that sending them allocates nothing. Filled by
// one thread; once filled, any number of threads may read it.
class LineBatch {
  public:
    // Appends a line; its bytes are sent as they are (the caller adds the LF).
    void add(std::string_view line);
    size_t size() const { return ends_.size(); }
    std::string_view at(size_t i) const;
    size_t bytes() const { return bytes_.size(); }

  private:
    std::string bytes_;
    std::vector<size_t> ends_;
};

// Lines of exactly length bytes, LF included (length >= 16): "<tag> NNNNNNN " and filler.
// The last line ends with marker before its LF, so that a reader knows the end. The batch
// is the caller's; any thread.
LineBatch makeLines(size_t count, size_t length, std::string_view tag, std::string_view marker);

// Sends every line of batch as one datagram to the socket bound at path, waiting while the
// receiver's queue is full, and up to 5 seconds for the path to be bound. False when the
// socket cannot be reached or a send fails. Any thread; allocates nothing per line.
bool sendBatch(const std::string &path, const LineBatch &batch);

}  // namespace vela::bench
