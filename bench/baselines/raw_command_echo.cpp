// raw_command_echo: raw baseline of the command round trip. Reads its terminal one byte at
// a time and echoes each byte (Backspace takes back the last one); at Enter it echoes CR LF,
// sends the line to the application as "E: LINE" (or with the prefix given as its argument,
// such as "C: ") in one write and waits for the "R" reply. With --log each line is first
// sent to the system log as the record an api session sends for it ("API:<session>:<n>:IN:
// <line>", n counting the lines). Ends at Ctrl-D or end of input.
#include <string.h>
#include <unistd.h>

#include <cerrno>

#include "RawLink.h"
#include "RawSystemLog.h"

using namespace vela::bench::raw;

int main(int argc, char **argv) {
    const bool logged = argc > 1 && strcmp(argv[argc - 1], "--log") == 0;
    const int prefixes = argc - 1 - (logged ? 1 : 0);
    if (prefixes > 1 || (prefixes == 1 && strlen(argv[1]) != 3)) {
        writeText(2,
                  "usage: raw_command_echo [PREFIX] [--log]   (PREFIX of 3 characters, \"E: \")\n");
        return 2;
    }
    makeRaw(0);
    int app = connectApplication();
    static SessionLog log(0);
    if (app < 0 || (logged && !log.ok())) {
        writeText(1, "error: no application or no system log\r\n");
        return 1;
    }
    LineReader replies(app);
    constexpr size_t kPrefix = 3;
    char message[520] = "E: ";
    if (prefixes == 1) memcpy(message, argv[1], kPrefix);
    int lines = 0;
    size_t len = 0;
    constexpr size_t kMaxLine = 510;
    writeText(1, "ready\r\n");
    for (;;) {
        char c;
        ssize_t n = read(0, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || c == 0x04) break;
        if (c == '\r' || c == '\n') {
            writeAll(1, "\r\n", 2);
            if (len == 0) continue;
            if (logged && !log.record(++lines, "IN", message + kPrefix, len)) return 1;
            message[kPrefix + len] = '\n';
            message[kPrefix + len + 1] = '\0';
            if (exchange(app, replies, message) == kNoReply) return 1;
            len = 0;
            continue;
        }
        if (c == 0x7f || c == 0x08) {
            if (len > 0) {
                --len;
                writeAll(1, "\b \b", 3);
            }
            continue;
        }
        writeAll(1, &c, 1);
        if (len < kMaxLine) message[kPrefix + len++] = c;
    }
    return 0;
}
