// System-log writers. Only the caller's format is applied to the caller's arguments;
// the session name, the line count and the user name are inserted as plain text.

#include "system_log.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include <mutex>

#include "libxcom.h"
#include "session.h"

namespace {

constexpr int kRecordPriority = LOG_UUCP | LOG_NOTICE;  // 69
// The fixed part of a record and its inserted fields stay within this many characters.
constexpr size_t kFieldRoom = 127;
// Room for the longest line the application can send, with the record's own fields.
constexpr size_t kRecordRoom = XCOM_MAX_LINE + 256;

std::once_flag g_log_opened;  // openlog runs once, whichever writer comes first

// The part of tty_name after its last slash, or null when it has none.
const char *terminal_leaf() {
    const char *slash = strrchr(tty_name, '/');
    return slash ? slash + 1 : nullptr;
}

struct SessionNames {
    char api[128];
    char security[128];
};

SessionNames compute_session_names() {
    SessionNames names{};
    const char *leaf = terminal_leaf();
    if (leaf == nullptr) {
        snprintf(names.api, sizeof names.api, "shell%d", static_cast<int>(getpid()));
        snprintf(names.security, sizeof names.security, "shell%d", static_cast<int>(getpid()));
    } else if (leaf[0] == 't') {  // serial ports, such as /dev/ttyS0
        snprintf(names.api, sizeof names.api, "%s", leaf);
        size_t len = strlen(leaf);
        int port = static_cast<unsigned char>(leaf[len - 1]) - '3';
        snprintf(names.security, sizeof names.security, "Serial Port %d", port);
    } else {  // pseudo-terminals of telnet sessions
        snprintf(names.api, sizeof names.api, "telnet%s", leaf);
        snprintf(names.security, sizeof names.security, "telnet%s", leaf);
    }
    return names;
}

// Room for a record's prefix with either session name (cut to kFieldRoom later).
constexpr size_t kPrefixRoom = sizeof(SessionNames) + 32;

const SessionNames &session_names() {
    static std::once_flag computed;
    static SessionNames names;
    std::call_once(computed, [] { names = compute_session_names(); });
    return names;
}

void open_log() {
    std::call_once(g_log_opened, [] { openlog("vela", 0, LOG_USER); });
    session_names();
}

// Appends at most room characters of text to out; returns the characters appended.
size_t append_cut(char *out, size_t out_room, const char *text, size_t room) {
    size_t len = strnlen(text, room);
    if (len >= out_room) len = out_room - 1;
    memcpy(out, text, len);
    out[len] = '\0';
    return len;
}

// prefix + formatted text + suffix, the fixed fields cut to kFieldRoom characters.
void write_record(const char *prefix, const char *fmt, va_list args, const char *suffix) {
    char record[kRecordRoom];
    size_t used = append_cut(record, sizeof record, prefix, kFieldRoom);
    size_t field_room_left = kFieldRoom - used;
    int n = vsnprintf(record + used, sizeof record - used, fmt, args);
    if (n < 0) n = 0;
    used += static_cast<size_t>(n) < sizeof record - used ? static_cast<size_t>(n)
                                                          : sizeof record - used - 1;
    append_cut(record + used, sizeof record - used, suffix, field_room_left);
    syslog(kRecordPriority, "%s", record);
}

void write_security_record(const char *fmt, va_list args, const char *suffix) {
    char prefix[kPrefixRoom];
    snprintf(prefix, sizeof prefix, "SECURITY: %s:", session_names().security);
    write_record(prefix, fmt, args, suffix);
}

}  // namespace

int mysyslog(const char *fmt, ...) {
    open_log();
    if (fmt == nullptr) return 0;
    char prefix[kPrefixRoom];
    snprintf(prefix, sizeof prefix, "API:%s:%d:", session_names().api, gnCount.load());
    va_list args;
    va_start(args, fmt);
    write_record(prefix, fmt, args, "");
    va_end(args);
    return 0;
}

int print_security_log(const char *fmt, ...) {
    open_log();
    if (fmt == nullptr) return 0;
    char suffix[80];
    snprintf(suffix, sizeof suffix, " ID: %s", user);
    va_list args;
    va_start(args, fmt);
    write_security_record(fmt, args, suffix);
    va_end(args);
    return 0;
}

int print_security_event(const char *fmt, ...) {
    open_log();
    if (fmt == nullptr) return 0;
    va_list args;
    va_start(args, fmt);
    write_security_record(fmt, args, "");
    va_end(args);
    return 0;
}
