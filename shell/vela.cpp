// vela: the command shell of one user connection. Start-up, in a fixed order, up to
// the command loop.

#include <errno.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <initializer_list>

#include "app_link.h"
#include "cle.h"
#include "command_loop.h"
#include "config_access.h"
#include "console.h"
#include "listener.h"
#include "log_monitor.h"
#include "login.h"
#include "options.h"
#include "registration.h"
#include "session.h"
#include "system_log.h"
#include "terminal_input.h"
#include "termination.h"
#include "xcom.h"

namespace {

const char *const kReadyMarker = "/tmp/VelaReady";
const char *const webdata_directory = "/tmp/webdata";
const char *const directory_file_name = "/directory";
const char *const DoDProfile = "DoD DSN";

constexpr int kRetrySeconds = 5;
constexpr size_t kDiscardedLineRoom = 128;

// Main thread only.
struct sigaction debug_sa;
int printed = 0;  // "Waiting for application to start" has been shown

void sig_handler(int signum) {
    if (signum != SIGUSR1) return;
    debug_sig_continue = 1;
    shell_println("DEBUG: SIGUSR1 received! set continue flag to true");
    fflush(stdout);
}

void sig_handler_init() {
    memset(&debug_sa, 0, sizeof debug_sa);
    sigemptyset(&debug_sa.sa_mask);
    sigaddset(&debug_sa.sa_mask, SIGUSR1);
    debug_sa.sa_handler = sig_handler;
    debug_sa.sa_flags = 0;
    sigaction(SIGUSR1, &debug_sa, nullptr);
    shell_println("DEBUG: SIGUSR1 handler installed");
    fflush(stdout);
}

void sig_wait_to_start() {
    shell_println("DEBUG: waiting for SIGUSR1 to start...");
    fflush(stdout);
    while (!debug_sig_continue)
        sleep(kRetrySeconds);
}

bool is_session_type(const char *type) {
    return strcmp(session_type, type) == 0;
}

void check_ready_marker() {
    FILE *marker = fopen(kReadyMarker, "r");
    if (marker == nullptr) {
        printf("Fatal: quit.\n");
        exit(1);
    }
    fclose(marker);
}

void set_line_ends() {
    if (is_session_type("api-serial")) {
        shell_io_add_cr(stdout_shio);
        cle_no_cr_translation(1);
        return;
    }
    if (get_config_value("eol", eolConfig, sizeof eolConfig) == 0 &&
        strcmp(eolConfig, "False") == 0) {
        cle_eol_nl_cr();
        shell_io_add_cr(stdout_shio);
        newline_string = serial_newline_string;
    } else {
        cle_eol_cr_nl();
    }
}

// Reads one login setting; a setting that cannot be read ends the process.
void read_login_setting(const char *name, char *value, int size, const char *failure) {
    if (get_config_value(name, value, size) == 0) return;
    if (gbPrintToSysLog) mysyslog("%s", failure);
    exit(1);
}

// The leading decimal digits of the idle limit, 0 for "Off" or none.
int idle_minutes(const char *text) {
    if (strcmp(text, "Off") == 0) return 0;
    int minutes = 0;
    for (const char *p = text; *p >= '0' && *p <= '9' && minutes < 1000000; ++p)
        minutes = minutes * 10 + (*p - '0');
    return minutes;
}

void read_login_settings() {
    read_login_setting("enablesecureprofile", enableSecureProfile, sizeof enableSecureProfile,
                       "Cannot get enableSecureProfile");
    inDoDMode = strcmp(enableSecureProfile, DoDProfile) == 0 ? 1 : 0;
    read_login_setting("sw", current_pwd, sizeof current_pwd, "Password access failure.\n");
    read_login_setting("adminuserid", current_user, sizeof current_user,
                       "Username access failure.\n");
    read_login_setting("securitybanner", securityBanner, sizeof securityBanner,
                       "Security banner access failure.\n");
    if (inDoDMode) {
        read_login_setting("idletimeoutapi", strIdleTimeout, sizeof strIdleTimeout,
                           "idle timeout access failure.\n");
        idleTimeout = idle_minutes(strIdleTimeout);
    }
}

void init_semaphore(sem_t *sem, const char *failure, int status) {
    if (sem_init(sem, 0, 0) == 0) return;
    shell_println("%s", failure);
    exit(status);
}

[[noreturn]] void run_log_viewer() {
    while (sem_wait(&response_sem) != 0 && errno == EINTR) {
    }
    sem_destroy(&response_sem);
    sem_destroy(&input_ready_sem);
    exit(0);
}

void connect_to_application() {
    HXCOM connection;
    while ((connection = xcom_client_connect(host_name, host_port, message_handler)) == nullptr) {
        if (!is_session_type("api-serial") && !printed) {
            shell_println("Waiting for application to start");
            fflush(stdout);
            printed = 1;
        }
        sleep(kRetrySeconds);
    }
    link_adopt(connection);
}

[[noreturn]] void end_session_early(const char *record) {
    link_release();
    if (gbPrintToSysLog) mysyslog("%s", record);
    exit(-1);
}

void show_security_banner() {
    if (securityBanner[0] == '\0') return;
    for (char *p = securityBanner; *p; ++p)
        if (*p == '%') *p = ' ';
    shell_println("\n%s\n\n\n", securityBanner);
}

void log_in() {
    bool needs_login = is_session_type("api") || is_session_type("telnet") || inDoDMode;
    if (!needs_login) return;
    if (!authenticate_user(current_user, current_pwd, inDoDMode)) {
        authenticated.store(0);
        update_unsuccessful_login(session_type);
        end_session_early("End of session\n");
    }
    authenticated.store(1);
    if (is_session_type("telnet")) {
        shell_println("Halvern Command Shell");
        shell_println("XCOM host:    %s port: %d", host_name, host_port);
        shell_println("TTY name:     %s", tty_name);
        shell_println("Session type: %s", session_type);
    }
}

}  // namespace

