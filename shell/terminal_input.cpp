#include "terminal_input.h"

#include <errno.h>
#include <unistd.h>

bool read_terminal_line(char *buffer, size_t size) {
    size_t len = 0;
    while (len + 1 < size) {
        char c;
        ssize_t n = read(0, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        buffer[len++] = c;
        if (c == '\n') break;
    }
    buffer[len] = '\0';
    return len > 0;
}
