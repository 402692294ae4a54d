#include "process_runner.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <initializer_list>

#include "device_paths.h"

extern char **environ;

namespace {

// Owns a posix_spawn file-action list.
class FileActions {
  public:
    FileActions() { posix_spawn_file_actions_init(&actions_); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
    FileActions(const FileActions &) = delete;
    FileActions &operator=(const FileActions &) = delete;
    posix_spawn_file_actions_t *get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_;
};

// Owns a posix_spawn attribute set that gives the child an empty signal mask and the
// default actions: the shell blocks its termination signals in all its threads
// (termination.h) and ignores SIGPIPE and the job-control stops, and a tool must
// inherit none of that.
class UnblockedSignals {
  public:
    UnblockedSignals() {
        posix_spawnattr_init(&attr_);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attr_, &none);
        sigset_t ignored;
        sigemptyset(&ignored);
        for (int signal : {SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU})
            sigaddset(&ignored, signal);
        posix_spawnattr_setsigdefault(&attr_, &ignored);
        posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~UnblockedSignals() { posix_spawnattr_destroy(&attr_); }
    UnblockedSignals(const UnblockedSignals &) = delete;
    UnblockedSignals &operator=(const UnblockedSignals &) = delete;
    const posix_spawnattr_t *get() const { return &attr_; }

  private:
    posix_spawnattr_t attr_;
};

}  // namespace

pid_t spawn_program(const char *const argv[], const SpawnOptions &options) {
    FileActions actions;
    if (options.stdout_fd >= 0)
        posix_spawn_file_actions_adddup2(actions.get(), options.stdout_fd, 1);
    else if (options.stdout_path != nullptr)
        posix_spawn_file_actions_addopen(actions.get(), 1, options.stdout_path, O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);

    UnblockedSignals attributes;
    pid_t pid = -1;
    char *const *args = const_cast<char *const *>(argv);
    int rc = options.search_path
                 ? posix_spawnp(&pid, argv[0], actions.get(), attributes.get(), args, environ)
                 : posix_spawn(&pid, argv[0], actions.get(), attributes.get(), args, environ);
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    return pid;
}

int wait_for_child(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

int run_command_line(const char *command_line) {
    const char *argv[] = {paths::kCommandInterpreter, "-c", command_line, nullptr};
    pid_t pid = spawn_program(argv, SpawnOptions{});
    if (pid < 0) return -1;
    return wait_for_child(pid);
}
