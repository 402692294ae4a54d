#include "login_terminal.h"

#include <errno.h>
#include <stdio.h>
#include <termios.h>
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

bool set_tty_echo(bool enable) {
    termios modes;
    if (tcgetattr(0, &modes) != 0) {
        perror("error in tcgetattr");
        return false;
    }
    modes.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    if (enable) modes.c_lflag |= ECHO;
    if (tcsetattr(0, TCSANOW, &modes) != 0) {
        perror("error in tcsetattr");
        return false;
    }
    return true;
}
