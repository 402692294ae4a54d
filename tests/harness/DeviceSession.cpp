#include "DeviceSession.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <thread>

#include "InDevice.h"
#include "time_scale.h"

namespace vela::test {

namespace {

// A device comes up in tens of milliseconds; this only bounds a broken one.
constexpr auto kStartTimeout = 10s;
constexpr auto kTeardownTimeout = 2s;

std::string makeStateDir() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vela-device-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a state directory under " + pattern);
    return pattern;
}

std::vector<std::string> launcherArguments(const DeviceOptions &o, const std::string &stateDir) {
    std::vector<std::string> args = {VELA_HARNESS_DEVICE_LAUNCHER, "--state", stateDir};
    auto add = [&](const char *option, const std::string &value) {
        args.push_back(option);
        args.push_back(value);
    };
    if (!o.velaBinary.empty()) add("--install", o.velaBinary + "=" + kDeviceVela);
    for (const auto &[host, device] : o.installs)
        add("--install", host + "=" + device);
    for (const auto &[name, value] : o.settings)
        add("--setting", name + "=" + value);
    if (!o.readyMarker) args.push_back("--no-ready");
    if (!o.syslogd) args.push_back("--no-syslogd");
    if (o.zuzLate) args.push_back("--zuz-late");
    args.insert(args.end(), o.launcherArguments.begin(), o.launcherArguments.end());
    args.push_back("--");
    args.insert(args.end(), o.command.begin(), o.command.end());
    return args;
}

}  // namespace

const char *deviceLauncherPath() {
    return VELA_HARNESS_DEVICE_LAUNCHER;
}

bool eventually(const std::function<bool()> &condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + scaled(timeout);
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(3ms);
    }
}

DeviceSession::DeviceSession(DeviceOptions options)
    : options_(std::move(options)),
      stateDir_(makeStateDir()),
      state_(stateDir_),
      terminal_(options_.rows, options_.columns) {
    try {
        start();
    } catch (...) {
        tearDown();
        throw;
    }
}

DeviceSession::~DeviceSession() {
    try {
        tearDown();
    } catch (const std::exception &e) {
        std::cerr << "DeviceSession teardown: " << e.what() << "\n";
    }
}

void DeviceSession::start() {
    if (!options_.zuzRules.empty()) state_.setZuzRules(options_.zuzRules);
    launcher_ = spawnOnTerminal(launcherArguments(options_, stateDir_), terminal_.slavePath());
    terminal_.startReading();
    eventually([&] { return state_.daemonPid("device") > 0 || !running(); }, kStartTimeout);
    initPid_ = state_.daemonPid("device");
    if (initPid_ <= 0) {
        terminal_.waitEnd(1s);
        throw std::runtime_error("the device did not start (status " +
                                 std::to_string(exitStatus_.value_or(-1)) +
                                 "): " + terminal_.output());
    }
    initHandle_.reset(static_cast<int>(::syscall(SYS_pidfd_open, initPid_, 0)));
}

bool DeviceSession::waitFor(std::string_view text, std::chrono::milliseconds timeout) {
    size_t end = terminal_.waitFor(text, matchEnd_, scaled(timeout));
    if (end == std::string::npos) return false;
    matchEnd_ = end;
    return true;
}

std::optional<int> DeviceSession::waitExit(std::chrono::milliseconds timeout) {
    if (launcher_ != 0) {
        exitStatus_ = waitChild(launcher_, scaled(timeout));
        if (!exitStatus_) {
            tearDown();
            return std::nullopt;
        }
        launcher_ = 0;
        // Whatever the command wrote last is still on its way through the pty.
        terminal_.waitEnd(1s);
    }
    return exitStatus_;
}

bool DeviceSession::running() {
    if (launcher_ != 0 && (exitStatus_ = waitChild(launcher_, 0ms))) launcher_ = 0;
    return launcher_ != 0;
}

bool DeviceSession::waitForZuzLine(std::string_view line, std::chrono::milliseconds timeout) {
    return eventually(
        [&] {
            auto lines = state_.zuzReceived();
            return std::find(lines.begin(), lines.end(), line) != lines.end();
        },
        timeout);
}

RunResult DeviceSession::runInDevice(const std::vector<std::string> &argv,
                                     std::chrono::milliseconds timeout) {
    std::vector<std::string> args = {VELA_HARNESS_DEVICE_LAUNCHER, "--join",
                                     std::to_string(initPid_), "--"};
    args.insert(args.end(), argv.begin(), argv.end());
    return runProcess(args, scaled(timeout));
}

bool DeviceSession::signalDaemon(std::string_view name, int signal) {
    int pid = state_.daemonPid(name);
    // The shell's own kill: no dependence on a kill program being installed.
    return pid > 0 &&
           runInDevice({"sh", "-c", "kill -" + std::to_string(signal) + " " + std::to_string(pid)})
                   .status == 0;
}

vela::UniqueFd DeviceSession::tcpSocket(int port, bool ipv6) {
    sockaddr_in address4{};
    sockaddr_in6 address6{};
    address4.sin_family = AF_INET;
    address4.sin_port = address6.sin6_port = htons(static_cast<uint16_t>(port));
    address4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address6.sin6_family = AF_INET6;
    address6.sin6_addr = in6addr_loopback;
    auto *address =
        ipv6 ? reinterpret_cast<sockaddr *>(&address6) : reinterpret_cast<sockaddr *>(&address4);
    return socketInDevice(initPid_, address, ipv6 ? sizeof address6 : sizeof address4, SOCK_STREAM,
                          false);
}

vela::UniqueFd DeviceSession::datagramSocket(const std::string &devicePath, bool bind) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (devicePath.size() >= sizeof address.sun_path) return {};
    devicePath.copy(address.sun_path, devicePath.size());
    return socketInDevice(initPid_, reinterpret_cast<sockaddr *>(&address), sizeof address,
                          SOCK_DGRAM, bind);
}

void DeviceSession::tearDown() {
    // The init's death ends every process of the device; the launcher reaps it and
    // exits, so not even a zombie is left.
    if (initHandle_) ::syscall(SYS_pidfd_send_signal, initHandle_.get(), SIGKILL, nullptr, 0);
    if (launcher_ != 0) {
        if (!initHandle_ || !waitChild(launcher_, kTeardownTimeout)) {
            ::kill(-launcher_, SIGKILL);
            waitChild(launcher_, kTeardownTimeout);
        }
        launcher_ = 0;
    }
    if (initHandle_) {
        pollfd fd{initHandle_.get(), POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(std::chrono::milliseconds(kTeardownTimeout).count()));
        initHandle_.reset();
    }
    terminal_.close();
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
