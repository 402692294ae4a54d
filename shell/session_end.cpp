#include "session_end.h"

#include <stdio.h>

#include "cle.h"
#include "config_access.h"
#include "registration.h"
#include "session.h"

namespace {

const char *const logout_cmd = "_control logout %s";
constexpr int kLogoutWaitMs = 5000;
constexpr size_t kFarewellLineRoom = 192;  // the logout line, or a setting write
// How long a session ended by a signal lets the replies to its last lines come.
constexpr int kFarewellReplyWaitMs = 1000;
constexpr size_t kResultRoom = 512;

// The client-address setting of the session type, or null for a type without one.
const char *client_address_setting(const SessionConfig &config) {
    if (config.is(SessionType::kApi)) return "telnet_client_24";
    if (config.is(SessionType::kTelnet)) return "telnet_client_23";
    return nullptr;
}

}  // namespace

void log_out(Session &session) {
    if (session.link.ended()) return;
    char line[kFarewellLineRoom];
    snprintf(line, sizeof line, logout_cmd, session.config.tty_name);
    char result[kResultRoom];
    session.link.request_result(line, kFarewellLogout, kLogoutWaitMs, result, sizeof result);
}

void done(Session &session) {
    // Once the application is gone there is nobody to write the setting to.
    const char *setting = client_address_setting(session.config);
    if (!session.link.ended() && setting != nullptr)
        vela_cfg_write(session.link, setting, "", kFarewellClientSetting);
    cleanup(session);
}

void cleanup(Session &session) {
    unregister_session(session.link);
    cle_cleanup();
    session.link.release();
}

void send_farewell(Session &session) {
    HXCOM connection = nullptr;
    unsigned sent = session.link.hold_for_farewell(&connection);
    if (connection == nullptr) return;
    const SessionConfig &config = session.config;
    char line[kFarewellLineRoom];
    int answered = 0;  // lines whose reply comes
    if (config.secure_profile && session.authenticated.load() && !(sent & kFarewellLogout)) {
        snprintf(line, sizeof line, logout_cmd, config.tty_name);
        answered += AppLink::send_api_without_reply(connection, line);
    }
    const char *setting = client_address_setting(config);
    if (setting != nullptr && !(sent & kFarewellClientSetting)) {
        format_setting_write(line, sizeof line, setting, "");
        answered += AppLink::send_api_without_reply(connection, line);
    }
    if (!(sent & kFarewellUnregister)) xcom_client_send(connection, "U");
    // A connection closed with replies unread is reset, which may cost the application
    // the lines not yet read, "U" among them: let the replies come, briefly.
    session.link.await_replies(answered, kFarewellReplyWaitMs);
}
