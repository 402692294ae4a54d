// Configuration access through the device's configuration tool.

#include "config_access.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "app_link.h"
#include "device_paths.h"
#include "process_runner.h"
#include "unique_fd.h"

namespace {

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

enum class ToolAnswer { kLine, kNothing, kTooSlow };

// Waits until fd is readable or the deadline has passed; false at the deadline.
bool wait_readable(int fd, long long deadline) {
    for (;;) {
        long long left = deadline - now_ms();
        if (left <= 0) return false;
        pollfd pfd{fd, POLLIN, 0};
        int ready = poll(&pfd, 1, static_cast<int>(left));
        if (ready > 0) return true;
        if (ready == 0 || errno != EINTR) return false;
    }
}

// Takes the first line of the tool's output (up to kAnswerRoom - 1 characters, LF
// included when it fits) into answer and reads the rest to its end, so that the tool
// can finish; kTooSlow when the deadline passed before any line.
ToolAnswer read_answer(int fd, char *answer, long long deadline) {
    size_t len = 0;
    bool line_done = false;
    char rest[512];
    while (wait_readable(fd, deadline)) {
        char *into = line_done ? rest : answer + len;
        size_t room = line_done ? sizeof rest : kAnswerRoom - 1 - len;
        ssize_t n = read(fd, into, room);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the end of the output
        if (line_done) continue;
        const char *lf = static_cast<const char *>(memchr(into, '\n', static_cast<size_t>(n)));
        len = lf != nullptr ? static_cast<size_t>(lf - answer) + 1 : len + static_cast<size_t>(n);
        line_done = lf != nullptr || len == kAnswerRoom - 1;
    }
    answer[len] = '\0';
    if (len > 0) return ToolAnswer::kLine;
    return now_ms() >= deadline ? ToolAnswer::kTooSlow : ToolAnswer::kNothing;
}

// Waits for the tool, which has closed its output or run out of time, and stops it at
// the deadline. It normally ends at once, so the first looks come quickly.
void reap_tool(pid_t pid, long long deadline) {
    int status;
    useconds_t pause = 50;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (now_ms() >= deadline) {
            kill(pid, SIGKILL);
            wait_for_child(pid);
            return;
        }
        usleep(pause);
        if (pause < 2000) pause *= 2;
    }
}

// Runs the tool for configName and takes the first line of its answer into answer
// (kAnswerRoom bytes).
ToolAnswer ask_config_tool(const char *configName, char *answer) {
    answer[0] = '\0';
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return ToolAnswer::kNothing;
    vela::UniqueFd read_end(pipe_fds[0]);
    vela::UniqueFd write_end(pipe_fds[1]);
    const char *argv[] = {paths::kConfigTool, "config", configName, "0", nullptr};
    SpawnOptions options;
    options.stdout_fd = write_end.get();
    pid_t pid = spawn_program(argv, options);
    write_end.reset();
    if (pid < 0) return ToolAnswer::kNothing;

    long long deadline = now_ms() + kToolTimeoutMs;
    ToolAnswer result = read_answer(read_end.get(), answer, deadline);
    read_end.reset();
    reap_tool(pid, deadline);
    return result;
}

}  // namespace

int get_config_value(const char *configName, char *configValue, int size) {
    configValue[0] = '\0';
    char answer[kAnswerRoom];
    switch (ask_config_tool(configName, answer)) {
        case ToolAnswer::kNothing:
            return 0;  // a tool that cannot run or says nothing: the value is not set
        case ToolAnswer::kTooSlow:
            return 1;  // stopped by the shell: the value is unknown, not unset
        case ToolAnswer::kLine:
            break;
    }
    return parse_config_answer(configName, answer, configValue, size);
}

int parse_config_answer(const char *configName, const char *answer, char *configValue, int size) {
    configValue[0] = '\0';
    char prefix[kPrefixRoom];
    snprintf(prefix, sizeof prefix, "config %s 0 ", configName);
    size_t prefix_len = strlen(prefix);
    if (strncmp(answer, prefix, prefix_len) != 0) return 1;
    strncpy(configValue, answer + prefix_len, static_cast<size_t>(size));
    configValue[size - 1] = '\0';
    for (size_t len = strlen(configValue);
         len > 0 && (configValue[len - 1] == '\n' || configValue[len - 1] == '\r'); --len)
        configValue[len - 1] = '\0';
    return 0;
}

void format_setting_write(char *line, size_t room, const char *param_name,
                          const char *param_value) {
    snprintf(line, room < kSettingWriteRoom ? room : kSettingWriteRoom,
             "execwithoutecho systemsetting %s %s", param_name, param_value);
}

void vela_cfg_write(AppLink &link, const char *param_name, const char *param_value,
                    unsigned farewell_step) {
    if (param_name == nullptr || param_value == nullptr || param_name[0] == '\0') return;
    char line[kSettingWriteRoom];
    format_setting_write(line, sizeof line, param_name, param_value);
    bool delivered = false;
    link.send_api_request(line, &delivered, farewell_step);
}
