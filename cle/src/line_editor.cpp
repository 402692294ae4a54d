// The editor proper: the key loop of one line, history recall, the line end, and the
// editor's life from init to cleanup.
#include "line_editor.h"

#include <cstddef>
#include <cstdio>

#include "callbacks.h"
#include "edit_ops.h"
#include "history.h"
#include "key_reader.h"
#include "terminal.h"
#include "text.h"
#include "time_limits.h"

namespace cle {
namespace {

// Guard for both: main thread only.
struct Recall {
    int age = -1;  // history entry shown (0: the newest), -1: the user's own line
    Text typed;    // the user's own line, kept while entries are shown
} recall;
Text last_line;  // text of the last call when it returned, for refresh_line

enum class KeyResult { Continue, LineEnded, CtrlD };

void recall_entry(edit::Line &l, int age) {
    // Without room to keep the user's own line, it stays: the recall is refused.
    if (recall.age < 0 && !recall.typed.assign(l.cmdbuff, static_cast<std::size_t>(l.cmdlen))) {
        edit::beep();
        return;
    }
    recall.age = age;
    edit::replace_text(l, age < 0 ? recall.typed.view() : std::string_view(history::by_age(age)));
}

void history_up(edit::Line &l) {
    if (recall.age + 1 < history::size()) recall_entry(l, recall.age + 1);
}

void history_down(edit::Line &l) {
    if (recall.age >= 0) recall_entry(l, recall.age - 1);
}

void handle_escape(edit::Line &l) {
    switch (keys::read_control_key()) {
        case keys::EscapeKey::Home:
            edit::edit_home(l);
            break;
        case keys::EscapeKey::End:
            edit::edit_end(l);
            break;
        case keys::EscapeKey::Left:
            edit::edit_left(l);
            break;
        case keys::EscapeKey::Right:
            edit::edit_right(l);
            break;
        case keys::EscapeKey::Delete:
            edit::edit_delete(l);
            break;
        case keys::EscapeKey::Up:
            history_up(l);
            break;
        case keys::EscapeKey::Down:
            history_down(l);
            break;
        case keys::EscapeKey::None:
            break;
    }
}

// Echoes the line end of the key (CR or LF) when it ends the line; false when the key
// is an LF to ignore (only with echo on).
bool end_line(edit::Line &l, char key) {
    // Without echo nobody watches the screen: a program may end its lines with either.
    if (term::echo_enabled() == 0) return true;
    const bool no_cr = term::no_cr() != 0;
    if (key == '\n' && no_cr) return false;
    edit::move_below_text(l);
    if (!no_cr && term::eol_cr_nl() != 0) {
        if (key == '\r') term::echo_cr();
        term::echo_lf();
    } else {
        term::echo_lf();
        term::echo_cr();
    }
    return true;
}

KeyResult handle_key(edit::Line &l, char c) {
    if (c >= 0x20 && c <= 0x7e) {
        edit::insert(l, c);
        return KeyResult::Continue;
    }
    switch (c) {
        case 0x01:
            edit::edit_home(l);
            break;
        case 0x02:
            edit::edit_left(l);
            break;
        case 0x03:
            edit::edit_clear(l);
            break;
        case 0x04:
            return KeyResult::CtrlD;
        case 0x05:
            edit::edit_end(l);
            break;
        case 0x06:
            edit::edit_right(l);
            break;
        case 0x08:
        case 0x7f:
            edit::edit_backspace(l);
            break;
        case '\r':
        case '\n':
            if (end_line(l, c)) return KeyResult::LineEnded;
            break;
        case 0x1b:
            handle_escape(l);
            break;
        default:
            break;
    }
    return KeyResult::Continue;
}

void show_prompt(const edit::Line &l) {
    if (l.cmdprompt.empty()) return;
    hooks::OutputLock lock;
    std::fputs(l.cmdprompt.c_str(), stdout);  // never as a format
    // A prompt that ends at the margin leaves the terminal cursor there; typing would
    // then wrap, but moving or erasing would act on the prompt's last column.
    if (l.line_x == 0 && l.line_y != 0) term::echo_forced_wrap();
    std::fflush(stdout);  // whatever the echo switch; the guard then writes the wrap
}

int finish(const edit::Line &l, int result) {
    // Without room for it, a refresh shows the prompt alone rather than an older line.
    if (!last_line.assign(l.cmdbuff, static_cast<std::size_t>(l.cmdlen))) last_line.clear();
    return result;
}

}  // namespace

int get_command_line(const char *prompt, char *buffer, int max_len) {
    if (buffer == nullptr || max_len < 1) return -1;
    edit::Line &l = edit::line();
    if (!edit::begin(l, prompt, buffer, max_len)) return -1;
    recall.age = -1;
    show_prompt(l);

    for (;;) {
        char c;
        if (keys::read_char(&c) != 0) return finish(l, -1);
        // The keys read ahead with c are handled under one hold of the lock and echoed in
        // one write: other threads print only between bursts, never inside an echo.
        hooks::OutputLock lock;
        for (;;) {
            switch (handle_key(l, c)) {
                case KeyResult::LineEnded:
                    term::echo_flush();  // the caller may print as soon as we return
                    hooks::cle_inline_notifier(0, 0);
                    return finish(l, 0);  // the lock goes with its guard
                case KeyResult::CtrlD:
                    term::echo_flush();  // in the editor's modes, as the keys before it
                    (void)term::reset_term();
                    return finish(l, -1);
                case KeyResult::Continue:
                    break;
            }
            // Pasted text: the printable bytes read ahead are appended in one go.
            if (l.cmdptr == l.cmdlen) keys::consume(edit::append_printable(l, keys::read_ahead()));
            // Typing is reported while the lock is still held: a writer waiting for the
            // lock must already see the line in progress, or its text would split the echo.
            if (hooks::report_char() == 0 && l.cmdlen > 0) hooks::cle_inline_notifier(1, 1);
            if (!keys::pending()) break;
            (void)keys::read_char(&c);  // read ahead: no wait, no failure
        }
    }
}

int refresh_line() {
    const Text &prompt = edit::line().cmdprompt;
    if (prompt.empty() && last_line.empty()) return 0;
    std::fputs(prompt.c_str(), stdout);
    std::fputs(last_line.c_str(), stdout);
    std::fflush(stdout);
    return 1;
}

int init(int idle_minutes) {
    if (term::init() != 0) return -1;
    limits::set_idle_minutes(idle_minutes);
    history::clear();
    return 0;
}

int cleanup() {
    keys::drop_pending();
    term::cleanup();
    history::clear();
    return 0;
}

}  // namespace cle
