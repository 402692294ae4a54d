// Configuration access through the device's configuration tool.

#include "config_access.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "app_link.h"
#include "process_runner.h"
#include "unique_fd.h"

namespace {

constexpr const char *kConfigTool = "/opt/halvern/bin/kbox";
constexpr size_t kPrefixRoom = 275;
constexpr size_t kAnswerRoom = 2128;
constexpr size_t kSettingWriteRoom = 192;
// A tool that neither answers nor ends within this time is stopped: start-up and login
// must not hang on it.
constexpr int kToolTimeoutMs = 10000;

long long now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Reads the first line of the tool's output (up to kAnswerRoom - 1 characters, LF
// included when it fits) into answer; false when nothing was read in time.
bool read_first_line(int fd, char *answer, long long deadline) {
    size_t len = 0;
    while (len < kAnswerRoom - 1) {
        long long left = deadline - now_ms();
        if (left <= 0) break;
        pollfd pfd{fd, POLLIN, 0};
        int ready = poll(&pfd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        ssize_t n = read(fd, answer + len, kAnswerRoom - 1 - len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        const char *lf =
            static_cast<const char *>(memchr(answer + len, '\n', static_cast<size_t>(n)));
        if (lf != nullptr) {
            len = static_cast<size_t>(lf - answer) + 1;  // what follows the line is not wanted
            break;
        }
        len += static_cast<size_t>(n);
    }
    answer[len] = '\0';
    return len > 0;
}

// Waits for the tool until the deadline, then stops it.
void reap_tool(pid_t pid, long long deadline) {
    int status;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (now_ms() >= deadline) {
            kill(pid, SIGKILL);
            wait_for_child(pid);
            return;
        }
        usleep(2000);
    }
}

}  // namespace

int get_config_value(const char *configName, char *configValue, int size) {
    configValue[0] = '\0';
    char prefix[kPrefixRoom];
    snprintf(prefix, sizeof prefix, "config %s 0 ", configName);

    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return 0;
    UniqueFd read_end(pipe_fds[0]);
    UniqueFd write_end(pipe_fds[1]);
    const char *argv[] = {kConfigTool, "config", configName, "0", nullptr};
    SpawnOptions options;
    options.stdout_fd = write_end.get();
    pid_t pid = spawn_program(argv, options);
    write_end.reset();
    if (pid < 0) return 0;

    long long deadline = now_ms() + kToolTimeoutMs;
    char answer[kAnswerRoom];
    bool got_line = read_first_line(read_end.get(), answer, deadline);
    read_end.reset();
    reap_tool(pid, deadline);
    if (!got_line) return 0;

    size_t prefix_len = strlen(prefix);
    if (strncmp(answer, prefix, prefix_len) != 0) return 1;
    strncpy(configValue, answer + prefix_len, static_cast<size_t>(size));
    configValue[size - 1] = '\0';
    for (size_t len = strlen(configValue);
         len > 0 && (configValue[len - 1] == '\n' || configValue[len - 1] == '\r'); --len)
        configValue[len - 1] = '\0';
    return 0;
}

void vela_cfg_write(const char *param_name, const char *param_value) {
    if (param_name == nullptr || param_value == nullptr || param_name[0] == '\0') return;
    char line[kSettingWriteRoom];
    snprintf(line, sizeof line, "execwithoutecho systemsetting %s %s", param_name, param_value);
    send_api_cmd(line);
}

int set_tty_echo(short enable) {
    termios modes;
    if (tcgetattr(0, &modes) != 0) {
        perror("error in tcgetattr");
        return 1;
    }
    modes.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    if (enable) modes.c_lflag |= ECHO;
    if (tcsetattr(0, TCSANOW, &modes) != 0) {
        perror("error in tcsetattr");
        return 1;
    }
    return 0;
}

int system_pthread(const char *command) {
    const char *argv[] = {"/bin/sh", "-c", command, nullptr};
    pid_t pid = spawn_program(argv, SpawnOptions{});
    if (pid < 0) return -1;
    return wait_for_child(pid);
}
