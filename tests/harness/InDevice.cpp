#include "InDevice.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>

#include "subprocess.h"

namespace vela::test {

vela::UniqueFd socketInDevice(pid_t initPid, const sockaddr *address, socklen_t length, int type) {
    // A threaded process cannot change its user or mount namespace: a forked child makes
    // the socket, and the test takes it from there. Everything it needs is prepared first.
    const std::string prefix = "/proc/" + std::to_string(initPid) + "/ns/";
    vela::UniqueFd namespaces[3];
    for (int i = 0; i < 3; ++i)
        namespaces[i].reset(
            ::open((prefix + std::array{"user", "mnt", "net"}[i]).c_str(), O_RDONLY | O_CLOEXEC));
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return {};
    vela::UniqueFd reading(pipe[0]), writing(pipe[1]);
    const pid_t pid = ::fork();
    if (pid < 0) return {};
    if (pid == 0) {  // only system calls from here on
        // A sanitizer's helper thread may share our root and cwd, which setns refuses.
        if (::unshare(CLONE_FS) != 0) ::_exit(1);
        for (int i = 0; i < 3; ++i) {
            // Our own user namespace cannot be entered again (EINVAL): it is the device's.
            if (::setns(namespaces[i].get(), 0) != 0 && (i > 0 || errno != EINVAL)) ::_exit(1);
        }
        const int fd = ::socket(address->sa_family, type | SOCK_CLOEXEC, 0);
        if (fd < 0 || ::connect(fd, address, length) != 0 ||
            ::write(writing.get(), &fd, sizeof fd) != sizeof fd)
            ::_exit(1);
        ::pause();  // until the test has taken the socket
        ::_exit(0);
    }
    writing.reset();
    int childFd = -1;
    const bool made = ::read(reading.get(), &childFd, sizeof childFd) == sizeof childFd;
    vela::UniqueFd child(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    vela::UniqueFd socket(
        made && child ? static_cast<int>(::syscall(SYS_pidfd_getfd, child.get(), childFd, 0)) : -1);
    ::kill(pid, SIGKILL);
    waitChild(pid, std::chrono::seconds(5));
    int on = 1;
    if (socket && type == SOCK_STREAM)
        ::setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return socket;
}

}  // namespace vela::test
