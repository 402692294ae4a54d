#include "DeviceSession.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "DevicePaths.h"
#include "Escape.h"
#include "Rules.h"
#include "Settings.h"
#include "time_scale.h"

namespace vela::test {

namespace {

namespace sp = sim::paths;

// A device comes up in tens of milliseconds; this only bounds a broken one.
constexpr auto kStartTimeout = 10s;
constexpr auto kTeardownTimeout = 2s;

std::string makeStateDir() {
    std::string pattern = std::filesystem::temp_directory_path() / "vela-device-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a state directory under " + pattern);
    return pattern;
}

std::vector<std::string> launcherArguments(const DeviceOptions &o, const std::string &stateDir) {
    std::vector<std::string> args = {VELA_HARNESS_DEVICE_LAUNCHER, "--state", stateDir};
    if (!o.velaBinary.empty())
        args.insert(args.end(), {"--install", o.velaBinary + "=" + kDeviceVela});
    for (const auto &[name, value] : o.settings)
        args.insert(args.end(), {"--setting", name + "=" + value});
    args.insert(args.end(), o.launcherArguments.begin(), o.launcherArguments.end());
    args.push_back("--");
    args.insert(args.end(), o.command.begin(), o.command.end());
    return args;
}

// A socket of this type made in the namespaces of the device whose init is initPid,
// connected to address. TCP sockets send without delay. Empty on failure.
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
    ::waitpid(pid, nullptr, 0);
    int on = 1;
    if (socket && type == SOCK_STREAM)
        ::setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return socket;
}

}  // namespace

bool eventually(const std::function<bool()> &condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + scaled(timeout);
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(3ms);
    }
}

DeviceSession::DeviceSession(DeviceOptions options)
    : Terminal(Pty{.columns = options.columns}),
      options_(std::move(options)),
      stateDir_(makeStateDir()) {
    try {
        start();
    } catch (...) {
        tearDown();
        throw;
    }
}

DeviceSession::~DeviceSession() {
    tearDown();
}

void DeviceSession::start() {
    if (!options_.zuzRules.empty()) setZuzRules(options_.zuzRules);
    Terminal::start(launcherArguments(options_, stateDir_));
    keepReading();
    eventually(
        [&] {
            initPid_ = std::atoi(stateFile(sp::kDevicePidFile).c_str());
            return initPid_ > 0 || (exitStatus_ = Terminal::waitExit(0ms));
        },
        kStartTimeout);
    if (initPid_ <= 0) {
        waitEnd(1s);
        throw std::runtime_error("the device did not start (status " +
                                 std::to_string(exitStatus_.value_or(-1)) + "): " + output());
    }
    initHandle_.reset(static_cast<int>(::syscall(SYS_pidfd_open, initPid_, 0)));
}

std::optional<int> DeviceSession::waitExit(std::chrono::milliseconds timeout) {
    if (!exitStatus_) {
        exitStatus_ = Terminal::waitExit(timeout);
        if (!exitStatus_) {
            tearDown();
            return std::nullopt;
        }
        // Whatever the command wrote last is still on its way through the pty.
        waitEnd(1s);
    }
    return exitStatus_;
}

std::vector<std::vector<std::string>> DeviceSession::records(std::string_view file) const {
    std::vector<std::vector<std::string>> result;
    std::istringstream in(stateFile(file));
    for (std::string line, field; std::getline(in, line);) {
        result.emplace_back();
        for (std::istringstream fields(line); std::getline(fields, field, '\t');)
            result.back().push_back(sim::unescape(field).value_or("<bad escape>"));
    }
    return result;
}

std::vector<std::string> DeviceSession::zuzReceived() const {
    std::vector<std::string> lines;
    for (auto &fields : records(sp::kZuzReceivedFile))
        lines.push_back(fields.empty() ? "" : std::move(fields[0]));
    return lines;
}

bool DeviceSession::waitForZuzLine(std::string_view line, std::chrono::milliseconds timeout) {
    return eventually([&] { return std::ranges::count(zuzReceived(), line) > 0; }, timeout);
}

