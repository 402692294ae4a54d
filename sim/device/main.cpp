// device: runs a command inside a private simulated device (see Options.cpp for the
// command line) and exits with the command's status, or 128 plus the signal that
// ended it. 2 means a bad command line, 125 a device that could not be built.
//
// The launcher itself stays in the host's namespaces. Its child enters new ones and
// forks the device's init (pid 1), which builds the file system, starts syslogd and
// zuz, runs the command and, when the command ends, exits, so the kernel ends
// everything else in the device.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "DevicePaths.h"
#include "FileSystem.h"
#include "Forwarder.h"
#include "Namespaces.h"
#include "Options.h"
#include "Services.h"
#include "Settings.h"
#include "SetupError.h"
#include "unique_fd.h"

namespace {

using vela::UniqueFd;
using namespace sim::device;

constexpr int kSetupFailed = 125;

// The one child of this process and what it gets when this process is asked to end:
// the launcher asks its child to end (SIGTERM), and that child kills its own child and
// reaps it, so nothing of the device is left for the host's init to reap. Set before
// the handler can run in each process, read by the handler only.
volatile sig_atomic_t gChild = 0;
volatile sig_atomic_t gForwardSignal = SIGTERM;

void forwardTermination(int) {
    if (gChild > 0) ::kill(gChild, gForwardSignal);
}

void ignoreTerminalSignal(int) {}

void installSignalHandlers() {
    struct sigaction ignore {};
    ignore.sa_handler = ignoreTerminalSignal;
    for (int sig : {SIGINT, SIGQUIT, SIGHUP})
        ::sigaction(sig, &ignore, nullptr);
    struct sigaction terminate {};
    terminate.sa_handler = forwardTermination;
    ::sigaction(SIGTERM, &terminate, nullptr);
}

int waitFor(pid_t pid) {
    int waitStatus = 0;
    while (::waitpid(pid, &waitStatus, 0) < 0) {
        if (errno != EINTR) throwSystemError("wait for a child");
    }
    return exitCodeOf(waitStatus);
}

// Waits for the init while reaping this process's other children of the device: the
// init's end waits until every process of its namespace has been reaped.
int waitForInit(pid_t init) {
    for (;;) {
        int waitStatus = 0;
        pid_t pid = ::waitpid(-1, &waitStatus, 0);
        if (pid == init) return exitCodeOf(waitStatus);
        if (pid < 0 && errno != EINTR) throwSystemError("wait for the device's init");
    }
}

// Runs body in a child that dies with this process and ends with _exit (no clean-up
// of a process whose namespaces changed); returns the child's exit code.
int runInChild(const std::function<int()> &body) {
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) throwSystemError("fork");
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) std::_Exit(kSetupFailed);
        gChild = 0;
        gForwardSignal = SIGKILL;
        int code = kSetupFailed;
        try {
            code = body();
        } catch (const std::exception &e) {
            std::fprintf(stderr, "device: %s\n", e.what());
        }
        std::fflush(nullptr);
        std::_Exit(code);
    }
    gChild = pid;
    return waitFor(pid);
}

std::string ownDirectory() {
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) throwSystemError("readlink /proc/self/exe");
    std::string self(path, static_cast<size_t>(n));
    return self.substr(0, self.rfind('/'));
}

void makeStateDir(const std::string &dir) {
    for (size_t slash = 0; slash != std::string::npos;) {
        slash = dir.find('/', slash + 1);
        std::string part = dir.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            throwSystemError("mkdir " + part);
    }
}

