// raw_forwarder PATH [--cr]: raw baseline of text delivered to a session. Binds a datagram
// socket at PATH, says "ready", and writes each datagram it receives to its terminal in one
// write; with --cr a CR goes before every LF, as the shell's CR insertion does.
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "RawLink.h"

using namespace vela::bench::raw;

int main(int argc, char **argv) {
    if (argc < 2 || argc > 3 || (argc == 3 && strcmp(argv[2], "--cr") != 0)) {
        writeText(2, "usage: raw_forwarder PATH [--cr]\n");
        return 2;
    }
    const bool cr = argc == 3;
    int fd = bindDatagram(argv[1]);
    if (fd < 0) {
        writeText(1, "error: cannot bind the socket\r\n");
        return 1;
    }
    writeText(1, "ready\r\n");
    static char in[16385];
    static char out[2 * sizeof in];
    for (;;) {
        ssize_t n = recv(fd, in, sizeof in, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return 1;
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
