// Reading whole lines from the terminal before the line editor runs (login prompts),
// one byte per read so that nothing typed ahead is taken from the editor. Main thread.
#pragma once

#include <stddef.h>

// Reads standard input through the first LF and keeps up to size - 1 bytes of it in
// buffer (NUL-terminated, LF kept when it fits); the rest of a longer line is dropped.
// False at end of input or on an error with nothing read.
bool read_terminal_line(char *buffer, size_t size);