void writeHostPidFile(int stateDir, pid_t pid) {
    std::string text = std::to_string(pid) + "\n";
    std::string temp = std::string(sim::paths::kDevicePidFile) + ".new";
    vela::UniqueFd fd(
        ::openat(stateDir, temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd || ::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        ::renameat(stateDir, temp.c_str(), stateDir, sim::paths::kDevicePidFile) != 0)
        std::perror("device: write device.pid");
}

// The device's pid 1. Reports 'R' on status once the command is about to run.
[[noreturn]] void runInit(const Options &options, const HostObjects &host, vela::UniqueFd status,
                          vela::UniqueFd lifeline) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::prctl(PR_SET_NAME, "device-init");
    pollfd parent{lifeline.get(), POLLIN, 0};
    if (::poll(&parent, 1, 0) != 0) std::_Exit(kSetupFailed);  // the launcher is gone
    pid_t command;
    try {
        buildFileSystem(host, options);
        setUpNetwork();
        sim::Settings settings(std::string(sim::paths::kStateDir) + "/" +
                               sim::paths::kSettingsFile);
        for (const auto &[name, value] : options.settings)
            settings.set(name, value);
        startServices(options);
        command = startCommand(options.command);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "device: %s\n", e.what());
        std::_Exit(kSetupFailed);
    }
    (void)!::write(status.get(), "R", 1);
    status.reset();
    for (;;) {
        int waitStatus = 0;
        pid_t pid = ::waitpid(-1, &waitStatus, 0);
        if (pid == command) std::_Exit(exitCodeOf(waitStatus));
        if (pid < 0 && errno != EINTR) std::_Exit(kSetupFailed);
    }
}

// Relays the host listeners into the device from a process of the device, which the
// device's end takes along.
void startForwarder(std::vector<sim::telnet::ForwardListener> &listeners) {
    if (listeners.empty()) return;
    pid_t pid = ::fork();
    if (pid < 0) throwSystemError("fork");
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::prctl(PR_SET_NAME, "device-forward");
        gChild = 0;
        sim::telnet::runForwarder(std::move(listeners));
    }
    listeners.clear();
}

// In a child of the launcher: new namespaces, the init, and its end. Host listeners
// stay in the host's network namespace, where they were made.
int buildAndRun(const Options &options, const std::string &simBin, int stateDir,
                std::vector<sim::telnet::ForwardListener> &listeners) {
    enterNewNamespaces();
    HostObjects host = openHostObjects(options, simBin);

    int statusPipe[2], lifelinePipe[2];
    if (::pipe2(statusPipe, O_CLOEXEC) != 0 || ::pipe2(lifelinePipe, O_CLOEXEC) != 0)
        throwSystemError("pipe");
    vela::UniqueFd statusRead(statusPipe[0]), statusWrite(statusPipe[1]);
    vela::UniqueFd lifelineRead(lifelinePipe[0]), lifelineWrite(lifelinePipe[1]);
    pid_t init = ::fork();
    if (init < 0) throwSystemError("fork");
    if (init == 0) {
        statusRead.reset();
        lifelineWrite.reset();
        runInit(options, host, std::move(statusWrite), std::move(lifelineRead));
    }
    gChild = init;
    statusWrite.reset();
    lifelineRead.reset();

    char byte;
    ssize_t n;
    do {
        n = ::read(statusRead.get(), &byte, 1);
    } while (n < 0 && errno == EINTR);
    if (n == 1) {
        if (stateDir >= 0) writeHostPidFile(stateDir, init);
        startForwarder(listeners);
    }
    return waitForInit(init);
}

int runDevice(const Options &options) {
    std::string simBin = options.simBin.empty() ? ownDirectory() : options.simBin;
    vela::UniqueFd stateDir;
    if (!options.stateDir.empty()) {
        makeStateDir(options.stateDir);
        stateDir.reset(::open(options.stateDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!stateDir) throwSystemError("open " + options.stateDir);
        ::unlinkat(stateDir.get(), sim::paths::kDevicePidFile, 0);
    }
    auto listeners = sim::telnet::listenForRules(options.forwards);
    installSignalHandlers();
    return runInChild([&] { return buildAndRun(options, simBin, stateDir.get(), listeners); });
}

int joinDevice(const Options &options) {
    installSignalHandlers();
    return runInChild([&] {
        joinNamespaces(options.joinPid);
        pid_t pid = ::fork();
        if (pid < 0) throwSystemError("fork");
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            execCommand(options.command);
        }
        gChild = pid;
        return waitFor(pid);
    });
}

}  // namespace

int main(int argc, char **argv) {
    Options options;
    std::string error;
    if (argc == 2 && std::string(argv[1]) == "--help") {
        std::fputs(usageText(), stdout);
        return 0;
    }
    if (!parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "device: %s\n%s", error.c_str(), usageText());
        return 2;
    }
    try {
        return options.joinPid != 0 ? joinDevice(options) : runDevice(options);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "device: %s\n", e.what());
        return kSetupFailed;
    }
}
