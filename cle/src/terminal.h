// Terminal control of the line editor: modes of standard input, the column count,
// the line-end switches and the echo filter with its VT100 vocabulary.
#pragma once

namespace cle::term {

// Saves the modes of fd 0 and sets the editor's; installs the SIGWINCH handler.
// 0, or -1 (after perror) when the modes cannot be read.
int init();
// Restores the modes and the previous SIGWINCH handler. Always 0.
int cleanup();
// Applies the saved modes to fd 0; the tcsetattr result, -1 when nothing was saved.
int reset_term();

// Column count, 0 while not yet known. Written by the SIGWINCH handler.
int width();
// Asks fd 1 for its window size; fewer than 2 columns (or no answer) means 80.
void get_term_width();

// Line-end and echo switches (main thread only).
void set_echo(int echo);
int echo_enabled();
void set_no_cr(int disable);
int no_cr();
void set_eol_cr_nl(int on);
int eol_cr_nl();

// Echo filter: like their stdio counterparts on stdout while echo is on, else no-ops.
int echo_putchar(char c);
int echo_fputs(const char *s);
int echo_fflush();
// A burst may leave its echo in the stdio buffer between keys; this notes that a flush
// is owed, and echo_flush_owed() pays it (before any wait for input).
void echo_owe_flush();
void echo_flush_owed();

// The VT100 primitives of the editor, all through the echo filter.
void echo_cr();
void echo_lf();
void echo_bs();
void echo_bel();
void echo_cursor_right(int n);
void echo_cursor_up(int n);
void echo_cursor_down(int n);
void echo_erase_below();
void echo_forced_wrap();

}  // namespace cle::term
