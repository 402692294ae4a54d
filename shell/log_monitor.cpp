// The live log monitor and its commands.
//
// The filter tables and layout flags are written by the commands on the main thread and
// read by the monitor thread; both sides hold async_stdout_mut, which the monitor holds
// anyway while it prints.

#include "log_monitor.h"

#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "commands.h"
#include "console.h"
#include "listener.h"
#include "session.h"
#include "unique_fd.h"

namespace {

constexpr size_t kDatagramRoom = 1024;
constexpr size_t kShortLine = 24;  // lines this short are shown whole
constexpr size_t kDateWidth = 11;
constexpr size_t kTimeWidth = 9;
constexpr size_t kMessageStart = kDateWidth + kTimeWidth;  // where the level word begins

// Guarded by async_stdout_mut.
char log_show_filters[kFilterSlots][kFilterRoom];
char log_cull_filters[kFilterSlots][kFilterRoom];
int log_show_date = 1;
int log_show_time = 1;
int log_show_level = 1;
const int gbEnableLoggerThread = 1;  // no command changes it

struct LockedOutput {
    LockedOutput() { pthread_mutex_lock(&async_stdout_mut); }
    ~LockedOutput() { pthread_mutex_unlock(&async_stdout_mut); }
    LockedOutput(const LockedOutput &) = delete;
    LockedOutput &operator=(const LockedOutput &) = delete;
};

bool any_set(const char (&filters)[kFilterSlots][kFilterRoom]) {
    for (const auto &slot : filters)
        if (slot[0] != '\0') return true;
    return false;
}

bool any_found(const char (&filters)[kFilterSlots][kFilterRoom], const char *text) {
    for (const auto &slot : filters)
        if (slot[0] != '\0' && strstr(text, slot) != nullptr) return true;
    return false;
}

void display_show_cull_usage(const char *word) {
    shell_println("usage: [log] %s add <filterstring> [<filterstring>...]", word);
    shell_println("       [log] %s del <filterstring> [<filterstring>...]", word);
    shell_println("       [log] %s del *", word);
    shell_println("       [log] %s", word);
}

void list_filters(const char *word, const char (&filters)[kFilterSlots][kFilterRoom]) {
    char copy[kFilterSlots][kFilterRoom];
    {
        LockedOutput lock;
        memcpy(copy, filters, sizeof copy);
    }
    shell_println("Active %s filters:", word);
    shell_println("--------------------");
    for (const auto &slot : copy)
        if (slot[0] != '\0') shell_println("\"%s\"", slot);
}

void add_filters(int argc, char **argv, char (&filters)[kFilterSlots][kFilterRoom]) {
    for (int i = 2; i < argc; ++i) {
        if (strlen(argv[i]) >= kFilterRoom) {
            shell_println("error: filter longer than %d characters not added: %.40s...",
                          static_cast<int>(kFilterRoom - 1), argv[i]);
            continue;
        }
        LockedOutput lock;
        for (auto &slot : filters) {
            if (slot[0] == '\0') {
                memcpy(slot, argv[i], strlen(argv[i]) + 1);
                break;
            }
        }
    }
}

void delete_filters(int argc, char **argv, char (&filters)[kFilterSlots][kFilterRoom]) {
    LockedOutput lock;
    if (strcmp(argv[2], "*") == 0) {
        for (auto &slot : filters)
            slot[0] = '\0';
        return;
    }
    for (int i = 2; i < argc; ++i) {
        for (auto &slot : filters) {
            if (slot[0] != '\0' && strcmp(slot, argv[i]) == 0) {
                slot[0] = '\0';
                break;
            }
        }
    }
}

void filter_cmd(int argc, char **argv, const char *word,
                char (&filters)[kFilterSlots][kFilterRoom]) {
    if (argc == 1) {
        list_filters(word, filters);
    } else if (strcmp(argv[1], "add") == 0) {
        add_filters(argc, argv, filters);
    } else if (strcmp(argv[1], "del") == 0) {
        if (argc > 2) delete_filters(argc, argv, filters);
    } else {
        display_show_cull_usage(word);
    }
}

// Sub-commands of "log", searched in this order.
constexpr ShellCommandT log_commands[] = {
    {"cull", log_cull_cmd, 0},
    {"format", log_format_cmd, 0},
    {"show", log_show_cmd, 0},
    {nullptr, nullptr, 0},
};

// The process name in a /proc/PID/stat text, or false when the text has none.
bool stat_process_name(const char *stat, char *name, size_t room) {
    const char *open = strchr(stat, '(');
    if (open == nullptr || strlen(open + 1) <= 7) return false;
    const char *close = strchr(open + 1, ')');
    size_t len = close ? static_cast<size_t>(close - open - 1) : strlen(open + 1);
    if (len >= room) len = room - 1;
    memcpy(name, open + 1, len);
    name[len] = '\0';
    return true;
}

// Prints the line as the filters and layout say.
void show_line(const char *line) {
    LockedOutput lock;
    char shown[kDatagramRoom + 1];
    if (format_log_line(line, shown, sizeof shown)) shell_io_printf(stdout_shio, "%s\n", shown);
}

// Waits for a datagram; false (after its message) when the socket cannot be read.
enum class Wait { kReady, kInterrupted, kFailed };

Wait wait_readable(int fd) {
    pollfd pfd{fd, POLLIN, 0};
    int ready = poll(&pfd, 1, -1);
    if (ready < 0 && errno == EINTR) return Wait::kInterrupted;
    if (ready < 0) {
        shell_println("logReaderThread: select() error: %s", strerror(errno));
        return Wait::kFailed;
    }
    if (ready == 0 || !(pfd.revents & POLLIN)) {
        shell_println("logReaderThread: unexpected select() results");
        return Wait::kFailed;
    }
    return Wait::kReady;
}

}  // namespace

