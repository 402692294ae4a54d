#include "terminal_input.h"

#include <errno.h>
#include <unistd.h>

bool read_terminal_line(char *buffer, size_t size) {
    if (size == 0) return false;
    size_t len = 0;
    bool got_any = false;
    for (;;) {
        char c;
        ssize_t n = read(0, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got_any = true;
        // What does not fit is dropped, so that the rest of an over-long line cannot
        // become the answer to the next prompt.
        if (len + 1 < size) buffer[len++] = c;
        if (c == '\n') break;
    }
    buffer[len] = '\0';
    return got_any;
}
