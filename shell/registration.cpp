// Session registration and the limit on concurrent telnet sessions.

#include "registration.h"

#include <ctype.h>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "api_event_reader.h"
#include "console.h"
#include "device_paths.h"
#include "listener.h"
#include "sender_filter.h"
#include "session.h"
#include "unique_fd.h"

namespace {

constexpr size_t kRegistrationRoom = 516;
constexpr size_t kRegistrationHeadRoom = 256;  // "R: ", type, socket path
constexpr size_t kCmdlinePathRoom = 512;
constexpr size_t kCmdlineReadRoom = 127;

// True when the process's first command-line word contains "telnet".
bool is_telnet_process(const char *pid_name) {
    char path[kCmdlinePathRoom];
    snprintf(path, sizeof path, "%s/%s/cmdline", paths::kProcesses, pid_name);
    vela::UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return false;
    char text[kCmdlineReadRoom + 1];
    ssize_t n = read(fd.get(), text, kCmdlineReadRoom);
    if (n <= 0) return false;  // kernel threads have an empty command line
    text[n] = '\0';            // the first word ends at its own NUL
    return strstr(text, "telnet") != nullptr;
}

// The API listener with sender credentials; -1 after a message.
int open_api_listener(const Session &session, char *path) {
    int fd = setupSocket(session.config, session.log, paths::kApiListenerDir, path);
    if (fd >= 0 && !enable_sender_credentials(fd)) {
        close(fd);
        fd = -1;
    }
    if (fd < 0 && !session.config.quiet_terminal())
        shell_println(session.log, "error: vela failed to setup async listener");
    return fd;
}

}  // namespace

int numberOfCurrentSessions(const SessionLog &log) {
    DIR *proc = opendir(paths::kProcesses);
    if (proc == nullptr) {
        mysyslog(log, "vela Could not open the /proc directory");
        return 0;
    }
    int count = 0;
    while (dirent *entry = readdir(proc)) {
        if (isdigit(static_cast<unsigned char>(entry->d_name[0])) &&
            is_telnet_process(entry->d_name))
            ++count;
    }
    closedir(proc);
    return count;
}

bool register_session(Session &session) {
    const SessionConfig &config = session.config;
    if (numberOfCurrentSessions(session.log) > kMaxTelnetSessions) {
        printf(
            "Error: Terminating because too many concurrent telnet sessions have been started.\n");
        fflush(stdout);
        mysyslog(session.log,
                 "vela error: Terminating %s because too many concurrent telnet sessions have "
                 "been started.",
                 config.tty_name);
        return false;
    }

    char registration[kRegistrationHeadRoom];
    snprintf(registration, sizeof registration, "%s%s ", "R: ", config.type_name());
    size_t used = strlen(registration);
    int fd = open_api_listener(session, registration + used);
    if (fd < 0) return false;
    mysyslog(session.log, "VELA: starting Reader and Monitor threads\n");
    if (!start_api_event_reader(fd, session.output, session.link, session.log)) {
        shell_println(session.log, "error: failed to create api async reader thread");
        return false;
    }

    char line[kRegistrationRoom];
    snprintf(line, sizeof line, "%s %s", registration, config.tty_name);
    if (!session.link.send_line(line)) {
        shell_println(session.log, "XCOM send error");
        return false;
    }
    return session.link.await_reply() == 0;
}

bool unregister_session(AppLink &link) {
    return link.send_line("U", kFarewellUnregister);
}
