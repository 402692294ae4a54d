// The command loop and the end of a session.

#include "command_loop.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "app_link.h"
#include "cle.h"
#include "commands.h"
#include "config_access.h"
#include "console.h"
#include "import.h"
#include "listener.h"
#include "registration.h"
#include "result_wait.h"
#include "session.h"
#include "system_log.h"

namespace {

const char *const no_prompt = "";
const char *const default_prompt = "-> ";
const char *const logout_cmd = "_control logout %s";
constexpr int kEditorRoom = 511;  // a line holds at most 510 characters
// How long the closing logout waits for its result line.
constexpr int kLogoutWaitMs = 5000;
constexpr size_t kFarewellLineRoom = 192;  // the logout line, or a setting write
// How long a session ended by a signal lets the replies to its last lines come.
constexpr int kFarewellReplyWaitMs = 1000;

// Main thread only.
char *prompt = nullptr;
int reboot_cmd_hack_flag = 0;  // the answer to the reboot question is awaited

// Import state of the loop.
struct ImportState {
    FILE *file = nullptr;
    int size = 0;
    int full = 0;
    int in_progress = 0;
    char type[512] = {};
};

enum class Pass { kNext, kLeave };

void sem_wait_retrying(sem_t *sem) {
    while (sem_wait(sem) != 0 && errno == EINTR) {
    }
}

bool is_one_of(const char *line, const char *a, const char *b, const char *c) {
    return strcmp(line, a) == 0 || strcmp(line, b) == 0 || strcmp(line, c) == 0;
}

// Removes leading and trailing bytes 1 to 32 (blanks and control characters).
void clean_line(char *line) {
    auto removable = [](char c) {
        unsigned char u = static_cast<unsigned char>(c);
        return u >= 1 && u <= 32;
    };
    size_t start = 0;
    while (line[start] != '\0' && removable(line[start]))
        ++start;
    size_t len = strlen(line + start);
    memmove(line, line + start, len + 1);
    while (len > 0 && removable(line[len - 1]))
        line[--len] = '\0';
}

void print_default_prompt() {
    pthread_mutex_lock(&async_stdout_mut);
    shell_io_flush(stdout_shio);
    if (cmdecho_state == 0) fputs(newline_string, stdout);
    fputs(default_prompt, stdout);
    fflush(stdout);
    pthread_mutex_unlock(&async_stdout_mut);
}

// "quit" or "exit": leaves the customer API mode of a telnet session, else the loop.
Pass quit() {
    sleep(1);
    if (strcmp(session_type, "telnet") == 0 && strcmp(cmd_fmt, "E: %s") == 0) {
        pthread_mutex_lock(&async_stdout_mut);
        shell_io_printf(stdout_shio, "Exiting customer api *ONLY* mode\n");
        pthread_mutex_unlock(&async_stdout_mut);
        cmd_fmt = "C: %s";
        return Pass::kNext;
    }
    return Pass::kLeave;
}

[[noreturn]] void reboot_device() {
    send_api_cmd("reboot now");
    sleep(1);
    cleanup();
    sleep(1);
    if (gbPrintToSysLog) mysyslog("End of session");
    exit(0);
}

// The reboot question and its answer; quit and exit.
Pass reboot_cmd_processing(const char *line) {
    if (!reboot_cmd_hack_flag) {
        if (strcmp(line, "reboot") == 0) {
            reboot_cmd_hack_flag = 1;
            fputs("reboot, are you sure? <y,n> ", stdout);
            fflush(stdout);
            return Pass::kNext;
        }
        return quit();
    }
    reboot_cmd_hack_flag = 0;
    if (strcmp(line, "y") == 0) reboot_device();
    if (strcmp(line, "n") == 0) return Pass::kNext;
    if (strlen(line) == 1) return quit();
    shell_println("info: reboot command aborted");
    fflush(stdout);
    return Pass::kNext;
}

// Sends a line that no local command took; true when it went out through send_command.
Pass forward_line(ImportState &import, bool &sent) {
    import.in_progress = isImportCommand(cmdbuff, import.type);
    cle_set_import_state(import.in_progress);
    if (import.in_progress) {
        import.in_progress = startImporting(cmdbuff, &import.file, &import.size, &import.full);
        cle_set_import_state(import.in_progress);
        return Pass::kNext;
    }
    if (preProcessPasswordCommands(cmdbuff) != 0) return Pass::kNext;
    sent = true;
    if (send_command(cmdbuff) == kLinkEnded) {
        if (gbPrintToSysLog)
            mysyslog("ERROR:Unable to send command to zuz. Quitting. Current command: %s\n",
                     cmdbuff);
        return Pass::kLeave;
    }
    return Pass::kNext;
}

Pass handle_line(ImportState &import, bool &sent) {
    clean_line(cmdbuff);
    if (import.in_progress) {
        import.in_progress =
            processImportLine(cmdbuff, import.type, &import.file, &import.size, &import.full);
        cle_set_import_state(import.in_progress);
        return Pass::kNext;
    }
    if (cmdbuff[0] == '\0') {
        print_default_prompt();
        return Pass::kNext;
    }
    gnCount.fetch_add(1);
    if (gbPrintToSysLog) mysyslog("IN:%s\n", cmdbuff);
    if (!carries_secrets(cmdbuff)) cle_history_add(cmdbuff);
    preprocess_legacy_bang_input_cmd(cmdbuff);
    if (reboot_cmd_hack_flag || is_one_of(cmdbuff, "quit", "exit", "reboot"))
        return reboot_cmd_processing(cmdbuff);
    if (process_command(cmdbuff) != 0) return Pass::kNext;
    return forward_line(import, sent);
}

Pass one_pass(ImportState &import) {
    int result = get_input_command();
    if (result == -1 && !cle_did_import_timeout()) return Pass::kLeave;
    if (cle_did_import_timeout()) {
        shell_println("importdirectory timed out");
        abortImport(&import.file, &import.in_progress);
        return Pass::kNext;
    }
    bool sent = false;
    Pass next = handle_line(import, sent);
    if (next == Pass::kLeave) return next;
    if (!sent) sem_post(&input_ready_sem);
    flush_background_output();
    return Pass::kNext;
}

// In the secure profile the session logs out; the wait for its result is bounded.
void log_out() {
    if (link_has_ended()) return;
    sem_init(&sem_result, 0, 0);
    pthread_mutex_lock(&async_stdout_mut);
    waitingOnResponse = 1;
    pthread_mutex_unlock(&async_stdout_mut);
    char line[kFarewellLineRoom];
    snprintf(line, sizeof line, logout_cmd, tty_name);
    bool delivered = false;
    send_api_request(line, &delivered, kFarewellLogout);
    if (delivered) wait_for_result_line(kLogoutWaitMs);
    pthread_mutex_lock(&async_stdout_mut);
    waitingOnResponse = 0;
    pthread_mutex_unlock(&async_stdout_mut);
    sem_destroy(&sem_result);
}

// The client-address setting of the session type, or null for a type without one.
const char *client_address_setting() {
    if (strcmp(session_type, "api") == 0) return "telnet_client_24";
    if (strcmp(session_type, "telnet") == 0) return "telnet_client_23";
    return nullptr;
}

}  // namespace

