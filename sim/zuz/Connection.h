// One shell's XCOM connection to zuz.
#ifndef SIM_ZUZ_CONNECTION_H
#define SIM_ZUZ_CONNECTION_H

#include <string_view>

#include "Application.h"
#include "Commands.h"
#include "Rules.h"
#include "Sessions.h"
#include "unique_fd.h"

namespace sim::zuz {

// Runs on its own thread: reads lines until the peer closes (or a rule drops it).
class Connection {
  public:
    Connection(Application &app, vela::UniqueFd socket, int id);
    // Serves the connection to its end. Call once, on the connection's thread.
    void serve();

  private:
    bool handleLine(std::string_view line);  // false: close the connection
    bool runRule(const std::vector<Action> &actions, std::string_view line);
    // Handles a line as usual; false when the connection failed.
    bool handle(std::string_view line, const ResultOverride &override, bool reply);
    int registerSession(std::string_view arguments);
    bool sendXcom(std::string_view bytes);
    bool sendReply(int code);
    void sendDatagram(std::string_view bytes);
    void sendLines(const std::vector<std::string> &lines);

    Application &app_;
    vela::UniqueFd socket_;
    vela::UniqueFd datagram_;  // unbound, for sending to the session's listener
    Session session_;
};

}  // namespace sim::zuz

#endif
