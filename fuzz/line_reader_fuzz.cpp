// socket_read_line fed arbitrary bytes in arbitrary pieces over a socketpair, stream or
// datagram, against a model of the wire rules: lines up to 16384 bytes with their LF,
// at most 32768 bytes held without one, every line cleaned. The reader is only called
// when the model says it will not wait.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <string>

#include "FuzzInput.h"
#include "libxcom.h"

constexpr size_t kMaxBytesPerInput = 256 * 1024;  // a few long lines are enough

// The cleaning of a received line, written from the rules: NULs dropped (and then every
// "%" blanked), control bytes trimmed at both ends.
static std::string cleaned(std::string line) {
    if (std::erase(line, '\0') > 0) std::replace(line.begin(), line.end(), '%', ' ');
    const auto control = [](char c) { return c >= 0x01 && c <= 0x1F; };
    line.erase(std::find_if_not(line.rbegin(), line.rend(), control).base(), line.end());
    line.erase(line.begin(), std::find_if_not(line.begin(), line.end(), control));
    return line;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vela::fuzz::FuzzInput input(data, size);
    const bool datagrams = input.byte() & 1;
    int fds[2];
    if (socketpair(AF_UNIX, (datagrams ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0, fds) != 0)
        abort();
    auto buffer = std::make_unique<char[]>(XCOM_READ_BUFFER_SIZE);
    auto got = std::make_unique<char[]>(XCOM_LINE_BUFFER_SIZE);
    int buflen = 0;
    // Only the first byte and the count tell the reader anything: the rest is noise.
    memset(buffer.get(), input.byte(), XCOM_READ_BUFFER_SIZE);
    buffer[0] = '\0';

    // The model, for stream and datagram sockets alike: a stream's bytes are held as they
    // come, wherever they are cut; each datagram is taken whole into the held bytes when
    // the reader needs more, cut to the room left. Lines are taken from the front by
    // moving an offset, so that many short lines cost no more than their own length.
    std::deque<std::string> queue;  // datagrams not yet received
    std::string held;               // from start on
    size_t start = 0;
    bool closed = false;
    const auto hold = [&](const std::string &bytes) {
        held = held.substr(start) + bytes;
        start = 0;
    };
    // Calls the reader while the model says it will not wait; false once it failed.
    const auto drain = [&] {
        for (;;) {
            const size_t lf = held.find('\n', start);
            const bool line = lf != std::string::npos && lf - start < XCOM_MAX_HELD;
            const bool failure =
                line ? lf - start >= XCOM_MAX_LINE
                     : held.size() - start >= XCOM_MAX_HELD || (queue.empty() && closed);
            if (!line && !failure && queue.empty()) return true;
            if (!line && !failure) {
                hold(queue.front().substr(0, XCOM_MAX_HELD - (held.size() - start)));
                queue.pop_front();
                continue;
            }
            const int result = socket_read_line(fds[0], buffer.get(), &buflen, got.get(), 0);
            FUZZ_CHECK(buflen >= 0 && buflen <= XCOM_MAX_HELD);
            FUZZ_CHECK((result == -1) == failure);
            if (failure) return false;
            const std::string expected = cleaned(held.substr(start, lf + 1 - start));
            start = lf + 1;
            FUZZ_CHECK(result == static_cast<int>(expected.size()) && got.get() == expected);
        }
    };

    bool alive = true;
    for (size_t total = 0; alive && !input.empty() && total < kMaxBytesPerInput;) {
        // Literal bytes, or a long run of one byte (long lines cost few input bytes so).
        const uint8_t kind = input.byte();
        const size_t run = kind & 0x80 ? input.u16() % (XCOM_MAX_HELD + 2048) : 0;
        const std::string bytes =
            kind & 0x80 ? std::string(run, static_cast<char>(input.byte())) : input.bytes(kind);
        total += bytes.size();
        // Without waiting, a datagram is sent whole or not at all, stream bytes as far as
        // they fit. The reader is only called when the model allows, so a full queue ends
        // the input instead of blocking.
        const ssize_t sent = send(fds[1], bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0 && datagrams) queue.push_back(bytes);
        if (sent > 0 && !datagrams) hold(bytes.substr(0, static_cast<size_t>(sent)));
        alive = drain();
        if (sent != static_cast<ssize_t>(bytes.size())) break;
    }
    // A stream's end is the end of its input; a datagram socket has none.
    close(fds[1]);
    closed = true;
    if (alive && !datagrams) drain();
    close(fds[0]);
    return 0;
}
