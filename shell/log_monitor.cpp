// The live log monitor and its commands.

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
#include "device_paths.h"
#include "helper_thread.h"
#include "listener.h"
#include "session.h"
#include "unique_fd.h"

namespace {

constexpr size_t kDatagramRoom = 1024;
constexpr size_t kShortLine = 24;  // lines this short are shown whole
constexpr size_t kDateWidth = 11;
constexpr size_t kTimeWidth = 9;
constexpr size_t kMessageStart = kDateWidth + kTimeWidth;  // where the level word begins

using Filters = char[kFilterSlots][kFilterRoom];

bool any_set(const Filters &filters) {
    for (const auto &slot : filters)
        if (slot[0] != '\0') return true;
    return false;
}

bool any_found(const Filters &filters, const char *text) {
    for (const auto &slot : filters)
        if (slot[0] != '\0' && strstr(text, slot) != nullptr) return true;
    return false;
}

void display_show_cull_usage(const SessionLog &log, const char *word) {
    shell_println(log, "usage: [log] %s add <filterstring> [<filterstring>...]", word);
    shell_println(log, "       [log] %s del <filterstring> [<filterstring>...]", word);
    shell_println(log, "       [log] %s del *", word);
    shell_println(log, "       [log] %s", word);
}

void list_filters(CommandContext &context, bool show) {
    Filters copy;
    {
        OutputGuard guard(context.session.output);
        context.session.monitor.copy_filters(guard, show, copy);
    }
    const char *word = show ? "show" : "cull";
    shell_println(context.log(), "Active %s filters:", word);
    shell_println(context.log(), "--------------------");
    for (const auto &slot : copy)
        if (slot[0] != '\0') shell_println(context.log(), "\"%s\"", slot);
}

void add_filters(CommandContext &context, bool show, int argc, char **argv) {
    for (int i = 2; i < argc; ++i) {
        if (strlen(argv[i]) >= kFilterRoom) {
            shell_println(context.log(),
                          "error: filter longer than %d characters not added: %.40s...",
                          static_cast<int>(kFilterRoom - 1), argv[i]);
            continue;
        }
        OutputGuard guard(context.session.output);
        context.session.monitor.add_filter(guard, show, argv[i]);
    }
}

void delete_filters(CommandContext &context, bool show, int argc, char **argv) {
    OutputGuard guard(context.session.output);
    if (strcmp(argv[2], "*") == 0) {
        context.session.monitor.delete_all(guard, show);
        return;
    }
    for (int i = 2; i < argc; ++i)
        context.session.monitor.delete_filter(guard, show, argv[i]);
}

void filter_cmd(CommandContext &context, bool show, int argc, char **argv) {
    if (argc == 1) {
        list_filters(context, show);
    } else if (strcmp(argv[1], "add") == 0) {
        add_filters(context, show, argc, argv);
    } else if (strcmp(argv[1], "del") == 0) {
        if (argc > 2) delete_filters(context, show, argc, argv);
    } else {
        display_show_cull_usage(context.log(), show ? "show" : "cull");
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
void show_line(Session &session, const char *line) {
    OutputGuard guard(session.output);
    char shown[kDatagramRoom + 1];
    if (session.monitor.format_line(guard, line, shown, sizeof shown)) guard.printf("%s\n", shown);
}

enum class Wait { kReady, kInterrupted, kFailed };

// Waits for a datagram; kFailed (after its message) when the socket cannot be read.
Wait wait_readable(const SessionLog &log, int fd) {
    pollfd pfd{fd, POLLIN, 0};
    int ready = poll(&pfd, 1, -1);
    if (ready < 0 && errno == EINTR) return Wait::kInterrupted;
    if (ready < 0) {
        shell_println(log, "logReaderThread: select() error: %s", strerror(errno));
        return Wait::kFailed;
    }
    if (ready == 0 || !(pfd.revents & POLLIN)) {
        shell_println(log, "logReaderThread: unexpected select() results");
        return Wait::kFailed;
    }
    return Wait::kReady;
}

// Thread body: shows the system log live, filtered and laid out as the user chose.
void *logReaderThread(void *args) {
    Session &session = *static_cast<Session *>(args);
    const SessionLog &log = session.log;
    int pid = find_pid(log, "syslogd");
    if (pid < 0) {
        shell_println(log, "logReaderThread: syslogd not running");
        return nullptr;
    }
    vela::UniqueFd socket(setupSocket(session.config, log, paths::kSyslogListenerDir, nullptr));
    if (!socket.valid()) return nullptr;
    kill(pid, SIGHUP);  // syslogd takes up the new listener

    BurstFlush flush(session.output);
    for (;;) {
        // A datagram already queued is taken without waiting; the lines of a burst are
        // then written together, before the thread waits again.
        char line[kDatagramRoom + 1];
        ssize_t n = recv(socket.get(), line, kDatagramRoom, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            flush.before_wait();
            if (wait_readable(log, socket.get()) == Wait::kFailed) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) continue;  // an empty datagram carries no line; anyone may send one
        if (n < 0) {
            shell_println(log, "logReaderThread: recv() error: %s", strerror(errno));
            break;
        }
        line[n] = '\0';
        size_t len = strlen(line);
        while (len > 0 && static_cast<unsigned char>(line[len - 1]) <= 32)
            line[--len] = '\0';
        if (!session.authenticated.load()) continue;
        show_line(session, line);
        flush.line_printed();
    }
    return nullptr;
}

}  // namespace

void LogMonitor::clear_filters(const OutputGuard &) {
    memset(show_, 0, sizeof show_);
    memset(cull_, 0, sizeof cull_);
}

bool LogMonitor::format_line(const OutputGuard &, const char *line, char *out,
                             size_t out_size) const {
    size_t len = strlen(line);
    if (len <= kShortLine) {
        snprintf(out, out_size, "%s", line);
        return true;
    }
    const char *text = line + kMessageStart;
    if (any_set(show_) && !any_found(show_, text)) return false;
    if (any_found(cull_, text)) return false;
    if (date_ && time_ && level_) {
        snprintf(out, out_size, "%s", line);
        return true;
    }
    const char *message = text;
    if (!level_) {
        const char *space = strchr(text, ' ');
        message = space ? space + 1 : line + len;
    }
    snprintf(out, out_size, "%.*s%.*s%s", date_ ? static_cast<int>(kDateWidth) : 0, line,
             time_ ? static_cast<int>(kTimeWidth) : 0, line + kDateWidth, message);
    return true;
}

void LogMonitor::set_layout(const OutputGuard &, bool date, bool time, bool level) {
    date_ = date;
    time_ = time;
    level_ = level;
}

void LogMonitor::copy_filters(const OutputGuard &, bool show,
                              char (&out)[kFilterSlots][kFilterRoom]) const {
    memcpy(out, table(show), sizeof out);
}

void LogMonitor::add_filter(const OutputGuard &, bool show, const char *filter) {
    for (auto &slot : table(show)) {
        if (slot[0] == '\0') {
            memcpy(slot, filter, strlen(filter) + 1);
            return;
        }
    }
}

void LogMonitor::delete_filter(const OutputGuard &, bool show, const char *filter) {
    for (auto &slot : table(show)) {
        if (slot[0] != '\0' && strcmp(slot, filter) == 0) {
            slot[0] = '\0';
            return;
        }
    }
}

void LogMonitor::delete_all(const OutputGuard &, bool show) {
    for (auto &slot : table(show))
        slot[0] = '\0';
}

bool start_log_monitor(Session &session) {
    return start_helper_thread(logReaderThread, &session);
}

int find_pid(const SessionLog &log, const char *name) {
    DIR *proc = opendir(paths::kProcesses);
    if (proc == nullptr) {
        shell_println(log, "could not open /proc");
        return -1;
    }
    int found = -1;
    while (dirent *entry = readdir(proc)) {
        if (entry->d_type != DT_DIR || !isdigit(static_cast<unsigned char>(entry->d_name[0])))
            continue;
        char path[300];
        snprintf(path, sizeof path, "%s/%s/stat", paths::kProcesses, entry->d_name);
        vela::UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC));
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

void log_cmd(CommandContext &context, int argc, char **argv) {
    if (argc < 2) {
        shell_println(context.log(), "valid log commands: format show cull");
        return;
    }
    for (const ShellCommandT *row = log_commands; row->command; ++row) {
        if (strcmp(row->command, argv[1]) == 0) {
            row->command_handler(context, argc - 1, argv + 1);
            return;
        }
    }
}

void log_format_cmd(CommandContext &context, int argc, char **argv) {
    bool date = false, time = false, level = false;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "date") == 0) date = true;
        if (strcmp(argv[i], "time") == 0) time = true;
        if (strcmp(argv[i], "level") == 0) level = true;
    }
    OutputGuard guard(context.session.output);
    context.session.monitor.set_layout(guard, date, time, level);
}

void log_show_cmd(CommandContext &context, int argc, char **argv) {
    filter_cmd(context, true, argc, argv);
}

void log_cull_cmd(CommandContext &context, int argc, char **argv) {
    filter_cmd(context, false, argc, argv);
}