void clear_log_filters() {
    LockedOutput lock;
    memset(log_show_filters, 0, sizeof log_show_filters);
    memset(log_cull_filters, 0, sizeof log_cull_filters);
}

int find_pid(const char *name) {
    DIR *proc = opendir("/proc");
    if (proc == nullptr) {
        shell_println("could not open /proc");
        return -1;
    }
    int found = -1;
    while (dirent *entry = readdir(proc)) {
        if (entry->d_type != DT_DIR || !isdigit(static_cast<unsigned char>(entry->d_name[0])))
            continue;
        char path[300];
        snprintf(path, sizeof path, "/proc/%s/stat", entry->d_name);
        UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC));
        if (!fd.valid()) continue;
        char stat[128];
        ssize_t n = read(fd.get(), stat, sizeof stat - 1);
        if (n <= 0) continue;
        stat[n] = '\0';
        char process[128];
        if (stat_process_name(stat, process, sizeof process) && strcmp(process, name) == 0) {
            found = atoi(entry->d_name);
            break;
        }
    }
    closedir(proc);
    return found;
}

bool format_log_line(const char *line, char *out, size_t out_size) {
    size_t len = strlen(line);
    if (len <= kShortLine) {
        snprintf(out, out_size, "%s", line);
        return true;
    }
    const char *text = line + kMessageStart;
    if (any_set(log_show_filters) && !any_found(log_show_filters, text)) return false;
    if (any_found(log_cull_filters, text)) return false;
    if (log_show_date && log_show_time && log_show_level) {
        snprintf(out, out_size, "%s", line);
        return true;
    }
    const char *message = text;
    if (!log_show_level) {
        const char *space = strchr(text, ' ');
        message = space ? space + 1 : line + len;
    }
    snprintf(out, out_size, "%.*s%.*s%s", log_show_date ? static_cast<int>(kDateWidth) : 0, line,
             log_show_time ? static_cast<int>(kTimeWidth) : 0, line + kDateWidth, message);
    return true;
}

void *logReaderThread(void *) {
    int pid = find_pid("syslogd");
    if (pid < 0) {
        shell_println("logReaderThread: syslogd not running");
        return nullptr;
    }
    UniqueFd socket(setupSocket(kSyslogListenerDir, nullptr));
    if (!socket.valid()) return nullptr;
    kill(pid, SIGHUP);  // syslogd takes up the new listener

    int unflushed = 0;
    for (;;) {
        // A datagram already queued is taken without waiting; the lines of a burst are
        // then written together, before the thread waits again.
        char line[kDatagramRoom + 1];
        ssize_t n = recv(socket.get(), line, kDatagramRoom, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            flush_background_output();
            unflushed = 0;
            if (wait_readable(socket.get()) == Wait::kFailed) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) continue;  // an empty datagram carries no line; anyone may send one
        if (n < 0) {
            shell_println("logReaderThread: recv() error: %s", strerror(errno));
            break;
        }
        line[n] = '\0';
        size_t len = strlen(line);
        while (len > 0 && static_cast<unsigned char>(line[len - 1]) <= 32)
            line[--len] = '\0';
        if (!gbEnableLoggerThread || !authenticated.load()) continue;
        show_line(line);
        if (++unflushed >= kFlushEvery) {
            flush_background_output();
            unflushed = 0;
        }
    }
    return nullptr;
}

void log_cmd(int argc, char **argv) {
    if (argc < 2) {
        shell_println("valid log commands: format show cull");
        return;
    }
    for (const ShellCommandT *row = log_commands; row->command; ++row) {
        if (strcmp(row->command, argv[1]) == 0) {
            row->command_handler(argc - 1, argv + 1);
            return;
        }
    }
}

void log_format_cmd(int argc, char **argv) {
    LockedOutput lock;
    log_show_date = log_show_time = log_show_level = 0;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "date") == 0) log_show_date = -1;
        if (strcmp(argv[i], "time") == 0) log_show_time = -1;
        if (strcmp(argv[i], "level") == 0) log_show_level = -1;
    }
}

void log_show_cmd(int argc, char **argv) {
    filter_cmd(argc, argv, "show", log_show_filters);
}

void log_cull_cmd(int argc, char **argv) {
    filter_cmd(argc, argv, "cull", log_cull_filters);
}