int main(int argc, char **argv) {
    // A session has no job control: nothing typed at a prompt may stop it.
    for (int stop_signal : {SIGTSTP, SIGTTIN, SIGTTOU})
        signal(stop_signal, SIG_IGN);
    snprintf(baseDirFileName, sizeof baseDirFileName, "%s%s", webdata_directory,
             directory_file_name);
    check_ready_marker();
    if (int error = ttyname_r(1, tty_name, sizeof tty_name); error != 0) {
        errno = error;
        perror("Can't get TTY name");
        exit(-1);
    }
    newline_string = serial_newline_string;
    if (pthread_mutex_init(&async_stdout_mut, nullptr) != 0) {
        shell_println("error: failed to init async_stdout_mut!");
        exit(-2);
    }
    cle_register_sync_callbacks(cle_lock_unlock_op);
    cle_register_inline_callback(cle_inline_state_tracker);
    stdout_shio = shell_io_create();
    if (stdout_shio == nullptr) {
        shell_println("error: failed to bind stdout_shio to stdout");
        exit(-3);
    }
    shell_io_bind_fd(stdout_shio, 1);

    if (get_args(argc, argv) != 0) exit(1);
    if (wait_to_start) {
        sig_handler_init();
        sig_wait_to_start();
    }
    if (strstr(tty_name, "FPGAS") != nullptr && is_session_type("api"))
        snprintf(session_type, sizeof session_type, "%s", "api-serial");
    set_line_ends();
    gbPrintToSysLog = is_session_type("api") || is_session_type("api-serial");
    signal(SIGPIPE, SIG_IGN);
    if (gbPrintToSysLog) mysyslog("Session started\n");

    read_login_settings();
    bDevMode = is_session_type("telnet");
    start_termination_thread();
    if (view_only_mode) {
        shell_println("Log viewer mode (Ctrl-C to quit) ...");
        authenticated.store(1);  // the viewer has no login of its own and shows the log
    }
    if (bDevMode) {
        clear_log_filters();
        if (pthread_create(&threadReader, nullptr, logReaderThread, nullptr) != 0)
            shell_println("failed to create log reader thread");
        else
            pthread_detach(threadReader);  // never joined, like every helper thread
    }
    cle_echo_enable(cmdecho_state);
    init_semaphore(&response_sem, "Cound not initialize response semaphore", -1);
    init_semaphore(&input_ready_sem, "Cound not initialize input ready semaphore", -11);
    if (view_only_mode) run_log_viewer();

    connect_to_application();
    if (register_session() != 0) end_session_early("End of session");
    did_registration = 1;
    if (inDoDMode) {
        sem_init(&sem_result, 0, 0);
        if (is_session_type("api-serial")) {
            char discarded[kDiscardedLineRoom];
            read_terminal_line(discarded, sizeof discarded);
        }
    }
    show_security_banner();
    log_in();
    if (cle_init(idleTimeout) != 0) {
        shell_println("Failed to initialize command-line editor");
        exit(-111);
    }
    update_ui_login_params(0, session_type);
    return run_command_loop();
}
