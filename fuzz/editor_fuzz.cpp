// The line editor fed arbitrary keys at several terminal widths, prompts, buffer sizes
// and line-end modes. After every burst of keys (each release of the output lock): only
// bytes 0x20-0x7E in the buffer, at most max_len - 1 of them, the cursor inside the text
// and in step with the screen (prompt length + cursor = line_y * width + line_x); at the
// end of every call the lock is released. Keys come from a pipe on fd 0; the echo goes
// to /dev/null, and a pty on fd 1 sets the width.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "FuzzInput.h"
#include "cle.h"
#include "edit_ops.h"
#include "history.h"
#include "key_reader.h"
#include "terminal.h"

using vela::fuzz::FuzzInput;

namespace {

constexpr unsigned short kWidths[] = {1, 2, 3, 4, 7, 10, 16, 33, 80, 132};
constexpr int kRooms[] = {1, 2, 3, 5, 16, 80, 511};
constexpr size_t kMaxKeys = 60000;  // what a pipe takes without a reader

int g_null = -1;
int g_pty_slave = -1;
int g_lock_depth = 0;       // held locks; main thread only, like the editor
bool g_line_ended = false;  // Enter was handled under the lock now held

void checkLine() {
    const cle::edit::Line &l = cle::edit::line();
    FUZZ_CHECK(l.cmdlen >= 0 && l.cmdlen <= l.max_len - 1);
    FUZZ_CHECK(l.cmdptr >= 0 && l.cmdptr <= l.cmdlen);
    FUZZ_CHECK(l.cmdbuff[l.cmdlen] == '\0');
    for (int i = 0; i < l.cmdlen; ++i)
        FUZZ_CHECK(l.cmdbuff[i] >= 0x20 && l.cmdbuff[i] <= 0x7e);
    const int width = cle::term::width();
    const int prompt = static_cast<int>(l.cmdprompt.size());
    // Enter parks the cursor below the text, off the bookkeeping; the next call restarts it.
    if (prompt < width && !g_line_ended) {
        FUZZ_CHECK(l.line_x >= 0 && l.line_x < width && l.line_y >= 0);
        FUZZ_CHECK(prompt + l.cmdptr == l.line_y * width + l.line_x);
    }
}

void onLock(int lock, char *) {
    if (lock) {
        FUZZ_CHECK(g_lock_depth == 0);
        ++g_lock_depth;
        g_line_ended = false;
    } else {
        FUZZ_CHECK(g_lock_depth == 1);
        checkLine();
        --g_lock_depth;
    }
}

void onTyping(int state) {
    if (state == 0) g_line_ended = true;
}

// Sets the width the editor learns, through a pty whose window has it.
void setWidth(unsigned short columns) {
    winsize ws{};
    ws.ws_row = 24;
    ws.ws_col = columns;
    if (ioctl(g_pty_slave, TIOCSWINSZ, &ws) != 0) abort();
    fflush(stdout);
    dup2(g_pty_slave, 1);
    cle::term::get_term_width();
    dup2(g_null, 1);
}

// Puts the keys on fd 0, followed by the end of input.
void setKeys(const std::string &keys) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) abort();
    if (write(fds[1], keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) abort();
    close(fds[1]);
    dup2(fds[0], 0);
    close(fds[0]);
    cle::keys::drop_pending();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    g_null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (g_null < 0 || master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) abort();
    g_pty_slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (g_pty_slave < 0) abort();
    vela::fuzz::silenceStdout();
    cle_register_sync_callbacks(onLock);
    cle_register_inline_callback(onTyping);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    setWidth(kWidths[input.below(sizeof kWidths / sizeof kWidths[0])]);
    const int room = kRooms[input.below(sizeof kRooms / sizeof kRooms[0])];
    const unsigned modes = input.byte();
    cle_echo_enable(!(modes & 1));
    cle_no_cr_translation(0);
    if (modes & 2)
        cle_eol_nl_cr();
    else
        cle_eol_cr_nl();
    if (modes & 4) cle_no_cr_translation(1);
    std::string prompt = input.bytes(input.below(cle::term::width() + 4));
    prompt.resize(strnlen(prompt.c_str(), prompt.size()));

    // Entries for Up and Down: one too long for any line, one with control bytes.
    cle::history::clear();
    cle_history_add(std::string(600, 'h').c_str());
    cle_history_add("ctl\x01\x1b[2J\x7fz");
    cle_history_add("short");

    std::string keys = input.rest();
    if (keys.size() > kMaxKeys) keys.resize(kMaxKeys);
    setKeys(keys);

    auto buffer = std::make_unique<char[]>(static_cast<size_t>(room));
    for (size_t calls = 0; calls <= keys.size(); ++calls) {
        int result = cle_get_command_line(prompt.data(), buffer.get(), room);
        FUZZ_CHECK(g_lock_depth == 0);
        if (result != 0) {
            FUZZ_CHECK(result == -1);
            break;
        }
        size_t len = strnlen(buffer.get(), static_cast<size_t>(room));
        FUZZ_CHECK(len < static_cast<size_t>(room));
        for (size_t i = 0; i < len; ++i)
            FUZZ_CHECK(buffer[i] >= 0x20 && buffer[i] <= 0x7e);
        cle_history_add(buffer.get());
    }
    return 0;
}
