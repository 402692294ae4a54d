#include "Sessions.h"

namespace sim::zuz {

void SessionRegistry::publish(const Session &session) {
    std::lock_guard lock(mutex_);
    if (session.registered)
        sessions_[session.id] = session;
    else
        sessions_.erase(session.id);
}

void SessionRegistry::forget(int id) {
    std::lock_guard lock(mutex_);
    sessions_.erase(id);
}

std::vector<Session> SessionRegistry::snapshot() const {
    std::lock_guard lock(mutex_);
    std::vector<Session> copy;
    for (const auto &[id, session] : sessions_)
        copy.push_back(session);
    return copy;
}

}  // namespace sim::zuz
