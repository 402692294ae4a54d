#include "Forwarder.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sim {

Forwarder::Forwarder() : socket_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}

void Forwarder::rescan(const std::string &dir) {
    listeners_.clear();
    DIR *d = ::opendir(dir.c_str());
    if (d == nullptr) return;
    while (struct dirent *entry = ::readdir(d)) {
        std::string path = dir + "/" + entry->d_name;
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
            path.size() < sizeof(sockaddr_un{}.sun_path))
            listeners_.push_back(path);
    }
    ::closedir(d);
    std::sort(listeners_.begin(), listeners_.end());
}

void Forwarder::send(std::string_view line) {
    if (!socket_) return;
    size_t length = std::min(line.size(), kMaxDatagram);
    for (auto it = listeners_.begin(); it != listeners_.end();) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, it->c_str(), it->size());
        ssize_t n;
        do {
            n = ::sendto(socket_.get(), line.data(), length, MSG_DONTWAIT | MSG_NOSIGNAL,
                         reinterpret_cast<const sockaddr *>(&address), sizeof address);
        } while (n < 0 && errno == EINTR);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOBUFS)
            it = listeners_.erase(it);
        else
            ++it;
    }
}

}  // namespace sim
