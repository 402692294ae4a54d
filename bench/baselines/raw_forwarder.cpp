// raw_forwarder PATH [--cr | --log]: raw baseline of text delivered to a session. Binds a
// datagram socket at PATH, says "ready", and writes each datagram it receives to its
// terminal in one write; with --cr a CR goes before every LF, as the shell's CR insertion
// does; with --log each line is first sent to the system log as the record an api session
// sends for it ("API:<session>:0:OUT:<line>", no command having been typed).
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "RawLink.h"
#include "RawSystemLog.h"

using namespace vela::bench::raw;

namespace {

// Sends a record for every LF-ended line of the datagram.
bool logLines(SessionLog &log, const char *text, size_t len) {
    while (const void *lf = memchr(text, '\n', len)) {
        const size_t line = static_cast<size_t>(static_cast<const char *>(lf) - text);
        if (line > 0 && !log.record(0, "OUT", text, line)) return false;
        text += line + 1;
        len -= line + 1;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    const char *option = argc == 3 ? argv[2] : "";
    const bool cr = strcmp(option, "--cr") == 0;
    const bool logged = strcmp(option, "--log") == 0;
    if (argc < 2 || argc > 3 || (argc == 3 && !cr && !logged)) {
        writeText(2, "usage: raw_forwarder PATH [--cr | --log]\n");
        return 2;
    }
    int fd = bindDatagram(argv[1]);
    static SessionLog log(1);
    if (fd < 0 || (logged && !log.ok())) {
        writeText(1, "error: cannot bind the socket or reach the system log\r\n");
        return 1;
    }
    writeText(1, "ready\r\n");
    static char in[16385];
    static char out[2 * sizeof in];
    for (;;) {
        ssize_t n = recv(fd, in, sizeof in, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return 1;
        if (logged && !logLines(log, in, static_cast<size_t>(n))) return 1;
        if (!cr) {
            writeAll(1, in, static_cast<size_t>(n));
            continue;
        }
        size_t used = 0;
        for (ssize_t i = 0; i < n; ++i) {
            if (in[i] == '\n') out[used++] = '\r';
            out[used++] = in[i];
        }
        writeAll(1, out, used);
    }
}
