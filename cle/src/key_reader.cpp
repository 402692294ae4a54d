// Reading keys. One read() takes everything the terminal already holds (a burst); the
// bytes are then handed out one at a time, so a paste costs one system call per burst
// instead of two per byte, while each byte still goes through the editor on its own.
#include "key_reader.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "monotonic_clock.h"
#include "terminal.h"
#include "time_limits.h"

namespace cle::keys {
namespace {

using Clock = std::chrono::steady_clock;

// Guard: main thread only (only the editor reads fd 0 while it is initialised).
struct ReadAhead {
    std::array<char, 4096> bytes;
    std::size_t next = 0;  // first byte not yet handed out
    std::size_t end = 0;   // one past the last byte read
} ahead;

// Waits for fd 0 to become readable: 1 readable, 0 limit expired, -1 failed.
int wait_readable(std::optional<std::chrono::milliseconds> limit) {
    const Clock::time_point deadline =
        limit ? vela::monotonic_now() + *limit : Clock::time_point::max();
    for (;;) {
        int timeout_ms = -1;
        if (limit) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - vela::monotonic_now());
            timeout_ms = static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, INT_MAX));
        }
        struct pollfd pfd = {};
        pfd.events = POLLIN;  // fd 0
        const int n = poll(&pfd, 1, timeout_ms);
        if (n > 0) return 1;  // readable, or hung up / in error: the read tells which
        if (n < 0) {
            if (errno == EINTR) continue;  // e.g. SIGWINCH; the deadline stays
            return -1;
        }
        if (timeout_ms >= 0 && vela::monotonic_now() >= deadline) return 0;
    }
}

// Fills the read-ahead with one read(); true when at least one byte came.
bool refill() {
    for (;;) {
        const ssize_t n = read(0, ahead.bytes.data(), ahead.bytes.size());
        if (n > 0) {
            ahead.next = 0;
            ahead.end = static_cast<std::size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        return false;  // end of input or a read error
    }
}

}  // namespace

int read_char(char *ch) {
    if (ch == nullptr) return -1;
    // Only a byte not yet read ahead is waited for, and only such a wait has a limit. An
    // expired wait leaves nothing read ahead, so its flag still lasts until the next wait.
    if (!pending()) {
        if (term::echo_pending()) term::echo_flush();  // the user must see it all before we wait
        const int ready = wait_readable(limits::begin_wait());
        if (ready == 0) {
            limits::wait_expired();
            return -1;
        }
        if (ready < 0 || !refill()) return -1;
    }
    *ch = ahead.bytes[ahead.next++];
    return 0;
}

bool pending() {
    return ahead.next < ahead.end;
}

std::string_view read_ahead() {
    return {ahead.bytes.data() + ahead.next, ahead.end - ahead.next};
}

void consume(std::size_t n) {
    ahead.next += std::min(n, ahead.end - ahead.next);
}

void drop_pending() {
    ahead.next = ahead.end = 0;
}

EscapeKey read_control_key() {
    char c;
    if (read_char(&c) != 0 || (c != '[' && c != 'O')) return EscapeKey::None;
    char key;
    if (read_char(&key) != 0) return EscapeKey::None;
    if (key >= '1' && key <= '9') {
        char tilde;
        if (read_char(&tilde) != 0) return EscapeKey::None;
    }
    switch (key) {
        case '1':
        case 'H':
            return EscapeKey::Home;
        case '4':
        case 'F':
        case 'K':
            return EscapeKey::End;
        case '3':
            return EscapeKey::Delete;
        case 'C':
            return EscapeKey::Right;
        case 'D':
            return EscapeKey::Left;
        case 'A':
            return EscapeKey::Up;
        case 'B':
            return EscapeKey::Down;
        default:
            return EscapeKey::None;
    }
}

}  // namespace cle::keys
