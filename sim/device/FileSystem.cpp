#include "FileSystem.h"

#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "DevicePaths.h"
#include "SetupError.h"
#include "TelnetPaths.h"

namespace sim::device {

namespace {

// Host device nodes a shell needs; /dev/pts keeps the real terminals.
struct HostDevice {
    const char *path;
    bool directory;
};
constexpr HostDevice kHostDevices[] = {
    {"/dev/null", false},   {"/dev/zero", false},    {"/dev/tty", false},
    {"/dev/random", false}, {"/dev/urandom", false}, {"/dev/pts", true},
};

vela::UniqueFd openPath(const std::string &path, bool directory) {
    vela::UniqueFd fd(::open(path.c_str(), O_PATH | O_CLOEXEC | (directory ? O_DIRECTORY : 0)));
    if (!fd) throwSystemError("open " + path);
    return fd;
}

void makeDirs(const std::string &path, mode_t mode) {
    for (size_t slash = 1; slash != std::string::npos;) {
        slash = path.find('/', slash + 1);
        std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) throwSystemError("mkdir " + part);
    }
}

// Creates an empty file; an existing one (possibly a bound host program, which must
// never be opened for writing) is left alone.
void makeFile(const std::string &path, mode_t mode) {
    vela::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!fd && errno != EEXIST) throwSystemError("create " + path);
}

void bindInto(const BindSource &source) {
    makeDirs(source.devicePath.substr(0, source.devicePath.rfind('/')), 0755);
    if (source.directory)
        makeDirs(source.devicePath, 0755);
    else
        makeFile(source.devicePath, 0644);
    std::string from = "/proc/self/fd/" + std::to_string(source.handle.get());
    if (::mount(from.c_str(), source.devicePath.c_str(), nullptr, MS_BIND, nullptr) != 0)
        throwSystemError("bind " + source.devicePath);
}

void mountTmpfs(const char *where, const char *options) {
    if (::mount("tmpfs", where, "tmpfs", MS_NOSUID, options) != 0)
        throwSystemError(std::string("tmpfs on ") + where);
}

void makeListenerDir(const char *path) {
    makeDirs(path, 0755);
    // Every session, whatever its user, binds its sockets there.
    if (::chmod(path, 01777) != 0) throwSystemError(std::string("chmod ") + path);
}

}  // namespace

const std::vector<StandIn> &standIns() {
    static const std::vector<StandIn> kStandIns = {
        {"zuz", paths::kBinDir},
        {"kbox", paths::kBinDir},
        {"crashreport", paths::kBinDir},
        {"fw_setenv", paths::kBinDir},
        {"fw_printenv", paths::kBinDir},
        {"syslogd", paths::kSbinDir},
        {telnet::kServices[0].loginName, paths::kSbinDir},
        {telnet::kServices[1].loginName, paths::kSbinDir},
    };
    return kStandIns;
}

HostObjects openHostObjects(const Options &options, const std::string &simBin) {
    HostObjects host;
    for (const auto &device : kHostDevices)
        host.devices.push_back(
            {openPath(device.path, device.directory), device.path, device.directory});
    for (const auto &standIn : standIns()) {
        host.programs.push_back({openPath(simBin + "/" + standIn.name, false),
                                 std::string(standIn.deviceDir) + "/" + standIn.name, false});
    }
    for (const auto &install : options.installs) {
        struct stat st;
        bool directory = ::stat(install.hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        host.programs.push_back(
            {openPath(install.hostPath, directory), install.devicePath, directory});
    }
    if (!options.stateDir.empty())
        host.state = {openPath(options.stateDir, true), paths::kStateDir, true};
    return host;
}

void buildFileSystem(const HostObjects &host, const Options &options) {
    // Nothing done here may reach the host's mounts.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        throwSystemError("make / private");
    if (::mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
        throwSystemError("mount /proc");
    mountTmpfs("/tmp", "mode=1777");
    mountTmpfs("/opt", "mode=755");
    mountTmpfs("/dev", "mode=755");

    for (const auto &device : host.devices)
        bindInto(device);
    makeDirs("/dev/shm", 01777);
    if (::chmod("/dev/shm", 01777) != 0) throwSystemError("chmod /dev/shm");
    // A bound /dev/ptmx cannot find its pts beside it; new terminals (the telnet
    // daemons') come from the bound instance itself.
    const char *const links[][2] = {{"pts/ptmx", "/dev/ptmx"},
                                    {"/proc/self/fd", "/dev/fd"},
                                    {"/proc/self/fd/0", "/dev/stdin"},
                                    {"/proc/self/fd/1", "/dev/stdout"},
                                    {"/proc/self/fd/2", "/dev/stderr"}};
    for (const auto &link : links) {
        if (::symlink(link[0], link[1]) != 0) throwSystemError(std::string("symlink ") + link[1]);
    }

    if (host.state.handle)
        bindInto(host.state);
    else
        makeDirs(paths::kStateDir, 0755);
    for (const auto &program : host.programs)
        bindInto(program);

    if (options.readyMarker) makeFile(paths::kReadyMarker, 0644);
    if (options.apiListenerDir) makeListenerDir(paths::kApiListenerDir);
    if (options.syslogListenerDir) makeListenerDir(paths::kSyslogListenerDir);
}

void setUpNetwork() {
    // Bursts of output and events stay queued for a reader that drains them late
    // instead of stalling the sender (the kernel's default queue holds 10).
    vela::UniqueFd queue(::open("/proc/sys/net/unix/max_dgram_qlen", O_WRONLY | O_CLOEXEC));
    if (!queue || ::write(queue.get(), "512", 3) != 3) throwSystemError("set max_dgram_qlen");

    vela::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd) throwSystemError("socket");
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    if (::ioctl(fd.get(), SIOCGIFFLAGS, &request) != 0) throwSystemError("read flags of lo");
    request.ifr_flags |= IFF_UP | IFF_RUNNING;
    if (::ioctl(fd.get(), SIOCSIFFLAGS, &request) != 0) throwSystemError("bring lo up");
}

}  // namespace sim::device
