// Terminal control of the line editor: modes of standard input, the column count,
// the line-end switches and the echo filter with its VT100 vocabulary.
#pragma once

#include <string_view>

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

// Echo filter: while echo is on, the editor's output is collected in the editor's own
// buffer, else dropped. Collected echo is written only while the output lock is held.
void echo_putchar(char c);
void echo_fputs(const char *s);
void echo_bytes(std::string_view bytes);
// Writes out what was collected, in one write when it fits the buffer, after whatever
// stdio still holds for stdout, so that the echo keeps its place after the caller's own
// printing. Does nothing with echo off.
void echo_flush();
// True while collected echo waits to be written.
bool echo_pending();

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
