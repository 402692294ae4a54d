// System-log writers.

#include "system_log.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include "libxcom.h"

namespace {

constexpr int kRecordPriority = LOG_UUCP | LOG_NOTICE;  // 69
// The fixed part of a record and its inserted fields stay within this many characters.
constexpr size_t kFieldRoom = 127;
// Room for the longest line the application can send, with the record's own fields.
constexpr size_t kRecordRoom = XCOM_MAX_LINE + 256;
static_assert(kRecordRoom > kFieldRoom);
// Room for a record's prefix with a session name (cut to kFieldRoom later).
constexpr size_t kPrefixRoom = 160;

// Appends at most room characters of text to out; returns the characters appended.
size_t append_cut(char *out, size_t out_room, const char *text, size_t room) {
    size_t len = strnlen(text, room);
    if (len >= out_room) len = out_room - 1;
    memcpy(out, text, len);
    out[len] = '\0';
    return len;
}

void write_record(const char *prefix, const char *fmt, va_list args, const char *suffix) {
    char record[kRecordRoom];
    format_record(record, sizeof record, prefix, fmt, args, suffix);
    syslog(kRecordPriority, "%s", record);
}

void write_security_record(const SessionLog &log, const char *fmt, va_list args,
                           const char *suffix) {
    char prefix[kPrefixRoom];
    snprintf(prefix, sizeof prefix, "SECURITY: %s:", log.security_name());
    write_record(prefix, fmt, args, suffix);
}

}  // namespace

void format_record(char *record, size_t room, const char *prefix, const char *fmt, va_list args,
                   const char *suffix) {
    size_t used = append_cut(record, room, prefix, kFieldRoom);
    size_t field_room_left = kFieldRoom - used;
    int n = vsnprintf(record + used, room - used, fmt, args);
    if (n < 0) n = 0;
    used += static_cast<size_t>(n) < room - used ? static_cast<size_t>(n) : room - used - 1;
    append_cut(record + used, room - used, suffix, field_room_left);
}

void SessionLog::start(const char *tty_name, bool mirrored) {
    mirrored_ = mirrored;
    openlog("vela", 0, LOG_USER);
    const char *slash = strrchr(tty_name, '/');
    const char *leaf = slash ? slash + 1 : nullptr;
    if (leaf == nullptr) {
        snprintf(api_name_, sizeof api_name_, "shell%d", static_cast<int>(getpid()));
        snprintf(security_name_, sizeof security_name_, "shell%d", static_cast<int>(getpid()));
    } else if (leaf[0] == 't') {  // serial ports, such as /dev/ttyS0
        snprintf(api_name_, sizeof api_name_, "%s", leaf);
        size_t len = strlen(leaf);
        int port = static_cast<unsigned char>(leaf[len - 1]) - '3';
        snprintf(security_name_, sizeof security_name_, "Serial Port %d", port);
    } else {  // pseudo-terminals of telnet sessions
        snprintf(api_name_, sizeof api_name_, "telnet%s", leaf);
        snprintf(security_name_, sizeof security_name_, "telnet%s", leaf);
    }
}

int mysyslog(const SessionLog &log, const char *fmt, ...) {
    if (fmt == nullptr || !log.mirrored()) return 0;
    char prefix[kPrefixRoom];
    snprintf(prefix, sizeof prefix, "API:%s:%d:", log.api_name(), log.lines());
    va_list args;
    va_start(args, fmt);
    write_record(prefix, fmt, args, "");
    va_end(args);
    return 0;
}

int print_security_log(const SessionLog &log, const char *user, const char *fmt, ...) {
    if (fmt == nullptr) return 0;
    char suffix[80];
    snprintf(suffix, sizeof suffix, " ID: %s", user);
    va_list args;
    va_start(args, fmt);
    write_security_record(log, fmt, args, suffix);
    va_end(args);
    return 0;
}

int print_security_event(const SessionLog &log, const char *fmt, ...) {
    if (fmt == nullptr) return 0;
    va_list args;
    va_start(args, fmt);
    write_security_record(log, fmt, args, "");
    va_end(args);
    return 0;
}
