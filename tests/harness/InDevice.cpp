#include "InDevice.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "Subprocess.h"

namespace vela::test {

namespace {

int openNamespace(pid_t pid, const char *name) {
    std::string path = "/proc/" + std::to_string(pid) + "/ns/" + name;
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

bool sameUserNamespace(int fd) {
    struct stat theirs, ours;
    return ::fstat(fd, &theirs) == 0 && ::stat("/proc/self/ns/user", &ours) == 0 &&
           theirs.st_ino == ours.st_ino && theirs.st_dev == ours.st_dev;
}

// One byte that carries one descriptor (SCM_RIGHTS) over a socket pair.
struct FdMessage {
    char byte = 0;
    iovec iov{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr header{};
    FdMessage() {
        header.msg_iov = &iov;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
    }
};

// Runs in a forked child of a threaded process: only system calls from here on.
[[noreturn]] void makeAndSend(const int (&namespaces)[3], const sockaddr *address, socklen_t length,
                              int type, bool bind, int channel) {
    const int kinds[3] = {CLONE_NEWUSER, CLONE_NEWNS, CLONE_NEWNET};
    // A sanitizer's helper thread may share our root and cwd, which setns refuses.
    if (::unshare(CLONE_FS) != 0) ::_exit(1);
    for (int i = 0; i < 3; ++i) {
        if (namespaces[i] >= 0 && ::setns(namespaces[i], kinds[i]) != 0) ::_exit(1);
    }
    int fd = ::socket(address->sa_family, type | SOCK_CLOEXEC, 0);
    const char *path = reinterpret_cast<const sockaddr_un *>(address)->sun_path;
    if (fd < 0) ::_exit(1);
    if (bind) {
        ::unlink(path);
        if (::bind(fd, address, length) != 0 || ::chmod(path, 0666) != 0) ::_exit(1);
    } else if (::connect(fd, address, length) != 0) {
        ::_exit(1);
    }
    FdMessage message;
    cmsghdr *header = CMSG_FIRSTHDR(&message.header);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    ::_exit(::sendmsg(channel, &message.header, 0) == 1 ? 0 : 1);
}

}  // namespace

vela::UniqueFd socketInDevice(pid_t initPid, const sockaddr *address, socklen_t length, int type,
                              bool bind) {
    // A threaded process cannot change its mount namespace: a forked child makes the
    // socket, with everything it needs prepared before the fork.
    vela::UniqueFd user(openNamespace(initPid, "user"));
    vela::UniqueFd mount(openNamespace(initPid, "mnt"));
    vela::UniqueFd net(openNamespace(initPid, "net"));
    if (!user || !mount || !net) return {};
    const int namespaces[3] = {sameUserNamespace(user.get()) ? -1 : user.get(), mount.get(),
                               net.get()};
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair) != 0) return {};
    vela::UniqueFd parentEnd(pair[0]), childEnd(pair[1]);
    pid_t pid = ::fork();
    if (pid < 0) return {};
    if (pid == 0) makeAndSend(namespaces, address, length, type, bind, childEnd.get());
    childEnd.reset();
    FdMessage message;
    if (waitChild(pid, std::chrono::seconds(5)) != 0 ||
        ::recvmsg(parentEnd.get(), &message.header, MSG_CMSG_CLOEXEC) != 1)
        return {};
    cmsghdr *header = CMSG_FIRSTHDR(&message.header);
    if (header == nullptr || header->cmsg_type != SCM_RIGHTS) return {};
    int fd;
    std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
    vela::UniqueFd socket(fd);
    int on = 1;
    if (type == SOCK_STREAM) ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return socket;
}

}  // namespace vela::test
