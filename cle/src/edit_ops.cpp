// Edit operations of the line editor. Each keeps the buffer, the cursor position and the
// terminal cursor in step: prompt length + cmdptr = line_y * width + line_x, and the
// terminal cursor really stands there (never in the pending-wrap state of the margin).
#include "edit_ops.h"

#include <algorithm>
#include <cstring>

#include "terminal.h"

namespace cle::edit {
namespace {

// Guard: main thread only.
Line the_line;

int prompt_len(const Line &l) {
    return static_cast<int>(l.cmdprompt.size());
}

// Cursor to the first character of the text; the prompt may span rows.
void move_to_text_start(Line &l, int width) {
    const int home_row = prompt_len(l) / width;
    term::echo_cr();
    term::echo_cursor_up(l.line_y - home_row);
    l.line_y = home_row;
    l.line_x = prompt_len(l) % width;
    term::echo_cursor_right(l.line_x);
}

// After the tail of the text has been written from the cursor: back to the cursor.
// The terminal cursor stands after the last character, on row total / width (once a
// forced wrap has left the margin, CR is only needed when cr_after_wrap asks for it).
void return_from_tail(Line &l, int width, bool cr_after_wrap) {
    const int total = prompt_len(l) + l.cmdlen;
    const int rows = total / width;
    const bool at_margin = rows > 0 && total == rows * width;
    if (at_margin) term::echo_forced_wrap();
    if (!at_margin || cr_after_wrap) term::echo_cr();
    term::echo_cursor_up(rows - l.line_y);
    term::echo_cursor_right(l.line_x);
}

// The cursor has just written the end of the text: set it after the text.
void settle_after_text(Line &l, int width) {
    const int total = prompt_len(l) + l.cmdlen;
    l.line_y = total / width;
    l.line_x = total % width;
    if (l.cmdlen > 0 && l.line_y != 0 && l.line_x == 0) term::echo_forced_wrap();
    l.cmdptr = l.cmdlen;
}

bool printable(char c) {
    return c >= 0x20 && c <= 0x7e;
}

}  // namespace

Line &line() {
    return the_line;
}

bool begin(Line &l, const char *prompt, char *buffer, int max_len) {
    l.cmdbuff = buffer;
    l.max_len = max_len;
    l.cmdbuff[0] = '\0';
    l.cmdlen = 0;
    l.cmdptr = 0;
    if (!l.cmdprompt.assign(prompt != nullptr ? prompt : "")) return false;
    l.line_x = prompt_len(l);
    l.line_y = 0;
    // Learning the width now, not at the first edit, lets typing wrap at the margin
    // from the first line on.
    check_term(l);
    return true;
}

void check_term(Line &l) {
    if (term::width() == 0) term::get_term_width();
    const int width = term::width();
    // Also after a resize, so that the column stays on the screen.
    if (l.line_x >= width) {
        l.line_y += l.line_x / width;
        l.line_x %= width;
    }
}

namespace {
int width_for(Line &l) {
    check_term(l);
    return term::width();
}
}  // namespace

void insert(Line &l, char c) {
    if (l.cmdptr == l.cmdlen) {
        append_printable(l, std::string_view(&c, 1));
        return;
    }
    if (l.cmdlen >= l.max_len - 1) {
        beep();
        return;
    }
    const int width = width_for(l);
    std::memmove(l.cmdbuff + l.cmdptr + 1, l.cmdbuff + l.cmdptr, l.cmdlen - l.cmdptr + 1);
    l.cmdbuff[l.cmdptr] = c;
    term::echo_fputs(l.cmdbuff + l.cmdptr);
    ++l.cmdlen;
    ++l.cmdptr;
    if (++l.line_x >= width) {
        ++l.line_y;
        l.line_x = 0;
    }
    return_from_tail(l, width, false);
}

std::size_t append_printable(Line &l, std::string_view text) {
    const std::size_t run = static_cast<std::size_t>(
        std::find_if_not(text.begin(), text.end(), printable) - text.begin());
    std::size_t taken = 0;
    while (taken < run) {
        const int room = l.max_len - 1 - l.cmdlen;
        if (room <= 0) {
            beep();
            ++taken;
            continue;
        }
        // The bytes that fit both the line and the row are stored and echoed together.
        const int width = width_for(l);
        const std::size_t n = std::min({run - taken, static_cast<std::size_t>(room),
                                        static_cast<std::size_t>(width - l.line_x)});
        std::memcpy(l.cmdbuff + l.cmdlen, text.data() + taken, n);
        l.cmdlen += static_cast<int>(n);
        l.cmdbuff[l.cmdlen] = '\0';
        l.cmdptr = l.cmdlen;
        term::echo_bytes(std::string_view(text.data() + taken, n));
        taken += n;
        l.line_x += static_cast<int>(n);
        if (l.line_x >= width) {
            ++l.line_y;
            l.line_x = 0;
            term::echo_forced_wrap();
        }
    }
    return taken;
}

void edit_backspace(Line &l) {
    const int width = width_for(l);
    if (l.cmdptr == 0) {
        beep();
        return;
    }
    std::memmove(l.cmdbuff + l.cmdptr - 1, l.cmdbuff + l.cmdptr, l.cmdlen - l.cmdptr + 1);
    --l.cmdptr;
    --l.cmdlen;
    if (--l.line_x < 0) {
        l.line_x = width - 1;
        --l.line_y;
        term::echo_cr();
        term::echo_cursor_up(1);
        term::echo_cursor_right(width - 1);
    } else {
        term::echo_bs();
    }
    term::echo_erase_below();
    if (l.cmdptr == l.cmdlen) return;
    term::echo_fputs(l.cmdbuff + l.cmdptr);
    const int total = prompt_len(l) + l.cmdlen;
    const int rows = total / width;
    if (rows > 0 && total == rows * width) term::echo_putchar(' ');
    term::echo_cr();
    term::echo_cursor_up(rows);
    term::echo_cursor_down(l.line_y);
    term::echo_cursor_right(l.line_x);
}

void edit_delete(Line &l) {
    const int width = width_for(l);
    if (l.cmdptr == l.cmdlen) {
        beep();
        return;
    }
    std::memmove(l.cmdbuff + l.cmdptr, l.cmdbuff + l.cmdptr + 1, l.cmdlen - l.cmdptr);
    --l.cmdlen;
    term::echo_erase_below();
    if (l.cmdptr == l.cmdlen) return;
    term::echo_fputs(l.cmdbuff + l.cmdptr);
    return_from_tail(l, width, true);
}

void edit_clear(Line &l) {
    const int width = width_for(l);
    if (l.cmdptr != 0) move_to_text_start(l, width);
    term::echo_erase_below();
    l.cmdptr = 0;
    l.cmdlen = 0;
    l.cmdbuff[0] = '\0';
}

void edit_home(Line &l) {
    const int width = width_for(l);
    if (l.cmdptr == 0) return;
    move_to_text_start(l, width);
    l.cmdptr = 0;
}

void edit_end(Line &l) {
    const int width = width_for(l);
    if (l.cmdptr == l.cmdlen) return;
    term::echo_cr();
    term::echo_cursor_up(l.line_y);
    term::echo_fputs(l.cmdprompt.c_str());
    term::echo_fputs(l.cmdbuff);
    settle_after_text(l, width);
}

void edit_left(Line &l) {
    const int width = width_for(l);
    if (l.cmdptr == 0) return;
    if (l.line_x >= 1) {
        term::echo_bs();
        --l.line_x;
    } else if (l.line_y != 0) {
        term::echo_cr();
        term::echo_cursor_up(1);
        term::echo_cursor_right(width - 1);
        --l.line_y;
        l.line_x = width - 1;
    }
    --l.cmdptr;
}

void edit_right(Line &l) {
    const int width = width_for(l);
    if (l.cmdptr >= l.cmdlen) return;
    if (l.line_x < width - 1) {
        term::echo_cursor_right(1);
        ++l.line_x;
    } else {
        term::echo_cr();
        term::echo_lf();
        l.line_x = 0;
        ++l.line_y;
    }
    ++l.cmdptr;
}

void replace_text(Line &l, std::string_view text) {
    const int width = width_for(l);
    if (l.cmdptr != 0) move_to_text_start(l, width);
    term::echo_erase_below();
    l.cmdlen = 0;
    for (const char c : text) {
        if (l.cmdlen >= l.max_len - 1) break;
        if (printable(c)) l.cmdbuff[l.cmdlen++] = c;
    }
    l.cmdbuff[l.cmdlen] = '\0';
    term::echo_fputs(l.cmdbuff);
    settle_after_text(l, width);
}

void move_below_text(Line &l) {
    const int width = width_for(l);
    const int total = prompt_len(l) + l.cmdlen;
    if (total == 0) return;
    const int last_row = (total - 1) / width;
    if (last_row > l.line_y) {
        term::echo_cursor_down(last_row - l.line_y);
        l.line_y = last_row;
    }
}

void beep() {
    term::echo_bel();
}

}  // namespace cle::edit
