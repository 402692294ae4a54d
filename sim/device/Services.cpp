#include "Services.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "DevicePaths.h"
#include "SetupError.h"
#include "TelnetDaemons.h"
#include "unique_fd.h"

namespace sim::device {

namespace {

// A daemon that has not bound its socket by then is broken, not slow.
constexpr int kReadyTimeoutMs = 10000;
constexpr int kListenPollMs = 5;

std::string statePath(const char *name) {
    return std::string(paths::kStateDir) + "/" + name;
}

void resetSignals() {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < NSIG; ++sig)
        ::signal(sig, SIG_DFL);
}

struct Daemon {
    const char *name;
    std::string program;
    std::vector<std::string> arguments;
    bool waitReady;
    const char *outputFile;
    const char *pidFile;
};

void writePidFile(const char *name, pid_t pid) {
    std::string path = statePath(name);
    std::string text = std::to_string(pid) + "\n";
    vela::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd || ::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        throwSystemError("write " + path);
}

void waitReady(const Daemon &daemon, int readFd) {
    pollfd fd{readFd, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&fd, 1, kReadyTimeoutMs);
    } while (ready < 0 && errno == EINTR);
    char byte;
    if (ready <= 0 || ::read(readFd, &byte, 1) != 1) {
        throw SetupError(std::string(daemon.name) + " did not start (see " +
                         statePath(daemon.outputFile) + ")");
    }
}

pid_t startDaemon(const Daemon &daemon) {
    int ready[2] = {-1, -1};
    if (daemon.waitReady && ::pipe2(ready, O_CLOEXEC) != 0) throwSystemError("pipe");
    vela::UniqueFd readEnd(ready[0]), writeEnd(ready[1]);

    std::vector<std::string> args = {daemon.program};
    args.insert(args.end(), daemon.arguments.begin(), daemon.arguments.end());
    pid_t pid = ::fork();
    if (pid < 0) throwSystemError("fork");
    if (pid == 0) {
        resetSignals();
        // Terminal signals of the command's session are not the daemon's business.
        ::setsid();
        int null = ::open("/dev/null", O_RDONLY);
        int out = ::open(statePath(daemon.outputFile).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (null >= 0) ::dup2(null, 0);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        if (writeEnd) {
            // dup() leaves close-on-exec off, so the daemon keeps this one.
            args.push_back("--ready-fd");
            args.push_back(std::to_string(::dup(writeEnd.get())));
        }
        execCommand(args);
    }
    writeEnd.reset();
    writePidFile(daemon.pidFile, pid);
    if (daemon.waitReady) waitReady(daemon, readEnd.get());
    return pid;
}

// busybox telnetd has no ready signal: its port shows up in the kernel's tables.
void waitListening(int port, pid_t daemon) {
    for (int waited = 0; !telnet::isListening(port); waited += kListenPollMs) {
        int status;
        if (::waitpid(daemon, &status, WNOHANG) == daemon)
            throw SetupError("telnetd for port " + std::to_string(port) +
                             " ended at once: it needs busybox with telnetd (Debian: "
                             "busybox-static); see " +
                             statePath(telnet::kTelnetdOutputFile));
        if (waited >= kReadyTimeoutMs)
            throw SetupError("telnetd did not listen on port " + std::to_string(port) + " (see " +
                             statePath(telnet::kTelnetdOutputFile) + ")");
        ::usleep(kListenPollMs * 1000);
    }
}

void startTelnetDaemons() {
    std::vector<pid_t> daemons;
    for (const auto &service : telnet::kServices) {
        std::vector<std::string> command = telnet::daemonCommand(service);
        std::string program = command.front();
        command.erase(command.begin());
        daemons.push_back(startDaemon(
            {"telnetd", program, command, false, telnet::kTelnetdOutputFile, service.pidFile}));
    }
    for (size_t i = 0; i < daemons.size(); ++i)
        waitListening(telnet::kServices[i].port, daemons[i]);
}

}  // namespace

void startServices(const Options &options) {
    if (options.syslogd) {
        startDaemon({"syslogd",
                     std::string(paths::kSbinDir) + "/syslogd",
                     {},
                     true,
                     paths::kSyslogdOutputFile,
                     paths::kSyslogdPidFile});
    }
    if (options.zuz) {
        std::vector<std::string> args;
        if (options.zuzLate) args.push_back("--late");
        if (options.lockoutMs >= 0) {
            args.push_back("--lockout-ms");
            args.push_back(std::to_string(options.lockoutMs));
        }
        // A late start must not hold up the command.
        startDaemon({"zuz", std::string(paths::kBinDir) + "/zuz", args, !options.zuzLate,
                     paths::kZuzOutputFile, paths::kZuzPidFile});
    }
    if (options.telnetd) startTelnetDaemons();
}

pid_t startCommand(const std::vector<std::string> &command) {
    pid_t pid = ::fork();
    if (pid < 0) throwSystemError("fork");
    if (pid == 0) {
        resetSignals();
        execCommand(command);
    }
    return pid;
}

void execCommand(const std::vector<std::string> &command) {
    std::vector<char *> argv;
    for (const auto &arg : command)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    ::setenv("PATH", paths::kDeviceSearchPath, 1);
    ::execvp(argv[0], argv.data());
    int error = errno;
    std::fprintf(stderr, "device: cannot run %s: %s\n", argv[0], std::strerror(error));
    std::_Exit(error == ENOENT ? 127 : 126);
}

int exitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 125;
}

}  // namespace sim::device
