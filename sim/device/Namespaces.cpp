#include "Namespaces.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "SetupError.h"
#include "unique_fd.h"

namespace sim::device {

namespace {

void writeFile(const std::string &path, const std::string &text) {
    vela::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (!fd || ::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        throwSystemError("write " + path);
}

vela::UniqueFd openNamespace(pid_t pid, const char *name) {
    std::string path = "/proc/" + std::to_string(pid) + "/ns/" + name;
    vela::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) throwSystemError("open " + path);
    return fd;
}

bool sameNamespace(int fd, const char *ownPath) {
    struct stat theirs, ours;
    return ::fstat(fd, &theirs) == 0 && ::stat(ownPath, &ours) == 0 &&
           theirs.st_ino == ours.st_ino && theirs.st_dev == ours.st_dev;
}

}  // namespace

void enterNewNamespaces() {
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();
    if (uid != 0) {
        if (::unshare(CLONE_NEWUSER) != 0) throwSystemError("new user namespace");
        // Writing gid_map unprivileged requires setgroups to be denied first.
        writeFile("/proc/self/setgroups", "deny");
        writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n");
        writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n");
    }
    if (::unshare(CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWPID) != 0)
        throwSystemError("new mount, network and pid namespaces");
}

void joinNamespaces(pid_t pid) {
    // Opened together, before any switch changes what /proc shows.
    vela::UniqueFd user = openNamespace(pid, "user");
    vela::UniqueFd mount = openNamespace(pid, "mnt");
    vela::UniqueFd net = openNamespace(pid, "net");
    vela::UniqueFd pidNs = openNamespace(pid, "pid");
    if (!sameNamespace(user.get(), "/proc/self/ns/user") && ::setns(user.get(), CLONE_NEWUSER) != 0)
        throwSystemError("join the device's user namespace");
    // A sanitizer's helper thread may share our root and cwd, which setns refuses.
    if (::unshare(CLONE_FS) != 0) throwSystemError("unshare the file system attributes");
    if (::setns(mount.get(), CLONE_NEWNS) != 0) throwSystemError("join the device's mounts");
    if (::setns(net.get(), CLONE_NEWNET) != 0) throwSystemError("join the device's network");
    if (::setns(pidNs.get(), CLONE_NEWPID) != 0) throwSystemError("join the device's processes");
    if (::chdir("/") != 0) throwSystemError("chdir /");
}

}  // namespace sim::device
