// Terminal control of the line editor.
//
// Everything the editor sends to the terminal, besides the prompt and the typed text:
//
//   CR          0x0D          cursor to column 0
//   LF          0x0A          cursor one row down (line ends, moving right off a row)
//   BS          0x08          cursor one column left
//   BEL         0x07          refusal: full buffer, nothing to delete
//   ESC [ n C   cursor right  n columns (n >= 1)
//   ESC [ n A   cursor up     n rows (n >= 1)
//   ESC [ n B   cursor down   n rows (n >= 1)
//   ESC [ J     erase from the cursor to the end of the screen
//   SP BS       forced wrap: once text has filled a row, a VT100 keeps the cursor on the
//               last column until the next character; writing a space moves it to
//               column 0 of the next row, and BS steps back onto that column.
//
// A count of 0 is never sent: a VT100 reads ESC [ 0 C as "one column".
#include "terminal.h"

#include <poll.h>
#include <signal.h>
#include <stdio_ext.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cle::term {
namespace {

// ---- Process-wide terminal state -------------------------------------------------

// Columns of the terminal, 0 while not yet known. Guard: lock-free atomic, because the
// SIGWINCH handler stores it; everyone else only loads it.
std::atomic<int> term_width{0};
static_assert(std::atomic<int>::is_always_lock_free, "term_width is written in a signal handler");

// True between a successful init() and cleanup(). Guard: atomic, since the atexit
// fallback may run on whichever thread calls exit().
std::atomic<bool> editor_modes_set{false};

// Guard for everything below: main thread only (written by init/cleanup and the
// switches, which the shell calls from its main thread).
struct termios termios_reset;     // modes of fd 0 as init() found them
bool termios_saved = false;       // termios_reset holds something to restore
struct sigaction prev_sigwinch;   // handler in place before init()
bool sigwinch_installed = false;  // prev_sigwinch must be put back
bool exit_hook_set = false;       // restore_at_exit is registered
int echo_flag = 1;                // 0 drops the editor's echo
int no_cr_flag = 0;               // no CR/NL translation; CR and LF by the line-end table
int eol_cr_nl_flag = 1;           // CR LF (1) or LF CR (0) at the end of a line

// Echo collected for one write, so that a burst of keys costs one system call and no
// stdio locking per byte. Holds anything only while the output lock is held: the editor
// writes it out before every release and before every wait for input.
struct EchoBuffer {
    std::array<char, 8192> bytes;
    std::size_t used = 0;
} echo_buffer;

void sigwinch_handler(int) {
    const int saved_errno = errno;
    get_term_width();
    errno = saved_errno;
}

// Restores the modes if the process exits with the editor's still set.
void restore_at_exit() {
    if (editor_modes_set.exchange(false)) {
        // Nothing else can be done this late, so the result is not checked.
        tcsetattr(0, TCSANOW, &termios_reset);
    }
}

void set_term() {
    struct termios t = termios_reset;
    t.c_lflag &= ~(ICANON | ECHO | ECHONL | ISIG);
    if (no_cr_flag != 0) {
        t.c_oflag &= ~ONLCR;
        t.c_iflag &= ~(ICRNL | IGNCR);
    }
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    t.c_cc[VINTR] = 0;
    // A terminal that refuses is still usable line by line; nothing better to do.
    (void)tcsetattr(0, TCSANOW, &t);
}

// Writes all of data to fd, waiting for room when fd does not block; gives up on any
// other error (a terminal that hung up takes no more echo).
void write_all(int fd, const char *data, std::size_t len) {
    while (len > 0) {
        const ssize_t n = write(fd, data, len);
        if (n > 0) {
            data += n;
            len -= static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            struct pollfd pfd = {fd, POLLOUT, 0};
            (void)poll(&pfd, 1, -1);
        } else if (n == 0 || errno != EINTR) {
            return;
        }
    }
}

void echo_append(const char *data, std::size_t len) {
    if (echo_flag == 0) return;
    while (len > 0) {
        if (echo_buffer.used == echo_buffer.bytes.size()) echo_flush();
        const std::size_t n = std::min(len, echo_buffer.bytes.size() - echo_buffer.used);
        std::memcpy(echo_buffer.bytes.data() + echo_buffer.used, data, n);
        echo_buffer.used += n;
        data += n;
        len -= n;
    }
}

void echo_sequence(int n, char final) {
    if (n <= 0) return;
    char seq[16] = "\x1b[";
    char *end = std::to_chars(seq + 2, seq + sizeof seq - 1, n).ptr;
    *end++ = final;
    echo_append(seq, static_cast<std::size_t>(end - seq));
}

}  // namespace

