// The line editor fed arbitrary keys at several terminal widths, prompts, buffer sizes
// and line-end modes. After every burst of keys (each release of the output lock): only
// bytes 0x20-0x7E in the buffer, at most max_len - 1 of them, the cursor inside the text
// and in step with the screen (prompt length + cursor = line_y * width + line_x); at the
// end of every call the lock is released. Keys come from a pipe on fd 0; the echo goes
// to /dev/null, and a pty on fd 1 sets the width.
#include <fcntl.h>
#include <pty.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>

#include "FuzzInput.h"
#include "cle.h"
#include "edit_ops.h"
#include "history.h"
#include "key_reader.h"
#include "terminal.h"

constexpr unsigned short kWidths[] = {1, 2, 3, 4, 7, 10, 16, 33, 80, 132};
constexpr int kRooms[] = {1, 2, 3, 5, 16, 80, 511};
constexpr size_t kMaxKeys = 60000;  // what a pipe takes without a reader

static int g_pty_slave = -1;
static int g_lock_depth = 0;       // held locks; main thread only, like the editor
static bool g_line_ended = false;  // Enter was handled under the lock now held

// The first len bytes of text are printable, and a NUL follows them.
static bool printable(const char *text, int len) {
    return std::all_of(text, text + len, [](char c) { return c >= 0x20 && c <= 0x7e; }) &&
           text[len] == '\0';
}

static void onLock(int lock, char *) {
    FUZZ_CHECK(g_lock_depth == (lock ? 0 : 1));
    g_lock_depth = lock ? 1 : 0;
    if (lock) return void(g_line_ended = false);
    const cle::edit::Line &l = cle::edit::line();
    FUZZ_CHECK(l.cmdlen >= 0 && l.cmdlen <= l.max_len - 1 && printable(l.cmdbuff, l.cmdlen));
    FUZZ_CHECK(l.cmdptr >= 0 && l.cmdptr <= l.cmdlen);
    const int width = cle::term::width(), prompt = static_cast<int>(l.cmdprompt.size());
    // Enter parks the cursor below the text, off the bookkeeping; the next call restarts it.
    if (prompt < width && !g_line_ended) {
        FUZZ_CHECK(l.line_x >= 0 && l.line_x < width && l.line_y >= 0);
        FUZZ_CHECK(prompt + l.cmdptr == l.line_y * width + l.line_x);
    }
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    int master;
    if (openpty(&master, &g_pty_slave, nullptr, nullptr, nullptr) != 0) abort();
    cle_register_sync_callbacks(onLock);
    cle_register_inline_callback([](int state) { g_line_ended = g_line_ended || state == 0; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vela::fuzz::FuzzInput input(data, size);
    // The width the editor learns, through a pty whose window has it.
    const winsize ws{24, kWidths[input.below(std::size(kWidths))], 0, 0};
    if (ioctl(g_pty_slave, TIOCSWINSZ, &ws) != 0) abort();
    fflush(stdout);
    dup2(g_pty_slave, 1);
    cle::term::get_term_width();
    vela::fuzz::silenceStdout();
    const int room = kRooms[input.below(std::size(kRooms))];
    const unsigned modes = input.byte();
    cle_echo_enable(!(modes & 1));
    (modes & 2 ? cle_eol_nl_cr : cle_eol_cr_nl)();
    cle_no_cr_translation((modes & 6) != 0);  // LF CR line ends turn it off themselves
    std::string prompt = input.bytes(input.below(cle::term::width() + 4)).c_str();
    // Entries for Up and Down: one too long for any line, one with control bytes.
    cle::history::clear();
    cle_history_add(std::string(600, 'h').c_str());
    cle_history_add("ctl\x01\x1b[2J\x7fz");
    cle_history_add("short");
    // The keys on fd 0, followed by the end of input.
    const std::string keys = input.rest().substr(0, kMaxKeys);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0 ||
        write(fds[1], keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
        abort();
    close(fds[1]);
    dup2(fds[0], 0);
    close(fds[0]);
    cle::keys::drop_pending();

    auto buffer = std::make_unique<char[]>(static_cast<size_t>(room));
    for (size_t calls = 0; calls <= keys.size(); ++calls) {
        const int result = cle_get_command_line(prompt.data(), buffer.get(), room);
        FUZZ_CHECK(g_lock_depth == 0 && (result == 0 || result == -1));
        if (result != 0) break;
        const int len = static_cast<int>(strnlen(buffer.get(), static_cast<size_t>(room)));
        FUZZ_CHECK(len < room && printable(buffer.get(), len));
        cle_history_add(buffer.get());
    }
    return 0;
}
