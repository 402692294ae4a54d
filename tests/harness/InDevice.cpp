#include "InDevice.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "Subprocess.h"

namespace vela::test {

namespace {

// Namespaces are entered by a forked child (a threaded process cannot change its
// mount namespace), which makes the socket and hands it back over a socket pair.
// Everything the child needs is prepared before the fork.
struct Recipe {
    int nsFds[3] = {-1, -1, -1};  // user (or -1 when already ours), mount, net
    int family = AF_INET;
    int type = SOCK_STREAM;
    sockaddr_storage address{};
    socklen_t length = 0;
    bool bind = false;
    std::string unlinkPath;
};

int openNamespace(pid_t pid, const char *name) {
    std::string path = "/proc/" + std::to_string(pid) + "/ns/" + name;
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

bool sameUserNamespace(int fd) {
    struct stat theirs, ours;
    return ::fstat(fd, &theirs) == 0 && ::stat("/proc/self/ns/user", &ours) == 0 &&
           theirs.st_ino == ours.st_ino && theirs.st_dev == ours.st_dev;
}

// Runs in the child: only system calls from here on.
[[noreturn]] void makeAndSend(const Recipe &recipe, int channel) {
    const int kinds[3] = {CLONE_NEWUSER, CLONE_NEWNS, CLONE_NEWNET};
    // A sanitizer's helper thread may share our root and cwd, which setns refuses.
    if (::unshare(CLONE_FS) != 0) ::_exit(1);
    for (int i = 0; i < 3; ++i) {
        if (recipe.nsFds[i] >= 0 && ::setns(recipe.nsFds[i], kinds[i]) != 0) ::_exit(1);
    }
    int fd = ::socket(recipe.family, recipe.type | SOCK_CLOEXEC, 0);
    if (fd < 0) ::_exit(1);
    const auto *address = reinterpret_cast<const sockaddr *>(&recipe.address);
    if (recipe.bind) {
        ::unlink(recipe.unlinkPath.c_str());
        if (::bind(fd, address, recipe.length) != 0) ::_exit(1);
        ::chmod(recipe.unlinkPath.c_str(), 0666);
    } else if (::connect(fd, address, recipe.length) != 0) {
        ::_exit(1);
    }
    char byte = 0;
    iovec iov{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr *header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    ::_exit(::sendmsg(channel, &message, 0) == 1 ? 0 : 1);
}

sim::UniqueFd receiveFd(int channel) {
    char byte;
    iovec iov{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    if (::recvmsg(channel, &message, MSG_CMSG_CLOEXEC) != 1) return {};
    cmsghdr *header = CMSG_FIRSTHDR(&message);
    if (header == nullptr || header->cmsg_type != SCM_RIGHTS) return {};
    int fd;
    std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
    return sim::UniqueFd(fd);
}

sim::UniqueFd makeInDevice(pid_t initPid, Recipe &recipe) {
    sim::UniqueFd user(openNamespace(initPid, "user"));
    sim::UniqueFd mount(openNamespace(initPid, "mnt"));
    sim::UniqueFd net(openNamespace(initPid, "net"));
    if (!user || !mount || !net) return {};
    recipe.nsFds[0] = sameUserNamespace(user.get()) ? -1 : user.get();
    recipe.nsFds[1] = mount.get();
    recipe.nsFds[2] = net.get();
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair) != 0) return {};
    sim::UniqueFd parentEnd(pair[0]), childEnd(pair[1]);
    pid_t pid = ::fork();
    if (pid < 0) return {};
    if (pid == 0) makeAndSend(recipe, childEnd.get());
    childEnd.reset();
    auto status = waitChild(pid, std::chrono::seconds(5));
    if (status != 0) return {};
    return receiveFd(parentEnd.get());
}

}  // namespace

namespace {

sim::UniqueFd connectTcpInDevice(pid_t initPid, Recipe &recipe) {
    sim::UniqueFd fd = makeInDevice(initPid, recipe);
    if (fd) {
        int on = 1;
        ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return fd;
}

}  // namespace

sim::UniqueFd connectInDevice(pid_t initPid, int port) {
    Recipe recipe;
    auto *address = reinterpret_cast<sockaddr_in *>(&recipe.address);
    address->sin_family = AF_INET;
    address->sin_port = htons(static_cast<uint16_t>(port));
    address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    recipe.length = sizeof(sockaddr_in);
    return connectTcpInDevice(initPid, recipe);
}

sim::UniqueFd connectInDevice6(pid_t initPid, int port) {
    Recipe recipe;
    auto *address = reinterpret_cast<sockaddr_in6 *>(&recipe.address);
    address->sin6_family = AF_INET6;
    address->sin6_port = htons(static_cast<uint16_t>(port));
    address->sin6_addr = in6addr_loopback;
    recipe.family = AF_INET6;
    recipe.length = sizeof(sockaddr_in6);
    return connectTcpInDevice(initPid, recipe);
}

namespace {

Recipe unixDatagram(const std::string &devicePath, bool bind) {
    Recipe recipe;
    auto *address = reinterpret_cast<sockaddr_un *>(&recipe.address);
    address->sun_family = AF_UNIX;
    std::memcpy(address->sun_path, devicePath.c_str(), devicePath.size());
    recipe.family = AF_UNIX;
    recipe.type = SOCK_DGRAM;
    recipe.length = sizeof(sockaddr_un);
    recipe.bind = bind;
    if (bind) recipe.unlinkPath = devicePath;
    return recipe;
}

}  // namespace

sim::UniqueFd bindDatagramInDevice(pid_t initPid, const std::string &devicePath) {
    if (devicePath.size() >= sizeof(sockaddr_un{}.sun_path)) return {};
    Recipe recipe = unixDatagram(devicePath, true);
    return makeInDevice(initPid, recipe);
}

sim::UniqueFd connectDatagramInDevice(pid_t initPid, const std::string &devicePath) {
    if (devicePath.size() >= sizeof(sockaddr_un{}.sun_path)) return {};
    Recipe recipe = unixDatagram(devicePath, false);
    return makeInDevice(initPid, recipe);
}

}  // namespace vela::test
