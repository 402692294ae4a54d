// The shell's own one-line messages, printed straight to standard output.
#pragma once

class SessionLog;

// Prints one line: fmt (without its final LF, if any) formatted with the arguments, then
// CR LF; mirrored as an "OUT:" record in mirrored sessions. The characters printed, or
// -1 for a null format or one longer than the line buffer. Any thread (standard output
// is not covered by the output lock).
int shell_println(const SessionLog &log, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));
