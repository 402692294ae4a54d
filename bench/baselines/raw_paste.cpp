// raw_paste FILE [--echo|--echo-lines]: raw baseline of a pasted import. Reads its terminal
// in raw mode with large reads and stores every line (ended by CR or LF) in FILE with a LF,
// up to the line "importcomplete"; then hands the file to the application ("C:
// _importdirectory FILE"), waits for its reply, says "raw import done" and waits for the
// end of its terminal. --echo echoes what it reads, one write per read; --echo-lines echoes
// each line with CR LF in one write of its own, as an editor that shows every ended line
// at once must.
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>

#include "RawLink.h"

using namespace vela::bench::raw;

namespace {

constexpr size_t kMaxLine = 510;
constexpr char kEnd[] = "importcomplete";

// Output to the file through one buffer, written when full.
struct FileOut {
    int fd = -1;
    char buffer[65536];
    size_t used = 0;

    bool put(const char *data, size_t len) {
        if (used + len > sizeof buffer) {
            if (!writeAll(fd, buffer, used)) return false;
            used = 0;
        }
        memcpy(buffer + used, data, len);
        used += len;
        return true;
    }
    bool flush() {
        bool ok = writeAll(fd, buffer, used);
        used = 0;
        return ok;
    }
};

}  // namespace

int main(int argc, char **argv) {
    const bool echo = argc == 3 && strcmp(argv[2], "--echo") == 0;
    const bool echoLines = argc == 3 && strcmp(argv[2], "--echo-lines") == 0;
    if (argc < 2 || argc > 3 || (argc == 3 && !echo && !echoLines)) {
        writeText(2, "usage: raw_paste FILE [--echo|--echo-lines]\n");
        return 2;
    }
    static FileOut file;
    file.fd = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file.fd < 0) {
        writeText(1, "error: cannot open the file\r\n");
        return 1;
    }
    makeRaw(0);
    writeText(1, "ready\r\n");
    static char in[65536];
    char line[kMaxLine + 2];
    size_t len = 0;
    bool complete = false;
    while (!complete) {
        ssize_t n = read(0, in, sizeof in);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 1;
        if (echo) writeAll(1, in, static_cast<size_t>(n));
        for (ssize_t i = 0; i < n && !complete; ++i) {
            char c = in[i];
            if (c != '\r' && c != '\n') {
                if (len < kMaxLine) line[len++] = c;
                continue;
            }
            if (len == sizeof kEnd - 1 && memcmp(line, kEnd, len) == 0) {
                complete = true;
                break;
            }
            if (echoLines) {
                line[len] = '\r';
                line[len + 1] = '\n';
                writeAll(1, line, len + 2);
            }
            line[len++] = '\n';
            if (!file.put(line, len)) return 1;
            len = 0;
        }
    }
    if (!file.flush() || ::close(file.fd) != 0) return 1;
    int app = connectApplication();
    if (app < 0) return 1;
    LineReader replies(app);
    char message[300];
    snprintf(message, sizeof message, "C: _importdirectory %s\n", argv[1]);
    if (exchange(app, replies, message) == kNoReply) return 1;
    writeText(1, "raw import done\r\n");
    while (read(0, in, sizeof in) != 0) {  // until the terminal ends, so its CPU time can be read
    }
    return 0;
}
