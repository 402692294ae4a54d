// Session registration and the limit on concurrent telnet sessions.

#include "registration.h"

#include <ctype.h>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "app_link.h"
#include "console.h"
#include "listener.h"
#include "sender_filter.h"
#include "session.h"
#include "system_log.h"
#include "unique_fd.h"

namespace {

constexpr size_t kRegistrationRoom = 516;
constexpr size_t kRegistrationHeadRoom = 256;  // "R: ", type, socket path
constexpr size_t kCmdlinePathRoom = 512;
constexpr size_t kCmdlineReadRoom = 127;

// True when the process's first command-line word contains "telnet".
bool is_telnet_process(const char *pid_name) {
    char path[kCmdlinePathRoom];
    snprintf(path, sizeof path, "%s%s/cmdline", "/proc/", pid_name);
    UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return false;
    char text[kCmdlineReadRoom + 1];
    ssize_t n = read(fd.get(), text, kCmdlineReadRoom);
    if (n <= 0) return false;  // kernel threads have an empty command line
    text[n] = '\0';            // the first word ends at its own NUL
    return strstr(text, "telnet") != nullptr;
}

}  // namespace

int numberOfCurrentSessions() {
    DIR *proc = opendir("/proc/");
    if (proc == nullptr) {
        if (gbPrintToSysLog) mysyslog("vela Could not open the /proc directory");
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

int register_session() {
    if (numberOfCurrentSessions() > kMaxTelnetSessions) {
        printf(
            "Error: Terminating because too many concurrent telnet sessions have been started.\n");
        fflush(stdout);
        if (gbPrintToSysLog)
            mysyslog(
                "vela error: Terminating %s because too many concurrent telnet sessions have "
                "been started.",
                tty_name);
        return -1;
    }

    char registration[kRegistrationHeadRoom];
    snprintf(registration, sizeof registration, "%s%s ", "R: ", session_type);
    size_t used = strlen(registration);
    int fd = setupSocket(kApiListenerDir, registration + used);
    if (fd >= 0 && !enable_sender_credentials(fd)) {
        close(fd);
        fd = -1;
    }
    api_async_event_fd.store(fd);
    if (fd < 0) {
        if (strcmp(session_type, "api-serial") != 0)
            shell_println("error: vela failed to setup async listener");
        return -1;
    }
    if (gbPrintToSysLog) mysyslog("VELA: starting Reader and Monitor threads\n");
    if (pthread_create(&apiAsyncEventReader, nullptr, apiAsyncEventReaderThread, nullptr) != 0) {
        shell_println("error: failed to create api async reader thread");
        return -1;
    }
    // Never joined: a reader that gives up must not stay behind as a zombie thread.
    pthread_detach(apiAsyncEventReader);

    char line[kRegistrationRoom];
    snprintf(line, sizeof line, "%s %s", registration, tty_name);
    if (!link_send(line)) {
        shell_println("XCOM send error");
        return -1;
    }
    return response_helper();
}

int unregister_session() {
    return link_send("U", kFarewellUnregister) ? 0 : -1;
}
