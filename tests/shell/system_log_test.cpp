// The system-log records: the session's names and how a record is put together.
#include "system_log.h"

#include <gtest/gtest.h>
#include <stdarg.h>
#include <unistd.h>

#include <string>

namespace {

std::string record(size_t room, const char *prefix, const char *suffix, const char *fmt, ...)
    __attribute__((format(printf, 4, 5)));
std::string record(size_t room, const char *prefix, const char *suffix, const char *fmt, ...) {
    std::string out(room, '?');
    va_list args;
    va_start(args, fmt);
    format_record(out.data(), room, prefix, fmt, args, suffix);
    va_end(args);
    return out.c_str();
}

}  // namespace

TEST(SystemLog, SessionsAreNamedAfterTheirTerminal) {
    const std::tuple<const char *, std::string, std::string> cases[] = {
        {"/dev/pts/3", "telnet3", "telnet3"},
        {"/dev/ttyS1", "ttyS1", "Serial Port -2"},  // the port number as the device counts
        {"/dev/ttyS5", "ttyS5", "Serial Port 2"},
        {"pts", "shell" + std::to_string(getpid()), "shell" + std::to_string(getpid())},
    };
    for (const auto &[tty, api, security] : cases) {
        SessionLog log;
        log.start(tty, true);
        EXPECT_EQ(log.api_name(), api) << tty;
        EXPECT_EQ(log.security_name(), security) << tty;
    }
    SessionLog log;
    log.start("/dev/pts/1", false);
    EXPECT_FALSE(log.mirrored());
    log.count_line();
    log.count_line();
    EXPECT_EQ(log.lines(), 2);
}

// The fixed fields share 127 characters; the formatted text takes what room is left.
TEST(SystemLog, RecordsKeepTheirFieldsWithinBounds) {
    EXPECT_EQ(record(600, "API:telnet3:4:", "", "IN:%s\n", "version"),
              "API:telnet3:4:IN:version\n");
    EXPECT_EQ(record(600, "SECURITY: telnet3:", " ID: admin", "%s", "Session timed out"),
              "SECURITY: telnet3:Session timed out ID: admin");
    const std::string long_prefix(200, 'p'), long_suffix(200, 's');
    EXPECT_EQ(record(600, long_prefix.c_str(), "", "%s", "x"), std::string(127, 'p') + "x");
    EXPECT_EQ(record(600, "pre:", long_suffix.c_str(), "%s", "x"), "pre:x" + std::string(123, 's'));
    EXPECT_EQ(record(16, "pre:", " ID: u", "%s", "a long text"), "pre:a long text");
    EXPECT_EQ(record(20, "pre:", "123456789012", "%s", "text"), "pre:text12345678901")
        << "a field that just fills the room leaves it its NUL";
    EXPECT_EQ(record(600, "pre:", "", "%s", "%n%x"), "pre:%n%x");
}
