// shell_println: the console line printer.

#include "console.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "system_log.h"

namespace {

const char *const kLineEnd = "\r\n";
constexpr size_t kLineBufferSize = 133;  // holds every format the shell prints
constexpr size_t kLogFormatRoom = 128;   // "OUT:" and the format, as a record's format
constexpr size_t kLogTextRoom = 512;     // the formatted record text

}  // namespace

int shell_println(const SessionLog &log, const char *fmt, ...) {
    if (fmt == nullptr) return -1;
    size_t fmt_len = strlen(fmt);
    size_t body_len = fmt_len > 0 && fmt[fmt_len - 1] == '\n' ? fmt_len - 1 : fmt_len;
    size_t end_len = strlen(kLineEnd);
    if (body_len + end_len + 1 > kLineBufferSize) return -1;

    char line[kLineBufferSize];
    memcpy(line, fmt, body_len);
    memcpy(line + body_len, kLineEnd, end_len + 1);

    va_list args;
    va_start(args, fmt);
    va_list log_args;
    va_copy(log_args, args);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int printed = vprintf(line, args);
    if (printed > 0 && log.mirrored()) {
        // The record ends in a LF like the shell's other records, not in the terminal's
        // line end.
        char log_fmt[kLogFormatRoom];
        snprintf(log_fmt, sizeof log_fmt, "OUT:%.*s\n", static_cast<int>(body_len), fmt);
        char text[kLogTextRoom];
        vsnprintf(text, sizeof text, log_fmt, log_args);
#pragma GCC diagnostic pop
        mysyslog(log, "%s", text);
    }
    va_end(log_args);
    va_end(args);
    return printed;
}