int get_input_command() {
    sem_wait_retrying(&input_ready_sem);
    int result = cle_get_command_line(prompt, cmdbuff, kEditorRoom);
    if (result == -1) sem_post(&input_ready_sem);
    return result;
}

void preprocess_legacy_bang_input_cmd(char *input) {
    size_t len = strlen(input);
    if (len > 1 && input[0] == '!') {
        memmove(input + 2, input + 1, len);  // the tail and its NUL
        input[1] = ' ';
    }
}

void cleanup() {
    unregister_session();
    cle_cleanup();
    link_release();
    sem_destroy(&response_sem);
    sem_destroy(&input_ready_sem);
}

void done() {
    // Once the application is gone there is nobody to write the setting to.
    const char *setting = client_address_setting();
    if (!link_has_ended() && setting != nullptr)
        vela_cfg_write(setting, "", kFarewellClientSetting);
    cleanup();
}

void send_farewell() {
    HXCOM connection = nullptr;
    unsigned sent = link_hold_for_farewell(&connection);
    if (connection == nullptr) return;
    char line[kFarewellLineRoom];
    int answered = 0;  // lines whose reply comes
    if (inDoDMode && authenticated.load() && !(sent & kFarewellLogout)) {
        snprintf(line, sizeof line, logout_cmd, tty_name);
        answered += send_api_without_reply(connection, line);
    }
    const char *setting = client_address_setting();
    if (setting != nullptr && !(sent & kFarewellClientSetting)) {
        format_setting_write(line, sizeof line, setting, "");
        answered += send_api_without_reply(connection, line);
    }
    if (!(sent & kFarewellUnregister)) xcom_client_send(connection, "U");
    // A connection closed with replies unread is reset, which may cost the application
    // the lines not yet read, "U" among them: let the replies come, briefly.
    await_replies(answered, kFarewellReplyWaitMs);
}

int run_command_loop() {
    if (strcmp(session_type, "telnet") != 0 && no_banner == 0) send_api_cmd("whoami");
    prompt = const_cast<char *>(no_prompt);
    ImportState import;
    cle_set_import_state(0);

    while (one_pass(import) == Pass::kNext) {
    }

    if (inDoDMode) log_out();
    done();
    if (cle_did_session_timeout()) {
        shell_println("Session timed out");
        print_security_log("Session timed out");
        abortImport(&import.file, &import.in_progress);
    }
    if (gbPrintToSysLog) mysyslog("End of session");
    return 0;
}
