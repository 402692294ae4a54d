// The sessions zuz knows: one per connection, published for "status" and "find".
#ifndef SIM_ZUZ_SESSIONS_H
#define SIM_ZUZ_SESSIONS_H

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sim::zuz {

struct Session {
    int id = 0;
    bool registered = false;
    std::string type;
    std::string listenerPath;
    std::string tty;
    std::string user;  // set by a successful login
    std::string name;  // set by "N: name"
};

class SessionRegistry {
  public:
    // Stores a copy of session under its id (registered sessions only). Any thread.
    void publish(const Session &session);
    // Removes the session with that id. Any thread.
    void forget(int id);
    // Copies of the registered sessions, owned by the caller, in id order. Any thread.
    std::vector<Session> snapshot() const;

  private:
    mutable std::mutex mutex_;
    std::map<int, Session> sessions_;  // guarded by mutex_
};

}  // namespace sim::zuz

#endif
