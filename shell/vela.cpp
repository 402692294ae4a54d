// vela: the command shell of one user connection. Start-up, in a fixed order, up to
// the command loop; the only place where the process ends.

#include <errno.h>
#include <malloc.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <initializer_list>
#include <new>

#include "cle.h"
#include "command_loop.h"
#include "config_access.h"
#include "console.h"
#include "device_paths.h"
#include "exit_status.h"
#include "log_monitor.h"
#include "login.h"
#include "login_terminal.h"
#include "options.h"
#include "registration.h"
#include "session.h"
#include "termination.h"

namespace {

const char *const DoDProfile = "DoD DSN";
constexpr int kRetrySeconds = 5;
constexpr size_t kDiscardedLineRoom = 128;

// Set by the SIGUSR1 handler, polled by the main thread while it waits to start: a
// signal handler may do no more than that.
volatile sig_atomic_t debug_sig_continue = 0;

void sig_handler(int signum) {
    if (signum == SIGUSR1) debug_sig_continue = 1;
}

// "--wait": sleeps in steps until SIGUSR1 has come (the handler stays installed).
void wait_for_sigusr1(const SessionLog &log) {
    struct sigaction debug_sa {};
    sigemptyset(&debug_sa.sa_mask);
    sigaddset(&debug_sa.sa_mask, SIGUSR1);
    debug_sa.sa_handler = sig_handler;
    sigaction(SIGUSR1, &debug_sa, nullptr);
    shell_println(log, "DEBUG: SIGUSR1 handler installed");
    fflush(stdout);
    shell_println(log, "DEBUG: waiting for SIGUSR1 to start...");
    fflush(stdout);
    while (!debug_sig_continue)
        sleep(kRetrySeconds);  // the signal cuts the sleep short
    shell_println(log, "DEBUG: SIGUSR1 received! set continue flag to true");
    fflush(stdout);
}

bool ready_marker_exists() {
    FILE *marker = fopen(paths::kReadyMarker, "r");
    if (marker == nullptr) return false;
    fclose(marker);
    return true;
}

void set_line_ends(Session &session) {
    if (session.config.is(SessionType::kApiSerial)) {
        session.output.insert_cr();
        cle_no_cr_translation(1);
        return;
    }
    char eol[256];
    if (get_config_value("eol", eol, sizeof eol) == 0 && strcmp(eol, "False") == 0) {
        cle_eol_nl_cr();
        session.output.insert_cr();
    } else {
        cle_eol_cr_nl();
    }
}

// Reads one login setting; false (after a record in mirrored sessions) when it cannot.
bool read_login_setting(const SessionLog &log, const char *name, char *value, int size,
                        const char *failure) {
    if (get_config_value(name, value, size) == 0) return true;
    mysyslog(log, "%s", failure);
    return false;
}

bool read_login_settings(Session &session) {
    SessionConfig &config = session.config;
    const SessionLog &log = session.log;
    char profile[256], password[64], idle[16];
    if (!read_login_setting(log, "enablesecureprofile", profile, sizeof profile,
                            "Cannot get enableSecureProfile"))
        return false;
    config.secure_profile = strcmp(profile, DoDProfile) == 0;
    if (!read_login_setting(log, "sw", password, sizeof password, "Password access failure.\n") ||
        !read_login_setting(log, "adminuserid", config.admin_user, sizeof config.admin_user,
                            "Username access failure.\n") ||
        !read_login_setting(log, "securitybanner", config.security_banner,
                            sizeof config.security_banner, "Security banner access failure.\n"))
        return false;
    config.password_set = password[0] != '\0';
    memset(password, 0, sizeof password);
    for (char *p = config.security_banner; *p; ++p)
        if (*p == '%') *p = ' ';
    if (!config.secure_profile) return true;
    if (!read_login_setting(log, "idletimeoutapi", idle, sizeof idle,
                            "idle timeout access failure.\n"))
        return false;
    config.idle_minutes = idle_minutes_from(idle);
    return true;
}

void connect_to_application(Session &session) {
    bool printed = false;  // "Waiting for application to start" has been shown
    while (!session.link.connect(session.config.host_name, session.config.port)) {
        if (!session.config.quiet_terminal() && !printed) {
            shell_println(session.log, "Waiting for application to start");
            fflush(stdout);
            printed = true;
        }
        sleep(kRetrySeconds);
    }
}

int end_session_early(Session &session, const char *record) {
    session.link.release();
    mysyslog(session.log, "%s", record);
    return kExitFailed;
}

// Logs the user in where the session needs it; false when the login failed.
bool log_in(Session &session, LoopState &loop) {
    const SessionConfig &config = session.config;
    bool needs_login = !config.is(SessionType::kApiSerial) || config.secure_profile;
    if (!needs_login) return true;
    if (!authenticate_user(session, loop)) {
        session.authenticated.store(false);
        update_unsuccessful_login(session);
        return false;
    }
    session.authenticated.store(true);
    if (config.is(SessionType::kTelnet)) {
        shell_println(session.log, "Halvern Command Shell");
        shell_println(session.log, "XCOM host:    %s port: %d", config.host_name, config.port);
        shell_println(session.log, "TTY name:     %s", config.tty_name);
        shell_println(session.log, "Session type: %s", config.type_name());
    }
    return true;
}

// The start-up sequence and the session after it; the exit status.
int run(Session &session, int argc, char **argv) {
    SessionConfig &config = session.config;
    const SessionLog &log = session.log;
    if (!ready_marker_exists()) {
        printf("Fatal: quit.\n");
        return kExitRefused;
    }
    if (int error = ttyname_r(1, config.tty_name, sizeof config.tty_name); error != 0) {
        errno = error;
        perror("Can't get TTY name");
        return kExitFailed;
    }
    if (!session.output.create_mutex()) {
        shell_println(log, "error: failed to init async_stdout_mut!");
        return kExitOutputMutex;
    }
    register_editor_callbacks(session.output);
    if (!session.output.create_buffer()) {
        shell_println(log, "error: failed to bind stdout_shio to stdout");
        return kExitOutputObject;
    }

    switch (get_args(argc, argv, config, log)) {
        case Options::kHelp:
            return kExitOk;
        case Options::kInvalid:
            return kExitRefused;
        case Options::kRun:
            break;
    }
    if (config.wait_to_start) wait_for_sigusr1(log);
    if (strstr(config.tty_name, "FPGAS") != nullptr && config.is(SessionType::kApi))
        config.type = SessionType::kApiSerial;
    set_line_ends(session);
    config.mirrored = !config.is(SessionType::kTelnet);
    session.log.start(config.tty_name, config.mirrored);
    signal(SIGPIPE, SIG_IGN);
    mysyslog(log, "Session started\n");
    if (!read_login_settings(session)) return kExitRefused;

    // The configuration is complete: from here on threads run, and it stays as it is.
    start_termination_thread(session);
    if (config.log_viewer) {
        shell_println(log, "Log viewer mode (Ctrl-C to quit) ...");
        session.authenticated.store(true);  // the viewer has no login of its own
    }
    if (config.shows_live_log()) {
        {
            OutputGuard guard(session.output);
            session.monitor.clear_filters(guard);
        }
        if (!start_log_monitor(session)) shell_println(log, "failed to create log reader thread");
    }
    cle_echo_enable(config.echo ? 1 : 0);
    if (!session.link.create_reply_semaphore()) {
        shell_println(log, "Cound not initialize response semaphore");
        return kExitFailed;
    }
    if (!session.link.create_ready_semaphore()) {
        shell_println(log, "Cound not initialize input ready semaphore");
        return kExitReadySemaphore;
    }
    if (config.log_viewer) {
        session.link.wait_for_reply_signal();  // nothing signals it: until Ctrl-C
        return kExitOk;
    }

    connect_to_application(session);
    if (!register_session(session)) return end_session_early(session, "End of session");
    session.link.report_negative_replies();
    if (config.secure_profile && config.is(SessionType::kApiSerial)) {
        char discarded[kDiscardedLineRoom];
        read_terminal_line(discarded, sizeof discarded);
    }
    if (config.security_banner[0] != '\0') shell_println(log, "\n%s\n\n\n", config.security_banner);
    LoopState loop;
    loop.mode = config.initial_mode;
    loop.echo = config.echo;
    if (!log_in(session, loop)) return end_session_early(session, "End of session\n");
    if (cle_init(config.idle_minutes) != 0) {
        shell_println(log, "Failed to initialize command-line editor");
        return kExitEditor;
    }
    update_ui_login_params(session, true);
    return run_command_loop(session, loop);
}

}  // namespace

int main(int argc, char **argv) {
    // One malloc arena for all threads: the helpers allocate nothing once they run, and a
    // private arena each would cost every session memory for nothing.
    mallopt(M_ARENA_MAX, 1);
    // A session has no job control: nothing typed at a prompt may stop it.
    for (int stop_signal : {SIGTSTP, SIGTTIN, SIGTTOU})
        signal(stop_signal, SIG_IGN);
    // Never destroyed (session.h): the storage outlives main and the static destructors.
    alignas(Session) static unsigned char storage[sizeof(Session)];
    Session &session = *new (storage) Session();
    return run(session, argc, argv);
}