// ---- Modes --------------------------------------------------------------------------

int init() {
    if (editor_modes_set.load()) {  // again: keep the modes saved first, not the editor's
        set_term();
        return 0;
    }
    struct termios found;
    if (tcgetattr(0, &found) != 0) {
        std::perror("save_term_settings() failed\n");
        return -1;
    }
    termios_reset = found;
    termios_saved = true;
    term_width.store(0);

    struct sigaction sa {};
    sa.sa_handler = sigwinch_handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigwinch_installed = sigaction(SIGWINCH, &sa, &prev_sigwinch) == 0;

    if (!exit_hook_set) exit_hook_set = std::atexit(restore_at_exit) == 0;
    set_term();
    editor_modes_set.store(true);
    return 0;
}

int cleanup() {
    editor_modes_set.store(false);
    (void)reset_term();
    if (sigwinch_installed) {
        sigaction(SIGWINCH, &prev_sigwinch, nullptr);
        sigwinch_installed = false;
    }
    return 0;
}

int reset_term() {
    if (!termios_saved) return -1;
    return tcsetattr(0, TCSANOW, &termios_reset);
}

// ---- Width --------------------------------------------------------------------------

int width() {
    return term_width.load(std::memory_order_relaxed);
}

void get_term_width() {
    struct winsize ws {};
    const bool known = ioctl(1, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1;
    term_width.store(known ? ws.ws_col : 80, std::memory_order_relaxed);
}

// ---- Switches -----------------------------------------------------------------------

void set_echo(int echo) {
    echo_flag = echo;
}
int echo_enabled() {
    return echo_flag;
}
void set_no_cr(int disable) {
    no_cr_flag = disable;
}
int no_cr() {
    return no_cr_flag;
}
void set_eol_cr_nl(int on) {
    eol_cr_nl_flag = on;
}
int eol_cr_nl() {
    return eol_cr_nl_flag;
}

// ---- Echo filter --------------------------------------------------------------------

void echo_putchar(char c) {
    echo_append(&c, 1);
}

void echo_fputs(const char *s) {
    echo_append(s, std::strlen(s));
}

void echo_bytes(std::string_view bytes) {
    echo_append(bytes.data(), bytes.size());
}

void echo_flush() {
    if (echo_flag == 0) return;
    // Asking is cheaper than an fflush, which locks stdout; stdio holds anything only
    // when the caller printed without flushing.
    if (__fpending(stdout) != 0) std::fflush(stdout);
    write_all(fileno(stdout), echo_buffer.bytes.data(), echo_buffer.used);
    echo_buffer.used = 0;
}

bool echo_pending() {
    return echo_buffer.used > 0;
}

void echo_cr() {
    echo_putchar('\r');
}
void echo_lf() {
    echo_putchar('\n');
}
void echo_bs() {
    echo_putchar('\b');
}
void echo_bel() {
    echo_putchar('\a');
}
void echo_cursor_right(int n) {
    echo_sequence(n, 'C');
}
void echo_cursor_up(int n) {
    echo_sequence(n, 'A');
}
void echo_cursor_down(int n) {
    echo_sequence(n, 'B');
}
void echo_erase_below() {
    echo_fputs("\x1b[J");
}
void echo_forced_wrap() {
    echo_fputs(" \b");
}

}  // namespace cle::term
