// The terminal before the line editor takes it, as the login prompts use it: whole
// lines, and the terminal's own echo switched off for a password. Main thread.
#pragma once

#include <stddef.h>

// Reads standard input through the first LF and keeps up to size - 1 bytes of it in
// buffer (NUL-terminated, LF kept when it fits); the rest of a longer line is dropped.
// One byte per read, so that nothing typed ahead is taken from the editor. False at end
// of input or on an error with nothing read.
bool read_terminal_line(char *buffer, size_t size);

// Switches the terminal's own echo of standard input on or off; false (after printing
// the system error) when the terminal refuses.
bool set_tty_echo(bool enable);
