// Login through the application: the credentials are asked on the terminal, sent
// hex-encoded, and the application's one-word result decides.

#include "login.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "config_access.h"
#include "console.h"
#include "login_terminal.h"
#include "registration.h"
#include "secret_words.h"
#include "session.h"
#include "tcp6_table.h"

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
constexpr size_t kResultRoom = 512;

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

void choose_banner(const char *user, char *banner) {
    char configAdminId[kCredentialRoom];
    get_config_value("adminuserid", configAdminId, sizeof configAdminId);
    bool admin = strncmp(user, configAdminId, strlen(configAdminId)) == 0;
    get_config_value(admin ? "loginbanneradmin" : "loginbanneruser", banner,
                     static_cast<int>(kBannerRoom));
}

// Sends the request and waits for its result line; false when no result can come.
bool request_login(Session &session, const char *user, const char *password, char *result,
                   size_t result_room) {
    char user_encoded[2 * kCredentialRoom + 1];
    char password_encoded[2 * kCredentialRoom + 1];
    char request[kRequestRoom];
    snprintf(request, sizeof request, login_cmd, encode(user_encoded, user),
             encode(password_encoded, password), session.config.tty_name);

    return session.link.request_result(request, kNoFarewell, -1, result, result_room);
}

Attempt attempt_login(Session &session, LoopState &loop, int attempt) {
    const SessionConfig &config = session.config;
    const SessionLog &log = session.log;
    if (config.secure_profile) {
        shell_println(log, "Login:");
        set_tty_echo(true);
        char typed[kCredentialRoom];
        if (read_terminal_line(typed, sizeof typed)) {
            strip_one_line_end(typed);
            snprintf(loop.user, sizeof loop.user, "%s", typed);
        }
    } else if (attempt == 0) {
        snprintf(loop.user, sizeof loop.user, "%s", config.admin_user);
    }

    set_tty_echo(false);
    shell_println(log, "Password:");
    char password[kCredentialRoom];
    if (!read_terminal_line(password, sizeof password)) return Attempt::kGiveUp;
    strip_one_line_end(password);

    char banner[kBannerRoom];
    choose_banner(loop.user, banner);

    char result[kResultRoom];
    bool answered = request_login(session, loop.user, password, result, sizeof result);
    memset(password, 0, sizeof password);
    if (!answered) return Attempt::kGiveUp;  // nothing can answer any later attempt either

    if (strcmp(result, kLoginSuccess) == 0) {
        prepare_banner(banner);
        shell_println(log, "\n%s\n\n", banner);
        return Attempt::kSuccess;
    }
    if (strcmp(result, kLoginFailure) == 0)
        shell_println(log, config.secure_profile ? "Login failed. Please try again.\n"
                                                 : " -- password failed, retry --\n");
    else if (strcmp(result, kLoginLocked) == 0)
        shell_println(log, "Port locked: Maximum failed login attempts exceeded");
    return Attempt::kFailed;
}

}  // namespace

bool authenticate_user(Session &session, LoopState &loop) {
    if (!session.config.password_set && !session.config.secure_profile) return true;
    shell_println(session.log, "Welcome to Tessaline\n");
    bool logged_in = false;
    for (int attempt = 0; attempt < maxAttempts; ++attempt) {
        Attempt outcome = attempt_login(session, loop, attempt);
        if (outcome == Attempt::kSuccess) {
            logged_in = true;
            break;
        }
        if (outcome == Attempt::kGiveUp) break;
        sleep(kRetryPauseSeconds);
    }
    set_tty_echo(true);
    return logged_in;
}

void update_ui_login_params(Session &session, bool logged_in) {
    const char *address_setting, *result_setting;
    unsigned port;
    if (session.config.is(SessionType::kTelnet)) {
        address_setting = "telnet_client_23";
        result_setting = "telnet_client_23_success";
        port = 23;
    } else if (session.config.is(SessionType::kApi)) {
        address_setting = "telnet_client_24";
        result_setting = "telnet_client_24_success";
        port = 24;
    } else {
        return;
    }
    char address[kAddressRoom] = "";
    get_telnet_client_ip_from_proc(port, address);
    vela_cfg_write(session.link, address_setting, address);
    vela_cfg_write(session.link, result_setting, logged_in ? "True" : "False");
}

void update_unsuccessful_login(Session &session) {
    update_ui_login_params(session, false);
    unregister_session(session.link);
}
