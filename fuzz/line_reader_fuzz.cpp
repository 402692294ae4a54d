// socket_read_line fed arbitrary bytes in arbitrary pieces over a socketpair, stream or
// datagram, against a model of the wire rules: lines up to 16384 bytes with their LF,
// at most 32768 bytes held without one, every line cleaned. The reader is only called
// when the model says it will not wait.
#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <deque>
#include <memory>
#include <string>

#include "FuzzInput.h"
#include "libxcom.h"

using vela::fuzz::FuzzInput;

namespace {

constexpr size_t kMaxBytesPerInput = 256 * 1024;

// The cleaning of a received line, written from the rules.
std::string cleaned(std::string line) {
    std::string out;
    for (char c : line)
        if (c != '\0') out += c;
    if (out.size() != line.size())
        for (char &c : out)
            if (c == '%') c = ' ';
    size_t start = 0;
    while (start < out.size() && out[start] >= 0x01 && out[start] <= 0x1F)
        ++start;
    out.erase(0, start);
    while (!out.empty() && static_cast<unsigned char>(out.back()) <= 0x1F)
        out.pop_back();
    return out;
}

// What the next call must give: a line, a failure, or a wait (the model's "don't call").
struct Expected {
    enum { kLine, kFailure, kWait } kind;
    std::string line;
};

// Bytes not yet returned as lines: taken from the front by moving an offset, so that
// many short lines cost no more than their own length.
class Unread {
  public:
    void append(const std::string &bytes) {
        if (start_ > 0 && start_ >= bytes_.size() / 2) {
            bytes_.erase(0, start_);
            start_ = 0;
        }
        bytes_ += bytes;
    }
    size_t size() const { return bytes_.size() - start_; }
    // Position of the first LF among the first limit bytes, or npos.
    size_t findLf(size_t limit) const {
        size_t lf = bytes_.find('\n', start_);
        return lf == std::string::npos || lf - start_ >= limit ? std::string::npos : lf - start_;
    }
    std::string take(size_t length) {
        std::string out = bytes_.substr(start_, length);
        start_ += length;
        return out;
    }

  private:
    std::string bytes_;
    size_t start_ = 0;
};

// The wire rules for stream and datagram sockets alike: a stream's bytes are held as
// they come, wherever they are cut; each datagram is taken whole into the held bytes
// when the reader needs more, cut to the room left.
class Model {
  public:
    explicit Model(bool datagrams) : datagrams_(datagrams) {}
    void sent(const std::string &bytes) {
        if (datagrams_)
            queue_.push_back(bytes);
        else
            held_.append(bytes);
    }
    void closed() { closed_ = true; }
    Expected next() {
        for (;;) {
            size_t lf = held_.findLf(XCOM_MAX_HELD);
            if (lf != std::string::npos) {
                if (lf + 1 > XCOM_MAX_LINE) return {Expected::kFailure, {}};
                return {Expected::kLine, cleaned(held_.take(lf + 1))};
            }
            if (held_.size() >= XCOM_MAX_HELD || (queue_.empty() && closed_))
                return {Expected::kFailure, {}};
            if (queue_.empty()) return {Expected::kWait, {}};
            held_.append(queue_.front().substr(0, XCOM_MAX_HELD - held_.size()));
            queue_.pop_front();
        }
    }

  private:
    bool datagrams_;
    bool closed_ = false;
    std::deque<std::string> queue_;
    Unread held_;
};

struct Reader {
    int fd;
    std::unique_ptr<char[]> buffer = std::make_unique<char[]>(XCOM_READ_BUFFER_SIZE);
    std::unique_ptr<char[]> line = std::make_unique<char[]>(XCOM_LINE_BUFFER_SIZE);
    int buflen = 0;
};

// Calls the reader while the model says it will not wait; false once it failed.
bool drain(Model &model, Reader &reader) {
    for (;;) {
        Expected e = model.next();
        if (e.kind == Expected::kWait) return true;
        int result =
            socket_read_line(reader.fd, reader.buffer.get(), &reader.buflen, reader.line.get(), 0);
        FUZZ_CHECK(reader.buflen >= 0 && reader.buflen <= XCOM_MAX_HELD);
        if (e.kind == Expected::kFailure) {
            FUZZ_CHECK(result == -1);
            return false;
        }
        FUZZ_CHECK(result == static_cast<int>(e.line.size()));
        FUZZ_CHECK(memcmp(reader.line.get(), e.line.data(), e.line.size()) == 0);
        FUZZ_CHECK(reader.line[e.line.size()] == '\0');
    }
}

// The next piece: literal bytes, or a long run of one byte (long lines cost few input
// bytes that way).
std::string piece(FuzzInput &input) {
    uint8_t kind = input.byte();
    if (kind & 0x80)
        return std::string(input.u16() % (XCOM_MAX_HELD + 2048), static_cast<char>(input.byte()));
    return input.bytes(kind);
}

// Sends without waiting what the socket takes: a datagram whole or not at all, stream
// bytes as far as they fit; sent receives the count. False when not all was taken: the
// reader is only called when the model allows, so a full queue ends the input instead
// of blocking.
bool sendSome(int fd, const std::string &bytes, bool datagram, size_t &sent) {
    sent = 0;
    for (;;) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        sent += static_cast<size_t>(n);
        if (datagram || sent == bytes.size()) return true;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    const int type = input.byte() & 1 ? SOCK_DGRAM : SOCK_STREAM;
    Model model(type == SOCK_DGRAM);
    int fds[2];
    if (socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, fds) != 0) abort();
    Reader reader{fds[0]};
    // Only the first byte and the count tell the reader anything: the rest is noise.
    memset(reader.buffer.get(), input.byte(), XCOM_READ_BUFFER_SIZE);
    reader.buffer[0] = '\0';
    bool alive = true;
    size_t total = 0;  // a few long lines are enough; more only slow the fuzzer down
    while (alive && !input.empty() && total < kMaxBytesPerInput) {
        std::string bytes = piece(input);
        total += bytes.size();
        if (type == SOCK_STREAM && bytes.empty()) continue;
        size_t sent = 0;
        const bool whole = sendSome(fds[1], bytes, type == SOCK_DGRAM, sent);
        if (whole || (type == SOCK_STREAM && sent > 0)) model.sent(bytes.substr(0, sent));
        alive = drain(model, reader);
        if (!whole) break;
    }
    // A stream's end is the end of its input; a datagram socket has none.
    if (type == SOCK_STREAM) {
        close(fds[1]);
        fds[1] = -1;
        model.closed();
        if (alive) drain(model, reader);
    }
    close(fds[0]);
    if (fds[1] >= 0) close(fds[1]);
    return 0;
}
