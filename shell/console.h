// The shell's own one-line messages, printed straight to standard output.
#pragma once

// Prints one line: fmt (without its final LF, if any) formatted with the arguments,
// then newline_string; mirrored as an "OUT:" record in API sessions. The characters
// printed, or -1 for a null format or one longer than the line buffer. Any thread.
int shell_println(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
