// The C interface of the editor: thin forwarders. The editor is built without exceptions
// and reports every failure, a lack of memory too, by its results.
#include "cle.h"

#include "callbacks.h"
#include "history.h"
#include "key_reader.h"
#include "line_editor.h"
#include "terminal.h"
#include "time_limits.h"

extern "C" {

int cle_get_command_line(char *prompt, char *buffer, int max_len) noexcept {
    return cle::get_command_line(prompt, buffer, max_len);
}

int read_char(char *ch) noexcept {
    return cle::keys::read_char(ch);
}

int cle_refresh_line(void) noexcept {
    return cle::refresh_line();
}

int cle_history_add(const char *line) noexcept {
    return cle::history::add(line);
}

const char *cle_history(int index) noexcept {
    return cle::history::slot(index);
}

int cle_history_size(void) noexcept {
    return cle::history::size();
}

int cle_history_get_start(void) noexcept {
    return cle::history::start();
}

int cle_history_replace_last_entry(const char *replacement) noexcept {
    return cle::history::replace_last_entry(replacement);
}

int cle_history_command_filter(int x) noexcept {
    return cle::history::command_filter(x);
}

void cle_register_sync_callbacks(cle_LockCallbackT cb) noexcept {
    cle::hooks::register_lock(cb);
}

void cle_register_inline_callback(cle_InlineCallbackT cb) noexcept {
    cle::hooks::register_inline(cb);
}

void cle_set_import_state(int state) noexcept {
    cle::limits::set_import_state(state);
}

int cle_did_session_timeout(void) noexcept {
    return cle::limits::did_session_timeout();
}

int cle_did_import_timeout(void) noexcept {
    return cle::limits::did_import_timeout();
}

int cle_init(int nIdolTimeout) noexcept {
    return cle::init(nIdolTimeout);
}

int cle_cleanup(void) noexcept {
    return cle::cleanup();
}

int cle_reset_term(void) noexcept {
    return cle::term::reset_term();
}

void cle_echo_enable(int echo) noexcept {
    cle::term::set_echo(echo);
}

void cle_no_cr_translation(int disable) noexcept {
    cle::term::set_no_cr(disable);
}

void cle_eol_nl_cr(void) noexcept {
    cle::term::set_eol_cr_nl(0);
    cle::term::set_no_cr(1);
}

void cle_eol_cr_nl(void) noexcept {
    cle::term::set_eol_cr_nl(1);
}

}  // extern "C"
