// Login through the application: the credentials are asked on the terminal, sent
// hex-encoded, and the application's one-word result decides.

#include "login.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "app_link.h"
#include "config_access.h"
#include "console.h"
#include "registration.h"
#include "result_wait.h"
#include "session.h"
#include "tcp6_table.h"
#include "terminal_input.h"

namespace {

const char *const login_cmd = "_control login \"%s\" \"%s\" %s";
const char *const kLoginSuccess = "success";
const char *const kLoginFailure = "failed";
const char *const kLoginLocked = "lockout";

constexpr int maxAttempts = 3;
constexpr unsigned kRetryPauseSeconds = 4;
constexpr size_t kCredentialRoom = 64;
constexpr size_t kBannerRoom = 256;
constexpr size_t kRequestRoom = 512;
constexpr size_t kAddressRoom = 56;

enum class Attempt { kSuccess, kFailed, kGiveUp };

// Removes one trailing LF or CR.
void strip_one_line_end(char *text) {
    size_t len = strlen(text);
    if (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r')) text[len - 1] = '\0';
}

// The first "@" becomes a line break and every "%" a blank.
void prepare_banner(char *banner) {
    if (char *at = strchr(banner, '@')) *at = '\n';
    for (char *p = banner; *p; ++p)
        if (*p == '%') *p = ' ';
}

void choose_banner(char *banner) {
    char configAdminId[kCredentialRoom];
    get_config_value("adminuserid", configAdminId, sizeof configAdminId);
    bool admin = strncmp(user, configAdminId, strlen(configAdminId)) == 0;
    get_config_value(admin ? "loginbanneradmin" : "loginbanneruser", banner,
                     static_cast<int>(kBannerRoom));
}

// Sends the request and waits for its result line; false when no result can come.
bool request_login(const char *password, char *result, size_t result_room) {
    char user_encoded[2 * kCredentialRoom + 1];
    char password_encoded[2 * kCredentialRoom + 1];
    char request[kRequestRoom];
    snprintf(request, sizeof request, login_cmd, encode(user_encoded, user),
             encode(password_encoded, password), tty_name);

    pthread_mutex_lock(&async_stdout_mut);
    waitingOnResponse = 1;
    pthread_mutex_unlock(&async_stdout_mut);
    bool delivered = false;
    send_api_request(request, &delivered);
    bool answered = delivered && wait_for_result_line(-1);
    pthread_mutex_lock(&async_stdout_mut);
    if (answered) snprintf(result, result_room, "%s", cmdResult);
    waitingOnResponse = 0;
    pthread_mutex_unlock(&async_stdout_mut);
    return answered;
}

Attempt attempt_login(int attempt, char *current_user, int inDoDMode) {
    if (inDoDMode) {
        shell_println("Login:");
        set_tty_echo(1);
        char typed[kCredentialRoom];
        if (read_terminal_line(typed, sizeof typed)) {
            strip_one_line_end(typed);
            snprintf(user, sizeof user, "%s", typed);
        }
    } else if (attempt == 0) {
        snprintf(user, sizeof user, "%s", current_user);
    }

    set_tty_echo(0);
    shell_println("Password:");
    char password[kCredentialRoom];
    if (!read_terminal_line(password, sizeof password)) return Attempt::kGiveUp;
    strip_one_line_end(password);

    char banner[kBannerRoom];
    choose_banner(banner);

    char result[sizeof cmdResult];
    bool answered = request_login(password, result, sizeof result);
    memset(password, 0, sizeof password);
    if (!answered) return Attempt::kGiveUp;  // nothing can answer any later attempt either

    if (strcmp(result, kLoginSuccess) == 0) {
        prepare_banner(banner);
        shell_println("\n%s\n\n", banner);
        return Attempt::kSuccess;
    }
    if (strcmp(result, kLoginFailure) == 0)
        shell_println(inDoDMode ? "Login failed. Please try again.\n"
                                : " -- password failed, retry --\n");
    else if (strcmp(result, kLoginLocked) == 0)
        shell_println("Port locked: Maximum failed login attempts exceeded");
    return Attempt::kFailed;
}

}  // namespace

int authenticate_user(char *current_user, char *current_pwd, int inDoDMode) {
    if (current_pwd[0] == '\0' && !inDoDMode) return 1;
    shell_println("Welcome to Tessaline\n");
    sem_init(&sem_result, 0, 0);
    int logged_in = 0;
    for (int attempt = 0; attempt < maxAttempts; ++attempt) {
        Attempt outcome = attempt_login(attempt, current_user, inDoDMode);
        if (outcome == Attempt::kSuccess) {
            logged_in = 1;
            break;
        }
        if (outcome == Attempt::kGiveUp) break;
        sleep(kRetryPauseSeconds);
    }
    sem_destroy(&sem_result);
    set_tty_echo(1);
    return logged_in;
}

void update_ui_login_params(int auth_result, const char *shell_type) {
    const char *address_setting, *result_setting;
    unsigned port;
    if (strcmp(shell_type, "telnet") == 0) {
        address_setting = "telnet_client_23";
        result_setting = "telnet_client_23_success";
        port = 23;
    } else if (strcmp(shell_type, "api") == 0) {
        address_setting = "telnet_client_24";
        result_setting = "telnet_client_24_success";
        port = 24;
    } else {
        return;
    }
    char address[kAddressRoom] = "";
    get_telnet_client_ip_from_proc(port, address);
    vela_cfg_write(address_setting, address);
    vela_cfg_write(result_setting, auth_result == 0 ? "True" : "False");
}

void update_unsuccessful_login(const char *shell_type) {
    update_ui_login_params(1, shell_type);
    unregister_session();
}
