// Internal side of the diagnostic printer.
#pragma once

#include <cstdarg>

namespace xcom {

// Prefix of every diagnostic of the library.
inline constexpr char kWarningPrefix[] = "XCOM:WARNING:";

// Composes prefix and fmt into at most 511 characters and writes them to standard
// output; returns the count written. Any thread.
int vlog(const char *prefix, const char *fmt, va_list args) noexcept;

// Prints one diagnostic with kWarningPrefix, only while the switch is on. Any thread.
void warn(const char *fmt, ...) noexcept __attribute__((format(printf, 1, 2)));

// Text of an error number, held by value so that any thread may use it.
struct ErrorText {
    char text[128];
};
ErrorText error_text(int error_number) noexcept;

// A descriptor as the diagnostics print it ("0x%08x").
inline unsigned hex(int socket) noexcept {
    return static_cast<unsigned>(socket);
}

}  // namespace xcom
