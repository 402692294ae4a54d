#include "DeviceSession.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <thread>

#include "InDevice.h"

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
    if (!o.velaBinary.empty()) {
        args.push_back("--install");
        args.push_back(o.velaBinary + "=" + kDeviceVela);
    }
    for (const auto &[host, device] : o.installs) {
        args.push_back("--install");
        args.push_back(host + "=" + device);
    }
    for (const auto &[name, value] : o.settings) {
        args.push_back("--setting");
        args.push_back(name + "=" + value);
    }
    const std::pair<bool, const char *> switches[] = {
        {!o.readyMarker, "--no-ready"},
        {!o.apiListenerDir, "--no-api-listener-dir"},
        {!o.syslogListenerDir, "--no-syslog-listener-dir"},
        {!o.zuz, "--no-zuz"},
        {!o.syslogd, "--no-syslogd"},
    };
    for (const auto &[on, option] : switches) {
        if (on) args.push_back(option);
    }
    if (o.zuzStartDelayMs > 0) {
        args.push_back("--zuz-start-delay");
        args.push_back(std::to_string(o.zuzStartDelayMs));
    }
    if (o.lockoutMs >= 0) {
        args.push_back("--lockout-ms");
        args.push_back(std::to_string(o.lockoutMs));
    }
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
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(3ms);
    }
}

DeviceSession::DeviceSession(DeviceOptions options)
    : options_(std::move(options)), stateDir_(makeStateDir()), state_(stateDir_) {
    if (options_.startNow) {
        try {
            start();
        } catch (...) {
            tearDown();
            throw;
        }
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
    if (launcher_ != 0 || terminal_) throw std::logic_error("the device was already started");
    if (!options_.zuzRules.empty()) state_.setZuzRules(options_.zuzRules);
    terminal_ = std::make_unique<Terminal>(options_.rows, options_.columns);
    launcher_ = spawnOnTerminal(launcherArguments(options_, stateDir_), terminal_->slavePath());
    terminal_->startReading();

    bool up = eventually(
        [&] {
            if (state_.daemonPid("device") > 0) return true;
            if (auto status = waitChild(launcher_, 0ms)) {
                exitStatus_ = status;
                launcher_ = 0;
                return true;
            }
            return false;
        },
        kStartTimeout);
    initPid_ = state_.daemonPid("device");
    if (!up || initPid_ <= 0) {
        terminal_->waitEnd(1s);
        throw std::runtime_error("the device did not start (status " +
                                 std::to_string(exitStatus_.value_or(-1)) +
                                 "): " + terminal_->output());
    }
    initHandle_.reset(static_cast<int>(::syscall(SYS_pidfd_open, initPid_, 0)));
}

void DeviceSession::resize(unsigned short rows, unsigned short columns) {
    options_.rows = rows;
    options_.columns = columns;
    if (terminal_) terminal_->resize(rows, columns);
}

bool DeviceSession::type(std::string_view bytes) {
    return terminal_ && terminal_->type(bytes);
}

std::string DeviceSession::output() const {
    return terminal_ ? terminal_->output() : "";
}

bool DeviceSession::waitFor(std::string_view text, std::chrono::milliseconds timeout) {
    if (!terminal_) return false;
    size_t end = terminal_->waitFor(text, matchEnd_, timeout);
    if (end == std::string::npos) return false;
    matchEnd_ = end;
    return true;
}

std::string DeviceSession::outputSinceMatch() const {
    std::string all = output();
    return matchEnd_ < all.size() ? all.substr(matchEnd_) : "";
}

void DeviceSession::closeTerminal() {
    if (terminal_) terminal_->close();
}

std::optional<int> DeviceSession::waitExit(std::chrono::milliseconds timeout) {
    if (launcher_ != 0) {
        exitStatus_ = waitChild(launcher_, timeout);
        if (!exitStatus_) {
            tearDown();
            return std::nullopt;
        }
        launcher_ = 0;
        // Whatever the command wrote last is still on its way through the pty.
        if (terminal_) terminal_->waitEnd(1s);
    }
    return exitStatus_;
}

bool DeviceSession::running() {
    if (launcher_ == 0) return false;
    if (auto status = waitChild(launcher_, 0ms)) {
        exitStatus_ = status;
        launcher_ = 0;
        return false;
    }
    return true;
}

bool DeviceSession::waitForZuzLine(std::string_view line, std::chrono::milliseconds timeout) {
    return eventually(
        [&] {
            for (const auto &received : state_.zuzReceived()) {
                if (received == line) return true;
            }
            return false;
        },
        timeout);
}

RunResult DeviceSession::runInDevice(const std::vector<std::string> &argv, const std::string &input,
                                     std::chrono::milliseconds timeout) {
    if (initPid_ <= 0) throw std::logic_error("the device has not started");
    std::vector<std::string> args = {VELA_HARNESS_DEVICE_LAUNCHER, "--join",
                                     std::to_string(initPid_), "--"};
    args.insert(args.end(), argv.begin(), argv.end());
    return runProcess(args, input, timeout);
}

bool DeviceSession::signalDaemon(std::string_view name, int signal) {
    int pid = state_.daemonPid(name);
    if (pid <= 0) return false;
    // The shell's own kill: no dependence on a kill program being installed.
    std::string command = "kill -" + std::to_string(signal) + " " + std::to_string(pid);
    return runInDevice({"sh", "-c", command}).status == 0;
}

sim::UniqueFd DeviceSession::connectTcp(int port) {
    return connectInDevice(initPid_, port);
}

sim::UniqueFd DeviceSession::connectTcp6(int port) {
    return connectInDevice6(initPid_, port);
}

sim::UniqueFd DeviceSession::bindDatagram(const std::string &devicePath) {
    return bindDatagramInDevice(initPid_, devicePath);
}

sim::UniqueFd DeviceSession::connectDatagram(const std::string &devicePath) {
    return connectDatagramInDevice(initPid_, devicePath);
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
    if (terminal_) terminal_->close();
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