std::vector<SyslogRecord> DeviceSession::syslogRecords() const {
    std::vector<SyslogRecord> result;
    for (auto &fields : records(sp::kSyslogRecordsFile)) {
        fields.resize(4);  // priority, identity, pid, message
        result.push_back({std::atoi(fields[0].c_str()), fields[1], fields[3]});
    }
    return result;
}

std::optional<std::string> DeviceSession::setting(const std::string &name) const {
    return sim::Settings(stateDir_ + "/" + sp::kSettingsFile).get(name);
}

std::vector<std::vector<std::string>> DeviceSession::toolInvocations() const {
    return records(sp::kToolLogFile);
}

std::string DeviceSession::stateFile(std::string_view name) const {
    std::ifstream in(stateDir_ + "/" + std::string(name));
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void DeviceSession::setZuzRules(std::string_view rules) const {
    auto parsed = sim::zuz::parseRules(rules);
    std::string message = "bad zuz rules:";
    for (const auto &error : parsed.errors)
        message += "\n  " + error;
    if (!parsed.errors.empty()) throw std::invalid_argument(message);
    // zuz notices the new file by its identity, so replace it rather than rewrite it.
    const std::string path = stateDir_ + "/" + sp::kZuzRulesFile, temp = path + ".new";
    if (!(std::ofstream(temp) << rules) || std::rename(temp.c_str(), path.c_str()) != 0)
        throw std::runtime_error("cannot replace the zuz rules");
}

RunResult DeviceSession::runInDevice(const std::vector<std::string> &argv,
                                     std::chrono::milliseconds timeout) {
    std::vector<std::string> args = {VELA_HARNESS_DEVICE_LAUNCHER, "--join",
                                     std::to_string(initPid_), "--"};
    args.insert(args.end(), argv.begin(), argv.end());
    Terminal command(Pty{.rawOutput = true});
    command.start(args);
    // The end of its output is the end of the command and all it started.
    const std::optional<int> status =
        command.waitEnd(timeout) ? command.waitExit(1s) : std::nullopt;
    return {status ? *status : (command.kill(), -1), command.output()};
}

vela::UniqueFd DeviceSession::connectTcp(int port, bool ipv6) {
    sockaddr_in address4{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    sockaddr_in6 address6{AF_INET6, htons(static_cast<uint16_t>(port)), 0, in6addr_loopback, 0};
    if (ipv6)
        return socketInDevice(initPid_, reinterpret_cast<sockaddr *>(&address6), sizeof address6,
                              SOCK_STREAM);
    return socketInDevice(initPid_, reinterpret_cast<sockaddr *>(&address4), sizeof address4,
                          SOCK_STREAM);
}

vela::UniqueFd DeviceSession::connectDatagram(const std::string &devicePath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (devicePath.size() >= sizeof address.sun_path) return {};
    devicePath.copy(address.sun_path, devicePath.size());
    return socketInDevice(initPid_, reinterpret_cast<sockaddr *>(&address), sizeof address,
                          SOCK_DGRAM);
}

void DeviceSession::tearDown() {
    // The init's death ends every process of the device; the launcher reaps it and
    // exits, so not even a zombie is left.
    if (initHandle_) ::syscall(SYS_pidfd_send_signal, initHandle_.get(), SIGKILL, nullptr, 0);
    if (pid() > 0 && (!initHandle_ || !Terminal::waitExit(kTeardownTimeout))) kill();
    if (initHandle_) {
        pollfd fd{initHandle_.get(), POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(std::chrono::milliseconds(kTeardownTimeout).count()));
        initHandle_.reset();
    }
    hangUp();
    if (stateDir_.empty()) return;
    if (::testing::Test::HasFailure()) {
        std::cerr << "device state kept in " << stateDir_ << "\n";
    } else {
        std::error_code ignored;
        std::filesystem::remove_all(stateDir_, ignored);
    }
    stateDir_.clear();
}

}  // namespace vela::test
