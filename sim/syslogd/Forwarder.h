// Sends log lines to the listener sockets found in the listener directory.
#ifndef SIM_FORWARDER_H
#define SIM_FORWARDER_H

#include <string>
#include <string_view>
#include <vector>

#include "unique_fd.h"

namespace sim {

// Used by syslogd's one thread only.
class Forwarder {
  public:
    // Largest datagram sent; longer lines are cut.
    static constexpr size_t kMaxDatagram = 1024;

    Forwarder();
    // Replaces the listener set with the sockets now in dir.
    void rescan(const std::string &dir);
    // Sends line as one datagram to every listener; a listener that refuses it (its
    // session has gone) is dropped until the next rescan, one whose queue is full
    // just misses this line.
    void send(std::string_view line);
    size_t listenerCount() const { return listeners_.size(); }

  private:
    vela::UniqueFd socket_;
    std::vector<std::string> listeners_;
};

}  // namespace sim

#endif
